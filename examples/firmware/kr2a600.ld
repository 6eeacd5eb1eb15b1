/* KR2A600: code in SRAM window A and data in SRAM window B of the "Normal" memory configuration,
 * both copied there by the boot ROM from their segment descriptors, and one function executed in
 * place from the external flash (its flash offset is its address - 0x1F000000, well beyond the
 * boot header and the SRAM segments' copy from offset 0x1000). The sections are listed in
 * address order and each ends 4-aligned, so no padding lies between them. */
MEMORY
{
    CODE (rx)  : ORIGIN = 0x00100000, LENGTH = 0x00060000
    XIP  (rx)  : ORIGIN = 0x1F010000, LENGTH = 0x00010000
    DATA (rw)  : ORIGIN = 0x20000000, LENGTH = 0x00010000
}

ENTRY(Reset_Handler)
_estack = ORIGIN(DATA) + LENGTH(DATA);

SECTIONS
{
    .text : { KEEP(*(.isr_vector)) *(.text .text.*) *(.rodata .rodata.*) . = ALIGN(4); } > CODE
    .xip : { *(.xip_text .xip_text.*) . = ALIGN(4); } > XIP
    .data : { _sdata = .; *(.data .data.*) . = ALIGN(4); _edata = .; } > DATA
    _sidata = LOADADDR(.data);
    .bss (NOLOAD) : { _sbss = .; *(.bss .bss.* COMMON) . = ALIGN(4); _ebss = .; } > DATA
    /DISCARD/ : { *(.ARM.exidx*) *(.ARM.extab*) }
}
