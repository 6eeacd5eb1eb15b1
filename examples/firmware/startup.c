/* Startup code and vector table of the example firmware (Cortex-M4, Thumb).
 *
 * The boot ROM copies every loaded segment to its own address before it jumps to the entry, so
 * the reset handler only has to clear .bss (and copy .data where a linker script gives it a load
 * address of its own) before main runs. */
#include <stdint.h>

extern uint32_t _sidata, _sdata, _edata, _sbss, _ebss, _estack;
extern int main(void);

void Reset_Handler(void);
void Default_Handler(void);

void NMI_Handler(void) __attribute__((weak, alias("Default_Handler")));
void HardFault_Handler(void) __attribute__((weak, alias("Default_Handler")));
void MemManage_Handler(void) __attribute__((weak, alias("Default_Handler")));
void BusFault_Handler(void) __attribute__((weak, alias("Default_Handler")));
void UsageFault_Handler(void) __attribute__((weak, alias("Default_Handler")));
void SVC_Handler(void) __attribute__((weak, alias("Default_Handler")));
void DebugMon_Handler(void) __attribute__((weak, alias("Default_Handler")));
void PendSV_Handler(void) __attribute__((weak, alias("Default_Handler")));
void SysTick_Handler(void) __attribute__((weak, alias("Default_Handler")));

/* The core's sixteen entries: the initial stack pointer, then the handlers. */
__attribute__((section(".isr_vector"), used)) void (*const g_vectors[16])(void) = {
    (void (*)(void))&_estack,
    Reset_Handler,
    NMI_Handler,
    HardFault_Handler,
    MemManage_Handler,
    BusFault_Handler,
    UsageFault_Handler,
    0,
    0,
    0,
    0,
    SVC_Handler,
    DebugMon_Handler,
    0,
    PendSV_Handler,
    SysTick_Handler,
};

void Reset_Handler(void) {
    uint32_t* from = &_sidata;
    for (uint32_t* to = &_sdata; to < &_edata;) *to++ = *from++;
    for (uint32_t* to = &_sbss; to < &_ebss;) *to++ = 0;
    main();
    for (;;) __asm__ volatile("wfi");
}

void Default_Handler(void) {
    for (;;) __asm__ volatile("bkpt #0");
}
