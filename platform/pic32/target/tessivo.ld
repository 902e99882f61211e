/* Memory map of the PIC32MX340F512H image.
 *
 * Code runs from KSEG0 (cached) program flash and the reset code from KSEG1
 * boot flash; data lives in KSEG0 RAM. Every section is loaded at its
 * physical address (virtual & 0x1FFFFFFF), which is what the HEX file and
 * the programmers use. */
OUTPUT_FORMAT("elf32-tradlittlemips")
OUTPUT_ARCH(mips)
ENTRY(_reset)

MEMORY
{
    boot_flash (rx)  : ORIGIN = 0xBFC00000, LENGTH = 0x2FF0
    boot_phys        : ORIGIN = 0x1FC00000, LENGTH = 0x2FF0
    config     (r)   : ORIGIN = 0xBFC02FF0, LENGTH = 0x10
    config_phys      : ORIGIN = 0x1FC02FF0, LENGTH = 0x10
    prog_flash (rx)  : ORIGIN = 0x9D000000, LENGTH = 0x80000
    prog_phys        : ORIGIN = 0x1D000000, LENGTH = 0x80000
    ram        (rw)  : ORIGIN = 0x80000000, LENGTH = 0x8000
    ram_phys         : ORIGIN = 0x00000000, LENGTH = 0x8000
}

_stack_size = 0x800;

SECTIONS
{
    /* Boot flash: reset vector, start-up code, boot-time exception vectors. */
    .reset 0xBFC00000 : { KEEP(*(.reset)) } > boot_flash AT> boot_phys
    .bev_exception 0xBFC00380 : { KEEP(*(.bev_exception)) } > boot_flash AT> boot_phys
    .debug_exception 0xBFC00480 : { KEEP(*(.debug_exception)) } > boot_flash AT> boot_phys
    .startup : { KEEP(*(.startup)) } > boot_flash AT> boot_phys

    .config_words 0xBFC02FF0 : { KEEP(*(.config_words)) } > config AT> config_phys

    /* Exception base at the start of program flash (4 KB aligned). */
    _ebase_address = 0x9D000000;
    .gen_exception 0x9D000180 : { KEEP(*(.gen_exception)) } > prog_flash AT> prog_phys
    .vector_0 0x9D000200 : { KEEP(*(.vector_0)) } > prog_flash AT> prog_phys
    ASSERT(SIZEOF(.vector_0) <= 32, "vector 0 does not fit its 32-byte slot")

    .text 0x9D001000 : {
        *(.text .text.*)
    } > prog_flash AT> prog_phys

    .rodata : {
        *(.rodata .rodata.*)
        . = ALIGN(4);
        __init_array_start = .;
        KEEP(*(SORT(.init_array.*)))
        KEEP(*(.init_array .ctors))
        __init_array_end = .;
        . = ALIGN(4);
    } > prog_flash AT> prog_phys

    .data : ALIGN(4) {
        _data_start = .;
        *(.data .data.*)
        *(.sdata .sdata.*)
        . = ALIGN(4);
        _data_end = .;
    } > ram AT> prog_phys
    _data_lma = LOADADDR(.data);

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
