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

# Adds every subfolder of the current folder that has a CMakeLists.txt, in
# name order, leaving out the names listed in `skip`.
function(tessivo_add_subfolders)
  cmake_parse_arguments(ARG "" "" "SKIP" ${ARGN})
  file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    get_filename_component(name ${child} NAME)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt AND NOT name IN_LIST ARG_SKIP)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
