// Writing, flushing and truncating files.
#include "fatfs/ff_private.h"

using namespace ff;

FRESULT f_write(FIL* fp, const void* buff, UINT btw, UINT* bw)
{
    *bw = 0;
    FRESULT res = validate(fp->fs, fp->id);
    if (res != FR_OK) return res;
    if (fp->flag & FM_ERROR) return FR_INT_ERR;
    if (!(fp->flag & FM_WRITE)) return FR_DENIED;

    FATFS* fs = fp->fs;
    const BYTE* wbuff = static_cast<const BYTE*>(buff);
    if (fp->fsize + btw < fp->fsize) btw = 0;  // the size would pass 4 GiB

    while (btw) {
        UINT wcnt;
        if (fp->fptr % SECTOR_SIZE == 0) {
            const BYTE csect = static_cast<BYTE>((fp->fptr / SECTOR_SIZE) & (fs->csize - 1));
            if (csect == 0) {
                DWORD clst;
                if (fp->fptr == 0) {
                    clst = fp->sclust;
                    if (clst == 0) {
                        clst = create_chain(fs, 0);
                        if (clst >= 2 && clst != CLUST_DISK_ERR) fp->sclust = clst;
                    }
                } else if (fp->cltbl) {
                    // The map may list clusters a truncation has freed since it
                    // was built: past the end of the file it is not trusted.
                    clst = (fp->fptr < fp->fsize) ? clmt_clust(fp, fp->fptr) : 0;
                } else {
                    clst = create_chain(fs, fp->clust);
                }
                if (clst == 0) break;  // no room: a short write, not an error
                if (clst == CLUST_INT_ERR) return fail_file(fp, FR_INT_ERR);
                if (clst == CLUST_DISK_ERR) return fail_file(fp, FR_DISK_ERR);
                // More clusters than the volume has: the chain loops.
                if (chain_too_long(fs, fp->fptr)) return fail_file(fp, FR_INT_ERR);
                fp->clust = clst;
            }
            if (flush_file_buffer(fp) != FR_OK) return fail_file(fp, FR_DISK_ERR);
            DWORD sect = clust2sect(fs, fp->clust);
            if (sect == 0) return fail_file(fp, FR_INT_ERR);
            sect += csect;

            UINT cc = btw / SECTOR_SIZE;
            if (cc) {
                // Whole sectors go straight from the caller, up to the cluster end.
                if (csect + cc > fs->csize) cc = fs->csize - csect;
                if (disk_write(fs->drv, wbuff, sect, static_cast<BYTE>(cc)) != RES_OK)
                    return fail_file(fp, FR_DISK_ERR);
                // Keep the buffer in step with the medium if it holds one of them.
                if (fp->dsect - sect < cc) {
                    mem_cpy(fp->buf, wbuff + (fp->dsect - sect) * SECTOR_SIZE, SECTOR_SIZE);
                    fp->flag &= static_cast<BYTE>(~FM_DIRTY);
                }
                wcnt = cc * SECTOR_SIZE;
                wbuff += wcnt;
                fp->fptr += wcnt;
                *bw += wcnt;
                btw -= wcnt;
                continue;
            }
            // A partial sector inside the file is read first; past the end there
            // is nothing to keep.
            if (fp->dsect != sect && fp->fptr < fp->fsize) {
                if (disk_read(fs->drv, fp->buf, sect, 1) != RES_OK) return fail_file(fp, FR_DISK_ERR);
            }
            fp->dsect = sect;
        }
        wcnt = SECTOR_SIZE - fp->fptr % SECTOR_SIZE;
        if (wcnt > btw) wcnt = btw;
        mem_cpy(fp->buf + fp->fptr % SECTOR_SIZE, wbuff, wcnt);
        fp->flag |= FM_DIRTY;
        wbuff += wcnt;
        fp->fptr += wcnt;
        *bw += wcnt;
        btw -= wcnt;
    }

    if (fp->fptr > fp->fsize) fp->fsize = fp->fptr;
    fp->flag |= FM_WRITTEN;
    return FR_OK;
}

FRESULT f_sync(FIL* fp)
{
    FRESULT res = validate(fp->fs, fp->id);
    if (res != FR_OK) return res;

    // Buffered bytes go to the medium whenever they are there, also when a
    // failed write left them without FM_WRITTEN.
    if (flush_file_buffer(fp) != FR_OK) return FR_DISK_ERR;
    if (!(fp->flag & FM_WRITTEN)) return FR_OK;

    FATFS* fs = fp->fs;
    res = move_window(fs, fp->dir_sect);
    if (res != FR_OK) return res;
    BYTE* dir = fp->dir_ptr;
    dir[DIR_Attr] |= ATTR_ARCHIVE;
    st_dword(dir + DIR_FileSize, fp->fsize);
    st_clust(dir, fp->sclust);
    st_dword(dir + DIR_WrtTime, get_fattime());
    fs->wflag = 1;
    // The entry counts as written only once the volume flush has put it on
    // the medium; after a failed flush the next f_sync must try again
    // instead of reporting success.
    res = sync(fs);
    if (res == FR_OK) fp->flag &= static_cast<BYTE>(~FM_WRITTEN);
    return res;
}

FRESULT f_truncate(FIL* fp)
{
    FRESULT res = validate(fp->fs, fp->id);
    if (res == FR_OK) {
        if (fp->flag & FM_ERROR) res = FR_INT_ERR;
        else if (!(fp->flag & FM_WRITE)) res = FR_DENIED;
    }
    if (res != FR_OK) return res;
    if (fp->fsize <= fp->fptr) return FR_OK;

    // The buffer may hold a sector of a cluster about to be freed; written
    // later it would land in whatever file gets that cluster next.
    if (flush_file_buffer(fp) != FR_OK) return fail_file(fp, FR_DISK_ERR);

    FATFS* fs = fp->fs;
    fp->fsize = fp->fptr;
    fp->flag |= FM_WRITTEN;
    if (fp->fptr == 0) {
        res = remove_chain(fs, fp->sclust);
        fp->sclust = 0;
    } else {
        const DWORD ncl = get_fat(fs, fp->clust);
        if (ncl == CLUST_DISK_ERR) res = FR_DISK_ERR;
        else if (ncl == CLUST_INT_ERR) res = FR_INT_ERR;
        if (res == FR_OK && ncl < fs->n_fatent) {
            res = put_fat(fs, fp->clust, CLUST_EOC);
            if (res == FR_OK) res = remove_chain(fs, ncl);
        }
    }
    return res == FR_OK ? res : fail_file(fp, res);
}
