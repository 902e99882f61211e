/* Volume information and current directory: f_getfree, f_chdrive, f_chdir,
 * f_getcwd. */
#include "fatfs/ff.h"
#include "fatfs/ff_private.h"

namespace ff {
namespace {

/* Counts free FAT entries. FAT12 goes entry by entry from cluster 2; FAT16/32
 * walk the first FAT sector by sector and look at every entry, the two
 * reserved ones included (they are never zero on a sound volume). */
FRESULT count_free(FATFS* fs, DWORD* n_free)
{
    DWORD n = 0;
    if (fs->fs_type == FS_FAT12) {
        for (DWORD clst = 2; clst < fs->n_fatent; clst++) {
            const DWORD stat = get_fat(fs, clst);
            if (stat == CLUST_DISK_ERR) return FR_DISK_ERR;
            if (stat == CLUST_INT_ERR) return FR_INT_ERR;
            if (stat == 0) n++;
        }
    } else {
        const UINT width = fs->fs_type == FS_FAT16 ? 2 : 4;
        DWORD sect = fs->fatbase;
        UINT i = 0;
        for (DWORD ent = 0; ent < fs->n_fatent; ent++) {
            if (i == 0 && move_window(fs, sect++) != FR_OK) return FR_DISK_ERR;
            const BYTE* p = fs->win + i;
            if (width == 2) {
                if (ld_word(p) == 0) n++;
            } else {
                if ((ld_dword(p) & 0x0FFFFFFF) == 0) n++;
            }
            i = (i + width) % SECTOR_SIZE;
        }
    }
    *n_free = n;
    return FR_OK;
}

} // namespace
} // namespace ff

using namespace ff;

FRESULT f_getfree(const TCHAR* path, DWORD* nclst, FATFS** fatfs)
{
    FRESULT res = chk_mounted(&path, fatfs, 0);
    if (res != FR_OK) return res;
    FATFS* fs = *fatfs;

    if (fs->free_clust <= fs->n_fatent - 2) { /* cached count is plausible */
        *nclst = fs->free_clust;
        return FR_OK;
    }
    DWORD n = 0;
    res = count_free(fs, &n);
    if (res != FR_OK) return res;
    fs->free_clust = n;
    if (fs->fs_type == FS_FAT32) fs->fsi_flag = 1;
    *nclst = n;
    return FR_OK;
}

FRESULT f_chdrive(BYTE drv)
{
    if (drv != 0) return FR_INVALID_DRIVE;
    CurrVol = drv;
    return FR_OK;
}

FRESULT f_chdir(const TCHAR* path)
{
    DIR dj;
    BYTE sfn[12];
    FRESULT res = resolve(&dj, sfn, path, 0);
    if (res == FR_OK) {
        if (!dj.dir) dj.fs->cdir = dj.sclust; /* the start directory itself */
        else if (dj.dir[DIR_Attr] & ATTR_DIRECTORY) dj.fs->cdir = ld_clust(dj.dir);
        else res = FR_NO_PATH;
    }
    return res == FR_NO_FILE ? FR_NO_PATH : res;
}

namespace ff {
namespace {

/* Finds the entry of directory `ccl` in its parent, climbing through its ".."
 * entry; leaves the cursor on that entry and the parent's cluster in sclust. */
FRESULT find_in_parent(DIR* dj, DWORD ccl)
{
    FRESULT res = dir_sdi(dj, 1);
    if (res == FR_OK) res = dir_read(dj);
    if (res != FR_OK) return res == FR_NO_FILE ? FR_INT_ERR : res;
    dj->sclust = ld_clust(dj->dir);

    res = dir_sdi(dj, 0);
    while (res == FR_OK) {
        res = dir_read(dj);
        if (res != FR_OK || ld_clust(dj->dir) == ccl) break;
        res = dir_next(dj, 0);
    }
    return res == FR_NO_FILE ? FR_INT_ERR : res;
}

} // namespace
} // namespace ff

FRESULT f_getcwd(TCHAR* path, UINT sz_path)
{
    if (sz_path == 0) return FR_NOT_ENOUGH_CORE; /* not even room for the terminator */
    *path = 0;

    DIR dj;
    const TCHAR* drive_path = path;
    FRESULT res = chk_mounted(&drive_path, &dj.fs, 0);
    if (res != FR_OK) return res;

    BYTE sfn[12] = {};
    dj.fn = sfn;
    UINT i = sz_path; /* names are assembled backwards at the end of the buffer */
    dj.sclust = dj.fs->cdir;
    /* Each level takes at least one character, and a directory tree cannot
     * be deeper than the volume has clusters. */
    DWORD depth = 0;
    DWORD ccl;
    while ((ccl = dj.sclust) != 0) {
        if (++depth > dj.fs->n_fatent) {
            res = FR_INT_ERR;
            break;
        }
        res = find_in_parent(&dj, ccl);
        if (res != FR_OK) break;
        FILINFO fno;
        get_fileinfo(&dj, &fno);
        UINT n = 0;
        while (fno.fname[n]) n++;
        if (i < n + 4) { /* name, '/', drive prefix and terminator must fit */
            res = FR_NOT_ENOUGH_CORE;
            break;
        }
        i -= n;
        for (UINT k = 0; k < n; k++) path[i + k] = fno.fname[k];
        path[--i] = '/';
    }

    if (res == FR_OK) {
        if (i == sz_path && sz_path < 4) {
            res = FR_NOT_ENOUGH_CORE;
        } else {
            UINT j = 0;
            path[j++] = (TCHAR)('0' + CurrVol);
            path[j++] = ':';
            if (i == sz_path) {
                path[j++] = '/';
            } else {
                while (i < sz_path) path[j++] = path[i++];
            }
            path[j] = 0;
        }
    }
    if (res != FR_OK) *path = 0;
    return res;
}
