// Directory cursor operations on fixed and chained tables.
#include "fat_support.h"

namespace {

void put_dirent(BYTE* ent, const char* name11, BYTE attr, DWORD clust = 0, DWORD size = 0)
{
    std::memset(ent, 0, SZ_DIR);
    std::memcpy(ent, name11, 11);
    ent[DIR_Attr] = attr;
    st_clust(ent, clust);
    st_dword(ent + DIR_FileSize, size);
}

} // namespace

class Dir : public MountedVolume {
protected:
    BYTE sfn[12] {};
    DIR dj {};

    void cursor(DWORD sclust)
    {
        dj = DIR {};
        dj.fs = &fs;
        dj.sclust = sclust;
        dj.fn = sfn;
    }
    void name(const char* n11) { std::memcpy(sfn, n11, 11); }

    // Root entry i (fixed root of FAT12/16).
    BYTE* root_entry(UINT i) { return disk->sector(geo.rootbase + i / 16) + (i % 16) * SZ_DIR; }
    BYTE* cluster_entry(DWORD cl, UINT i)
    {
        return disk->sector(geo.database + (cl - 2) * spec.csize + i / 16) + (i % 16) * SZ_DIR;
    }
    // A one-cluster subdirectory at cluster `cl`, named in root entry `slot`.
    void make_subdir(UINT slot, const char* n11, DWORD cl)
    {
        put_dirent(root_entry(slot), n11, ATTR_DIRECTORY, cl);
        set_fat_entry(cl, 0xFFFF);
        put_dirent(cluster_entry(cl, 0), ".          ", ATTR_DIRECTORY, cl);
        put_dirent(cluster_entry(cl, 1), "..         ", ATTR_DIRECTORY, 0);
    }
};

TEST_F(Dir, PlacingTheCursor)
{
    mount({});
    cursor(0);
    ASSERT_EQ(dir_sdi(&dj, 17), FR_OK);
    EXPECT_EQ(dj.clust, 0u);
    EXPECT_EQ(dj.sect, geo.rootbase + 1);
    EXPECT_EQ(dj.dir, fs.win + 32);
    EXPECT_EQ(dir_sdi(&dj, 512), FR_INT_ERR);  // beyond the fixed root

    make_subdir(0, "SUB        ", 10);
    cursor(10);
    EXPECT_EQ(dir_sdi(&dj, 15), FR_OK);
    EXPECT_EQ(dj.sect, geo.database + 8);
    EXPECT_EQ(dir_sdi(&dj, 16), FR_INT_ERR);  // beyond the chain

    disk->clear_calls();
    for (DWORD bad : {1u, fs.n_fatent}) {
        cursor(bad);
        EXPECT_EQ(dir_sdi(&dj, 0), FR_INT_ERR);
    }
    EXPECT_TRUE(disk->calls().empty());

    VolumeSpec s32;
    s32.fat_bits = 32;
    s32.clusters = 70000;
    s32.rsvd = 8;
    s32.root_clus = 5;
    mount(s32);
    cursor(0);
    ASSERT_EQ(dir_sdi(&dj, 3), FR_OK);
    EXPECT_EQ(dj.clust, 5u);
    EXPECT_EQ(dj.sect, geo.database + 3);
}

TEST_F(Dir, StepLimits)
{
    mount({});
    cursor(0);
    ASSERT_EQ(dir_sdi(&dj, 511), FR_OK);
    EXPECT_EQ(dir_next(&dj, 1), FR_NO_FILE);  // the fixed root never grows

    dj.index = 65535;
    dj.sect = 123;
    EXPECT_EQ(dir_next(&dj, 1), FR_NO_FILE);
}

TEST_F(Dir, GrowthAppendsZeroedCluster)
{
    VolumeSpec s;
    s.csize = 4;
    mount(s);
    make_subdir(0, "SUB        ", 10);
    // Leave garbage where the next cluster will be allocated.
    for (DWORD k = 0; k < 4; k++) std::memset(disk->sector(geo.database + 9 * 4 + k), 0xAA, 512);
    cursor(10);
    ASSERT_EQ(dir_sdi(&dj, 63), FR_OK);
    EXPECT_EQ(dir_next(&dj, 0), FR_NO_FILE);
    ASSERT_EQ(dir_sdi(&dj, 63), FR_OK);
    disk->clear_calls();
    ASSERT_EQ(dir_next(&dj, 1), FR_OK);
    EXPECT_EQ(dj.index, 64);
    EXPECT_EQ(dj.clust, 11u);
    EXPECT_EQ(dj.sect, geo.database + 9 * 4);
    ASSERT_EQ(sync(&fs), FR_OK);
    EXPECT_EQ(fat_entry(10), 11u);
    EXPECT_EQ(fat_entry(11), 0xFFFFu);
    for (UINT i = 0; i < 4 * 512; i++) ASSERT_EQ(disk->sector(geo.database + 36)[i], 0) << i;
    const std::vector<DWORD> w = disk->written_sectors();
    for (DWORD sec = geo.database + 36; sec < geo.database + 40; sec++)
        EXPECT_EQ(std::count(w.begin(), w.end(), sec), 1) << sec;
}

