// The player: brings the board up, then shows the picture and plays the music
// for ever.
#include "app/decoder.h"
#include "app/panel.h"
#include "app/tick.h"
#include "fatfs/diskio.h"
#include "fatfs/ff.h"
#include "fatfs/sdspi.h"
#include "platform/pic32/pic32.h"

// Owned by the player for the life of the firmware.
static FATFS Fatfs;  // volume of drive 0
static FIL file1;    // the picture, then the music of each pass

// Pixels of the panel and side of the green square.
constexpr int kPanelPixels = 800 * 480;
constexpr int kSquarePixels = 101 * 101;
constexpr unsigned short kGreen = 0x07E0;  // RGB565
constexpr uint32_t kDreq = 1u << 9;        // RD9: the decoder takes data

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

    tick_start();  // 1 ms core-timer tick at priority 2, subpriority 0

    // The card and the volume. Results are not examined: without a card every
    // later open retries the mount and every read delivers nothing.
    const char backname[8] = "LOL.RAW";
    const char file1name[8] = "LOL.MP3";
    const int32_t accessmode = FM_READ | FM_WRITE | FM_OPEN_ALWAYS;  // 0x13
    uint8_t buffer[32] = {};  // what the panel gets when the picture cannot be read
    UINT read;
    disk_attach(0, &sdspi_disk, nullptr);  // the card in the socket is drive 0
    disk_initialize(0);
    f_mount(0, &Fatfs);
    read = 0;
    delayms(5);

    PORTD = PORTD | 0x0001;  // enable line high (nothing else drives port D)
    Init_TFT();

    // The picture: 384,000 pixels, two bytes each, low byte first. Exactly
    // that many are sent whatever the reads deliver; after the end of the
    // file the last pixel repeats.
    f_open(&file1, backname, static_cast<BYTE>(accessmode));
    Address_set(0, 0, 799, 479);
    for (int32_t i = 0; i < kPanelPixels; i++) {
        f_read(&file1, buffer, 2, &read);
        LCD_WR_Data(static_cast<short>(buffer[0] + 256 * buffer[1]));
    }

    // The green square, corners (99, 99) and (199, 199) inclusive.
    Address_set(99, 99, 199, 199);
    for (int32_t i = 0; i < kSquarePixels; i++) LCD_WR_Data(static_cast<short>(kGreen));
    f_close(&file1);

    // The music, for ever: each pass resets the decoder and plays the file
    // from its first byte; a short read ends the pass. A pass that sent music
    // lets the decoder play out its end before the next reset.
    for (;;) {
        Init_VS();
        f_open(&file1, file1name, static_cast<BYTE>(accessmode));
        bool played = false;
        do {
            f_read(&file1, buffer, 32, &read);
            for (UINT i = 0; i < read; i++) {
                while (!(PORTD & kDreq)) {
                }
                write_SDI_VS(static_cast<char>(buffer[i]));
            }
            played = played || read > 0;
        } while (read >= 32);
        f_close(&file1);
        if (played) Finish_VS();
    }
}
