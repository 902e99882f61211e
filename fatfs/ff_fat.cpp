// FAT entries of all three widths, cluster chains and the fast-seek link map.
#include "fatfs/ff_private.h"

namespace ff {

DWORD clust2sect(FATFS* fs, DWORD clst)
{
    clst -= 2;
    if (clst >= fs->n_fatent - 2) return 0;
    return clst * fs->csize + fs->database;
}

DWORD get_fat(FATFS* fs, DWORD clst)
{
    if (clst < 2 || clst >= fs->n_fatent) return CLUST_INT_ERR;

    switch (fs->fs_type) {
    case FS_FAT12: {
        // A 12-bit entry may straddle two FAT sectors.
        const UINT bc = clst + clst / 2;
        if (move_window(fs, fs->fatbase + bc / SECTOR_SIZE) != FR_OK) break;
        const UINT lo = fs->win[bc % SECTOR_SIZE];
        if (move_window(fs, fs->fatbase + (bc + 1) / SECTOR_SIZE) != FR_OK) break;
        const UINT wc = lo | (static_cast<UINT>(fs->win[(bc + 1) % SECTOR_SIZE]) << 8);
        return (clst & 1) ? (wc >> 4) : (wc & 0xFFF);
    }
    case FS_FAT16:
        if (move_window(fs, fs->fatbase + clst / (SECTOR_SIZE / 2)) != FR_OK) break;
        return ld_word(fs->win + clst * 2 % SECTOR_SIZE);
    case FS_FAT32:
        if (move_window(fs, fs->fatbase + clst / (SECTOR_SIZE / 4)) != FR_OK) break;
        return ld_dword(fs->win + clst * 4 % SECTOR_SIZE) & 0x0FFFFFFF;
    default:
        break;
    }
    return CLUST_DISK_ERR;
}

FRESULT put_fat(FATFS* fs, DWORD clst, DWORD val)
{
    if (clst < 2 || clst >= fs->n_fatent) return FR_INT_ERR;

    FRESULT res;
    switch (fs->fs_type) {
    case FS_FAT12: {
        UINT bc = clst + clst / 2;
        res = move_window(fs, fs->fatbase + bc / SECTOR_SIZE);
        if (res != FR_OK) break;
        BYTE* p = fs->win + bc % SECTOR_SIZE;
        *p = (clst & 1) ? static_cast<BYTE>((*p & 0x0F) | ((val & 0x0F) << 4))
                        : static_cast<BYTE>(val);
        // Mark now: the second byte may be in the next sector, and loading that
        // one must write this one back.
        fs->wflag = 1;
        bc++;
        res = move_window(fs, fs->fatbase + bc / SECTOR_SIZE);
        if (res != FR_OK) break;
        p = fs->win + bc % SECTOR_SIZE;
        *p = (clst & 1) ? static_cast<BYTE>(val >> 4)
                        : static_cast<BYTE>((*p & 0xF0) | ((val >> 8) & 0x0F));
        break;
    }
    case FS_FAT16:
        res = move_window(fs, fs->fatbase + clst / (SECTOR_SIZE / 2));
        if (res != FR_OK) break;
        st_word(fs->win + clst * 2 % SECTOR_SIZE, static_cast<WORD>(val));
        break;
    case FS_FAT32: {
        res = move_window(fs, fs->fatbase + clst / (SECTOR_SIZE / 4));
        if (res != FR_OK) break;
        BYTE* p = fs->win + clst * 4 % SECTOR_SIZE;
        st_dword(p, (val & 0x0FFFFFFF) | (ld_dword(p) & 0xF0000000));
        break;
    }
    default:
        res = FR_INT_ERR;
        break;
    }
    fs->wflag = 1;
    return res;
}

FRESULT remove_chain(FATFS* fs, DWORD clst)
{
    if (clst < 2 || clst >= fs->n_fatent) return FR_INT_ERR;

    // Freed entries read as free, so a looping chain ends where it meets
    // itself; the step bound is a second guarantee that the walk ends.
    FRESULT res = FR_OK;
    for (DWORD steps = fs->n_fatent; clst < fs->n_fatent; steps--) {
        if (steps == 0) return FR_INT_ERR;
        const DWORD nxt = get_fat(fs, clst);
        if (nxt == 0) break;
        if (nxt == CLUST_INT_ERR) return FR_INT_ERR;
        if (nxt == CLUST_DISK_ERR) return FR_DISK_ERR;
        res = put_fat(fs, clst, 0);
        if (res != FR_OK) break;
        if (fs->free_clust != 0xFFFFFFFF) {
            fs->free_clust++;
            fs->fsi_flag = 1;
        }
        clst = nxt;
    }
    return res;
}

DWORD create_chain(FATFS* fs, DWORD clst)
{
    DWORD scl;
    if (clst == 0) {
        scl = fs->last_clust;
        if (scl == 0 || scl >= fs->n_fatent) scl = 1;
    } else {
        const DWORD cs = get_fat(fs, clst);
        if (cs == CLUST_DISK_ERR) return cs;
        if (cs < 2) return CLUST_INT_ERR;
        if (cs < fs->n_fatent) return cs;  // the chain already continues
        scl = clst;
    }

    DWORD ncl = scl;
    for (;;) {
        ncl++;
        if (ncl >= fs->n_fatent) {
            ncl = 2;
            if (scl < 2) return 0;
        }
        const DWORD cs = get_fat(fs, ncl);
        if (cs == 0) break;
        if (cs == CLUST_DISK_ERR || cs == CLUST_INT_ERR) return cs;
        if (ncl == scl) return 0;
    }

    FRESULT res = put_fat(fs, ncl, CLUST_EOC);
    if (res == FR_OK && clst != 0) res = put_fat(fs, clst, ncl);
    if (res != FR_OK) return (res == FR_DISK_ERR) ? CLUST_DISK_ERR : CLUST_INT_ERR;

    fs->last_clust = ncl;
    if (fs->free_clust != 0xFFFFFFFF) {
        fs->free_clust--;
        fs->fsi_flag = 1;
    }
    return ncl;
}

DWORD clmt_clust(FIL* fp, DWORD ofs)
{
    const DWORD* tbl = fp->cltbl + 1;
    DWORD cl = ofs / SECTOR_SIZE / fp->fs->csize;
    for (;;) {
        const DWORD ncl = *tbl++;
        if (ncl == 0) return 0;
        if (cl < ncl) return cl + *tbl;
        cl -= ncl;
        tbl++;
    }
}

} // namespace ff
