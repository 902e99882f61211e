// Opening, reading and closing files, and the file's own sector buffer.
#include "fatfs/ff_private.h"

namespace ff {

FRESULT fail_file(FIL* fp, FRESULT res)
{
    fp->flag |= FM_ERROR;
    return res;
}

FRESULT flush_file_buffer(FIL* fp)
{
    if (fp->flag & FM_DIRTY) {
        if (disk_write(fp->fs->drv, fp->buf, fp->dsect, 1) != RES_OK) return FR_DISK_ERR;
        fp->flag &= static_cast<BYTE>(~FM_DIRTY);
    }
    return FR_OK;
}

FRESULT load_file_buffer(FIL* fp, DWORD sect)
{
    if (flush_file_buffer(fp) != FR_OK) return FR_DISK_ERR;
    if (disk_read(fp->fs->drv, fp->buf, sect, 1) != RES_OK) return FR_DISK_ERR;
    fp->dsect = sect;
    return FR_OK;
}

} // namespace ff

using namespace ff;

FRESULT f_open(FIL* fp, const TCHAR* path, BYTE mode)
{
    fp->fs = nullptr;
    mode &= FM_READ | FM_WRITE | FM_CREATE_NEW | FM_CREATE_ALWAYS | FM_OPEN_ALWAYS;

    DIR dj;
    BYTE sfn[12];
    FRESULT res = resolve(&dj, sfn, path, static_cast<BYTE>(mode & ~FM_READ));
    BYTE* dir = dj.dir;
    if (res == FR_OK && !dir) res = FR_INVALID_NAME;

    FATFS* fs = dj.fs;
    if (mode & (FM_CREATE_NEW | FM_CREATE_ALWAYS | FM_OPEN_ALWAYS)) {
        if (res != FR_OK) {
            if (res == FR_NO_FILE) res = dir_register(&dj);
            mode |= FM_CREATE_ALWAYS;
            dir = dj.dir;
        } else if (dir[DIR_Attr] & (ATTR_READ_ONLY | ATTR_DIRECTORY)) {
            res = FR_DENIED;
        } else if (mode & FM_CREATE_NEW) {
            res = FR_EXIST;
        }
        if (res == FR_OK && (mode & FM_CREATE_ALWAYS)) {
            st_dword(dir + DIR_CrtTime, get_fattime());
            dir[DIR_Attr] = 0;
            st_dword(dir + DIR_FileSize, 0);
            const DWORD cl = ld_clust(dir);
            st_clust(dir, 0);
            fs->wflag = 1;
            if (cl != 0) {
                const DWORD dsect = fs->winsect;
                res = remove_chain(fs, cl);
                if (res == FR_OK) {
                    fs->last_clust = cl - 1;  // reuse the freed space first
                    res = move_window(fs, dsect);
                }
            }
        }
    } else if (res == FR_OK) {
        if (dir[DIR_Attr] & ATTR_DIRECTORY) {
            res = FR_NO_FILE;
        } else if ((mode & FM_WRITE) && (dir[DIR_Attr] & ATTR_READ_ONLY)) {
            res = FR_DENIED;
        }
    }
    if (res != FR_OK) return res;

    fp->flag = mode;
    if (mode & FM_CREATE_ALWAYS) fp->flag |= FM_WRITTEN;
    fp->dir_sect = fs->winsect;
    fp->dir_ptr = dir;
    fp->sclust = ld_clust(dir);
    fp->fsize = ld_dword(dir + DIR_FileSize);
    fp->fptr = 0;
    fp->dsect = 0;
    fp->cltbl = nullptr;
    fp->fs = fs;
    fp->id = fs->id;
    return FR_OK;
}

FRESULT f_read(FIL* fp, void* buff, UINT btr, UINT* br)
{
    *br = 0;
    FRESULT res = validate(fp->fs, fp->id);
    if (res != FR_OK) return res;
    if (fp->flag & FM_ERROR) return FR_INT_ERR;
    if (!(fp->flag & FM_READ)) return FR_DENIED;

    FATFS* fs = fp->fs;
    BYTE* rbuff = static_cast<BYTE*>(buff);
    const DWORD remain = (fp->fptr < fp->fsize) ? fp->fsize - fp->fptr : 0;
    if (btr > remain) btr = remain;

    while (btr) {
        UINT rcnt;
        if (fp->fptr % SECTOR_SIZE == 0) {
            const BYTE csect = static_cast<BYTE>((fp->fptr / SECTOR_SIZE) & (fs->csize - 1));
            if (csect == 0) {
                DWORD clst;
                if (fp->fptr == 0) clst = fp->sclust;
                else if (fp->cltbl) clst = clmt_clust(fp, fp->fptr);
                else clst = get_fat(fs, fp->clust);
                if (clst == CLUST_DISK_ERR) return fail_file(fp, FR_DISK_ERR);
                if (clst < 2) return fail_file(fp, FR_INT_ERR);
                // A file cannot have more clusters than the volume: a chain
                // that loops must not keep a read going round for ever.
                if (chain_too_long(fs, fp->fptr)) return fail_file(fp, FR_INT_ERR);
                fp->clust = clst;
            }
            DWORD sect = clust2sect(fs, fp->clust);
            if (sect == 0) return fail_file(fp, FR_INT_ERR);
            sect += csect;

            UINT cc = btr / SECTOR_SIZE;
            if (cc) {
                // Whole sectors go straight to the caller, up to the cluster end.
                if (csect + cc > fs->csize) cc = fs->csize - csect;
                if (disk_read(fs->drv, rbuff, sect, static_cast<BYTE>(cc)) != RES_OK)
                    return fail_file(fp, FR_DISK_ERR);
                // The buffer is newer than the medium for the sector it holds dirty.
                if ((fp->flag & FM_DIRTY) && fp->dsect - sect < cc)
                    mem_cpy(rbuff + (fp->dsect - sect) * SECTOR_SIZE, fp->buf, SECTOR_SIZE);
                rcnt = cc * SECTOR_SIZE;
                rbuff += rcnt;
                fp->fptr += rcnt;
                *br += rcnt;
                btr -= rcnt;
                continue;
            }
            if (fp->dsect != sect && load_file_buffer(fp, sect) != FR_OK) return fail_file(fp, FR_DISK_ERR);
        }
        rcnt = SECTOR_SIZE - fp->fptr % SECTOR_SIZE;
        if (rcnt > btr) rcnt = btr;
        mem_cpy(rbuff, fp->buf + fp->fptr % SECTOR_SIZE, rcnt);
        rbuff += rcnt;
        fp->fptr += rcnt;
        *br += rcnt;
        btr -= rcnt;
    }
    return FR_OK;
}

FRESULT f_close(FIL* fp)
{
    const FRESULT res = f_sync(fp);
    if (res == FR_OK) fp->fs = nullptr;
    return res;
}
