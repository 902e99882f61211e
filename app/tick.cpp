// Millisecond tick, delay and calendar clock.
#include "app/tick.h"

#include "fatfs/diskio.h"
#include "fatfs/sdspi.h"

volatile uint8_t rtcYear = 111;
volatile uint8_t rtcMon = 11;
volatile uint8_t rtcMday = 22;
volatile uint8_t rtcHour = 0;
volatile uint8_t rtcMin = 0;
volatile uint8_t rtcSec = 0;
volatile uint32_t tack = 0;

extern "C" PIC32_ISR void CoreTimerHandler() {
    static int32_t div1k = 0;  // milliseconds into the current second
    static const uint8_t dom[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

    IFS0CLR = IFS0_CTIF;
    // The next match is one period after the last one, however late this
    // handler runs, so the tick does not drift.
    UpdateCoreTimer(CORE_TICKS_PER_MS);
    disk_timerproc();
    tack = tack + 1;

    if (++div1k < 1000) return;
    div1k = 0;
    // The clock fields are volatile (read by the main flow), so each step is
    // an explicit load and store.
    rtcSec = rtcSec + 1;
    if (rtcSec < 60) return;
    rtcSec = 0;
    rtcMin = rtcMin + 1;
    if (rtcMin < 60) return;
    rtcMin = 0;
    rtcHour = rtcHour + 1;
    if (rtcHour < 24) return;
    rtcHour = 0;
    uint8_t days = dom[rtcMon - 1];
    if (days == 28 && (rtcYear & 3) == 0) days = 29;  // every fourth year, no century rule
    rtcMday = rtcMday + 1;
    if (rtcMday <= days) return;
    rtcMday = 1;
    rtcMon = rtcMon + 1;
    if (rtcMon < 13) return;
    rtcMon = 1;
    rtcYear = rtcYear + 1;
}

void tick_start() {
    OpenCoreTimer(CORE_TICKS_PER_MS);
    IFS0CLR = IFS0_CTIF;
    IPC0CLR = IPC0_CTIP_MASK | IPC0_CTIS_MASK;
    IPC0SET = 2u << IPC0_CTIP_SHIFT;
    IEC0SET = IEC0_CTIE;
}

void delayms(unsigned int i) {
    tack = 0;
    while (tack < i) Nop();  // one idle cycle per turn; the tick ends the wait
}

extern "C" DWORD get_fattime(void) {
    INTDisableInterrupts();
    const DWORD stamp = (static_cast<DWORD>(rtcYear - 80) << 25) | (static_cast<DWORD>(rtcMon) << 21) |
                        (static_cast<DWORD>(rtcMday) << 16) | (static_cast<DWORD>(rtcHour) << 11) |
                        (static_cast<DWORD>(rtcMin) << 5) | (static_cast<DWORD>(rtcSec) >> 1);
    INTEnableInterrupts();  // unconditionally: all callers run with interrupts on
    return stamp;
}
