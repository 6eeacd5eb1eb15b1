/* KR2H70X boot image: one SRAM block from 0x00100000 (the segment header's destination, the
 * first SRAM address) with the entry from the start address; no execute-in-place content, so the
 * generator builds the plain layout and may encrypt and sign it. Sections end 4-aligned so the
 * block is one contiguous run. */
MEMORY
{
    SRAM (rwx) : ORIGIN = 0x00100000, LENGTH = 0x00020000
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
