/* Runs generated instruction sequences under qemu-mipsel (a peer for the
 * core's differential test). Freestanding: the distribution's C library for
 * this target uses FPU instructions the M14K model does not have, so the
 * program talks to the kernel directly.
 * Reads records from stdin, writes one result per record to stdout:
 *   in:  u32 ncode, u32 code[ncode], u32 regs[32], u32 hi, u32 lo, u8 mem[256]
 *   out: u32 signal (0: ran to the end), u32 pc (signal: faulting pc - code start),
 *        u32 regs[32], u32 hi, u32 lo, u8 mem[256]
 * $30 holds the memory buffer's address and $31 is kept relative to the code
 * start, so results do not depend on where either lives. */
#include <signal.h>
#include <stdint.h>
#include <ucontext.h>

struct state {
    uint32_t regs[32];
    uint32_t hi, lo;
    uint32_t code;
};

struct state *g_state;
uint32_t g_save[12];
void run_seq(struct state *st);
void seq_exit(void);
void seq_trapped(void);

enum { kMaxCode = 16000 };
static uint32_t g_code[kMaxCode + 4] __attribute__((aligned(4096)));  /* executable: linked with -N */
static uint8_t g_mem[256] __attribute__((aligned(256)));
static uint32_t g_signal, g_pc;
static struct state g_st;

static long sys(long n, long a, long b, long c, long d) {
    register long v0 __asm__("$2") = n;
    register long a0 __asm__("$4") = a;
    register long a1 __asm__("$5") = b;
    register long a2 __asm__("$6") = c;
    register long a3 __asm__("$7") = d;
    __asm__ volatile("syscall"
                     : "+r"(v0), "+r"(a3)
                     : "r"(a0), "r"(a1), "r"(a2)
                     : "memory", "$1", "$3", "$8", "$9", "$10", "$11", "$12", "$13", "$14", "$15", "$24", "$25",
                       "hi", "lo");
    return a3 ? -v0 : v0;
}
enum { kExit = 4001, kRead = 4003, kWrite = 4004, kRtSigaction = 4194 };

static int read_all(void *p, unsigned n) {
    uint8_t *b = p;
    while (n) {
        long got = sys(kRead, 0, (long)b, n, 0);
        if (got <= 0) return 0;
        b += got;
        n -= (unsigned)got;
    }
    return 1;
}
static void write_all(const void *p, unsigned n) {
    const uint8_t *b = p;
    while (n) {
        long put = sys(kWrite, 1, (long)b, n, 0);
        if (put <= 0) sys(kExit, 4, 0, 0, 0);
        b += put;
        n -= (unsigned)put;
    }
}

/* A trap in the sequence: record where and the registers, then resume in
 * seq_trapped, which returns from run_seq. */
static void on_signal(int sig, siginfo_t *info, void *context) {
    (void)info;
    ucontext_t *uc = context;
    g_signal = (uint32_t)sig;
    g_pc = (uint32_t)uc->uc_mcontext.pc - (uint32_t)(uintptr_t)g_code;
    for (int i = 1; i < 32; ++i) g_st.regs[i] = (uint32_t)uc->uc_mcontext.gregs[i];
    g_st.hi = (uint32_t)uc->uc_mcontext.mdhi;
    g_st.lo = (uint32_t)uc->uc_mcontext.mdlo;
    uc->uc_mcontext.pc = (uintptr_t)seq_trapped;
}

struct kernel_sigaction {
    unsigned int flags;
    void (*handler)(int, siginfo_t *, void *);
    unsigned long mask[4];
};

void harness_main(void) {
    static const int sigs[] = {SIGFPE, SIGTRAP, SIGILL, SIGBUS, SIGSEGV};
    for (unsigned i = 0; i < sizeof sigs / sizeof sigs[0]; ++i) {
        struct kernel_sigaction sa = {SA_SIGINFO | SA_NODEFER, on_signal, {0, 0, 0, 0}};
        if (sys(kRtSigaction, sigs[i], (long)&sa, 0, 16) != 0) sys(kExit, 2, 0, 0, 0);
    }
    const uint32_t base = (uint32_t)(uintptr_t)g_code;
    uint32_t n;
    while (read_all(&n, 4)) {
        if (n > kMaxCode || !read_all(g_code, n * 4)) sys(kExit, 3, 0, 0, 0);
        const uint32_t exit_at = (uint32_t)(uintptr_t)seq_exit;
        g_code[n] = 0x3C1B0000u | (exit_at >> 16);          /* lui k1, hi */
        g_code[n + 1] = 0x377B0000u | (exit_at & 0xFFFF);   /* ori k1, k1, lo */
        g_code[n + 2] = 0x03600008u;                        /* jr k1 */
        g_code[n + 3] = 0;
        if (!read_all(g_st.regs, 128) || !read_all(&g_st.hi, 4) || !read_all(&g_st.lo, 4) || !read_all(g_mem, 256))
            sys(kExit, 3, 0, 0, 0);
        g_st.regs[30] = (uint32_t)(uintptr_t)g_mem;
        g_st.regs[31] += base;
        g_st.code = base;
        g_signal = 0;
        g_pc = 0;
        run_seq(&g_st);
        g_st.regs[0] = 0;
        g_st.regs[26] = g_st.regs[27] = g_st.regs[28] = g_st.regs[29] = g_st.regs[30] = 0;
        g_st.regs[31] -= base;
        write_all(&g_signal, 4);
        write_all(&g_pc, 4);
        write_all(g_st.regs, 128);
        write_all(&g_st.hi, 4);
        write_all(&g_st.lo, 4);
        write_all(g_mem, 256);
    }
    sys(kExit, 0, 0, 0, 0);
}
