# Warnings are errors in firmware and host code alike.
add_compile_options(-Wall -Wextra -Werror)

if(TESSIVO_PIC32)
  # Code that goes into the chip image: freestanding, no exceptions, no RTTI.
  add_compile_options(
    -march=m4k -EL -msoft-float -mno-abicalls -fno-pic -G0
    -ffreestanding -fno-builtin -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-unwind-tables
    -ffunction-sections -fdata-sections -Os)
  include_directories(SYSTEM ${PROJECT_SOURCE_DIR}/cmake/pic32-include)
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-threadsafe-statics>)
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-use-cxa-atexit>)
else()
  if(TESSIVO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# Firmware sources are compiled for the host with the same warnings; this
# helper marks a target as firmware so the chip rules (no heap, no exceptions)
# are checked by the cross build.
function(tessivo_firmware_library name)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
