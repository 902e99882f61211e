// Byte blocks, the sector window, volume flush and the volume registry.
#include "fat_support.h"

TEST(MemCmp, ReturnsFirstDifferenceAsUnsigned)
{
    const BYTE a[] = {0x41, 0x42, 0x43, 0x00};
    const BYTE b[] = {0x41, 0x42, 0x45, 0xFF};
    EXPECT_EQ(mem_cmp(a, b, 3), -2);
    EXPECT_EQ(mem_cmp(a, b, 2), 0);
    EXPECT_EQ(mem_cmp(a + 3, b + 3, 1), -255);
    EXPECT_EQ(mem_cmp(a, b, 0), 0);
}

class Window : public MountedVolume {};

TEST_F(Window, SameSectorOrCleanFlushMakesNoDiskCall)
{
    mount({});
    ASSERT_EQ(move_window(&fs, geo.rootbase), FR_OK);
    disk->clear_calls();
    fs.wflag = 1;
    EXPECT_EQ(move_window(&fs, geo.rootbase), FR_OK);
    fs.wflag = 0;
    EXPECT_EQ(move_window(&fs, 0), FR_OK);
    EXPECT_TRUE(disk->calls().empty());
    EXPECT_EQ(fs.winsect, geo.rootbase);
}

TEST_F(Window, DirtyFatSectorIsMirroredDirectorySectorIsNot)
{
    for (BYTE n_fats : {1, 2}) {
        SCOPED_TRACE(int(n_fats));
        VolumeSpec s;
        s.n_fats = n_fats;
        mount(s);
        ASSERT_EQ(move_window(&fs, geo.fatbase), FR_OK);
        fs.win[100] = 0x5A;
        fs.wflag = 1;
        disk->clear_calls();
        ASSERT_EQ(move_window(&fs, geo.rootbase), FR_OK);
        std::vector<DWORD> expect {geo.fatbase};
        if (n_fats == 2) expect.push_back(geo.fatbase + geo.fatsz);
        EXPECT_EQ(disk->written_sectors(), expect);
        EXPECT_EQ(disk->sector(geo.fatbase + (n_fats - 1) * geo.fatsz)[100], 0x5A);

        fs.win[0] = 'X';
        fs.wflag = 1;
        disk->clear_calls();
        ASSERT_EQ(move_window(&fs, 0), FR_OK);
        EXPECT_EQ(disk->written_sectors(), std::vector<DWORD> {geo.rootbase});
        EXPECT_EQ(fs.winsect, geo.rootbase);
        EXPECT_EQ(fs.wflag, 0);
    }
}

TEST_F(Window, FailedWriteBackKeepsWindowAndReadsNothing)
{
    mount({});
    ASSERT_EQ(move_window(&fs, geo.rootbase), FR_OK);
    fs.win[0] = 'Y';
    fs.wflag = 1;
    disk->clear_calls();
    disk->fail_nth(DiskOp::Write, 1);
    EXPECT_EQ(move_window(&fs, geo.rootbase + 1), FR_DISK_ERR);
    EXPECT_EQ(fs.winsect, geo.rootbase);
    EXPECT_EQ(fs.wflag, 1);
    EXPECT_EQ(disk->count(DiskOp::Read), 0u);
    // The next attempt retries the write.
    EXPECT_EQ(move_window(&fs, geo.rootbase + 1), FR_OK);
    EXPECT_EQ(disk->sector(geo.rootbase)[0], 'Y');
}

TEST_F(Window, FailedReadKeepsPreviousSector)
{
    mount({});
    ASSERT_EQ(move_window(&fs, geo.rootbase), FR_OK);
    disk->fail_sector(DiskOp::Read, geo.rootbase + 1);
    EXPECT_EQ(move_window(&fs, geo.rootbase + 1), FR_DISK_ERR);
    EXPECT_EQ(fs.winsect, geo.rootbase);
}

TEST_F(Window, SyncWritesFsInfoOnFat32Only)
{
    VolumeSpec s;
    s.fat_bits = 32;
    s.clusters = 70000;
    s.rsvd = 8;
    s.fsinfo = 1;
    mount(s);
    fs.free_clust = 0x12345;
    fs.last_clust = 0x777;
    fs.fsi_flag = 1;
    ASSERT_EQ(sync(&fs), FR_OK);
    EXPECT_EQ(disk->written_sectors(), std::vector<DWORD> {1});
    std::vector<BYTE> expect(512, 0);
    st_dword(&expect[0], 0x41615252);
    st_dword(&expect[484], 0x61417272);
    st_dword(&expect[488], 0x12345);
    st_dword(&expect[492], 0x777);
    expect[510] = 0x55;
    expect[511] = 0xAA;
    EXPECT_EQ(std::vector<BYTE>(disk->sector(1), disk->sector(1) + 512), expect);
    EXPECT_EQ(fs.winsect, 0u);
    EXPECT_EQ(fs.fsi_flag, 0);
    EXPECT_EQ(disk->count(DiskOp::Ioctl), 1u);

    for (int bits : {12, 16}) {
        VolumeSpec t;
        t.fat_bits = bits;
        t.clusters = bits == 12 ? 2000 : 5000;
        mount(t);
        fs.fsi_flag = 1;
        ASSERT_EQ(sync(&fs), FR_OK);
        EXPECT_TRUE(disk->written_sectors().empty());
        EXPECT_EQ(disk->count(DiskOp::Ioctl), 1u);
    }
}

