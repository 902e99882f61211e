// Directory cursor: placing it by index, stepping (with growth), searching,
// reading, registering and removing 32-byte entries in the sector window.
#include "fatfs/ff_private.h"

namespace ff {
namespace {

// True when the entry at `index` would lie in a cluster beyond the number of
// clusters the volume has: the directory's chain must loop.
bool dir_too_long(const FATFS* fs, UINT index)
{
    return index / DIR_PER_SECTOR / fs->csize >= fs->n_fatent - 2;
}

} // namespace

FRESULT dir_sdi(DIR* dj, WORD idx)
{
    FATFS* fs = dj->fs;
    dj->index = idx;
    DWORD clst = dj->sclust;
    if (clst == 1 || clst >= fs->n_fatent) return FR_INT_ERR;
    if (clst == 0 && fs->fs_type == FS_FAT32) {
        // The root cluster comes from the boot sector unchecked.
        clst = fs->dirbase;
        if (clst < 2 || clst >= fs->n_fatent) return FR_INT_ERR;
    }

    DWORD sect;
    if (clst == 0) {
        dj->clust = 0;
        if (idx >= fs->n_rootdir) return FR_INT_ERR;
        sect = fs->dirbase + idx / DIR_PER_SECTOR;
    } else {
        const UINT ic = DIR_PER_SECTOR * fs->csize;
        UINT i = idx;
        if (dir_too_long(fs, i)) return FR_INT_ERR;
        while (i >= ic) {
            clst = get_fat(fs, clst);
            if (clst == CLUST_DISK_ERR) return FR_DISK_ERR;
            if (clst < 2 || clst >= fs->n_fatent) return FR_INT_ERR;
            i -= ic;
        }
        dj->clust = clst;
        sect = clust2sect(fs, clst);
        if (sect == 0) return FR_INT_ERR;
        sect += i / DIR_PER_SECTOR;
        idx = static_cast<WORD>(i);
    }
    dj->sect = sect;
    dj->dir = fs->win + (idx % DIR_PER_SECTOR) * SZ_DIR;
    return FR_OK;
}

FRESULT dir_next(DIR* dj, int stretch)
{
    FATFS* fs = dj->fs;
    const WORD i = static_cast<WORD>(dj->index + 1);
    if (i == 0 || dj->sect == 0) return FR_NO_FILE;

    if (i % DIR_PER_SECTOR == 0) {
        dj->sect++;
        if (dj->clust == 0) {
            if (i >= fs->n_rootdir) return FR_NO_FILE;
        } else if (((i / DIR_PER_SECTOR) & (fs->csize - 1)) == 0) {
            // Walks are bounded like file walks: a looping chain ends here
            // instead of going round until the entry index wraps.
            if (dir_too_long(fs, i)) return FR_INT_ERR;
            DWORD clst = get_fat(fs, dj->clust);
            if (clst <= 1) return FR_INT_ERR;
            if (clst == CLUST_DISK_ERR) return FR_DISK_ERR;
            if (clst >= fs->n_fatent) {
                if (!stretch) return FR_NO_FILE;
                clst = create_chain(fs, dj->clust);
                if (clst == 0) return FR_DENIED;
                if (clst == CLUST_INT_ERR) return FR_INT_ERR;
                if (clst == CLUST_DISK_ERR) return FR_DISK_ERR;
                const DWORD first = clust2sect(fs, clst);
                if (first == 0) return FR_INT_ERR;
                // Zero every sector of the new cluster, so that the end mark
                // follows the last entry in use.
                if (move_window(fs, 0) != FR_OK) return FR_DISK_ERR;
                mem_set(fs->win, 0, SECTOR_SIZE);
                fs->winsect = first;
                for (BYTE c = 0; c < fs->csize; c++) {
                    fs->wflag = 1;
                    if (move_window(fs, 0) != FR_OK) return FR_DISK_ERR;
                    fs->winsect++;
                }
                fs->winsect = first;
            }
            dj->clust = clst;
            dj->sect = clust2sect(fs, clst);
            if (dj->sect == 0) return FR_INT_ERR;
        }
    }
    dj->index = i;
    dj->dir = fs->win + (i % DIR_PER_SECTOR) * SZ_DIR;
    return FR_OK;
}

FRESULT dir_find(DIR* dj)
{
    FRESULT res = dir_sdi(dj, 0);
    if (res != FR_OK) return res;
    for (;;) {
        res = move_window(dj->fs, dj->sect);
        if (res != FR_OK) return res;
        const BYTE* dir = dj->dir;
        if (dir[DIR_Name] == 0) return FR_NO_FILE;
        if (!(dir[DIR_Attr] & ATTR_VOLUME_ID) && mem_cmp(dir, dj->fn, 11) == 0) return FR_OK;
        res = dir_next(dj, 0);
        if (res != FR_OK) return res;
    }
}

FRESULT dir_read(DIR* dj)
{
    FRESULT res = FR_NO_FILE;
    while (dj->sect) {
        res = move_window(dj->fs, dj->sect);
        if (res != FR_OK) break;
        const BYTE* dir = dj->dir;
        const BYTE c = dir[DIR_Name];
        if (c == 0) {
            res = FR_NO_FILE;
            break;
        }
        if (c != DDE && !(dir[DIR_Attr] & ATTR_VOLUME_ID)) break;
        res = dir_next(dj, 0);
        if (res != FR_OK) break;
    }
    if (res != FR_OK) dj->sect = 0;
    return res;
}

FRESULT dir_register(DIR* dj)
{
    FRESULT res = dir_sdi(dj, 0);
    if (res != FR_OK) return res;
    for (;;) {
        res = move_window(dj->fs, dj->sect);
        if (res != FR_OK) return res;
        const BYTE c = dj->dir[DIR_Name];
        if (c == DDE || c == 0) break;
        res = dir_next(dj, 1);
        if (res != FR_OK) return res;
    }
    res = move_window(dj->fs, dj->sect);
    if (res != FR_OK) return res;
    mem_set(dj->dir, 0, SZ_DIR);
    mem_cpy(dj->dir + DIR_Name, dj->fn, 11);
    dj->fs->wflag = 1;
    return FR_OK;
}

FRESULT dir_remove(DIR* dj)
{
    FRESULT res = dir_sdi(dj, dj->index);
    if (res != FR_OK) return res;
    res = move_window(dj->fs, dj->sect);
    if (res != FR_OK) return res;
    dj->dir[DIR_Name] = DDE;
    dj->fs->wflag = 1;
    return FR_OK;
}

} // namespace ff
