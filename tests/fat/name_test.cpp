// 8.3 names, path resolution and file information.
#include "fat_support.h"

namespace {

struct NameCase {
    const char* segment;
    FRESULT res;
    const char* stored;  // 11 bytes in directory form
    BYTE status;
    std::size_t consumed;  // characters taken off the path
};

} // namespace

TEST(CreateName, Table)
{
    const NameCase cases[] = {
        {"LOL.RAW", FR_OK, "LOL     RAW", 0x04, 8},
        {"lol.raw", FR_OK, "LOL     RAW", 0x1C, 8},
        {"Lol.raw", FR_OK, "LOL     RAW", 0x14, 8},
        {"readme/x", FR_OK, "README     ", 0x08, 7},
        {"foo.", FR_OK, "FOO        ", 0x0C, 5},
        {"../x", FR_OK, "..         ", 0x20, 3},
        {".", FR_OK, ".          ", 0x24, 2},
        {"//a\\b", FR_OK, "A          ", 0x08, 4},
        {"ABCDEFGH.TXT", FR_OK, "ABCDEFGHTXT", 0x04, 13},
        {"A!B", FR_OK, "A!B        ", 0x04, 4},
        {"a#b-c_d", FR_OK, "A#B-C_D    ", 0x0C, 8},
        {"LOL.RAW more", FR_OK, "LOL     RAW", 0x04, 8},
        {"\xE4x.txt", FR_OK, "\xC4X      TXT", 0x14, 7},  // from 0x80 up: no lower-case body
        {"\xA1", FR_OK, "!          ", 0x04, 2},
        {"\xE5" "A", FR_OK, "\xC5" "A         ", 0x04, 3},
        {"...", FR_INVALID_NAME, nullptr, 0, 0},
        {".a", FR_INVALID_NAME, nullptr, 0, 0},
        {"A..B", FR_INVALID_NAME, nullptr, 0, 0},
        {"ABCDEFGHI", FR_INVALID_NAME, nullptr, 0, 0},
        {"A.BCDE", FR_INVALID_NAME, nullptr, 0, 0},
        {"A+B", FR_INVALID_NAME, nullptr, 0, 0},
        {"A;B", FR_INVALID_NAME, nullptr, 0, 0},
        {"A:B", FR_INVALID_NAME, nullptr, 0, 0},
        {"A\x7F", FR_INVALID_NAME, nullptr, 0, 0},
        {" ", FR_INVALID_NAME, nullptr, 0, 0},
        {"", FR_INVALID_NAME, nullptr, 0, 0},
        {"DIR/", FR_OK, "DIR        ", 0x00, 4},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.segment);
        BYTE sfn[12];
        DIR dj {};
        dj.fn = sfn;
        const TCHAR* p = c.segment;
        ASSERT_EQ(create_name(&dj, &p), c.res);
        if (c.res != FR_OK) continue;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(sfn), 11), std::string(c.stored, 11));
        EXPECT_EQ(sfn[NS], c.status);
        EXPECT_EQ(static_cast<std::size_t>(p - c.segment), c.consumed);
    }
}

TEST(ChkChr, FindsCharacterOrTerminator)
{
    EXPECT_EQ(chk_chr("abc", 'b'), 'b');
    EXPECT_EQ(chk_chr("abc", 'x'), 0);
    EXPECT_EQ(chk_chr("a\x7F", 0x7F), 0x7F);
}

class Path : public MountedVolume {
protected:
    void SetUp() override
    {
        mount({});
        write_file("LOL.RAW", pattern(10, 1));
        write_file("NOTADIR.TXT", pattern(5, 2));
        write_file("\xC4" "X.TXT", pattern(7, 3));
        // SUB is a directory with X.TXT inside; X.TXT also in the root.
        const DWORD cl = 100;
        BYTE* root = disk->sector(geo.rootbase);
        BYTE* e = root + 3 * SZ_DIR;  // right after the three files
        std::memcpy(e, "SUB        ", 11);
        e[DIR_Attr] = ATTR_DIRECTORY;
        st_clust(e, cl);
        set_fat_entry(cl, 0xFFFF);
        BYTE* d = disk->sector(geo.database + cl - 2);
        std::memcpy(d, ".          ", 11);
        d[DIR_Attr] = ATTR_DIRECTORY;
        st_clust(d, cl);
        std::memcpy(d + 32, "..         ", 11);
        d[32 + DIR_Attr] = ATTR_DIRECTORY;
        std::memcpy(d + 64, "INNER   TXT", 11);
        fs.winsect = 0;  // the window is stale after the direct edits
        write_file("X.TXT", pattern(3, 4));
    }

