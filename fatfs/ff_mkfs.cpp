/* Formatting: f_mkfs writes an empty FAT12/16/32 volume (partition table or
 * whole card, boot sector, FSInfo and backups on FAT32, one cleared FAT, a
 * cleared root directory). The volume object's window is the only buffer. */
#include "fatfs/ff.h"
#include "fatfs/ff_private.h"

namespace ff {
namespace {

constexpr DWORD PART_START = 63;       /* sectors kept in front of a partitioned volume */
constexpr DWORD MIN_CARD_SECTORS = 128;
constexpr DWORD MAX_ERASE_BLOCK = 32768;
constexpr DWORD MIN_FAT16_CLUSTERS = 0xFF6;
constexpr DWORD MIN_FAT32_CLUSTERS = 0xFFF6;
constexpr UINT MAX_CLUSTER_SECTORS = 128;

constexpr DWORD FAT32_RESERVED = 32;   /* reserved sectors before alignment */
constexpr WORD FIXED_ROOT_ENTRIES = 512;
constexpr WORD FAT32_FSINFO = 1;       /* FSInfo sector, relative to the volume */
constexpr WORD FAT32_BACKUP_BOOT = 6;  /* backup boot sector; its FSInfo copy follows it */
constexpr DWORD FAT32_ROOT_CLUSTER = 2;

constexpr WORD CHS_SECTORS = 63;       /* geometry a partitioned card is described with */
constexpr WORD CHS_HEADS = 255;
constexpr BYTE MEDIA_PARTITIONED = 0xF8;
constexpr BYTE MEDIA_WHOLE_CARD = 0xF0;
constexpr BYTE DRIVE_NUMBER = 0x80;
constexpr BYTE EXT_BOOT_SIGNATURE = 0x29;
constexpr BYTE JUMP_BOOT[3] = {0xEB, 0xFE, 0x90};

/* Partition types by file system and size */
constexpr BYTE PART_FAT12 = 0x01;
constexpr BYTE PART_FAT16_SMALL = 0x04; /* under 65,536 sectors */
constexpr BYTE PART_FAT16 = 0x06;
constexpr BYTE PART_FAT32_LBA = 0x0C;

/* Cluster size by volume size in units of 2000 sectors: first row whose
 * threshold is not above the size wins. */
struct ClusterSizeRow {
    WORD vst;
    WORD cst_sectors;
};
constexpr ClusterSizeRow CLUSTER_SIZES[] = {
    {1024, 64}, {512, 32}, {256, 16}, {128, 8}, {64, 4},
    {32, 32},   {16, 16},  {8, 8},    {4, 4},   {2, 2},  {0, 1},
};

/* Volume label and file system name, 11 + 8 bytes */
constexpr char LABEL_FAT[] = "NO NAME    FAT     ";
constexpr char LABEL_FAT32[] = "NO NAME    FAT32   ";
constexpr UINT LABEL_AND_TYPE = 19;

/* Where everything of the new volume goes. */
struct Layout {
    BYTE fmt;      /* FS_FAT12, FS_FAT16 or FS_FAT32 */
    BYTE sfd;      /* 1 = volume over the whole card, no partition table */
    DWORD b_vol;   /* first sector of the volume */
    DWORD n_vol;   /* sectors in the volume */
    UINT au;       /* sectors per cluster */
    DWORD n_rsv;   /* reserved sectors */
    DWORD n_fat;   /* sectors of the one FAT */
    DWORD n_dir;   /* sectors of the fixed root directory (0 on FAT32) */
    DWORD n_clst;  /* data clusters */
};

FRESULT write_sector(BYTE drv, const BYTE* buf, DWORD sector)
{
    return disk_write(drv, buf, sector, 1) == RES_OK ? FR_OK : FR_DISK_ERR;
}

/* Writes the buffer to `count` sectors from `first` on. */
FRESULT write_run(BYTE drv, const BYTE* buf, DWORD first, DWORD count)
{
    for (DWORD i = 0; i < count; i++)
        if (write_sector(drv, buf, first + i) != FR_OK) return FR_DISK_ERR;
    return FR_OK;
}

/* Cluster size in sectors: from the table by volume size, or the caller's
 * allocation unit in bytes, within 1..128 sectors. */
UINT cluster_sectors(DWORD n_vol, UINT au_bytes)
{
    if (au_bytes == 0) {
        const DWORD vs = n_vol / 2000;
        UINT row = 0;
        while (CLUSTER_SIZES[row].vst > vs) row++;
        return CLUSTER_SIZES[row].cst_sectors;
    }
    UINT au = au_bytes / SECTOR_SIZE;
    if (au == 0) au = 1;
    if (au > MAX_CLUSTER_SECTORS) au = MAX_CLUSTER_SECTORS;
    return au;
}

/* Chooses the FAT type and sizes the system areas, with the data area
 * starting on an erase-block boundary of the card. */
FRESULT plan(BYTE drv, Layout& lo)
{
    /* FAT type from a first estimate that ignores the system area. */
    DWORD n_clst = lo.n_vol / lo.au;
    lo.fmt = n_clst < MIN_FAT16_CLUSTERS ? FS_FAT12 : n_clst < MIN_FAT32_CLUSTERS ? FS_FAT16 : FS_FAT32;
    if (lo.fmt == FS_FAT32) {
        /* Refuse before 4 * n_clst can overflow or the entries run out of bits. */
        if (n_clst > FAT32_MAX_CLUSTERS) return FR_MKFS_ABORTED;
        lo.n_fat = (n_clst * 4 + 8 + SECTOR_SIZE - 1) / SECTOR_SIZE;
        lo.n_rsv = FAT32_RESERVED;
        lo.n_dir = 0;
    } else {
        const DWORD fat_bytes = lo.fmt == FS_FAT16 ? n_clst * 2 + 4 : (n_clst * 3 + 1) / 2 + 3;
        lo.n_fat = (fat_bytes + SECTOR_SIZE - 1) / SECTOR_SIZE;
        lo.n_rsv = 1;
        lo.n_dir = FIXED_ROOT_ENTRIES * SZ_DIR / SECTOR_SIZE;
    }
    if (lo.n_vol < lo.n_rsv + lo.n_fat + lo.n_dir + lo.au) return FR_MKFS_ABORTED;

    /* Start the data area on an erase-block boundary of the card. */
    const DWORD b_data = lo.b_vol + lo.n_rsv + lo.n_fat + lo.n_dir;
    DWORD n = 1;
    if (disk_ioctl(drv, IOCTL_BLOCK_SIZE, &n) != RES_OK || n == 0 || n > MAX_ERASE_BLOCK) n = 1;
    n = ((b_data + n - 1) & ~(n - 1)) - b_data;
    if (lo.fmt == FS_FAT32) lo.n_rsv += n;
    else lo.n_fat += n;
    /* Alignment may have eaten the room for even one cluster. */
    if (lo.n_vol < lo.n_rsv + lo.n_fat + lo.n_dir + lo.au) return FR_MKFS_ABORTED;

    lo.n_clst = (lo.n_vol - lo.n_rsv - lo.n_fat - lo.n_dir) / lo.au;
    if ((lo.fmt == FS_FAT16 && lo.n_clst < MIN_FAT16_CLUSTERS) ||
        (lo.fmt == FS_FAT32 && lo.n_clst < MIN_FAT32_CLUSTERS))
        return FR_MKFS_ABORTED;
    return FR_OK;
}

BYTE partition_type(const Layout& lo)
{
    if (lo.fmt == FS_FAT32) return PART_FAT32_LBA;
    if (lo.fmt == FS_FAT16) return lo.n_vol < 0x10000 ? PART_FAT16_SMALL : PART_FAT16;
    return PART_FAT12;
}

BYTE media_byte(const Layout& lo) { return lo.sfd ? MEDIA_WHOLE_CARD : MEDIA_PARTITIONED; }

/* Sector 0 of a partitioned card: one entry covering the volume. */
FRESULT write_partition_table(BYTE drv, BYTE* buf, const Layout& lo)
{
    mem_set(buf, 0, SECTOR_SIZE);
    BYTE* pte = buf + MBR_Table;
    const DWORD end_cyl = (PART_START + lo.n_vol) / (CHS_SECTORS * CHS_HEADS);
    pte[PTE_Boot] = 0x00;
    pte[PTE_StHead] = 1;
    pte[PTE_StSec] = 1;
    pte[PTE_StCyl] = 0;
    pte[PTE_System] = partition_type(lo);
    pte[PTE_EdHead] = static_cast<BYTE>(CHS_HEADS - 1);
    pte[PTE_EdSec] = static_cast<BYTE>((end_cyl >> 2) | CHS_SECTORS);
    pte[PTE_EdCyl] = static_cast<BYTE>(end_cyl);
    st_dword(pte + PTE_StLba, PART_START);
    st_dword(pte + PTE_SizLba, lo.n_vol);
    st_word(buf + BS_55AA, BOOT_SIGNATURE);
    return write_sector(drv, buf, 0);
}

/* The FAT (its reserved entries, and the root cluster on FAT32, then zeros)
 * and the root directory (the fixed table, or the root cluster on FAT32). */
FRESULT clear_tables(BYTE drv, BYTE* buf, const Layout& lo)
{
    mem_set(buf, 0, SECTOR_SIZE);
    /* Entry 0 holds the media byte, entry 1 all ones (FAT12 packs both into three bytes). */
    st_dword(buf, (lo.fmt == FS_FAT12 ? 0x00FFFF00 : 0xFFFFFF00) | media_byte(lo));
    if (lo.fmt == FS_FAT32) {
        st_dword(buf + 4, 0xFFFFFFFF);
        st_dword(buf + 8, CLUST_EOC); /* the root directory's one cluster */
    }
    const DWORD b_fat = lo.b_vol + lo.n_rsv;
    FRESULT res = write_sector(drv, buf, b_fat);
    mem_set(buf, 0, SECTOR_SIZE);
    if (res == FR_OK) res = write_run(drv, buf, b_fat + 1, lo.n_fat - 1);
    if (res == FR_OK) res = write_run(drv, buf, b_fat + lo.n_fat, lo.fmt == FS_FAT32 ? lo.au : lo.n_dir);
    return res;
}

void fill_boot_sector(BYTE* buf, const Layout& lo)
{
    mem_set(buf, 0, SECTOR_SIZE);
    mem_cpy(buf + BS_jmpBoot, JUMP_BOOT, sizeof JUMP_BOOT);
    mem_cpy(buf + BS_OEMName, "MSDOS5.0", 8);
    st_word(buf + BPB_BytsPerSec, SECTOR_SIZE);
    buf[BPB_SecPerClus] = static_cast<BYTE>(lo.au);
    st_word(buf + BPB_RsvdSecCnt, static_cast<WORD>(lo.n_rsv));
    buf[BPB_NumFATs] = 1;
    st_word(buf + BPB_RootEntCnt, lo.fmt == FS_FAT32 ? 0 : FIXED_ROOT_ENTRIES);
    if (lo.n_vol < 0x10000) st_word(buf + BPB_TotSec16, static_cast<WORD>(lo.n_vol));
    else st_dword(buf + BPB_TotSec32, lo.n_vol);
    buf[BPB_Media] = media_byte(lo);
    st_word(buf + BPB_SecPerTrk, CHS_SECTORS);
    st_word(buf + BPB_NumHeads, CHS_HEADS);
    st_dword(buf + BPB_HiddSec, lo.b_vol);
    const DWORD serial = get_fattime();
    if (lo.fmt == FS_FAT32) {
        st_dword(buf + BPB_FATSz32, lo.n_fat);
        st_dword(buf + BPB_RootClus, FAT32_ROOT_CLUSTER);
        st_word(buf + BPB_FSInfo, FAT32_FSINFO);
        st_word(buf + BPB_BkBootSec, FAT32_BACKUP_BOOT);
        buf[BS_DrvNum32] = DRIVE_NUMBER;
        buf[BS_BootSig32] = EXT_BOOT_SIGNATURE;
        st_dword(buf + BS_VolID32, serial);
        mem_cpy(buf + BS_VolLab32, LABEL_FAT32, LABEL_AND_TYPE);
    } else {
        st_word(buf + BPB_FATSz16, static_cast<WORD>(lo.n_fat));
        buf[BS_DrvNum] = DRIVE_NUMBER;
        buf[BS_BootSig] = EXT_BOOT_SIGNATURE;
        st_dword(buf + BS_VolID, serial);
        mem_cpy(buf + BS_VolLab, LABEL_FAT, LABEL_AND_TYPE);
    }
    st_word(buf + BS_55AA, BOOT_SIGNATURE);
}

/* FAT32 only: the FSInfo sector and its copy after the backup boot sector.
 * Every cluster but the root directory's is free. */
FRESULT write_fsinfo_sectors(BYTE drv, BYTE* buf, const Layout& lo)
{
    const DWORD n_free = lo.n_clst - 1;
    FRESULT res = write_fsinfo(drv, buf, lo.b_vol + FAT32_FSINFO, n_free, FAT32_ROOT_CLUSTER);
    if (res == FR_OK) res = write_fsinfo(drv, buf, lo.b_vol + FAT32_BACKUP_BOOT + FAT32_FSINFO, n_free, FAT32_ROOT_CLUSTER);
    return res;
}

} // namespace
} // namespace ff

