# Reset entry of the PIC32MX340F512H image: runs from boot flash at the reset
# vector, prepares the C++ world (stack, .data, .bss, static constructors),
# sets up the interrupt system for multi-vector mode and calls main.

    .set    noat
    .set    noreorder

    .section .reset, "ax", @progbits
    .globl  _reset
    .ent    _reset
_reset:
    la      $k0, _startup           # continue in the start-up code (boot flash, KSEG1)
    jr      $k0
    nop
    .end    _reset

    .section .startup, "ax", @progbits
    .globl  _startup
    .ent    _startup
_startup:
    la      $sp, _stack_top

    # Copy initialised data from flash into RAM.
    la      $t0, _data_lma
    la      $t1, _data_start
    la      $t2, _data_end
1:  beq     $t1, $t2, 2f
    nop
    lw      $t3, 0($t0)
    sw      $t3, 0($t1)
    addiu   $t0, $t0, 4
    b       1b
    addiu   $t1, $t1, 4

    # Zero-fill .bss.
2:  la      $t1, _bss_start
    la      $t2, _bss_end
3:  beq     $t1, $t2, 4f
    nop
    sw      $zero, 0($t1)
    b       3b
    addiu   $t1, $t1, 4

    # Core timer stopped at a known state: Count = 0, Compare = all ones.
4:  mtc0    $zero, $9
    li      $t0, -1
    mtc0    $t0, $11

    # EBase may only be written while Status.BEV = 1 (as it is after reset).
    mfc0    $t0, $12
    lui     $t1, 0x0040             # BEV
    or      $t0, $t0, $t1
    mtc0    $t0, $12
    ehb
    la      $t0, _ebase_address
    mtc0    $t0, $15, 1
    # IntCtl.VS = 1: 32 bytes between interrupt vectors.
    li      $t0, 0x20
    mtc0    $t0, $12, 1
    # Cause.IV = 1: interrupts use the vector table, not the general exception.
    lui     $t0, 0x0080
    mtc0    $t0, $13
    # Status: keep BEV, SR and NMI only; clears ERL, EXL, IE and the IPL.
    mfc0    $t0, $12
    lui     $t1, 0x0058
    and     $t0, $t0, $t1
    mtc0    $t0, $12
    ehb
    # Exceptions now go through EBase: clear BEV.
    lui     $t1, 0xFFBF
    ori     $t1, $t1, 0xFFFF
    and     $t0, $t0, $t1
    mtc0    $t0, $12
    ehb

    # Static constructors, if any.
    la      $s0, __init_array_start
    la      $s1, __init_array_end
5:  beq     $s0, $s1, 6f
    nop
    lw      $t9, 0($s0)
    jalr    $t9
    addiu   $s0, $s0, 4
    b       5b
    nop

6:  la      $t9, main
    jalr    $t9
    nop
    # main never returns; if it did, stay here.
7:  b       7b
    nop
    .end    _startup
