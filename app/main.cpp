// The player: brings the board up, then shows the picture and plays the music
// for ever.
#include "app/tick.h"
#include "fatfs/diskio.h"
#include "platform/pic32/pic32.h"

// Port set-up: every pin of the board's pin table to its direction and level.
void Init() {
    AD1PCFG = 0xFFFF;                   // all analogue-capable pins digital
    DDPCON = DDPCON & ~DDPCON_JTAGEN;   // JTAG pins become port pins (no alias registers)
    TRISB = 0;                          // panel data bus
    PORTB = 0;
    TRISD = 0x0300;                     // RD8, RD9 (DREQ) inputs
    PORTD = 0x0001;                     // RD0: enable output high
    TRISG = 0x0080;                     // RG7: SPI2 data in
    PORTG = 0;
    TRISE = 0x0080;                     // RE7 input
    PORTE = 0xFFFFFF7F;                 // panel control lines and RE0/2/6 high
    PORTGSET = 0x020C;                  // XDCS, XCS, XRESET high
}

int main() {
    Init();
    INTEnableSystemMultiVectoredInt();
    SYSTEMConfigPerformance(80000000);
    OSCSetPBDIV(OSC_PB_DIV_1);

    // 1 ms core-timer tick at priority 2, subpriority 0.
    OpenCoreTimer(CORE_TICKS_PER_MS);
    IFS0CLR = IFS0_CTIF;
    IPC0CLR = IPC0_CTIP_MASK | IPC0_CTIS_MASK;
    IPC0SET = 2u << IPC0_CTIP_SHIFT;
    IEC0SET = IEC0_CTIE;

    for (;;) Nop();
}
