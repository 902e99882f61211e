#include "app/decoder.h"

#include <cstdint>

#include "app/tick.h"
#include "platform/pic32/pic32.h"

namespace {

constexpr uint32_t VS_XDCS = 1u << 2;   // RG2
constexpr uint32_t VS_XCS = 1u << 3;    // RG3
constexpr uint32_t VS_XRESET = 1u << 9; // RG9
constexpr uint32_t VS_DREQ = 1u << 9;   // RD9

// Mode 0 master, 8-bit: module on, output changes on the falling edge.
constexpr uint32_t VS_SPI_CONFIG = SPICON_ON | SPICON_CKE | SPICON_MSTEN;
// 80 MHz / (2 x 801): slow enough for the decoder before its clock multiplier is set.
constexpr uint32_t VS_BRG_SLOW = 800;
// 80 MHz / (2 x 6) = 6.67 MHz once the multiplier is on.
constexpr uint32_t VS_BRG_FAST = 5;

// Idle cycles XRESET is held low: the decoder needs at least two crystal
// cycles (163 ns at 12.288 MHz), 14 cycles at 80 MHz.
constexpr int VS_RESET_HOLD_CYCLES = 16;

constexpr char SCI_WRITE = 0x02;
constexpr char SCI_MODE = 0x00;
constexpr char SCI_CLOCKF = 0x03;
constexpr unsigned short SM_SDINEW = 0x0800;
constexpr unsigned short CLOCKF_MULT_6 = 0xC000;

// Zero bytes after a stream: the decoder's input buffer and then some, so
// every byte of the stream has been taken in and decoded by the last one.
constexpr int VS_END_FILL_BYTES = 2048;
// Longest wait for DREQ while ending a stream. A working decoder raises it
// within one frame of audio (72 ms at the lowest MP3 sample rate).
constexpr uint32_t VS_END_FILL_WAIT_MS = 500;

bool dreq_high() { return (PORTD & VS_DREQ) != 0; }

}  // namespace

char write_VS(char x) {
    SPI2BUF = static_cast<uint8_t>(x);
    while (!(SPI2STAT & SPISTAT_SPIRBF)) {
    }
    return static_cast<char>(SPI2BUF & 0xFFu);
}

void write_SCI_VS(char reg, unsigned short dat) {
    while (!dreq_high()) PORTGSET = VS_XDCS;
    PORTGCLR = VS_XCS;
    write_VS(SCI_WRITE);
    write_VS(reg);
    write_VS(static_cast<char>(dat >> 8));
    write_VS(static_cast<char>(dat & 0xFF));
    PORTGSET = VS_XCS | VS_XDCS;
}

void write_SDI_VS(char x) {
    PORTGSET = VS_XCS;
    PORTGCLR = VS_XDCS;
    write_VS(x);
    PORTGSET = VS_XCS | VS_XDCS;
}

void Init_VS() {
    SPI2CON = VS_SPI_CONFIG;
    SPI2BRG = VS_BRG_SLOW;

    PORTGCLR = VS_XRESET;
    for (int i = 0; i < VS_RESET_HOLD_CYCLES; ++i) Nop();
    PORTGSET = VS_XRESET;

    write_SCI_VS(SCI_MODE, SM_SDINEW);
    write_SCI_VS(SCI_CLOCKF, CLOCKF_MULT_6);
    SPI2BRG = VS_BRG_FAST;
    while (!dreq_high()) {
    }
}

void Finish_VS() {
    for (int i = 0; i < VS_END_FILL_BYTES; i++) {
        // tack counts milliseconds; nothing resets it while music plays.
        const uint32_t since = tack;
        while (!dreq_high()) {
            if (tack - since >= VS_END_FILL_WAIT_MS) return;
        }
        write_SDI_VS(0);
    }
}
