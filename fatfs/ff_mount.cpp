// Lazy volume mounting: drive prefix, boot sector search, parameter block
// checks, FAT sub-type and FSInfo.
#include "fatfs/ff_private.h"

namespace ff {
namespace {

bool is_fat_name(const BYTE* p) { return p[0] == 'F' && p[1] == 'A' && p[2] == 'T'; }

// a + b into sum; false when it does not fit 32 bits.
bool add_fits(DWORD a, DWORD b, DWORD& sum)
{
    sum = a + b;
    return sum >= a;
}

} // namespace

BYTE check_fs(FATFS* fs, DWORD sect)
{
    if (disk_read(fs->drv, fs->win, sect, 1) != RES_OK) return 3;
    if (ld_word(fs->win + BS_55AA) != BOOT_SIGNATURE) return 2;
    if (is_fat_name(fs->win + BS_FilSysType)) return 0;
    if (is_fat_name(fs->win + BS_FilSysType32)) return 0;
    return 1;
}

FRESULT chk_mounted(const TCHAR** path, FATFS** rfs, BYTE chk_wp)
{
    const TCHAR* p = *path;
    BYTE vol = CurrVol;
    if (p[0] >= '0' && p[0] <= '9' && p[1] == ':') {
        vol = static_cast<BYTE>(p[0] - '0');
        *path = p + 2;
    }
    if (vol != 0) return FR_INVALID_DRIVE;

    FATFS* fs = Volumes[vol];
    *rfs = fs;
    if (!fs) return FR_NOT_ENABLED;

    if (fs->fs_type) {
        DSTATUS stat = disk_status(fs->drv);
        if (!(stat & STAT_NOINIT)) {
            if (chk_wp && (stat & STAT_PROTECT)) return FR_WRITE_PROTECTED;
            return FR_OK;
        }
    }

    // Mount from scratch. Whatever the window held is dropped.
    fs->fs_type = 0;
    fs->drv = vol;
    fs->winsect = 0;
    fs->wflag = 0;
    DSTATUS stat = disk_initialize(fs->drv);
    if (stat & STAT_NOINIT) return FR_NOT_READY;
    if (chk_wp && (stat & STAT_PROTECT)) return FR_WRITE_PROTECTED;

    // The volume starts at sector 0, or at the first partition of a partition table.
    DWORD bsect = 0;
    BYTE fmt = check_fs(fs, bsect);
    if (fmt == 1) {
        const BYTE* pte = fs->win + MBR_Table;
        if (pte[PTE_System]) {
            bsect = ld_dword(pte + PTE_StLba);
            fmt = check_fs(fs, bsect);
        }
    }
    if (fmt == 3) return FR_DISK_ERR;
    if (fmt != 0) return FR_NO_FILESYSTEM;

    const BYTE* bs = fs->win;
    if (ld_word(bs + BPB_BytsPerSec) != SECTOR_SIZE) return FR_NO_FILESYSTEM;

    DWORD fasize = ld_word(bs + BPB_FATSz16);
    if (fasize == 0) fasize = ld_dword(bs + BPB_FATSz32);
    fs->fsize = fasize;

    fs->n_fats = bs[BPB_NumFATs];
    if (fs->n_fats != 1 && fs->n_fats != 2) return FR_NO_FILESYSTEM;
    if (fs->n_fats == 2 && !add_fits(fasize, fasize, fasize)) return FR_NO_FILESYSTEM;

    fs->csize = bs[BPB_SecPerClus];
    if (fs->csize == 0 || (fs->csize & (fs->csize - 1))) return FR_NO_FILESYSTEM;

    fs->n_rootdir = ld_word(bs + BPB_RootEntCnt);
    if (fs->n_rootdir % DIR_PER_SECTOR) return FR_NO_FILESYSTEM;

    DWORD tsect = ld_word(bs + BPB_TotSec16);
    if (tsect == 0) tsect = ld_dword(bs + BPB_TotSec32);

    const WORD nrsv = ld_word(bs + BPB_RsvdSecCnt);
    if (nrsv == 0) return FR_NO_FILESYSTEM;

    // Sectors before the data area. Sums that do not fit 32 bits would wrap the
    // data area back into the FAT or onto sectors before the volume.
    DWORD sysect;
    if (!add_fits(nrsv, fasize, sysect)) return FR_NO_FILESYSTEM;
    if (!add_fits(sysect, fs->n_rootdir / DIR_PER_SECTOR, sysect)) return FR_NO_FILESYSTEM;
    if (tsect < sysect) return FR_NO_FILESYSTEM;
    DWORD vol_end;
    if (!add_fits(bsect, tsect, vol_end)) return FR_NO_FILESYSTEM;

    const DWORD nclst = (tsect - sysect) / fs->csize;
    if (nclst == 0) return FR_NO_FILESYSTEM;

    BYTE fmt_type = FS_FAT12;
    if (nclst >= 4086) fmt_type = FS_FAT16;
    if (nclst >= 65526) fmt_type = FS_FAT32;
    // Above this count a cluster number could equal an end-of-chain mark.
    if (nclst > FAT32_MAX_CLUSTERS) return FR_NO_FILESYSTEM;

    fs->n_fatent = nclst + 2;
    fs->database = bsect + sysect;
    fs->fatbase = bsect + nrsv;

    DWORD szbfat;  // bytes the FAT needs
    if (fmt_type == FS_FAT32) {
        if (fs->n_rootdir != 0) return FR_NO_FILESYSTEM;
        fs->dirbase = ld_dword(bs + BPB_RootClus);
        szbfat = fs->n_fatent * 4;
    } else {
        if (fs->n_rootdir == 0) return FR_NO_FILESYSTEM;
        fs->dirbase = fs->fatbase + fasize;
        szbfat = (fmt_type == FS_FAT16) ? fs->n_fatent * 2
                                        : fs->n_fatent * 3 / 2 + (fs->n_fatent & 1);
    }
    if (fs->fsize < (szbfat + (SECTOR_SIZE - 1)) / SECTOR_SIZE) return FR_NO_FILESYSTEM;

    fs->free_clust = 0xFFFFFFFF;
    fs->last_clust = 0;

    if (fmt_type == FS_FAT32) {
        fs->fsi_flag = 0;
        // Only a sector inside the reserved area, after the boot sector, can be
        // the FSInfo sector; anything else is never read nor written.
        const WORD fsi = ld_word(bs + BPB_FSInfo);
        fs->fsi_sector = 0;
        if (fsi >= 1 && fsi < nrsv) {
            fs->fsi_sector = bsect + fsi;
            if (disk_read(fs->drv, fs->win, fs->fsi_sector, 1) == RES_OK &&
                ld_word(fs->win + BS_55AA) == BOOT_SIGNATURE &&
                ld_dword(fs->win + FSI_LeadSig) == FSI_LEAD_SIG_VALUE &&
                ld_dword(fs->win + FSI_StrucSig) == FSI_STRUC_SIG_VALUE) {
                fs->last_clust = ld_dword(fs->win + FSI_Nxt_Free);
                fs->free_clust = ld_dword(fs->win + FSI_Free_Count);
            }
        }
    }

    fs->fs_type = fmt_type;
    fs->id = ++Fsid;
    fs->winsect = 0;
    fs->wflag = 0;
    fs->cdir = 0;
    return FR_OK;
}

} // namespace ff
