// FAT module core: volume registry, byte-block helpers, the per-volume sector
// window and object validation.
#include "fatfs/ff_private.h"

namespace ff {

FATFS* Volumes[1];
WORD Fsid;
BYTE CurrVol;

void mem_cpy(void* dst, const void* src, UINT cnt)
{
    BYTE* d = static_cast<BYTE*>(dst);
    const BYTE* s = static_cast<const BYTE*>(src);
    while (cnt--) *d++ = *s++;
}

void mem_set(void* dst, int val, UINT cnt)
{
    BYTE* d = static_cast<BYTE*>(dst);
    while (cnt--) *d++ = static_cast<BYTE>(val);
}

int mem_cmp(const void* dst, const void* src, UINT cnt)
{
    const BYTE* d = static_cast<const BYTE*>(dst);
    const BYTE* s = static_cast<const BYTE*>(src);
    int r = 0;
    while (cnt-- && (r = *d++ - *s++) == 0) {
    }
    return r;
}

FRESULT move_window(FATFS* fs, DWORD sector)
{
    if (sector == fs->winsect) return FR_OK;

    if (fs->wflag) {
        DWORD wsect = fs->winsect;
        if (disk_write(fs->drv, fs->win, wsect, 1) != RES_OK) return FR_DISK_ERR;
        fs->wflag = 0;
        // A sector of the first FAT is mirrored into every further copy; a failed
        // mirror write is tolerated, the first FAT stays the reference.
        if (wsect < fs->fatbase + fs->fsize) {
            for (BYTE n = fs->n_fats; n > 1; n--) {
                wsect += fs->fsize;
                disk_write(fs->drv, fs->win, wsect, 1);
            }
        }
    }
    if (sector != 0) {
        if (disk_read(fs->drv, fs->win, sector, 1) != RES_OK) return FR_DISK_ERR;
        fs->winsect = sector;
    }
    return FR_OK;
}

FRESULT write_fsinfo(BYTE drv, BYTE* buf, DWORD sector, DWORD free_count, DWORD next_free)
{
    mem_set(buf, 0, SECTOR_SIZE);
    st_dword(buf + FSI_LeadSig, FSI_LEAD_SIG_VALUE);
    st_dword(buf + FSI_StrucSig, FSI_STRUC_SIG_VALUE);
    st_dword(buf + FSI_Free_Count, free_count);
    st_dword(buf + FSI_Nxt_Free, next_free);
    st_word(buf + BS_55AA, BOOT_SIGNATURE);
    return disk_write(drv, buf, sector, 1) == RES_OK ? FR_OK : FR_DISK_ERR;
}

FRESULT sync(FATFS* fs)
{
    FRESULT res = move_window(fs, 0);
    if (res != FR_OK) return res;

    // fsi_sector is 0 when the volume has no usable FSInfo sector; writing
    // there would overwrite the boot sector. A failed FSInfo write is
    // reported and tried again by the next sync.
    if (fs->fs_type == FS_FAT32 && fs->fsi_flag) {
        if (fs->fsi_sector != 0) {
            fs->winsect = 0;
            res = write_fsinfo(fs->drv, fs->win, fs->fsi_sector, fs->free_clust, fs->last_clust);
        }
        if (res == FR_OK) fs->fsi_flag = 0;
    }
    if (disk_ioctl(fs->drv, IOCTL_SYNC, nullptr) != RES_OK) res = FR_DISK_ERR;
    return res;
}

FRESULT validate(FATFS* fs, WORD id)
{
    if (!fs || !fs->fs_type || fs->id != id) return FR_INVALID_OBJECT;
    if (disk_status(fs->drv) & STAT_NOINIT) return FR_NOT_READY;
    return FR_OK;
}

} // namespace ff

using namespace ff;

FRESULT f_mount(BYTE vol, FATFS* fs)
{
    if (vol != 0) return FR_INVALID_DRIVE;
    if (Volumes[vol]) Volumes[vol]->fs_type = 0;
    if (fs) fs->fs_type = 0;
    Volumes[vol] = fs;
    return FR_OK;
}
