// Peripheral-library calls on top of the register layer; shared by the chip
// and the simulated board.
#include "platform/pic32/pic32.h"

void SpiChnOpen(int chn, uint32_t flags, uint32_t srcClkDiv) {
    const uint32_t brg = srcClkDiv / 2u - 1u;
    if (chn == SPI_CHANNEL1) {
        SPI1CON = 0;
        (void)static_cast<uint32_t>(SPI1BUF);
        SPI1BRG = brg;
        SPI1CON = flags;
    } else {
        SPI2CON = 0;
        (void)static_cast<uint32_t>(SPI2BUF);
        SPI2BRG = brg;
        SPI2CON = flags;
    }
}

void OpenCoreTimer(uint32_t period) {
    cp0_set_count(0);
    cp0_set_compare(period);
}

void UpdateCoreTimer(uint32_t period) { cp0_set_compare(cp0_compare() + period); }

void INTEnableSystemMultiVectoredInt() {
    INTCONSET = INTCON_MVEC;
    cpu_enable_interrupts();
}

uint32_t INTDisableInterrupts() { return cpu_disable_interrupts(); }

void INTEnableInterrupts() { cpu_enable_interrupts(); }

void INTRestoreInterrupts(uint32_t status) {
    if (status & CP0_STATUS_IE) cpu_enable_interrupts();
}

void CheKseg0CacheOn() { cpu_set_kseg0_cacheable(); }

void OSCSetPBDIV(uint32_t oscPbDiv) {
    const uint32_t status = INTDisableInterrupts();

    // Hold DMA while the system registers are unlocked.
    const bool dma_was_suspended = (DMACON & DMACON_SUSPEND) != 0;
    if (!dma_was_suspended) {
        DMACONSET = DMACON_SUSPEND;
        while ((DMACON & DMACON_SUSPEND) == 0) {
        }
    }

    SYSKEY = 0;
    SYSKEY = SYSKEY_UNLOCK1;
    SYSKEY = SYSKEY_UNLOCK2;

    uint32_t osc = OSCCON;
    osc &= ~OSCCON_PBDIV_MASK;
    osc |= oscPbDiv & OSCCON_PBDIV_MASK;
    OSCCON = osc;
    (void)static_cast<uint32_t>(OSCCON);  // read back once so the write has landed

    SYSKEY = SYSKEY_RELOCK;

    if (dma_was_suspended) {
        DMACONSET = DMACON_SUSPEND;
        while ((DMACON & DMACON_SUSPEND) == 0) {
        }
    } else {
        DMACONCLR = DMACON_SUSPEND;
    }

    INTRestoreInterrupts(status);
}

uint32_t SYSTEMConfigPerformance(uint32_t sys_clock) {
    const uint32_t pb_div = sys_clock <= 80000000u ? OSC_PB_DIV_1 : OSC_PB_DIV_2;
    OSCSetPBDIV(pb_div);

    uint32_t wait_states = 0;
    for (uint32_t clock = sys_clock; clock > 30000000u; clock -= 30000000u) ++wait_states;

    uint32_t status = INTDisableInterrupts();
    CHECON = wait_states;  // whole word: the other fields start from 0
    INTRestoreInterrupts(status);

    status = INTDisableInterrupts();
    BMXCONCLR = BMXCON_BMXWSDRM;
    CHECONSET = CHECON_PREFEN_MASK;
    CheKseg0CacheOn();
    INTRestoreInterrupts(status);

    return pb_div == OSC_PB_DIV_1 ? sys_clock : sys_clock / 2u;
}
