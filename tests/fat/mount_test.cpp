// Lazy mounting: boot sector search, parameter checks, FAT type, FSInfo,
// drive prefix and drive state.
#include "fat_support.h"

namespace {

FRESULT mount_now(FATFS& fs, const TCHAR* path = "")
{
    f_mount(0, &fs);
    FATFS* rfs = nullptr;
    return chk_mounted(&path, &rfs, 0);
}

} // namespace

TEST(Mount, WholeDiskAndPartition)
{
    for (DWORD bsect : {0u, 63u, 2048u}) {
        VolumeSpec s;
        s.bsect = bsect;
        auto disk = build_volume(s);
        ScopedFs scoped;
        FATFS& fs = scoped.fs;
        ASSERT_EQ(mount_now(fs), FR_OK) << bsect;
        const Geometry g = geometry_of(s);
        EXPECT_EQ(fs.fatbase, g.fatbase);
        EXPECT_EQ(fs.dirbase, g.rootbase);
        EXPECT_EQ(fs.database, g.database);
        EXPECT_EQ(fs.n_fatent, s.clusters + 2);
        EXPECT_EQ(fs.fsize, g.fatsz);
        EXPECT_EQ(fs.winsect, 0u);
        EXPECT_EQ(disk->count(DiskOp::Write), 0u);
    }
}

TEST(Mount, BootRecordSearch)
{
    VolumeSpec s;
    s.bsect = 100;
    {
        // First entry unused, second valid: only the first entry is consulted.
        auto disk = build_volume(s);
        BYTE* mbr = disk->sector(0);
        std::memcpy(mbr + MBR_Table + SZ_PTE, mbr + MBR_Table, SZ_PTE);
        std::memset(mbr + MBR_Table, 0, SZ_PTE);
        ScopedFs scoped;
        FATFS& fs = scoped.fs;
        EXPECT_EQ(mount_now(fs), FR_NO_FILESYSTEM);
    }
    {
        // No signature at sector 0: no partition table is looked for.
        auto disk = build_volume(s);
        disk->sector(0)[511] = 0;
        ScopedFs scoped;
        FATFS& fs = scoped.fs;
        EXPECT_EQ(mount_now(fs), FR_NO_FILESYSTEM);
        EXPECT_EQ(disk->count(DiskOp::Read), 1u);
    }
    {
        // "FAT" at neither offset 54 nor 82: not a FAT boot sector.
        s.bsect = 0;
        auto disk = build_volume(s);
        disk->sector(0)[BS_FilSysType] = 'X';
        ScopedFs scoped;
        FATFS& fs = scoped.fs;
        EXPECT_EQ(mount_now(fs), FR_NO_FILESYSTEM);
        disk->sector(0)[BS_FilSysType32] = 'F';
        disk->sector(0)[BS_FilSysType32 + 1] = 'A';
        disk->sector(0)[BS_FilSysType32 + 2] = 'T';
        EXPECT_EQ(mount_now(fs), FR_OK);
    }
    {
        auto disk = build_volume(s);
        disk->fail_nth(DiskOp::Read, 1);
        ScopedFs scoped;
        FATFS& fs = scoped.fs;
        EXPECT_EQ(mount_now(fs), FR_DISK_ERR);
        disk->set_init_fails(true);
        EXPECT_EQ(mount_now(fs), FR_NOT_READY);
    }
}

TEST(Mount, FatTypeByClusterCount)
{
    struct Case { int bits; DWORD clusters; BYTE type; };
    for (const Case c : {Case {12, 4085, FS_FAT12}, Case {16, 4086, FS_FAT16},
                         Case {16, 65525, FS_FAT16}, Case {32, 65526, FS_FAT32}}) {
        VolumeSpec s;
        s.fat_bits = c.bits;
        s.clusters = c.clusters;
        s.rsvd = c.bits == 32 ? 8 : 1;
        auto disk = build_volume(s);
        ScopedFs scoped;
        FATFS& fs = scoped.fs;
        ASSERT_EQ(mount_now(fs), FR_OK) << c.clusters;
        EXPECT_EQ(fs.fs_type, c.type) << c.clusters;
        EXPECT_EQ(fs.n_fatent, c.clusters + 2);
    }
}

