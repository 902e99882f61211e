// Opening, reading, writing, flushing, truncating and closing files.
#include "fat_support.h"

namespace {

// Directory entry of a root file on a FAT12/16 volume (fixed root), by name.
BYTE* find_root_entry(RamDisk& d, const Geometry& g, const char* n11)
{
    for (DWORD s = g.rootbase; s < g.database; s++)
        for (UINT i = 0; i < 16; i++) {
            BYTE* e = d.sector(s) + i * SZ_DIR;
            if (std::memcmp(e, n11, 11) == 0) return e;
        }
    return nullptr;
}

} // namespace

class File : public MountedVolume {
protected:
    void SetUp() override { mount({}); }
    BYTE* entry(const char* n11) { return find_root_entry(*disk, geo, n11); }
    void set_attr(const char* n11, BYTE attr)
    {
        ASSERT_EQ(sync(&fs), FR_OK);
        entry(n11)[DIR_Attr] = attr;
        fs.winsect = 0;  // drop the now stale window
    }
};

TEST_F(File, OpenModesAndAttributes)
{
    write_file("NORMAL.TXT", pattern(700, 1));
    write_file("RDONLY.TXT", pattern(10, 2));
    set_attr("RDONLY  TXT", ATTR_READ_ONLY);
    write_file("DIR", {});
    set_attr("DIR        ", ATTR_DIRECTORY);

    struct Case { const char* path; BYTE mode; FRESULT res; };
    const Case cases[] = {
        {"NORMAL.TXT", FM_READ, FR_OK},
        {"NORMAL.TXT", FM_READ | FM_WRITE, FR_OK},
        {"NORMAL.TXT", FM_CREATE_NEW, FR_EXIST},
        {"NORMAL.TXT", FM_OPEN_ALWAYS | FM_READ, FR_OK},
        {"RDONLY.TXT", FM_READ, FR_OK},
        {"RDONLY.TXT", FM_WRITE, FR_DENIED},
        {"RDONLY.TXT", FM_OPEN_ALWAYS | FM_READ, FR_DENIED},
        {"RDONLY.TXT", FM_CREATE_NEW, FR_DENIED},
        {"RDONLY.TXT", FM_CREATE_ALWAYS | FM_WRITE, FR_DENIED},
        {"DIR", FM_READ, FR_NO_FILE},
        {"DIR", FM_WRITE, FR_NO_FILE},
        {"DIR", FM_OPEN_ALWAYS, FR_DENIED},
        {"DIR", FM_CREATE_ALWAYS, FR_DENIED},
        {"MISSING.TXT", FM_READ, FR_NO_FILE},
        {"MISSING/X.TXT", FM_OPEN_ALWAYS, FR_NO_PATH},
        {"", FM_READ, FR_INVALID_NAME},
        {"/", FM_READ, FR_INVALID_NAME},
        {"/", FM_OPEN_ALWAYS, FR_INVALID_NAME},
        {"BAD+.TXT", FM_OPEN_ALWAYS, FR_INVALID_NAME},
    };
    for (const Case& c : cases) {
        FIL f;
        f.fs = &fs;
        EXPECT_EQ(f_open(&f, c.path, c.mode), c.res) << c.path << " mode " << int(c.mode);
        if (c.res != FR_OK) {
            EXPECT_EQ(f.fs, nullptr);
        }
    }
    EXPECT_EQ(read_file("NORMAL.TXT"), pattern(700, 1));  // none of the above changed it

    // Bits above the mode bits are dropped.
    FIL f;
    ASSERT_EQ(f_open(&f, "NORMAL.TXT", 0xE0 | FM_READ | FM_WRITE | FM_OPEN_ALWAYS), FR_OK);
    EXPECT_EQ(f.flag, 0x13);
}

