# Device configuration words, programmed with the image (last 16 bytes of
# boot flash, DEVCFG3 first).
    .section .config_words, "a", @progbits
    .word   0xFFFFFFFF      # DEVCFG3: erased (no user id)
    .word   0xFFF8FFD9      # DEVCFG2: PLL input ÷2, multiplier ×20, output ÷1
    .word   0xFF60DA5B      # DEVCFG1: primary osc + PLL, HS crystal, no secondary osc,
                            #          no two-speed start, PB ÷2 at reset, no clock
                            #          switching or monitor, watchdog off
    .word   0x7FFFFFFF      # DEVCFG0: no code or write protection, debugger off, PGEC2/PGED2