using namespace ff;

FRESULT f_mkfs(BYTE drv, BYTE sfd, UINT au)
{
    if (drv != 0) return FR_INVALID_DRIVE;
    if (sfd > 1) return FR_INVALID_PARAMETER;
    if (au != 0 && (au & (au - 1)) != 0) return FR_INVALID_PARAMETER;
    FATFS* fs = Volumes[drv];
    if (!fs) return FR_NOT_ENABLED;
    fs->fs_type = 0; /* the window is about to be used as scratch */

    const DSTATUS stat = disk_initialize(drv);
    if (stat & STAT_NOINIT) return FR_NOT_READY;
    if (stat & STAT_PROTECT) return FR_WRITE_PROTECTED;

    DWORD n_card = 0;
    if (disk_ioctl(drv, IOCTL_SECTOR_COUNT, &n_card) != RES_OK || n_card < MIN_CARD_SECTORS)
        return FR_DISK_ERR;
    Layout lo{};
    lo.sfd = sfd;
    lo.b_vol = sfd ? 0 : PART_START;
    lo.n_vol = n_card - lo.b_vol;
    lo.au = cluster_sectors(lo.n_vol, au);
    FRESULT res = plan(drv, lo);
    if (res != FR_OK) return res;

    BYTE* const buf = fs->win;
    if (!sfd) res = write_partition_table(drv, buf, lo);

    /* Until the new volume is complete the old boot sector must not be
     * found: a format cut short would otherwise mount its stale geometry over
     * half-cleared tables. The real boot sector is written last. */
    if (res == FR_OK) {
        mem_set(buf, 0, SECTOR_SIZE);
        res = write_sector(drv, buf, lo.b_vol);
    }
    if (res == FR_OK) res = clear_tables(drv, buf, lo);
    if (res == FR_OK && lo.fmt == FS_FAT32) res = write_fsinfo_sectors(drv, buf, lo);
    if (res == FR_OK) {
        fill_boot_sector(buf, lo);
        if (lo.fmt == FS_FAT32) res = write_sector(drv, buf, lo.b_vol + FAT32_BACKUP_BOOT);
        if (res == FR_OK) res = write_sector(drv, buf, lo.b_vol);
    }
    if (res != FR_OK) return res;
    return disk_ioctl(drv, IOCTL_SYNC, nullptr) == RES_OK ? FR_OK : FR_DISK_ERR;
}