TEST_F(Dir, EndMarkHidesLaterEntriesAndLabelsAreInvisible)
{
    mount({});
    put_dirent(root_entry(0), "VOLUME     ", ATTR_VOLUME_ID);
    put_dirent(root_entry(1), "A       TXT", 0);
    put_dirent(root_entry(2), "B       TXT", ATTR_LONG_NAME);  // long-name slot
    put_dirent(root_entry(3), "C       TXT", 0);
    root_entry(3)[0] = DDE;
    put_dirent(root_entry(4), "D       TXT", 0);
    put_dirent(root_entry(6), "LATER   TXT", 0);  // after the end mark at 5

    cursor(0);
    std::vector<std::string> seen;
    ASSERT_EQ(dir_sdi(&dj, 0), FR_OK);
    while (dir_read(&dj) == FR_OK) {
        seen.emplace_back(reinterpret_cast<const char*>(dj.dir), 11);
        if (dir_next(&dj, 0) != FR_OK) break;
    }
    EXPECT_EQ(seen, (std::vector<std::string> {"A       TXT", "D       TXT"}));
    EXPECT_EQ(dj.sect, 0u);
    disk->clear_calls();
    EXPECT_EQ(dir_read(&dj), FR_NO_FILE);  // no medium access once at the end
    EXPECT_TRUE(disk->calls().empty());

    for (const char* n : {"VOLUME     ", "B       TXT", "LATER   TXT"}) {
        cursor(0);
        name(n);
        EXPECT_EQ(dir_find(&dj), FR_NO_FILE) << n;
    }
    cursor(0);
    name("D       TXT");
    ASSERT_EQ(dir_find(&dj), FR_OK);
    EXPECT_EQ(dj.index, 4);
}

TEST_F(Dir, RegisterTakesFirstFreeSlot)
{
    mount({});
    for (UINT i = 0; i < 9; i++) {
        char n[12];
        std::snprintf(n, sizeof n, "F%u      BIN", i);
        put_dirent(root_entry(i), n, 0);
    }
    root_entry(3)[0] = DDE;
    cursor(0);
    name("NEW     BIN");
    ASSERT_EQ(dir_register(&dj), FR_OK);
    EXPECT_EQ(dj.index, 3);
    ASSERT_EQ(sync(&fs), FR_OK);
    std::vector<BYTE> expect(32, 0);
    std::memcpy(expect.data(), "NEW     BIN", 11);
    EXPECT_EQ(std::vector<BYTE>(root_entry(3), root_entry(3) + 32), expect);
}

TEST_F(Dir, RegisterInFullTables)
{
    VolumeSpec s;
    s.fat_bits = 12;
    s.clusters = 20;
    s.root_entries = 16;
    mount(s);
    for (UINT i = 0; i < 16; i++) put_dirent(root_entry(i), "X       BIN", 0);
    cursor(0);
    name("NEW     BIN");
    EXPECT_EQ(dir_register(&dj), FR_NO_FILE);

    // A full one-cluster subdirectory on a full volume cannot grow.
    put_dirent(root_entry(0), "SUB        ", ATTR_DIRECTORY, 2);
    for (DWORD c = 2; c < fs.n_fatent; c++) set_fat_entry(c, 0xFFF);
    for (UINT i = 0; i < 16; i++) put_dirent(cluster_entry(2, i), "Y       BIN", 0);
    cursor(2);
    name("NEW     BIN");
    EXPECT_EQ(dir_register(&dj), FR_DENIED);
}

TEST_F(Dir, RemoveChangesOneByte)
{
    mount({});
    for (UINT i = 0; i < 20; i++) {
        put_dirent(root_entry(i), "OLD     TXT", 0);
        root_entry(i)[0] = DDE;
    }
    put_dirent(root_entry(20), "GONE    TXT", ATTR_ARCHIVE, 7, 100);
    const std::vector<BYTE> before = disk->bytes();
    cursor(0);
    name("GONE    TXT");
    ASSERT_EQ(dir_find(&dj), FR_OK);
    ASSERT_EQ(move_window(&fs, geo.fatbase), FR_OK);  // the window moved meanwhile
    ASSERT_EQ(dir_remove(&dj), FR_OK);
    ASSERT_EQ(sync(&fs), FR_OK);
    std::vector<BYTE> after = disk->bytes();
    const std::size_t at = static_cast<std::size_t>(geo.rootbase + 1) * 512 + 4 * 32;
    EXPECT_EQ(after[at], DDE);
    after[at] = before[at];
    EXPECT_EQ(after, before);
}

// A root cluster outside the volume (0, 1, n_fatent) must not turn into
// sector 0 or another sector outside the data area.
TEST_F(Dir, HostileRootClusterIsRefused)
{
    for (DWORD rc : {0u, 1u, 70002u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(rc);
        VolumeSpec s;
        s.fat_bits = 32;
        s.clusters = 70000;
        s.rsvd = 8;
        s.root_clus = rc;
        mount(s);
        const std::vector<BYTE> before = disk->bytes();
        FIL f;
        EXPECT_EQ(f_open(&f, "NEW.TXT", FM_WRITE | FM_CREATE_ALWAYS), FR_INT_ERR);
        EXPECT_EQ(f_open(&f, "NEW.TXT", FM_READ), FR_INT_ERR);
        EXPECT_EQ(sync(&fs), FR_OK);
        EXPECT_EQ(disk->bytes(), before);
    }
}

TEST_F(Dir, HostileSubdirectoryClusterIsRefused)
{
    mount({});
    put_dirent(root_entry(0), "SUB        ", ATTR_DIRECTORY, 0xFFF0);  // beyond the volume
    FIL f;
    const std::vector<BYTE> before = disk->bytes();
    EXPECT_EQ(f_open(&f, "SUB/NEW.TXT", FM_WRITE | FM_CREATE_ALWAYS), FR_INT_ERR);
    EXPECT_EQ(disk->bytes(), before);
}
