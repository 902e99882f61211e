/* Formatting: f_mkfs writes an empty FAT12/16/32 volume (partition table or
 * whole card, boot sector, FSInfo and backup on FAT32, one cleared FAT, a
 * cleared root directory). The volume object's window is the only buffer. */
#include "fatfs/ff.h"
#include "fatfs/ff_private.h"
#include "fatfs/diskio.h"

namespace {

constexpr DWORD PART_START = 63;       /* sectors kept in front of a partitioned volume */
constexpr DWORD MIN_CARD_SECTORS = 128;
constexpr DWORD MAX_ERASE_BLOCK = 32768;
constexpr DWORD MIN_FAT16_CLUSTERS = 0xFF6;
constexpr DWORD MIN_FAT32_CLUSTERS = 0xFFF6;

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

constexpr char LABEL_FAT[] = "NO NAME    FAT     ";
constexpr char LABEL_FAT32[] = "NO NAME    FAT32   ";

bool write_sector(BYTE drv, const BYTE* buf, DWORD sector)
{
    return disk_write(drv, buf, sector, 1) == RES_OK;
}

} // namespace

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
    const DWORD b_vol = sfd ? 0 : PART_START;
    const DWORD n_vol = n_card - b_vol;

    if (au == 0) {
        const DWORD vs = n_vol / 2000;
        UINT row = 0;
        while (CLUSTER_SIZES[row].vst > vs) row++;
        au = CLUSTER_SIZES[row].cst_sectors;
    } else {
        au /= 512;
        if (au == 0) au = 1;
        if (au > 128) au = 128;
    }

    /* FAT type from a first estimate that ignores the system area. */
    DWORD n_clst = n_vol / au;
    const BYTE fmt = n_clst < MIN_FAT16_CLUSTERS ? 1 : n_clst < MIN_FAT32_CLUSTERS ? 2 : 3;
    DWORD n_fat, n_rsv, n_dir;
    if (fmt == 3) {
        /* Refuse before 4 * n_clst can overflow or the entries run out of bits. */
        if (n_clst > FAT32_MAX_CLUSTERS) return FR_MKFS_ABORTED;
        n_fat = (n_clst * 4 + 8 + 511) / 512;
        n_rsv = 32;
        n_dir = 0;
    } else if (fmt == 2) {
        n_fat = (n_clst * 2 + 4 + 511) / 512;
        n_rsv = 1;
        n_dir = 32;
    } else {
        n_fat = ((n_clst * 3 + 1) / 2 + 3 + 511) / 512;
        n_rsv = 1;
        n_dir = 32;
    }
    DWORD b_fat = b_vol + n_rsv;
    const DWORD b_data = b_fat + n_fat + n_dir;
    if (n_vol < n_rsv + n_fat + n_dir + au) return FR_MKFS_ABORTED;

    /* Start the data area on an erase-block boundary of the card. */
    DWORD n = 1;
    if (disk_ioctl(drv, IOCTL_BLOCK_SIZE, &n) != RES_OK || n == 0 || n > MAX_ERASE_BLOCK) n = 1;
    n = ((b_data + n - 1) & ~(n - 1)) - b_data;
    if (fmt == 3) {
        n_rsv += n;
        b_fat += n;
    } else {
        n_fat += n;
    }
    /* Alignment may have eaten the room for even one cluster. */
    if (n_vol < n_rsv + n_fat + n_dir + au) return FR_MKFS_ABORTED;

    n_clst = (n_vol - n_rsv - n_fat - n_dir) / au;
    if ((fmt == 2 && n_clst < MIN_FAT16_CLUSTERS) || (fmt == 3 && n_clst < MIN_FAT32_CLUSTERS))
        return FR_MKFS_ABORTED;

    const BYTE md = sfd ? 0xF0 : 0xF8;
    BYTE sys;
    if (fmt == 3) sys = 0x0C;
    else if (fmt == 2) sys = n_vol < 0x10000 ? 0x04 : 0x06;
    else sys = 0x01;

    BYTE* const tbl = fs->win;

    if (sfd == 0) {
        mem_set(tbl, 0, SECTOR_SIZE);
        BYTE* pte = tbl + 446;
        const DWORD c = (PART_START + n_vol) / (63 * 255); /* end cylinder */
        pte[0] = 0x00;
        pte[1] = 1;
        pte[2] = 1;
        pte[3] = 0;
        pte[4] = sys;
        pte[5] = 254;
        pte[6] = (BYTE)((c >> 2) | 63);
        pte[7] = (BYTE)c;
        st_dword(pte + 8, PART_START);
        st_dword(pte + 12, n_vol);
        tbl[510] = 0x55;
        tbl[511] = 0xAA;
        if (!write_sector(drv, tbl, 0)) return FR_DISK_ERR;
    }

    /* Until the new volume is complete the old boot sector must not be
     * found: a format cut short would otherwise mount its stale geometry over
     * half-cleared tables. The real boot sector is written last. */
    mem_set(tbl, 0, SECTOR_SIZE);
    if (!write_sector(drv, tbl, b_vol)) return FR_DISK_ERR;

    /* The FAT: the reserved entries (and the root cluster on FAT32), then zeros. */
    mem_set(tbl, 0, SECTOR_SIZE);
    tbl[0] = md;
    tbl[1] = 0xFF;
    tbl[2] = 0xFF;
    if (fmt >= 2) tbl[3] = 0xFF;
    if (fmt == 3) {
        for (UINT i = 4; i < 11; i++) tbl[i] = 0xFF;
        tbl[11] = 0x0F;
    }
    DWORD sect = b_fat;
    if (!write_sector(drv, tbl, sect++)) return FR_DISK_ERR;
    mem_set(tbl, 0, SECTOR_SIZE);
    for (DWORD i = 1; i < n_fat; i++)
        if (!write_sector(drv, tbl, sect++)) return FR_DISK_ERR;

    /* Root directory: the fixed table, or cluster 2 on FAT32. */
    const DWORD n_root = fmt == 3 ? au : n_dir;
    for (DWORD i = 0; i < n_root; i++)
        if (!write_sector(drv, tbl, sect++)) return FR_DISK_ERR;

    if (fmt == 3) {
        tbl[0] = 0x52;
        tbl[1] = 0x52;
        tbl[2] = 0x61;
        tbl[3] = 0x41;
        tbl[484] = 0x72;
        tbl[485] = 0x72;
        tbl[486] = 0x41;
        tbl[487] = 0x61;
        st_dword(tbl + 488, n_clst - 1);
        st_dword(tbl + 492, 2);
        tbl[510] = 0x55;
        tbl[511] = 0xAA;
        (void)write_sector(drv, tbl, b_vol + 1);
        (void)write_sector(drv, tbl, b_vol + 7);
    }

    /* Boot sector */
    mem_set(tbl, 0, SECTOR_SIZE);
    tbl[0] = 0xEB;
    tbl[1] = 0xFE;
    tbl[2] = 0x90;
    mem_cpy(tbl + 3, "MSDOS5.0", 8);
    st_word(tbl + 11, 512);
    tbl[13] = (BYTE)au;
    st_word(tbl + 14, (WORD)n_rsv);
    tbl[16] = 1;
    st_word(tbl + 17, fmt == 3 ? 0 : 512);
    if (n_vol < 0x10000) st_word(tbl + 19, (WORD)n_vol);
    else st_dword(tbl + 32, n_vol);
    tbl[21] = md;
    if (fmt != 3) st_word(tbl + 22, (WORD)n_fat);
    st_word(tbl + 24, 63);
    st_word(tbl + 26, 255);
    st_dword(tbl + 28, b_vol);
    const DWORD serial = get_fattime();
    if (fmt == 3) {
        st_dword(tbl + 36, n_fat);
        st_dword(tbl + 44, 2);
        st_word(tbl + 48, 1);
        st_word(tbl + 50, 6);
        tbl[64] = 0x80;
        tbl[66] = 0x29;
        st_dword(tbl + 67, serial);
        mem_cpy(tbl + 71, LABEL_FAT32, 19);
    } else {
        tbl[36] = 0x80;
        tbl[38] = 0x29;
        st_dword(tbl + 39, serial);
        mem_cpy(tbl + 43, LABEL_FAT, 19);
    }
    tbl[510] = 0x55;
    tbl[511] = 0xAA;
    if (fmt == 3) (void)write_sector(drv, tbl, b_vol + 6); /* backup boot sector */
    if (!write_sector(drv, tbl, b_vol)) return FR_DISK_ERR;

    return disk_ioctl(drv, IOCTL_SYNC, nullptr) == RES_OK ? FR_OK : FR_DISK_ERR;
}
