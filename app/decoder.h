#pragma once
// Driver of the VS10xx audio decoder on SPI2: command interface (SCI) selected
// by XCS on RG3, data interface (SDI) by XDCS on RG2, hardware reset XRESET on
// RG9, data request DREQ on RD9 (high: the decoder takes more data).

// Hardware reset and configuration; returns when DREQ is high.
void Init_VS();

// One SPI2 byte exchange; returns the byte received.
char write_VS(char x);

// Writes the 16-bit value `dat` to command register `reg`.
void write_SCI_VS(char reg, unsigned short dat);

// Sends one byte of the compressed stream. Does not look at DREQ: the caller
// waits for it before each byte.
void write_SDI_VS(char x);

// Ends a stream: 2048 zero bytes, each sent once DREQ is high, push what the
// decoder still holds through it, so that the reset starting the next stream
// does not cut the end of this one. Each wait for DREQ is bounded: a decoder
// that holds it low for longer is left to that reset. Needs the running 1 ms
// tick.
void Finish_VS();
