/* f_lseek: moving the read/write position, in normal mode along the FAT chain
 * (growing the file in write mode) and in fast-seek mode through the caller's
 * cluster link map, which is also built here on request. */
#include "fatfs/ff.h"
#include "fatfs/ff_private.h"

namespace ff {
namespace {

/* Makes FIL.buf hold sector `sect`; a failure breaks the file. */
FRESULT load_buffer(FIL* fp, DWORD sect)
{
    return load_file_buffer(fp, sect) == FR_OK ? FR_OK : fail_file(fp, FR_DISK_ERR);
}

/* Writes the run-length list of the file's clusters into the caller's map.
 * The walk is bounded by the volume's cluster count, so a looping chain ends. */
FRESULT build_map(FIL* fp)
{
    FATFS* fs = fp->fs;
    DWORD* tbl = fp->cltbl;
    const DWORD tlen = *tbl++;
    DWORD ulen = 2;
    DWORD cl = fp->sclust;
    if (cl != 0) {
        const DWORD max_steps = fs->n_fatent - 2;
        DWORD steps = 0;
        do {
            const DWORD tcl = cl;
            DWORD ncl = 0, pcl;
            ulen += 2;
            do {
                if (++steps > max_steps) return fail_file(fp, FR_INT_ERR);
                pcl = cl;
                ncl++;
                cl = get_fat(fs, cl);
                if (cl == CLUST_DISK_ERR) return fail_file(fp, FR_DISK_ERR);
                if (cl < 2) return fail_file(fp, FR_INT_ERR);
            } while (cl == pcl + 1);
            if (ulen <= tlen) {
                *tbl++ = ncl;
                *tbl++ = tcl;
            }
        } while (cl < fs->n_fatent);
    }
    fp->cltbl[0] = ulen;
    if (ulen <= tlen) {
        *tbl = 0;
        return FR_OK;
    }
    /* Terminate what fitted, so a caller that ignores the result still gets
     * lookups that end inside its array. */
    if (tlen >= 2) *tbl = 0;
    return FR_NOT_ENOUGH_CORE;
}

FRESULT seek_fast(FIL* fp, DWORD ofs)
{
    FATFS* fs = fp->fs;
    if (ofs > fp->fsize) ofs = fp->fsize; /* never enlarges in fast-seek mode */
    fp->fptr = ofs;
    if (ofs == 0) return FR_OK;
    fp->clust = clmt_clust(fp, ofs - 1);
    DWORD dsc = clust2sect(fs, fp->clust);
    if (dsc == 0) return fail_file(fp, FR_INT_ERR);
    dsc += ((ofs - 1) / SECTOR_SIZE) & (fs->csize - 1);
    if ((fp->fptr % SECTOR_SIZE) != 0 && dsc != fp->dsect) return load_buffer(fp, dsc);
    return FR_OK;
}

FRESULT seek_chain(FIL* fp, DWORD ofs)
{
    FATFS* fs = fp->fs;
    const bool writable = (fp->flag & FM_WRITE) != 0;
    if (ofs > fp->fsize && !writable) ofs = fp->fsize;

    const DWORD ifptr = fp->fptr;
    DWORD nsect = 0;
    fp->fptr = 0;
    if (ofs > 0) {
        const DWORD bcs = (DWORD)fs->csize * SECTOR_SIZE;
        DWORD clst;
        if (ifptr > 0 && (ofs - 1) / bcs >= (ifptr - 1) / bcs) {
            /* Target in or after the current cluster: go on from there. */
            fp->fptr = (ifptr - 1) & ~(bcs - 1);
            ofs -= fp->fptr;
            clst = fp->clust;
        } else {
            clst = fp->sclust;
            if (clst == 0) {
                /* Only a corrupt entry gives a read-only file a size without
                 * clusters; allocating here would leak the cluster. */
                if (!writable) return fail_file(fp, FR_INT_ERR);
                clst = create_chain(fs, 0);
                if (clst == CLUST_INT_ERR) return fail_file(fp, FR_INT_ERR);
                if (clst == CLUST_DISK_ERR) return fail_file(fp, FR_DISK_ERR);
                fp->sclust = clst;
            }
            fp->clust = clst;
        }
        if (clst != 0) {
            while (ofs > bcs) {
                if (writable) {
                    clst = create_chain(fs, clst);
                    if (clst == 0) { /* volume full: stop at the end of the last cluster */
                        ofs = bcs;
                        break;
                    }
                } else {
                    clst = get_fat(fs, clst);
                }
                if (clst == CLUST_DISK_ERR) return fail_file(fp, FR_DISK_ERR);
                if (clst <= 1 || clst >= fs->n_fatent) return fail_file(fp, FR_INT_ERR);
                fp->clust = clst;
                fp->fptr += bcs;
                ofs -= bcs;
                /* A file cannot have more clusters than the volume: the chain loops. */
                if (fp->fptr / bcs >= fs->n_fatent - 2) return fail_file(fp, FR_INT_ERR);
            }
            fp->fptr += ofs;
            if (ofs % SECTOR_SIZE) {
                nsect = clust2sect(fs, clst);
                if (nsect == 0) return fail_file(fp, FR_INT_ERR);
                nsect += ofs / SECTOR_SIZE;
            }
        }
    }
    if ((fp->fptr % SECTOR_SIZE) != 0 && nsect != fp->dsect) {
        const FRESULT res = load_buffer(fp, nsect);
        if (res != FR_OK) return res;
    }
    if (fp->fptr > fp->fsize) {
        fp->fsize = fp->fptr;
        fp->flag |= FM_WRITTEN;
    }
    return FR_OK;
}

} // namespace
} // namespace ff

using namespace ff;

FRESULT f_lseek(FIL* fp, DWORD ofs)
{
    const FRESULT res = validate(fp->fs, fp->id);
    if (res != FR_OK) return res;
    if (fp->flag & FM_ERROR) return FR_INT_ERR;

    if (fp->cltbl) {
        if (ofs == SEEK_BUILD_MAP) return build_map(fp);
        return seek_fast(fp, ofs);
    }
    return seek_chain(fp, ofs);
}
