// 8.3 short names and path resolution.
//
// Path characters are compared as unsigned bytes: TCHAR is signed on the chip,
// and a character from 0x80 up must not read as a terminator.
#include "fatfs/ff_private.h"

namespace ff {

namespace {

// Upper-case form of the characters 0x80..0xFF as stored in a name.
constexpr BYTE excvt[128] = {
    0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
    0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0xAD, 0x9B, 0x8C, 0x9D, 0xAE, 0x9F,
    0xA0, 0x21, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xF7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0x9F,
};

// Characters that may not appear in a name.
constexpr char bad_chars[] = "\"*+,:;<=>?[]|\x7F";

inline BYTE uch(TCHAR c) { return static_cast<BYTE>(c); }
inline bool is_sep(BYTE c) { return c == '/' || c == '\\'; }

} // namespace

int chk_chr(const char* str, int chr)
{
    while (*str && static_cast<BYTE>(*str) != chr) str++;
    return static_cast<BYTE>(*str);
}

FRESULT create_name(DIR* dj, const TCHAR** path)
{
    BYTE* sfn = dj->fn;
    const TCHAR* p = *path;
    while (is_sep(uch(*p))) p++;
    mem_set(sfn, ' ', 11);

    UINT si = 0;
    UINT i = 0;
    BYTE c;

    if (uch(p[0]) == '.') {
        // "." and ".." (at most two dots are copied)
        for (;;) {
            c = uch(p[si++]);
            if (c != '.' || si >= 3) break;
            sfn[i++] = c;
        }
        if (!is_sep(c) && c >= 0x21) return FR_INVALID_NAME;
        *path = p + si;
        sfn[NS] = (c < 0x21) ? (NSF_DOT | NSF_LAST) : NSF_DOT;
        return FR_OK;
    }

    // Case bits of the part being read: 1 = lower case seen, 2 = upper case
    // seen. The body's bits are shifted up by two when the extension starts.
    UINT ni = 8;
    BYTE b = 0;
    for (;;) {
        c = uch(p[si++]);
        if (c < 0x21 || is_sep(c)) break;
        if (c == '.' || i >= ni) {
            if (ni != 8 || c != '.') return FR_INVALID_NAME;
            i = 8;
            ni = 11;
            b = static_cast<BYTE>(b << 2);
            continue;
        }
        if (c >= 0x80) {
            b |= 3;
            c = excvt[c - 0x80];
        }
        if (chk_chr(bad_chars, c)) return FR_INVALID_NAME;
        if (c >= 'A' && c <= 'Z') {
            b |= 2;
        } else if (c >= 'a' && c <= 'z') {
            b |= 1;
            c = static_cast<BYTE>(c - 0x20);
        }
        sfn[i++] = c;
    }
    *path = p + si;
    if (i == 0) return FR_INVALID_NAME;
    if (sfn[0] == DDE) sfn[0] = NDDE;

    if (ni == 8) b = static_cast<BYTE>(b << 2);
    BYTE ns = (c < 0x21) ? NSF_LAST : 0;
    if ((b & 0x03) == 0x01) ns |= NSF_EXT_LOWER;
    if ((b & 0x0C) == 0x04) ns |= NSF_BODY_LOWER;
    sfn[NS] = ns;
    return FR_OK;
}

FRESULT follow_path(DIR* dj, const TCHAR* path)
{
    if (is_sep(uch(*path))) {
        path++;
        dj->sclust = 0;
    } else {
        dj->sclust = dj->fs->cdir;
    }

    if (uch(*path) < 0x20) {
        // The path names the start directory itself.
        const FRESULT res = dir_sdi(dj, 0);
        dj->dir = nullptr;
        return res;
    }

    for (;;) {
        FRESULT res = create_name(dj, &path);
        if (res != FR_OK) return res;
        res = dir_find(dj);
        const BYTE ns = dj->fn[NS];
        if (res != FR_OK) {
            if (res != FR_NO_FILE) return res;
            if (ns & NSF_DOT) {
                // "." or ".." in a table without them: the root directory.
                dj->sclust = 0;
                dj->dir = nullptr;
                if (ns & NSF_LAST) return FR_OK;
                continue;
            }
            return (ns & NSF_LAST) ? FR_NO_FILE : FR_NO_PATH;
        }
        if (ns & NSF_LAST) return FR_OK;
        if (!(dj->dir[DIR_Attr] & ATTR_DIRECTORY)) return FR_NO_PATH;
        dj->sclust = ld_clust(dj->dir);
    }
}

FRESULT resolve(DIR* dj, BYTE* sfn, const TCHAR* path, BYTE chk_wp)
{
    sfn[NS] = 0;
    dj->fn = sfn;
    dj->dir = nullptr;
    const FRESULT res = chk_mounted(&path, &dj->fs, chk_wp);
    return res == FR_OK ? follow_path(dj, path) : res;
}

void get_fileinfo(DIR* dj, FILINFO* fno)
{
    TCHAR* p = fno->fname;
    if (dj->sect) {
        const BYTE* dir = dj->dir;
        for (UINT i = 0; i < 8; i++) {
            BYTE c = dir[i];
            if (c == ' ') break;
            if (c == NDDE) c = DDE;
            *p++ = static_cast<TCHAR>(c);
        }
        if (dir[8] != ' ') {
            *p++ = '.';
            for (UINT i = 8; i < 11; i++) {
                const BYTE c = dir[i];
                if (c == ' ') break;
                *p++ = static_cast<TCHAR>(c);
            }
        }
        fno->fattrib = dir[DIR_Attr];
        fno->fsize = ld_dword(dir + DIR_FileSize);
        fno->fdate = ld_word(dir + DIR_WrtDate);
        fno->ftime = ld_word(dir + DIR_WrtTime);
    }
    *p = 0;
}

} // namespace ff
