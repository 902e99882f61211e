# Runs one generated instruction sequence with the register file taken from a
# state block and stores the register file back when the sequence jumps to
# seq_exit. k0/k1 belong to this stub; the sequences never touch them.
    .set    noreorder
    .set    noat
    .text

    .globl  __start
    .ent    __start
__start:
    li      $t0, -8
    and     $sp, $sp, $t0
    addiu   $sp, $sp, -32
    jal     harness_main
    nop
1:  b       1b
    nop
    .end    __start

    .globl  run_seq
    .ent    run_seq
run_seq:                            # a0: struct state *
    la      $t0, g_save
    sw      $s0, 0($t0)
    sw      $s1, 4($t0)
    sw      $s2, 8($t0)
    sw      $s3, 12($t0)
    sw      $s4, 16($t0)
    sw      $s5, 20($t0)
    sw      $s6, 24($t0)
    sw      $s7, 28($t0)
    sw      $s8, 32($t0)
    sw      $gp, 36($t0)
    sw      $sp, 40($t0)
    sw      $ra, 44($t0)
    la      $t0, g_state
    sw      $a0, 0($t0)
    move    $k0, $a0
    lw      $t0, 128($k0)
    mthi    $t0
    lw      $t0, 132($k0)
    mtlo    $t0
    lw      $k1, 136($k0)           # code address
    lw      $1, 4($k0)
    lw      $2, 8($k0)
    lw      $3, 12($k0)
    lw      $4, 16($k0)
    lw      $5, 20($k0)
    lw      $6, 24($k0)
    lw      $7, 28($k0)
    lw      $8, 32($k0)
    lw      $9, 36($k0)
    lw      $10, 40($k0)
    lw      $11, 44($k0)
    lw      $12, 48($k0)
    lw      $13, 52($k0)
    lw      $14, 56($k0)
    lw      $15, 60($k0)
    lw      $16, 64($k0)
    lw      $17, 68($k0)
    lw      $18, 72($k0)
    lw      $19, 76($k0)
    lw      $20, 80($k0)
    lw      $21, 84($k0)
    lw      $22, 88($k0)
    lw      $23, 92($k0)
    lw      $24, 96($k0)
    lw      $25, 100($k0)
    lw      $30, 120($k0)
    lw      $31, 124($k0)
    jr      $k1
    nop
    .end    run_seq

    # After a trap: the signal handler resumes here; the registers are
    # already recorded.
    .globl  seq_trapped
    .ent    seq_trapped
seq_trapped:
    b       restore
    nop
    .end    seq_trapped

    .globl  seq_exit
    .ent    seq_exit
seq_exit:
    lui     $k0, %hi(g_state)
    lw      $k0, %lo(g_state)($k0)
    sw      $1, 4($k0)
    sw      $2, 8($k0)
    sw      $3, 12($k0)
    sw      $4, 16($k0)
    sw      $5, 20($k0)
    sw      $6, 24($k0)
    sw      $7, 28($k0)
    sw      $8, 32($k0)
    sw      $9, 36($k0)
    sw      $10, 40($k0)
    sw      $11, 44($k0)
    sw      $12, 48($k0)
    sw      $13, 52($k0)
    sw      $14, 56($k0)
    sw      $15, 60($k0)
    sw      $16, 64($k0)
    sw      $17, 68($k0)
    sw      $18, 72($k0)
    sw      $19, 76($k0)
    sw      $20, 80($k0)
    sw      $21, 84($k0)
    sw      $22, 88($k0)
    sw      $23, 92($k0)
    sw      $24, 96($k0)
    sw      $25, 100($k0)
    sw      $30, 120($k0)
    sw      $31, 124($k0)
    mfhi    $k1
    sw      $k1, 128($k0)
    mflo    $k1
    sw      $k1, 132($k0)
restore:
    la      $t0, g_save
    lw      $s0, 0($t0)
    lw      $s1, 4($t0)
    lw      $s2, 8($t0)
    lw      $s3, 12($t0)
    lw      $s4, 16($t0)
    lw      $s5, 20($t0)
    lw      $s6, 24($t0)
    lw      $s7, 28($t0)
    lw      $s8, 32($t0)
    lw      $gp, 36($t0)
    lw      $sp, 40($t0)
    lw      $ra, 44($t0)
    jr      $ra
    nop
    .end    seq_exit