TEST(Mount, ParameterBlockChecks)
{
    struct Case {
        const char* what;
        int bits;
        void (*edit)(BYTE* bs);
    };
    const Case cases[] = {
        {"bytes per sector 1024", 16, [](BYTE* bs) { st_word(bs + BPB_BytsPerSec, 1024); }},
        {"no FAT", 16, [](BYTE* bs) { bs[BPB_NumFATs] = 0; }},
        {"three FATs", 16, [](BYTE* bs) { bs[BPB_NumFATs] = 3; }},
        {"cluster size 0", 16, [](BYTE* bs) { bs[BPB_SecPerClus] = 0; }},
        {"cluster size 3", 16, [](BYTE* bs) { bs[BPB_SecPerClus] = 3; }},
        {"root entries 500", 16, [](BYTE* bs) { st_word(bs + BPB_RootEntCnt, 500); }},
        {"no reserved sector", 16, [](BYTE* bs) { st_word(bs + BPB_RsvdSecCnt, 0); }},
        {"FAT32 size with a fixed root", 32, [](BYTE* bs) { st_word(bs + BPB_RootEntCnt, 512); }},
        {"FAT16 size without a root", 16, [](BYTE* bs) { st_word(bs + BPB_RootEntCnt, 0); }},
        {"FAT shorter than the clusters", 16,
         [](BYTE* bs) { st_word(bs + BPB_FATSz16, static_cast<WORD>(ld_word(bs + BPB_FATSz16) - 1)); }},
        {"volume smaller than its system area", 16, [](BYTE* bs) { st_word(bs + BPB_TotSec16, 10); }},
        // Hostile values whose sums wrap around 32 bits: the data area would
        // land inside the FAT, or high clusters on sectors before the volume.
        {"FAT size times two wraps", 32,
         [](BYTE* bs) { st_dword(bs + BPB_FATSz32, 0x80000010); }},
        {"reserved plus FAT wraps", 32,
         [](BYTE* bs) {
             bs[BPB_NumFATs] = 1;
             st_word(bs + BPB_RsvdSecCnt, 0xFFFF);
             st_dword(bs + BPB_FATSz32, 0xFFFFFFF0);
             st_dword(bs + BPB_TotSec32, 0x200000);
         }},
    };
    for (const Case& c : cases) {
        VolumeSpec s;
        s.fat_bits = c.bits;
        s.clusters = c.bits == 32 ? 70000 : 5000;
        s.rsvd = c.bits == 32 ? 8 : 1;
        auto disk = build_volume(s);
        c.edit(disk->sector(0));
        ScopedFs scoped;
        FATFS& fs = scoped.fs;
        EXPECT_EQ(mount_now(fs), FR_NO_FILESYSTEM) << c.what;
        EXPECT_EQ(fs.fs_type, 0) << c.what;
    }
}

TEST(Mount, VolumeEndBeyond32BitsIsRefused)
{
    // A partition at sector 256 whose size reaches past sector 2^32: cluster
    // sectors would wrap onto the partition table and the first sectors.
    VolumeSpec s;
    s.bsect = 256;
    auto disk = build_volume(s);
    BYTE* bs = disk->sector(256);
    st_word(bs + BPB_TotSec16, 0);
    st_dword(bs + BPB_TotSec32, 0xFFFFFFF0);
    bs[BPB_SecPerClus] = 128;
    st_word(bs + BPB_RootEntCnt, 0);
    st_word(bs + BPB_FATSz16, 0);
    st_dword(bs + BPB_FATSz32, 0x100000);
    st_dword(bs + BPB_RootClus, 2);
    std::memcpy(bs + BS_FilSysType32, "FAT32   ", 8);
    ScopedFs scoped;
        FATFS& fs = scoped.fs;
    EXPECT_EQ(mount_now(fs), FR_NO_FILESYSTEM);
    // The same geometry inside 32 bits mounts.
    st_dword(bs + BPB_TotSec32, 0xFFFFFFF0 - 256);
    EXPECT_EQ(mount_now(fs), FR_OK);
}

