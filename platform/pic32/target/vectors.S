# Exception and interrupt vectors. With EBase set and Status.BEV clear the
# core takes general exceptions at EBase + 0x180 and, in multi-vector mode
# with 32-byte spacing, interrupt vector n at EBase + 0x200 + 32 n. The
# boot-time (BEV = 1) exception and debug vectors live in boot flash.

    .set    noat
    .set    noreorder

    # Vector 0: the core timer. CoreTimerHandler saves and restores the
    # interrupted context itself and returns with eret.
    .section .vector_0, "ax", @progbits
    .globl  _vector_0
_vector_0:
    j       CoreTimerHandler
    nop

    .section .gen_exception, "ax", @progbits
    .globl  _gen_exception
_gen_exception:
    j       _default_exception
    nop

    .section .bev_exception, "ax", @progbits
_bev_exception:
    la      $k0, _default_exception
    jr      $k0
    nop

    .section .debug_exception, "ax", @progbits
_debug_exception:
    b       _debug_exception        # no debugger: nothing to return to
    nop

    # Any unexpected exception: break into an attached debugger, then stop
    # for good.
    .section .text._default_exception, "ax", @progbits
    .globl  _default_exception
    .ent    _default_exception
_default_exception:
    sdbbp
1:  b       1b
    nop
    .end    _default_exception