TEST_F(File, PlayerOpensExistingAndMissingFiles)
{
    write_file("LOL.RAW", pattern(2000, 3));
    fake_fattime_set(fat_timestamp(2024, 2, 29, 23, 59, 58));
    FIL f;
    disk->clear_calls();
    ASSERT_EQ(f_open(&f, "LOL.RAW", 0x13), FR_OK);
    EXPECT_EQ(f.flag, 0x13);
    EXPECT_EQ(f.fsize, 2000u);
    EXPECT_EQ(f.fptr, 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(disk->count(DiskOp::Write), 0u);

    ASSERT_EQ(f_open(&f, "LOL.MP3", 0x13), FR_OK);
    EXPECT_EQ(f.flag, 0x3B);
    BYTE b[32];
    UINT br = 99;
    EXPECT_EQ(f_read(&f, b, 32, &br), FR_OK);
    EXPECT_EQ(br, 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    const BYTE* e = entry("LOL     MP3");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e[DIR_Attr], ATTR_ARCHIVE);
    EXPECT_EQ(ld_dword(e + DIR_FileSize), 0u);
    EXPECT_EQ(ld_clust(e), 0u);
    EXPECT_EQ(ld_dword(e + DIR_CrtTime), fat_timestamp(2024, 2, 29, 23, 59, 58));
    EXPECT_EQ(ld_dword(e + DIR_WrtTime), fat_timestamp(2024, 2, 29, 23, 59, 58));
}

TEST_F(File, CreateAlwaysEmptiesAnExistingFile)
{
    write_file("HID.DAT", pattern(5000, 4));
    const DWORD cl = ld_clust(entry("HID     DAT"));
    set_attr("HID     DAT", ATTR_HIDDEN | ATTR_ARCHIVE);
    FIL f;
    ASSERT_EQ(f_open(&f, "HID.DAT", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
    EXPECT_EQ(f.fsize, 0u);
    EXPECT_EQ(f.sclust, 0u);
    EXPECT_EQ(fs.last_clust, cl - 1);
    ASSERT_EQ(sync(&fs), FR_OK);
    const BYTE* e = entry("HID     DAT");
    EXPECT_EQ(e[DIR_Attr], 0);
    EXPECT_EQ(ld_clust(e), 0u);
    EXPECT_EQ(ld_dword(e + DIR_FileSize), 0u);
    for (DWORD c = cl; c < cl + 10; c++) EXPECT_EQ(fat_entry(c), 0u) << c;
    // The freed space is used again first.
    UINT bw;
    ASSERT_EQ(f_write(&f, "x", 1, &bw), FR_OK);
    EXPECT_EQ(f.sclust, cl);
    ASSERT_EQ(f_close(&f), FR_OK);
}

TEST_F(File, CreateInFullRootDirectory)
{
    VolumeSpec s;
    s.root_entries = 16;
    mount(s);
    for (int i = 0; i < 16; i++) write_file((std::string("F") + std::to_string(i)).c_str(), {});
    FIL f;
    EXPECT_EQ(f_open(&f, "ONEMORE", FM_OPEN_ALWAYS), FR_NO_FILE);
}

TEST_F(File, ReadPaths)
{
    VolumeSpec s;
    s.csize = 4;
    mount(s);
    const auto data = pattern(5000, 5);
    write_file("D.BIN", data);
    FIL f;
    ASSERT_EQ(f_open(&f, "D.BIN", FM_READ), FR_OK);
    UINT br = 1;
    BYTE buf[5000];
    EXPECT_EQ(f_read(&f, buf, 0, &br), FR_OK);
    EXPECT_EQ(br, 0u);

    // 1000 bytes from 0: sector 0 directly, sector 1 through the buffer.
    disk->clear_calls();
    ASSERT_EQ(f_read(&f, buf, 1000, &br), FR_OK);
    EXPECT_EQ(br, 1000u);
    const DWORD first = geo.database + (f.sclust - 2) * 4;
    ASSERT_EQ(disk->count(DiskOp::Read), 2u);
    EXPECT_EQ(disk->calls()[1].sector, first);
    EXPECT_EQ(disk->calls()[1].count, 1u);
    EXPECT_EQ(f.dsect, first + 1);

    // The rest: a direct transfer ends at the cluster end (sectors 2..3),
    // the next cluster is looked up only when the position reaches it.
    disk->clear_calls();
    ASSERT_EQ(f_read(&f, buf + 1000, 4000, &br), FR_OK);
    EXPECT_EQ(br, 4000u);
    EXPECT_EQ(std::vector<BYTE>(buf, buf + 5000), data);
    for (const DiskCall& c : disk->calls())
        if (c.op == DiskOp::Read && c.count > 1) {
            EXPECT_LE((c.sector - geo.database) % 4 + c.count, 4u);
        }

    EXPECT_EQ(f_read(&f, buf, 10, &br), FR_OK);  // at the end
    EXPECT_EQ(br, 0u);

    // Small reads as the player makes them: one sector read per 256 calls.
    ASSERT_EQ(f_open(&f, "D.BIN", FM_READ), FR_OK);
    disk->clear_calls();
    for (int i = 0; i < 1024; i++) ASSERT_EQ(f_read(&f, buf + 2 * i, 2, &br), FR_OK);
    EXPECT_EQ(disk->count(DiskOp::Read), 4u);
    EXPECT_EQ(std::vector<BYTE>(buf, buf + 2048), std::vector<BYTE>(data.begin(), data.begin() + 2048));
}

TEST_F(File, DirectReadSeesDirtyBuffer)
{
    write_file("D.BIN", pattern(4096, 6));
    FIL f;
    ASSERT_EQ(f_open(&f, "D.BIN", FM_READ | FM_WRITE), FR_OK);
    UINT n;
    ASSERT_EQ(f_lseek(&f, 1000), FR_OK);
    ASSERT_EQ(f_write(&f, "HELLO", 5, &n), FR_OK);  // sector 1 dirty in the buffer
    ASSERT_EQ(f_lseek(&f, 0), FR_OK);
    std::vector<BYTE> got(4096);
    ASSERT_EQ(f_read(&f, got.data(), 4096, &n), FR_OK);
    auto expect = pattern(4096, 6);
    std::memcpy(&expect[1000], "HELLO", 5);
    EXPECT_EQ(got, expect);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_file("D.BIN"), expect);
}

TEST_F(File, ChainShorterThanSizeIsStickyError)
{
    write_file("S.BIN", pattern(1500, 7));
    ASSERT_EQ(sync(&fs), FR_OK);
    st_dword(entry("S       BIN") + DIR_FileSize, 5000);  // the chain holds 3 sectors
    fs.winsect = 0;
    FIL f;
    ASSERT_EQ(f_open(&f, "S.BIN", FM_READ | FM_WRITE), FR_OK);
    std::vector<BYTE> buf(5000);
    UINT br;
    EXPECT_EQ(f_read(&f, buf.data(), 5000, &br), FR_INT_ERR);
    EXPECT_EQ(br, 1536u);
    EXPECT_TRUE(f.flag & FM_ERROR);
    EXPECT_EQ(f_read(&f, buf.data(), 1, &br), FR_INT_ERR);
    EXPECT_EQ(f_write(&f, buf.data(), 1, &br), FR_INT_ERR);
    EXPECT_EQ(f_truncate(&f), FR_INT_ERR);
    EXPECT_EQ(f_lseek(&f, 0), FR_INT_ERR);
    EXPECT_EQ(f_close(&f), FR_OK);  // closing still works
}

TEST_F(File, AccessRefusalsDoNotSetError)
{
    write_file("A.BIN", pattern(100, 8));
    FIL f;
    BYTE b[4];
    UINT n;
    ASSERT_EQ(f_open(&f, "A.BIN", FM_WRITE), FR_OK);
    EXPECT_EQ(f_read(&f, b, 4, &n), FR_DENIED);
    ASSERT_EQ(f_open(&f, "A.BIN", FM_READ), FR_OK);
    EXPECT_EQ(f_write(&f, b, 4, &n), FR_DENIED);
    EXPECT_EQ(f_truncate(&f), FR_DENIED);
    EXPECT_EQ(f.flag & FM_ERROR, 0);
    EXPECT_EQ(f_read(&f, b, 4, &n), FR_OK);
}

TEST_F(File, DiskErrorsSetStickyError)
{
    write_file("A.BIN", pattern(3000, 9));
    FIL f;
    ASSERT_EQ(f_open(&f, "A.BIN", FM_READ), FR_OK);
    BYTE buf[3000];
    UINT br;
    ASSERT_EQ(f_read(&f, buf, 700, &br), FR_OK);
    disk->fail_nth(DiskOp::Read, 1);
    EXPECT_EQ(f_read(&f, buf, 2000, &br), FR_DISK_ERR);
    EXPECT_EQ(br, 324u);  // the rest of the buffered sector was delivered
    EXPECT_EQ(f_read(&f, buf, 1, &br), FR_INT_ERR);
}

TEST_F(File, WritePaths)
{
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "W.BIN", FM_READ | FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_sync(&f), FR_OK);
    EXPECT_EQ(f_write(&f, "", 0, &bw), FR_OK);  // nothing, but the entry is due
    EXPECT_TRUE(f.flag & FM_WRITTEN);
    EXPECT_EQ(f.sclust, 0u);

    // 512 bytes at a sector boundary go out directly; the first write allocates.
    const auto data = pattern(2000, 10);
    disk->clear_calls();
    ASSERT_EQ(f_write(&f, data.data(), 512, &bw), FR_OK);
    EXPECT_GE(f.sclust, 2u);
    EXPECT_FALSE(f.flag & FM_DIRTY);
    const DWORD s0 = clust2sect(&fs, f.sclust);
    EXPECT_EQ(disk->written_sectors(), std::vector<DWORD> {s0});

    // 100 bytes into the buffer, then 600 more: 412 fill the sector, which
    // goes out at the boundary, and 188 stay dirty in the next one.
    ASSERT_EQ(f_write(&f, data.data() + 512, 100, &bw), FR_OK);
    disk->clear_calls();
    ASSERT_EQ(f_write(&f, data.data() + 612, 600, &bw), FR_OK);
    EXPECT_EQ(bw, 600u);
    EXPECT_TRUE(f.flag & FM_DIRTY);
    EXPECT_EQ(f.fptr, 1212u);
    EXPECT_EQ(f.fsize, 1212u);
    EXPECT_EQ(disk->count(DiskOp::Read), 0u);  // appending never reads
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_file("W.BIN"), std::vector<BYTE>(data.begin(), data.begin() + 1212));

    // Overwriting inside the file reads the partial sector first.
    ASSERT_EQ(f_open(&f, "W.BIN", FM_WRITE), FR_OK);
    ASSERT_EQ(f_lseek(&f, 1024), FR_OK);
    ASSERT_EQ(f_write(&f, "ZZ", 2, &bw), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    auto expect = std::vector<BYTE>(data.begin(), data.begin() + 1212);
    expect[1024] = expect[1025] = 'Z';
    EXPECT_EQ(read_file("W.BIN"), expect);
}

TEST_F(File, SizeLimitWritesNothing)
{
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "BIG.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_sync(&f), FR_OK);
    f.fsize = 0xFFFFFF00;  // as if the file were that large
    BYTE b[512] {};
    EXPECT_EQ(f_write(&f, b, 512, &bw), FR_OK);
    EXPECT_EQ(bw, 0u);
    EXPECT_TRUE(f.flag & FM_WRITTEN);
}

TEST_F(File, FullVolumeGivesShortWrite)
{
    VolumeSpec s;
    s.fat_bits = 12;
    s.clusters = 10;
    s.csize = 2;
    mount(s);
    FIL f;
    UINT bw;
    const auto data = pattern(20000, 11);
    ASSERT_EQ(f_open(&f, "FULL.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    EXPECT_EQ(f_write(&f, data.data(), 20000, &bw), FR_OK);
    EXPECT_EQ(bw, 10u * 1024);
    EXPECT_EQ(f.fsize, 10u * 1024);
    EXPECT_EQ(f_write(&f, data.data(), 1, &bw), FR_OK);
    EXPECT_EQ(bw, 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_file("FULL.BIN"), std::vector<BYTE>(data.begin(), data.begin() + 10240));
}

TEST_F(File, SyncWritesEntryOnlyWhenChanged)
{
    write_file("E.BIN", pattern(10, 12));
    ASSERT_EQ(sync(&fs), FR_OK);
    st_word(entry("E       BIN") + DIR_LstAccDate, 0x4321);
    fs.winsect = 0;
    FIL f;
    ASSERT_EQ(f_open(&f, "E.BIN", FM_READ | FM_WRITE), FR_OK);
    disk->clear_calls();
    EXPECT_EQ(f_sync(&f), FR_OK);
    EXPECT_EQ(disk->calls().size(), disk->count(DiskOp::Status));  // no medium access

    fake_fattime_set(fat_timestamp(2030, 1, 2, 3, 4, 6));
    UINT bw;
    ASSERT_EQ(f_lseek(&f, 10), FR_OK);
    ASSERT_EQ(f_write(&f, "0123456789", 10, &bw), FR_OK);
    ASSERT_EQ(f_sync(&f), FR_OK);
    const BYTE* e = entry("E       BIN");
    EXPECT_EQ(e[DIR_Attr], ATTR_ARCHIVE);
    EXPECT_EQ(ld_dword(e + DIR_FileSize), 20u);
    EXPECT_EQ(ld_clust(e), f.sclust);
    EXPECT_EQ(ld_dword(e + DIR_WrtTime), fat_timestamp(2030, 1, 2, 3, 4, 6));
    EXPECT_EQ(ld_word(e + DIR_LstAccDate), 0x4321);
    EXPECT_EQ(disk->count(DiskOp::Ioctl), 1u);
}

// A failed write can leave counted bytes in the buffer without FM_WRITTEN;
// closing must still put them on the medium instead of dropping them.
TEST_F(File, CloseWritesDirtyBufferAfterFailedWrite)
{
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "P.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_write(&f, "ABCD", 4, &bw), FR_OK);
    ASSERT_EQ(f_sync(&f), FR_OK);
    const DWORD sect = f.dsect;
    // 600 bytes: 508 fill the sector; its write-back at the boundary fails.
    const auto data = pattern(600, 13);
    disk->fail_nth(DiskOp::Write, 1);
    EXPECT_EQ(f_write(&f, data.data(), 600, &bw), FR_DISK_ERR);
    EXPECT_EQ(bw, 508u);
    EXPECT_FALSE(f.flag & FM_WRITTEN);
    EXPECT_TRUE(f.flag & FM_DIRTY);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(std::memcmp(disk->sector(sect), "ABCD", 4), 0);
    EXPECT_EQ(std::memcmp(disk->sector(sect) + 4, data.data(), 508), 0);
}

TEST_F(File, FailedSyncKeepsObjectOpen)
{
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "Q.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_write(&f, "ABCD", 4, &bw), FR_OK);
    disk->fail_nth(DiskOp::Write, 1);
    EXPECT_EQ(f_close(&f), FR_DISK_ERR);
    EXPECT_NE(f.fs, nullptr);
    EXPECT_TRUE(f.flag & FM_DIRTY);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_file("Q.BIN"), (std::vector<BYTE> {'A', 'B', 'C', 'D'}));
}

// The entry counts as written only once the volume flush has succeeded:
// after a failed flush the next f_sync writes it again instead of reporting
// success with nothing on the medium.
TEST_F(File, FailedVolumeFlushIsRetriedByTheNextSync)
{
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "S.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_write(&f, "ABCD", 4, &bw), FR_OK);
    disk->fail_ioctl(IOCTL_SYNC);
    EXPECT_EQ(f_sync(&f), FR_DISK_ERR);
    EXPECT_TRUE(f.flag & FM_WRITTEN);

    disk->clear_faults();
    disk->clear_calls();
    EXPECT_EQ(f_sync(&f), FR_OK);
    EXPECT_FALSE(f.flag & FM_WRITTEN);
    EXPECT_EQ(disk->count(DiskOp::Write), 1u) << "the entry's sector again";
    EXPECT_EQ(disk->count(DiskOp::Ioctl, RES_OK), 1u) << "and the flush";
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_file("S.BIN"), (std::vector<BYTE>{'A', 'B', 'C', 'D'}));
}

// A failed FSInfo write is reported, and the next flush writes it again.
TEST_F(MountedVolume, FailedFsinfoWriteIsReportedAndRetried)
{
    VolumeSpec s;
    s.fat_bits = 32;
    s.clusters = 70000;
    s.rsvd = 8;
    s.fsi_free = s.clusters - 1;  // all but the root directory's cluster
    s.fsi_next = 2;
    mount(s);
    const DWORD fsinfo = s.bsect + s.fsinfo;
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "F.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_write(&f, "ABCD", 4, &bw), FR_OK);  // takes a cluster: the free count changes
    disk->fail_sector(DiskOp::Write, fsinfo);
    EXPECT_EQ(f_close(&f), FR_DISK_ERR);
    EXPECT_EQ(ld_dword(disk->sector(fsinfo) + FSI_Free_Count), s.clusters - 1);

    disk->clear_faults();
    EXPECT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(ld_dword(disk->sector(fsinfo) + FSI_Free_Count), s.clusters - 2);
}

TEST_F(File, TruncateCases)
{
    write_file("T.BIN", pattern(3000, 14));  // 6 clusters of one sector
    FIL f;
    ASSERT_EQ(f_open(&f, "T.BIN", FM_READ | FM_WRITE), FR_OK);
    const DWORD cl = f.sclust;
    ASSERT_EQ(f_lseek(&f, 3000), FR_OK);
    disk->clear_calls();
    EXPECT_EQ(f_truncate(&f), FR_OK);  // at the end: nothing to do
    EXPECT_EQ(disk->calls().size(), disk->count(DiskOp::Status));
    EXPECT_FALSE(f.flag & FM_WRITTEN);

    ASSERT_EQ(f_lseek(&f, 1000), FR_OK);
    ASSERT_EQ(f_truncate(&f), FR_OK);
    EXPECT_EQ(f.fsize, 1000u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(fat_entry(cl + 1), 0xFFFFu);
    for (DWORD c = cl + 2; c < cl + 6; c++) EXPECT_EQ(fat_entry(c), 0u);
    auto data = pattern(3000, 14);
    data.resize(1000);
    EXPECT_EQ(read_file("T.BIN"), data);

    ASSERT_EQ(f_open(&f, "T.BIN", FM_WRITE), FR_OK);
    ASSERT_EQ(f_truncate(&f), FR_OK);
    EXPECT_EQ(f.sclust, 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(fat_entry(cl), 0u);
    EXPECT_EQ(fat_entry(cl + 1), 0u);
    EXPECT_EQ(ld_clust(entry("T       BIN")), 0u);
}

// Truncating with a dirty buffer that holds a sector of a freed cluster:
// that sector must not be written later into another file's cluster.
TEST_F(File, TruncateDoesNotLeakBufferIntoFreedCluster)
{
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "T.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    const auto data = pattern(1100, 15);
    ASSERT_EQ(f_write(&f, data.data(), 1100, &bw), FR_OK);  // sector 2 dirty in the buffer
    const DWORD freed = clust2sect(&fs, f.clust);
    ASSERT_EQ(f_lseek(&f, 512), FR_OK);  // a sector boundary: no buffer change
    ASSERT_EQ(f_truncate(&f), FR_OK);

    // Another file takes the freed clusters.
    fs.last_clust = f.sclust;
    const auto other = pattern(2048, 16);
    write_file("OTHER.BIN", other);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_file("OTHER.BIN"), other);
    EXPECT_EQ(std::memcmp(disk->sector(freed), other.data() + 512, 512), 0);
}

// Opens `path` for reading and writing in fast-seek mode with `map` built.
void open_with_link_map(FIL& f, const char* path, DWORD (&map)[16])
{
    ASSERT_EQ(f_open(&f, path, FM_READ | FM_WRITE), FR_OK);
    f.cltbl = map;
    ASSERT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_OK);
}

TEST_F(File, FastSeekWriteStopsAtEndOfMap)
{
    write_file("M.BIN", pattern(1500, 17));  // three one-sector clusters
    FIL f;
    UINT bw;
    DWORD map[16] = {16};
    ASSERT_NO_FATAL_FAILURE(open_with_link_map(f, "M.BIN", map));
    ASSERT_EQ(f_lseek(&f, 1000), FR_OK);
    const auto data = pattern(2000, 18);
    EXPECT_EQ(f_write(&f, data.data(), 2000, &bw), FR_OK);
    EXPECT_EQ(bw, 536u);  // up to the end of the last mapped cluster
    EXPECT_EQ(f.fsize, 1536u);
    ASSERT_EQ(f_close(&f), FR_OK);
    auto expect = pattern(1500, 17);
    expect.resize(1000);
    expect.insert(expect.end(), data.begin(), data.begin() + 536);
    EXPECT_EQ(read_file("M.BIN"), expect);
}

TEST_F(File, FailedDirectWriteKeepsSizeAndSetsError)
{
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "X.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_sync(&f), FR_OK);  // the entry is out of the window
    const auto data = pattern(4096, 19);
    disk->fail_nth(DiskOp::Write, 2);  // the second cluster's direct write
    EXPECT_EQ(f_write(&f, data.data(), 4096, &bw), FR_DISK_ERR);
    EXPECT_EQ(bw, 512u);
    EXPECT_EQ(f.fsize, 0u);
    EXPECT_TRUE(f.flag & FM_ERROR);
    EXPECT_EQ(f_write(&f, data.data(), 1, &bw), FR_INT_ERR);
    EXPECT_EQ(f_close(&f), FR_OK);
}

// After a truncation the link map still lists the freed clusters; a write in
// fast-seek mode must not append into them (another file may own them now).
TEST_F(File, FastSeekWriteAfterTruncateStaysInOwnClusters)
{
    write_file("M.BIN", pattern(2048, 20));  // four one-sector clusters
    FIL f;
    UINT bw;
    DWORD map[16] = {16};
    ASSERT_NO_FATAL_FAILURE(open_with_link_map(f, "M.BIN", map));
    ASSERT_EQ(f_lseek(&f, 700), FR_OK);
    ASSERT_EQ(f_truncate(&f), FR_OK);
    fs.last_clust = f.sclust;  // the next allocation reuses the freed clusters
    const auto other = pattern(1024, 21);
    write_file("OTHER.BIN", other);
    const auto more = pattern(1000, 22);
    EXPECT_EQ(f_write(&f, more.data(), 1000, &bw), FR_OK);
    EXPECT_EQ(bw, 324u);  // to the end of the last cluster the file still owns
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(read_file("OTHER.BIN"), other);
}
