/* Directory listing and status: f_opendir, f_readdir, f_stat. */
#include "fatfs/ff.h"
#include "fatfs/ff_private.h"

using namespace ff;

FRESULT f_opendir(DIR* dj, const TCHAR* path)
{
    BYTE sfn[12];
    FRESULT res = resolve(dj, sfn, path, 0);
    if (res == FR_OK) {
        if (dj->dir) {
            /* The path named an entry: it must be a directory. */
            if (dj->dir[DIR_Attr] & ATTR_DIRECTORY) dj->sclust = ld_clust(dj->dir);
            else res = FR_NO_PATH;
        }
        if (res == FR_OK) {
            dj->id = dj->fs->id;
            res = dir_sdi(dj, 0);
        }
    }
    dj->fn = nullptr; /* the name buffer dies with this call */
    return res == FR_NO_FILE ? FR_NO_PATH : res;
}

FRESULT f_readdir(DIR* dj, FILINFO* fno)
{
    FRESULT res = validate(dj->fs, dj->id);
    if (res != FR_OK) return res;
    if (!fno) return dir_sdi(dj, 0); /* rewind */

    BYTE sfn[12] = {};
    dj->fn = sfn;
    res = dir_read(dj);
    if (res == FR_NO_FILE) {
        dj->sect = 0;
        res = FR_OK;
    }
    if (res == FR_OK) {
        get_fileinfo(dj, fno);
        if (dj->sect != 0) {
            res = dir_next(dj, 0);
            if (res == FR_NO_FILE) {
                dj->sect = 0;
                res = FR_OK;
            }
        }
    }
    dj->fn = nullptr;
    return res;
}

FRESULT f_stat(const TCHAR* path, FILINFO* fno)
{
    DIR dj;
    BYTE sfn[12];
    const FRESULT res = resolve(&dj, sfn, path, 0);
    if (res != FR_OK) return res;
    if (!dj.dir) return FR_INVALID_NAME; /* the start directory has no entry */
    get_fileinfo(&dj, fno);
    return FR_OK;
}
