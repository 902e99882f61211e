/* Text I/O over an open file: lines in (CR dropped), characters, strings and
 * formatted text out (LF written as CR LF). Every byte is one f_read or
 * f_write call, served from the file's sector buffer. */
#include <stdarg.h>

#include "fatfs/ff.h"

namespace ff {
namespace {

constexpr BYTE CR = 0x0D;
constexpr BYTE LF = 0x0A;

/* Enough digits for any 32-bit value in base 2. */
constexpr UINT DIGIT_BUF = 32;

} // namespace
} // namespace ff

using namespace ff;

TCHAR* f_gets(TCHAR* buff, int len, FIL* fil)
{
    if (len < 1) return nullptr; /* no room even for the terminator */
    int n = 0;
    while (n < len - 1) {
        BYTE c;
        UINT rc = 0;
        f_read(fil, &c, 1, &rc);
        if (rc != 1) break;
        if (c == CR) continue;
        buff[n++] = (TCHAR)c;
        if (c == LF) break;
    }
    buff[n] = 0;
    return n ? buff : nullptr;
}

int f_putc(TCHAR c, FIL* fil)
{
    if ((BYTE)c == LF) (void)f_putc((TCHAR)CR, fil);
    UINT bw = 0;
    f_write(fil, &c, 1, &bw);
    return bw == 1 ? 1 : -1;
}

int f_puts(const TCHAR* str, FIL* fil)
{
    int n = 0;
    for (; *str; str++, n++)
        if (f_putc(*str, fil) < 0) return -1;
    return n;
}

namespace ff {
namespace {

/* Writes `count` copies of `c`; false on the first failed write. */
bool put_fill(TCHAR c, UINT count, FIL* fil)
{
    for (UINT i = 0; i < count; i++)
        if (f_putc(c, fil) < 0) return false;
    return true;
}

} // namespace
} // namespace ff

int f_printf(FIL* fil, const TCHAR* str, ...)
{
    va_list arp;
    va_start(arp, str);
    int total = 0;
    bool failed = false;

    for (;;) {
        BYTE c = (BYTE)*str++;
        if (c == 0) break;
        if (c != '%') {
            if (f_putc((TCHAR)c, fil) < 0) {
                failed = true;
                break;
            }
            total++;
            continue;
        }

        /* %[0|-][width][l|L]conversion */
        bool zero_fill = false, left = false, is_long = false;
        c = (BYTE)*str++;
        if (c == '0') {
            zero_fill = true;
            c = (BYTE)*str++;
        } else if (c == '-') {
            left = true;
            c = (BYTE)*str++;
        }
        UINT width = 0;
        while (c >= '0' && c <= '9') {
            width = width * 10 + (c - '0');
            c = (BYTE)*str++;
        }
        if (c == 'l' || c == 'L') {
            is_long = true;
            c = (BYTE)*str++;
        }
        if (c == 0) break; /* the format ended inside a conversion */

        const BYTE conv = (c >= 'a' && c <= 'z') ? (BYTE)(c - 0x20) : c;
        int count = 0;

        if (conv == 'S') {
            const TCHAR* s = va_arg(arp, const TCHAR*);
            UINT len = 0;
            while (s[len]) len++;
            const UINT pad = width > len ? width - len : 0;
            bool ok = left || put_fill(' ', pad, fil);
            int n = ok ? f_puts(s, fil) : -1;
            ok = n >= 0 && (!left || put_fill(' ', pad, fil));
            if (!ok) {
                failed = true;
                break;
            }
            count = (int)(pad + (UINT)n);
        } else if (conv == 'C') {
            const int ch = va_arg(arp, int);
            if (f_putc((TCHAR)(BYTE)ch, fil) < 0) {
                failed = true;
                break;
            }
            count = 1;
        } else if (conv == 'D' || conv == 'U' || conv == 'O' || conv == 'X' || conv == 'B') {
            const UINT radix = conv == 'O' ? 8 : conv == 'X' ? 16 : conv == 'B' ? 2 : 10;
            ULONG v = is_long ? (ULONG)va_arg(arp, long) : (ULONG)va_arg(arp, int);
            bool negative = false;
            if (conv == 'D' && (v & 0x80000000UL)) {
                v = 0 - v;
                negative = true;
            }
            TCHAR digits[DIGIT_BUF];
            UINT nd = 0;
            do {
                const BYTE d = (BYTE)(v % radix);
                v /= radix;
                digits[nd++] = (TCHAR)(d < 10 ? '0' + d : (c == 'x' ? 'a' : 'A') + d - 10);
            } while (v && nd < DIGIT_BUF);
            const UINT len = nd + (negative ? 1 : 0);
            const UINT pad = width > len ? width - len : 0;
            bool ok = left || put_fill(zero_fill ? '0' : ' ', pad, fil);
            if (ok && negative) ok = f_putc('-', fil) > 0;
            while (ok && nd) ok = f_putc(digits[--nd], fil) > 0;
            if (ok && left) ok = put_fill(' ', pad, fil);
            if (!ok) {
                failed = true;
                break;
            }
            count = (int)(len + pad);
        } else {
            /* Unknown conversion: the character itself ("%%" gives "%"). */
            if (f_putc((TCHAR)c, fil) < 0) {
                failed = true;
                break;
            }
            count = 1;
        }
        total += count;
    }

    va_end(arp);
    return failed ? -1 : total;
}
