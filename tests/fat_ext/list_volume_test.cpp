// Listing and status (f_opendir, f_readdir, f_stat), free space, current
// drive and directory (f_getfree, f_chdrive, f_chdir, f_getcwd).
#include "fixture.h"

#include <cstring>

namespace {

std::vector<std::string> list(DIR& dj, int max = 100)
{
    std::vector<std::string> names;
    for (int i = 0; i < max; i++) {
        FILINFO fi;
        EXPECT_EQ(f_readdir(&dj, &fi), FR_OK);
        if (!fi.fname[0]) break;
        names.push_back(fi.fname);
    }
    return names;
}

// Turns an existing entry into a volume label, as another system would write it.
void make_label(FATFS& fs, const char* path)
{
    DIR dj;
    BYTE sfn[12];
    dj.fs = &fs;
    dj.fn = sfn;
    ASSERT_EQ(follow_path(&dj, path), FR_OK);
    dj.dir[DIR_Attr] = ATTR_VOLUME_ID;
    fs.wflag = 1;
    ASSERT_EQ(sync(&fs), FR_OK);
}

class ListTest : public VolumeTest {
protected:
    void SetUp() override { format(FAT16_SMALL); }
};

TEST_F(ListTest, OrderDotsDeletedLabelsEndAndRewind)
{
    ASSERT_EQ(f_mkdir("/D"), FR_OK);
    put("/D/A.TXT", "a");
    put("/D/B.TXT", "bb");
    put("/D/LBL", "");
    put("/D/C.TXT", "ccc");
    ASSERT_EQ(f_unlink("/D/B.TXT"), FR_OK);
    make_label(fs_, "/D/LBL");
    put("/ROOT.TXT", "r");

    DIR dj;
    ASSERT_EQ(f_opendir(&dj, "/D"), FR_OK);
    EXPECT_EQ(list(dj), (std::vector<std::string>{".", "..", "A.TXT", "C.TXT"}));
    // After the end: empty names, other fields left alone.
    FILINFO fi;
    fi.fsize = 1234;
    ASSERT_EQ(f_readdir(&dj, &fi), FR_OK);
    EXPECT_EQ(fi.fname[0], 0);
    EXPECT_EQ(fi.fsize, 1234u);
    // Rewind starts over.
    ASSERT_EQ(f_readdir(&dj, nullptr), FR_OK);
    ASSERT_EQ(f_readdir(&dj, &fi), FR_OK);
    EXPECT_STREQ(fi.fname, ".");

    ASSERT_EQ(f_opendir(&dj, "/"), FR_OK);
    EXPECT_EQ(list(dj), (std::vector<std::string>{"D", "ROOT.TXT"})) << "no dot entries in the root";
}

TEST_F(ListTest, FullFixedRootListsToItsLastEntry)
{
    char name[16];
    for (int i = 0; i < 512; i++) {
        std::snprintf(name, sizeof name, "/F%d", i);
        put(name, "");
    }
    DIR dj;
    ASSERT_EQ(f_opendir(&dj, ""), FR_OK);
    const std::vector<std::string> names = list(dj, 600);
    ASSERT_EQ(names.size(), 512u);
    EXPECT_EQ(names.back(), "F511");
    FILINFO fi;
    EXPECT_EQ(f_readdir(&dj, &fi), FR_OK);
    EXPECT_EQ(fi.fname[0], 0);
}

TEST_F(ListTest, OpendirAndStatResults)
{
    ASSERT_EQ(f_mkdir("/D"), FR_OK);
    put("/D/F.TXT", "hello");
    DIR dj;
    EXPECT_EQ(f_opendir(&dj, "/D/F.TXT"), FR_NO_PATH);
    EXPECT_EQ(f_opendir(&dj, "/MISSING"), FR_NO_PATH);
    EXPECT_EQ(f_opendir(&dj, "/MISSING/X"), FR_NO_PATH);
    EXPECT_EQ(f_opendir(&dj, "/D/bad*name"), FR_INVALID_NAME);

    FILINFO fi;
    ASSERT_EQ(f_stat("/d/f.txt", &fi), FR_OK);
    EXPECT_STREQ(fi.fname, "F.TXT");
    EXPECT_EQ(fi.fsize, 5u);
    EXPECT_EQ(fi.fattrib, ATTR_ARCHIVE);
    const DWORD stamp = fat_timestamp(2026, 12, 11, 12, 30, 0);
    EXPECT_EQ(fi.fdate, stamp >> 16);
    EXPECT_EQ(fi.ftime, stamp & 0xFFFF);

    EXPECT_EQ(f_stat("/D/NONE.TXT", &fi), FR_NO_FILE);
    EXPECT_EQ(f_stat("/NODIR/F.TXT", &fi), FR_NO_PATH);
    EXPECT_EQ(f_stat("", &fi), FR_INVALID_NAME);
    EXPECT_EQ(f_stat("/", &fi), FR_INVALID_NAME);
    ASSERT_EQ(f_stat("/D/..", &fi), FR_OK);
    EXPECT_STREQ(fi.fname, "..");
    EXPECT_TRUE(fi.fattrib & ATTR_DIRECTORY);
}

TEST_F(ListTest, StaleListingIsRefusedAfterRemount)
{
    DIR dj;
    ASSERT_EQ(f_opendir(&dj, "/"), FR_OK);
    ASSERT_EQ(f_mount(0, &fs_), FR_OK);
    FILINFO fi;
    EXPECT_EQ(f_readdir(&dj, &fi), FR_INVALID_OBJECT);
}

// --- current directory ---------------------------------------------------------

class CwdTest : public VolumeTest {
protected:
    void SetUp() override
    {
        format(FAT32_SMALL);
        ASSERT_EQ(f_mkdir("/DIR"), FR_OK);
        ASSERT_EQ(f_mkdir("/DIR/SUB"), FR_OK);
        ASSERT_EQ(f_mkdir("/DIR/SUB/LEAF.EXT"), FR_OK);
        put("/DIR/FILE.TXT", "x");
    }
};

struct CwdCase {
    const char* name;
    const char* chdir;   // path given to f_chdir (after starting in the root)
    UINT size;           // buffer size
    FRESULT res;
    const char* text;
};

const CwdCase CWDS[] = {
    {"RootFits", "/", 4, FR_OK, "0:/"},
    {"RootOneShort", "/", 3, FR_NOT_ENOUGH_CORE, ""},
    {"RootTerminatorOnly", "/", 1, FR_NOT_ENOUGH_CORE, ""},
    {"TwoLevelsFit", "/DIR/SUB", 11, FR_OK, "0:/DIR/SUB"},
    {"TwoLevelsOneShort", "/DIR/SUB", 10, FR_NOT_ENOUGH_CORE, ""},
    {"ThreeLevelsRelative", "DIR/SUB/LEAF.EXT", 64, FR_OK, "0:/DIR/SUB/LEAF.EXT"},
    {"DotDotFromLeaf", "DIR/SUB/LEAF.EXT/..", 64, FR_OK, "0:/DIR/SUB"},
    {"DotDotToRoot", "/DIR/..", 64, FR_OK, "0:/"},
    {"DriveDotsAndDotDots", "0:/DIR/./SUB/../.", 64, FR_OK, "0:/DIR"},
};

class CwdTable : public CwdTest, public ::testing::WithParamInterface<CwdCase> {};

TEST_P(CwdTable, TextAndBufferLimit)
{
    const CwdCase& c = GetParam();
    ASSERT_EQ(f_chdir(c.chdir), FR_OK);
    std::vector<TCHAR> buf(c.size + 1, '#');
    EXPECT_EQ(f_getcwd(buf.data(), c.size), c.res);
    EXPECT_STREQ(buf.data(), c.text);
    EXPECT_EQ(buf[c.size], '#') << "nothing written past the given size";
}

INSTANTIATE_TEST_SUITE_P(Cases, CwdTable, ::testing::ValuesIn(CWDS),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CwdTest, ZeroSizedBufferIsNotWritten)
{
    TCHAR c = '#';
    EXPECT_EQ(f_getcwd(&c, 0), FR_NOT_ENOUGH_CORE);
    EXPECT_EQ(c, '#');
}

TEST_F(CwdTest, ChdirResultsAndRelativePaths)
{
    EXPECT_EQ(f_chdir("/DIR/FILE.TXT"), FR_NO_PATH);
    EXPECT_EQ(f_chdir("/NOPE"), FR_NO_PATH);
    EXPECT_EQ(f_chdir("/DIR/a:b"), FR_INVALID_NAME);
    ASSERT_EQ(f_chdir("/DIR"), FR_OK);
    const DWORD dir = fs_.cdir;
    EXPECT_NE(dir, 0u);
    ASSERT_EQ(f_chdir(""), FR_OK);
    EXPECT_EQ(fs_.cdir, dir) << "empty path leaves the current directory";
    FILINFO fi;
    EXPECT_EQ(f_stat("FILE.TXT", &fi), FR_OK) << "relative paths start here";
    ASSERT_EQ(f_chdir(".."), FR_OK);
    EXPECT_EQ(fs_.cdir, 0u) << "'..' of a first-level directory holds 0, the root";
    EXPECT_EQ(f_chdrive(0), FR_OK);
    EXPECT_EQ(f_chdrive(1), FR_INVALID_DRIVE);
}

TEST_F(CwdTest, LoopingDotdotEndsTheClimb)
{
    // A damaged tree: the ".." of SUB names SUB itself.
    const DWORD sub = first_cluster("/DIR/SUB");
    ASSERT_EQ(move_window(&fs_, clust2sect(&fs_, sub)), FR_OK);
    st_clust(fs_.win + SZ_DIR, sub);
    fs_.wflag = 1;
    ASSERT_EQ(sync(&fs_), FR_OK);
    ASSERT_EQ(f_chdir("/DIR/SUB"), FR_OK);
    std::vector<TCHAR> buf(4096, '#');
    EXPECT_NE(f_getcwd(buf.data(), static_cast<UINT>(buf.size())), FR_OK);
    EXPECT_EQ(buf[0], 0);
}

// --- free space ---------------------------------------------------------------

TEST_F(CwdTest, GetfreeUsesPlausibleCacheAndCountsOtherwise)
{
    FATFS* pfs = nullptr;
    DWORD cached = 0;
    ASSERT_EQ(f_getfree("", &cached, &pfs), FR_OK);
    EXPECT_EQ(pfs, &fs_);

    for (DWORD bogus : {0xFFFFFFFFu, fs_.n_fatent - 1}) {
        fs_.free_clust = bogus;
        fs_.fsi_flag = 0;
        disk_->clear_calls();
        DWORD counted = 0;
        ASSERT_EQ(f_getfree("0:", &counted, &pfs), FR_OK);
        EXPECT_EQ(counted, cached);
        EXPECT_GT(disk_->count(DiskOp::Read), 0u) << "the FAT was read";
        EXPECT_EQ(fs_.fsi_flag, 1) << "FAT32 rewrites FSInfo at the next sync";
    }
    // Known count: no FAT read, and allocation keeps it up to date.
    put("/ONE.BIN", "1");
    disk_->clear_calls();
    DWORD after = 0;
    ASSERT_EQ(f_getfree("", &after, &pfs), FR_OK);
    EXPECT_EQ(after, cached - 1);
    EXPECT_EQ(disk_->count(DiskOp::Read), 0u);
    // The sync of that file wrote the count into FSInfo (sector 1).
    EXPECT_EQ(ld_dword(disk_->sector(1) + FSI_Free_Count), after);
}

TEST_F(CwdTest, GetfreeReadErrorKeepsCache)
{
    fs_.free_clust = 0xFFFFFFFF;
    fs_.fsi_flag = 0;
    ASSERT_EQ(move_window(&fs_, 0), FR_OK);
    fs_.winsect = 0;  // force the FAT to be read
    disk_->fail_sector(DiskOp::Read, fs_.fatbase + 1);
    DWORD n = 77;
    FATFS* pfs = nullptr;
    EXPECT_EQ(f_getfree("", &n, &pfs), FR_DISK_ERR);
    EXPECT_EQ(n, 77u);
    EXPECT_EQ(fs_.free_clust, 0xFFFFFFFFu);
    EXPECT_EQ(fs_.fsi_flag, 0);
}

} // namespace