    FRESULT resolve(const char* path, DIR& dj)
    {
        dj = DIR {};
        dj.fs = &fs;
        dj.fn = sfn;
        return follow_path(&dj, path);
    }
    BYTE sfn[12] {};
};

TEST_F(Path, Resolution)
{
    struct Case { const char* path; FRESULT res; const char* name; };  // name null: start dir
    const Case cases[] = {
        {"", FR_OK, nullptr},
        {"/", FR_OK, nullptr},
        {"//LOL.RAW", FR_OK, "LOL     RAW"},
        {"//", FR_INVALID_NAME, nullptr},
        {" ", FR_INVALID_NAME, nullptr},
        {"/LOL.RAW", FR_OK, "LOL     RAW"},
        {"\\LOL.RAW", FR_OK, "LOL     RAW"},
        {"lol.raw", FR_OK, "LOL     RAW"},
        {"LOL.RAW trailing", FR_OK, "LOL     RAW"},
        {"\xE4x.txt", FR_OK, "\xC4X      TXT"},
        {"SUB/", FR_INVALID_NAME, nullptr},
        {"SUB/INNER.TXT", FR_OK, "INNER   TXT"},
        {"SUB/../X.TXT", FR_OK, "X       TXT"},
        {"SUB/./INNER.TXT", FR_OK, "INNER   TXT"},
        {"..", FR_OK, nullptr},
        {"/..", FR_OK, nullptr},
        {"../LOL.RAW", FR_OK, "LOL     RAW"},
        {"NOTADIR.TXT/X", FR_NO_PATH, nullptr},
        {"MISSING/X", FR_NO_PATH, nullptr},
        {"MISSING", FR_NO_FILE, nullptr},
        {"A..B", FR_INVALID_NAME, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DIR dj;
        ASSERT_EQ(resolve(c.path, dj), c.res);
        if (c.res != FR_OK) continue;
        if (!c.name) {
            EXPECT_EQ(dj.dir, nullptr);
            EXPECT_EQ(dj.sclust, 0u);
        } else {
            ASSERT_NE(dj.dir, nullptr);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(dj.dir), 11), c.name);
        }
    }
}

TEST_F(Path, RelativeToCurrentDirectory)
{
    fs.cdir = 100;
    DIR dj;
    ASSERT_EQ(resolve("INNER.TXT", dj), FR_OK);
    EXPECT_EQ(dj.sclust, 100u);
    ASSERT_EQ(resolve("..\\LOL.RAW", dj), FR_OK);
    ASSERT_EQ(resolve("", dj), FR_OK);
    EXPECT_EQ(dj.sclust, 100u);
    EXPECT_EQ(dj.dir, nullptr);
    EXPECT_EQ(resolve("LOL.RAW", dj), FR_NO_FILE);
    ASSERT_EQ(resolve("/LOL.RAW", dj), FR_OK);
}

TEST_F(Path, FileInfo)
{
    DIR dj;
    ASSERT_EQ(resolve("SUB/INNER.TXT", dj), FR_OK);
    // A stored 0x05 is shown as 0xE5; an entry without extension has no dot.
    dj.dir[0] = NDDE;
    std::memcpy(dj.dir + 8, "   ", 3);
    dj.dir[DIR_Attr] = ATTR_HIDDEN;
    st_dword(dj.dir + DIR_FileSize, 4242);
    st_word(dj.dir + DIR_WrtDate, 0x1234);
    st_word(dj.dir + DIR_WrtTime, 0x5678);
    FILINFO fi {};
    get_fileinfo(&dj, &fi);
    EXPECT_STREQ(fi.fname, "\xE5NNER");
    EXPECT_EQ(fi.fattrib, ATTR_HIDDEN);
    EXPECT_EQ(fi.fsize, 4242u);
    EXPECT_EQ(fi.fdate, 0x1234);
    EXPECT_EQ(fi.ftime, 0x5678);

    ASSERT_EQ(resolve("ABCDEFGH.TXT", dj), FR_NO_FILE);
    std::memcpy(dj.dir, "ABCDEFGHTXT", 11);
    get_fileinfo(&dj, &fi);
    EXPECT_STREQ(fi.fname, "ABCDEFGH.TXT");

    dj.sect = 0;
    fi.fsize = 77;
    get_fileinfo(&dj, &fi);
    EXPECT_STREQ(fi.fname, "");
    EXPECT_EQ(fi.fsize, 77u);
}
