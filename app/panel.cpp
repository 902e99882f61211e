#include "app/panel.h"

#include <cstdint>

#include "app/tick.h"
#include "platform/pic32/pic32.h"

namespace {

constexpr uint32_t PANEL_RESET = 1u << 1;   // RE1, active low
constexpr uint32_t PANEL_WR = 1u << 3;      // RE3, write strobe, active low
constexpr uint32_t PANEL_CS = 1u << 4;      // RE4, chip select, active low
constexpr uint32_t PANEL_RS = 1u << 5;      // RE5, low: command, high: data
constexpr uint32_t PANEL_CONTROL = 0x7Fu;   // RE0..RE6 inactive (high)

// Idle cycles the strobe stays low (about 0.5 us at 80 MHz).
constexpr int STROBE_IDLE_CYCLES = 39;

void strobe_idle() {
    for (int i = 0; i < STROBE_IDLE_CYCLES; ++i) Nop();
}

// One step of the controller set-up: a command, its parameters, then a pause.
struct PanelStep {
    uint8_t command;
    uint8_t count;
    uint8_t params[8];
    uint8_t pause_ms;
};

constexpr PanelStep PANEL_SETUP[] = {
    {0xE2, 3, {0x23, 0x02, 0x04}, 0},  // set_pll_mn: VCO = ref x 36, PLL = VCO / 3
    {0xE0, 1, {0x01}, 1},              // set_pll: PLL on, still clocked from the reference
    {0xE0, 1, {0x03}, 5},              // set_pll: PLL locked in as the system clock
    {0x01, 0, {}, 5},                  // soft_reset
    {0xE6, 3, {0x03, 0xFF, 0xFF}, 0},  // set_lshift_freq: pixel clock = PLL / 4
    {0xB0, 7, {0x27, 0x00, 0x03, 0x1F, 0x01, 0xDF, 0x00}, 0},        // set_lcd_mode: 800 x 480 TFT
    {0xB4, 8, {0x03, 0xA0, 0x00, 0x2E, 0x30, 0x00, 0x0F, 0x00}, 0},  // set_hori_period
    {0xB6, 7, {0x02, 0x0D, 0x00, 0x10, 0x10, 0x00, 0x08}, 0},        // set_vert_period
    {0xBA, 1, {0x0F}, 0},              // set_gpio_value: GPIO0..3 high (before the directions)
    {0xB8, 2, {0x07, 0x01}, 0},        // set_gpio_conf: GPIO0..2 outputs
    {0x36, 1, {0x00}, 0},              // set_address_mode: no flip, RGB order
    {0xF0, 1, {0x03}, 5},              // set_pixel_data_interface: 16-bit RGB565
    {0x29, 0, {}, 0},                  // set_display_on
    {0xD0, 1, {0x0D}, 0},              // set_dbc_conf: dynamic backlight control on
};

void write_coordinate(unsigned int value) {
    LCD_WR_Data(static_cast<short>(value >> 8));
    LCD_WR_Data(static_cast<short>(value & 0xFF));
}

}  // namespace

void LCD_WR_REG(unsigned short reg) {
    PORTECLR = PANEL_RS;
    PORTB = reg;
    PORTECLR = PANEL_WR;
    strobe_idle();
    delayms(1);
    Nop();
    PORTESET = PANEL_WR;
}

void LCD_WR_Data(short dat) {
    PORTESET = PANEL_RS | PANEL_RESET;
    PORTB = static_cast<uint16_t>(dat);
    PORTECLR = PANEL_WR;
    strobe_idle();
    PORTESET = PANEL_WR;
}

void Address_set(unsigned int x1, unsigned int y1, unsigned int x2, unsigned int y2) {
    LCD_WR_REG(0x2A);  // set_column_address
    write_coordinate(x1);
    write_coordinate(x2);
    LCD_WR_REG(0x2B);  // set_page_address
    write_coordinate(y1);
    write_coordinate(y2);
    LCD_WR_REG(0x2C);  // write_memory_start
}

void Init_TFT() {
    PORTE = PORTE | PANEL_CONTROL;
    delayms(5);
    // Reset pulse: low, held for at least a millisecond (the controller needs
    // some microseconds; a pulse of a few instructions is too short to count),
    // then back to all lines inactive.
    PORTE = PORTE & ~PANEL_RESET;
    delayms(2);
    PORTE = PORTE | PANEL_CONTROL;
    delayms(5);
    PORTECLR = PANEL_CS;
    delayms(1);

    for (const PanelStep& step : PANEL_SETUP) {
        LCD_WR_REG(step.command);
        for (int i = 0; i < step.count; ++i) LCD_WR_Data(step.params[i]);
        if (step.pause_ms != 0) delayms(step.pause_ms);
    }
}
