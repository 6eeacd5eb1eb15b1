/* KR2E500 group (KR2E500, KR2A500, KR2G700): one block of code and data from 0x00100000, which
 * the boot ROM copies from flash offset 32 to the load address (the first segment's start); .bss
 * and the stack lie above it in the same SRAM and are not programmed. Sections end 4-aligned so
 * the block has no gaps. */
MEMORY
{
    SRAM (rwx) : ORIGIN = 0x00100000, LENGTH = 0x00025000
}

ENTRY(Reset_Handler)
_estack = ORIGIN(SRAM) + LENGTH(SRAM);

SECTIONS
{
    .text : { KEEP(*(.isr_vector)) *(.text .text.*) *(.xip_text .xip_text.*) *(.rodata .rodata.*) . = ALIGN(4); } > SRAM
    .data : { _sdata = .; *(.data .data.*) . = ALIGN(4); _edata = .; } > SRAM
    _sidata = LOADADDR(.data);
    .bss (NOLOAD) : { _sbss = .; *(.bss .bss.* COMMON) . = ALIGN(4); _ebss = .; } > SRAM
    /DISCARD/ : { *(.ARM.exidx*) *(.ARM.extab*) }
}