// An FSInfo field of 0 (the boot sector) or one outside the reserved area
// must never be written: the sync would overwrite the boot sector or a FAT.
TEST_F(Window, SyncNeverWritesFsInfoOutsideReservedArea)
{
    for (WORD fsinfo : {WORD(0), WORD(8), WORD(200)}) {
        SCOPED_TRACE(fsinfo);
        VolumeSpec s;
        s.fat_bits = 32;
        s.clusters = 70000;
        s.rsvd = 8;
        s.fsinfo = fsinfo;
        mount(s);
        EXPECT_EQ(fs.free_clust, 0xFFFFFFFFu);
        const std::vector<BYTE> boot(disk->sector(0), disk->sector(0) + 512);
        fs.fsi_flag = 1;
        ASSERT_EQ(sync(&fs), FR_OK);
        EXPECT_TRUE(disk->written_sectors().empty());
        EXPECT_EQ(std::vector<BYTE>(disk->sector(0), disk->sector(0) + 512), boot);
        // The volume still works: create a file and flush with a known free count.
        fs.free_clust = 1000;
        write_file("A.TXT", pattern(3000, 1));
        EXPECT_EQ(read_file("A.TXT"), pattern(3000, 1));
        EXPECT_EQ(std::vector<BYTE>(disk->sector(0), disk->sector(0) + 512), boot);
    }
}

TEST_F(Window, SyncFailures)
{
    mount({});
    ASSERT_EQ(move_window(&fs, geo.rootbase), FR_OK);
    fs.wflag = 1;
    disk->fail_nth(DiskOp::Write, 1);
    EXPECT_EQ(sync(&fs), FR_DISK_ERR);
    EXPECT_EQ(disk->count(DiskOp::Ioctl), 0u);  // nothing after a failed write-back
    disk->fail_nth(DiskOp::Ioctl, 1);
    EXPECT_EQ(sync(&fs), FR_DISK_ERR);
}

TEST_F(Window, RegistryAndValidation)
{
    mount({});
    write_file("F.BIN", pattern(10, 2));
    FIL f;
    ASSERT_EQ(f_open(&f, "F.BIN", FM_READ), FR_OK);
    EXPECT_EQ(f_mount(1, &fs), FR_INVALID_DRIVE);
    EXPECT_EQ(fs.fs_type, FS_FAT16);  // unchanged

    // Registering the same object again forces a remount: old files are stale.
    ASSERT_EQ(f_mount(0, &fs), FR_OK);
    BYTE b[4];
    UINT br;
    EXPECT_EQ(f_read(&f, b, 4, &br), FR_INVALID_OBJECT);
    FIL g;
    ASSERT_EQ(f_open(&g, "F.BIN", FM_READ), FR_OK);
    EXPECT_EQ(f_read(&g, b, 4, &br), FR_OK);

    // Unregistering: path operations see no volume, open files are stale.
    ASSERT_EQ(f_mount(0, nullptr), FR_OK);
    EXPECT_EQ(f_open(&f, "F.BIN", FM_READ), FR_NOT_ENABLED);
    EXPECT_EQ(f_read(&g, b, 4, &br), FR_INVALID_OBJECT);
}

TEST_F(Window, ClosedOrNotReadyObjectsAreRefused)
{
    mount({});
    write_file("F.BIN", pattern(10, 2));
    FIL f;
    ASSERT_EQ(f_open(&f, "F.BIN", FM_READ | FM_WRITE), FR_OK);
    disk->set_noinit(true);
    BYTE b[4];
    UINT br;
    EXPECT_EQ(f_read(&f, b, 4, &br), FR_NOT_READY);
    disk->set_noinit(false);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(f_close(&f), FR_INVALID_OBJECT);
    EXPECT_EQ(f_read(&f, b, 4, &br), FR_INVALID_OBJECT);
    EXPECT_EQ(f_write(&f, b, 4, &br), FR_INVALID_OBJECT);
    EXPECT_EQ(f_truncate(&f), FR_INVALID_OBJECT);
    EXPECT_EQ(f_sync(&f), FR_INVALID_OBJECT);
}
