#pragma once
// Driver of the 800 x 480 TFT panel behind its SSD1963 controller, on the
// write-only 16-bit parallel bus: D15..D0 on RB15..RB0, controller reset RE1,
// write strobe RE3, chip select RE4, command/data select RE5 (low: command).

// Resets and configures the controller. Needs the port set-up and the running
// 1 ms tick (it waits with delayms).
void Init_TFT();

// Writes one command byte (takes up to 1 ms).
void LCD_WR_REG(unsigned short reg);

// Writes one parameter byte or one RGB565 pixel.
void LCD_WR_Data(short dat);

// Opens the drawing window columns x1..x2, rows y1..y2 (inclusive) and starts a
// memory write: each following LCD_WR_Data stores one pixel, left to right,
// rows top to bottom.
void Address_set(unsigned int x1, unsigned int y1, unsigned int x2, unsigned int y2);