TEST(Mount, Fat32ClusterCountLimit)
{
    // Above 0x0FFFFFF5 clusters a valid cluster number could read as an end mark.
    for (DWORD nclst : {0x0FFFFFF5u, 0x0FFFFFF6u}) {
        VolumeSpec s;
        s.fat_bits = 32;
        s.clusters = 70000;
        s.rsvd = 32;
        s.n_fats = 1;
        auto disk = build_volume(s);
        BYTE* bs = disk->sector(0);
        const DWORD fatsz = ((nclst + 2) * 4 + 511) / 512;
        st_dword(bs + BPB_FATSz32, fatsz);
        st_dword(bs + BPB_TotSec32, 32 + fatsz + nclst);
        ScopedFs scoped;
        FATFS& fs = scoped.fs;
        EXPECT_EQ(mount_now(fs), nclst == 0x0FFFFFF5u ? FR_OK : FR_NO_FILESYSTEM) << nclst;
    }
}

TEST(Mount, FsInfoValues)
{
    VolumeSpec s;
    s.fat_bits = 32;
    s.clusters = 70000;
    s.rsvd = 8;
    s.fsi_free = 1234;
    s.fsi_next = 99;
    auto disk = build_volume(s);
    ScopedFs scoped;
        FATFS& fs = scoped.fs;
    ASSERT_EQ(mount_now(fs), FR_OK);
    EXPECT_EQ(fs.free_clust, 1234u);
    EXPECT_EQ(fs.last_clust, 99u);
    EXPECT_EQ(fs.fsi_sector, 1u);
    disk->sector(1)[FSI_StrucSig] ^= 1;
    ASSERT_EQ(mount_now(fs), FR_OK);
    EXPECT_EQ(fs.free_clust, 0xFFFFFFFFu);
    EXPECT_EQ(fs.last_clust, 0u);
}

TEST(Mount, DrivePrefix)
{
    auto disk = build_volume({});
    ScopedFs scoped;
        FATFS& fs = scoped.fs;
    ASSERT_EQ(f_mount(0, &fs), FR_OK);
    FIL f;
    ASSERT_EQ(f_open(&f, "0:A.TXT", FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(f_open(&f, "A.TXT", FM_READ), FR_OK);
    EXPECT_EQ(f_open(&f, "0:/A.TXT", FM_READ), FR_OK);
    EXPECT_EQ(f_open(&f, "1:A.TXT", FM_READ), FR_INVALID_DRIVE);
    EXPECT_EQ(f_open(&f, "9:A.TXT", FM_READ), FR_INVALID_DRIVE);
    EXPECT_EQ(f_open(&f, "A:A.TXT", FM_READ), FR_INVALID_NAME);
}

TEST(Mount, DriveStateBetweenCalls)
{
    auto disk = build_volume({});
    ScopedFs scoped;
        FATFS& fs = scoped.fs;
    ASSERT_EQ(f_mount(0, &fs), FR_OK);
    FIL f;
    ASSERT_EQ(f_open(&f, "A.TXT", FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);

    // A mounted volume costs one status call per path operation.
    disk->clear_calls();
    ASSERT_EQ(f_open(&f, "A.TXT", FM_READ), FR_OK);
    ASSERT_EQ(disk->calls().size(), disk->count(DiskOp::Status) + disk->count(DiskOp::Read));
    EXPECT_EQ(disk->count(DiskOp::Status), 1u);
    EXPECT_EQ(disk->count(DiskOp::Initialize), 0u);

    // A card change (not initialised) remounts; the old file is stale.
    const WORD old_id = fs.id;
    disk->set_noinit(true);
    FIL g;
    ASSERT_EQ(f_open(&g, "A.TXT", FM_READ), FR_OK);
    EXPECT_NE(fs.id, old_id);
    BYTE b;
    UINT br;
    EXPECT_EQ(f_read(&f, &b, 1, &br), FR_INVALID_OBJECT);

    // Write protection refuses only calls that would write.
    disk->set_write_protect(true);
    EXPECT_EQ(f_open(&g, "A.TXT", FM_READ), FR_OK);
    EXPECT_EQ(f_open(&g, "A.TXT", FM_READ | FM_WRITE), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_open(&g, "B.TXT", FM_CREATE_NEW), FR_WRITE_PROTECTED);
    disk->set_noinit(true);
    EXPECT_EQ(f_open(&g, "A.TXT", FM_OPEN_ALWAYS), FR_WRITE_PROTECTED);
}
