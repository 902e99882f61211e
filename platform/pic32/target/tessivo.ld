/* Memory map of the PIC32MX340F512H image.
 *
 * Code runs from KSEG0 (cached) program flash and the reset code from KSEG1
 * boot flash; data lives in KSEG0 RAM. Every section's load address is its
 * physical address (virtual & 0x1FFFFFFF), which is what the HEX file and
 * the programmers use; .data is loaded in flash after the constants and
 * copied to RAM by the start-up code. */
OUTPUT_FORMAT("elf32-tradlittlemips")
OUTPUT_ARCH(mips)
ENTRY(_reset)

MEMORY
{
    boot_flash (rx)  : ORIGIN = 0xBFC00000, LENGTH = 0x2FF0
    config     (r)   : ORIGIN = 0xBFC02FF0, LENGTH = 0x10
    prog_flash (rx)  : ORIGIN = 0x9D000000, LENGTH = 0x80000
    ram        (rw)  : ORIGIN = 0x80000000, LENGTH = 0x8000
}

_stack_size = 0x800;

SECTIONS
{
    /* Boot flash: reset vector, start-up code, boot-time exception vectors. */
    .reset 0xBFC00000 : AT((0xBFC00000) & 0x1FFFFFFF) { KEEP(*(.reset)) } > boot_flash
    .bev_exception 0xBFC00380 : AT((0xBFC00380) & 0x1FFFFFFF) { KEEP(*(.bev_exception)) } > boot_flash
    .debug_exception 0xBFC00480 : AT((0xBFC00480) & 0x1FFFFFFF) { KEEP(*(.debug_exception)) } > boot_flash
    .startup ALIGN(4) : AT((ADDR(.debug_exception) + SIZEOF(.debug_exception)) & 0x1FFFFFFF) { KEEP(*(.startup)) } > boot_flash

    .config_words 0xBFC02FF0 : AT((0xBFC02FF0) & 0x1FFFFFFF) { KEEP(*(.config_words)) } > config

    /* Exception base at the start of program flash (4 KB aligned). */
    _ebase_address = 0x9D000000;
    .gen_exception 0x9D000180 : AT((0x9D000180) & 0x1FFFFFFF) { KEEP(*(.gen_exception)) } > prog_flash
    .vector_0 0x9D000200 : AT((0x9D000200) & 0x1FFFFFFF) { KEEP(*(.vector_0)) } > prog_flash
    ASSERT(SIZEOF(.vector_0) <= 32, "vector 0 does not fit its 32-byte slot")

    .text 0x9D001000 : AT((0x9D001000) & 0x1FFFFFFF) {
        *(.text .text.*)
    } > prog_flash

    .rodata ALIGN(4) : AT((ADDR(.text) + SIZEOF(.text)) & 0x1FFFFFFF) {
        *(.rodata .rodata.*)
        . = ALIGN(4);
        __init_array_start = .;
        KEEP(*(SORT(.init_array.*)))
        KEEP(*(.init_array .ctors))
        __init_array_end = .;
        . = ALIGN(4);
    } > prog_flash

    /* Initialised data: runs in RAM, loaded in flash right after the constants. */
    .data : AT((ADDR(.rodata) + SIZEOF(.rodata)) & 0x1FFFFFFF) {
        _data_start = .;
        *(.data .data.*)
        *(.sdata .sdata.*)
        . = ALIGN(4);
        _data_end = .;
    } > ram
    _data_lma = ADDR(.rodata) + SIZEOF(.rodata);  /* the same bytes, seen in KSEG0 flash */
    ASSERT(_data_lma + SIZEOF(.data) <= ORIGIN(prog_flash) + LENGTH(prog_flash), "program flash full")

    .bss (NOLOAD) : ALIGN(4) {
        _bss_start = .;
        *(.bss .bss.*)
        *(.sbss .sbss.*)
        *(COMMON)
        . = ALIGN(4);
        _bss_end = .;
    } > ram

    /* The stack takes the top of RAM; the link fails if data and bss leave no room. */
    _stack_top = ORIGIN(ram) + LENGTH(ram);
    ASSERT(_bss_end + _stack_size <= _stack_top, "RAM full: no room left for the stack")

    /DISCARD/ : {
        *(.MIPS.abiflags) *(.reginfo) *(.pdr) *(.gnu.attributes) *(.note*)
        *(.comment) *(.eh_frame) *(.eh_frame_hdr) *(.gcc_except_table)
        *(.MIPS.options) *(.mdebug.*) *(.fini_array*) *(.dtors)
    }
}
