// f_unlink, f_mkdir, f_chmod, f_utime, f_rename.
#include "fixture.h"

namespace {

// The ".." entry (entry 1) of the directory whose first cluster is `dcl`.
DWORD dotdot_of(FATFS& fs, DWORD dcl)
{
    EXPECT_EQ(move_window(&fs, clust2sect(&fs, dcl)), FR_OK);
    EXPECT_EQ(fs.win[SZ_DIR + 1], '.');
    return ld_clust(fs.win + SZ_DIR);
}

class NamespaceTest : public VolumeTest, public ::testing::WithParamInterface<VolumeShape> {
protected:
    void SetUp() override { format(GetParam()); }
};

TEST_P(NamespaceTest, UnlinkRefusals)
{
    ASSERT_EQ(f_mkdir("/D"), FR_OK);
    put("/D/F.TXT", "data");
    ASSERT_EQ(f_mkdir("/E"), FR_OK);
    put("/RO.TXT", "ro");
    ASSERT_EQ(f_chmod("/RO.TXT", ATTR_READ_ONLY, ATTR_READ_ONLY), FR_OK);

    EXPECT_EQ(f_unlink("/D"), FR_DENIED) << "not empty";
    EXPECT_EQ(f_unlink("/RO.TXT"), FR_DENIED) << "read-only";
    EXPECT_EQ(f_unlink("/D/."), FR_INVALID_NAME);
    EXPECT_EQ(f_unlink("/D/.."), FR_INVALID_NAME);
    EXPECT_EQ(f_unlink("/"), FR_INVALID_NAME);
    EXPECT_EQ(f_unlink(""), FR_INVALID_NAME);
    EXPECT_EQ(f_unlink("/NONE"), FR_NO_FILE);
    ASSERT_EQ(f_chdir("/E"), FR_OK);
    EXPECT_EQ(f_unlink("/E"), FR_DENIED) << "current directory, even when empty";
    ASSERT_EQ(f_chdir("/"), FR_OK);

    // Emptied of everything but deleted entries, the directory goes, and so do its clusters.
    const DWORD before = free_clusters();
    ASSERT_EQ(f_unlink("/D/F.TXT"), FR_OK);
    ASSERT_EQ(f_unlink("/D"), FR_OK);
    ASSERT_EQ(f_unlink("/E"), FR_OK);
    EXPECT_EQ(free_clusters(), before + 3);
    FILINFO fi;
    EXPECT_EQ(f_stat("/D", &fi), FR_NO_FILE);
}

TEST_P(NamespaceTest, UnlinkEmptyFileLeavesFatAlone)
{
    put("/EMPTY", "");
    disk_->clear_calls();
    ASSERT_EQ(f_unlink("/EMPTY"), FR_OK);
    for (DWORD s : disk_->written_sectors())
        EXPECT_FALSE(s >= fs_.fatbase && s < fs_.fatbase + fs_.fsize) << "FAT sector " << s << " written";
}

TEST_P(NamespaceTest, MkdirEntriesAndResults)
{
    put("/F.TXT", "x");
    EXPECT_EQ(f_mkdir("/F.TXT"), FR_EXIST);
    EXPECT_EQ(f_mkdir(""), FR_EXIST);
    ASSERT_EQ(f_mkdir("/A"), FR_OK);
    EXPECT_EQ(f_mkdir("/A/."), FR_EXIST);
    EXPECT_EQ(f_mkdir("/A/.."), FR_EXIST);
    EXPECT_EQ(f_mkdir("/NONE/X"), FR_NO_PATH);
    ASSERT_EQ(f_mkdir("/A/B"), FR_OK);

    const DWORD a = first_cluster("/A");
    const DWORD b = first_cluster("/A/B");
    EXPECT_EQ(dotdot_of(fs_, a), 0u) << "parent is the root: 0 on every FAT type";
    EXPECT_EQ(dotdot_of(fs_, b), a);
    // ".", ".." and the new entry share one time stamp; the rest of the cluster is zero.
    ASSERT_EQ(move_window(&fs_, clust2sect(&fs_, b)), FR_OK);
    EXPECT_EQ(ld_clust(fs_.win), b);
    const DWORD stamp = fat_timestamp(2026, 12, 11, 12, 30, 0);
    EXPECT_EQ(ld_dword(fs_.win + DIR_WrtTime), stamp);
    EXPECT_EQ(ld_dword(fs_.win + SZ_DIR + DIR_WrtTime), stamp);
    for (UINT i = 2 * SZ_DIR; i < SECTOR_SIZE; i++) ASSERT_EQ(fs_.win[i], 0) << i;
    FILINFO fi;
    ASSERT_EQ(f_stat("/A/B", &fi), FR_OK);
    EXPECT_EQ(fi.fattrib, ATTR_DIRECTORY);
    EXPECT_EQ((DWORD)fi.fdate << 16 | fi.ftime, stamp);
}

TEST_P(NamespaceTest, RenameAcrossDirectoriesFixesDotdot)
{
    ASSERT_EQ(f_mkdir("/X"), FR_OK);
    ASSERT_EQ(f_mkdir("/Y"), FR_OK);
    ASSERT_EQ(f_mkdir("/X/M"), FR_OK);
    put("/X/M/F.TXT", "payload");
    const DWORD m = first_cluster("/X/M");

    ASSERT_EQ(f_rename("/X/M", "/Y/N"), FR_OK);
    EXPECT_EQ(dotdot_of(fs_, m), first_cluster("/Y"));
    EXPECT_EQ(get("/Y/N/F.TXT"), "payload");
    FILINFO fi;
    EXPECT_EQ(f_stat("/X/M", &fi), FR_NO_FILE);

    ASSERT_EQ(f_rename("/Y/N", "/TOP"), FR_OK);
    EXPECT_EQ(dotdot_of(fs_, m), 0u) << "moved to the root";
    ASSERT_EQ(f_rename("/TOP", "/TOP2"), FR_OK);
    EXPECT_EQ(dotdot_of(fs_, m), 0u);

    // Into the current directory by a relative path.
    ASSERT_EQ(f_chdir("/X"), FR_OK);
    ASSERT_EQ(f_rename("/TOP2", "BACK"), FR_OK);
    EXPECT_EQ(dotdot_of(fs_, m), first_cluster("/X"));
}

TEST_P(NamespaceTest, RenameKeepsEntryFieldsAddsArchive)
{
    put("/OLD.TXT", "12345");
    ASSERT_EQ(f_chmod("/OLD.TXT", ATTR_HIDDEN, 0xFF), FR_OK);  // archive cleared, hidden set
    FILINFO before;
    ASSERT_EQ(f_stat("/OLD.TXT", &before), FR_OK);
    const DWORD cl = first_cluster("/OLD.TXT");
    put("/OTHER.TXT", "o");

    EXPECT_EQ(f_rename("/OLD.TXT", "/OTHER.TXT"), FR_EXIST);
    EXPECT_EQ(f_rename("/OLD.TXT", "."), FR_EXIST);
    EXPECT_EQ(f_rename("/OLD.TXT", "0:/NEW.TXT"), FR_INVALID_NAME);
    EXPECT_EQ(f_rename("", "/NEW.TXT"), FR_NO_FILE);
    EXPECT_EQ(f_rename("/NONE", "/NEW.TXT"), FR_NO_FILE);

    ASSERT_EQ(f_rename("/OLD.TXT", "/new.txt"), FR_OK);
    FILINFO after;
    ASSERT_EQ(f_stat("/NEW.TXT", &after), FR_OK);
    EXPECT_EQ(after.fsize, before.fsize);
    EXPECT_EQ(after.fdate, before.fdate);
    EXPECT_EQ(after.ftime, before.ftime);
    EXPECT_EQ(after.fattrib, ATTR_HIDDEN | ATTR_ARCHIVE);
    EXPECT_EQ(first_cluster("/NEW.TXT"), cl);
    EXPECT_EQ(f_stat("/OLD.TXT", &after), FR_NO_FILE);
}

TEST_P(NamespaceTest, DirectoryCannotMoveIntoItself)
{
    ASSERT_EQ(f_mkdir("/A"), FR_OK);
    ASSERT_EQ(f_mkdir("/A/B"), FR_OK);
    ASSERT_EQ(f_mkdir("/A/B/C"), FR_OK);
    const std::vector<BYTE> image = disk_->bytes();

    for (const char* target : {"/A/X", "/A/B/A", "/A/B/C/A"}) {
        EXPECT_EQ(f_rename("/A", target), FR_INVALID_NAME) << target;
        EXPECT_TRUE(disk_->bytes() == image) << "nothing changed for " << target;
    }
    ASSERT_EQ(f_chdir("/A/B"), FR_OK);
    EXPECT_EQ(f_rename("/A", "C/A"), FR_INVALID_NAME);
    ASSERT_EQ(f_chdir("/"), FR_OK);
    // Sideways and upwards moves are fine.
    ASSERT_EQ(f_rename("/A/B/C", "/C"), FR_OK);
    ASSERT_EQ(f_rename("/A/B", "/C/B"), FR_OK);
    DIR dj;
    EXPECT_EQ(f_opendir(&dj, "/C/B"), FR_OK);
}

TEST_P(NamespaceTest, ChmodAndUtime)
{
    ASSERT_EQ(f_mkdir("/D"), FR_OK);
    ASSERT_EQ(f_chmod("/D", ATTR_READ_ONLY | ATTR_SYSTEM | ATTR_VOLUME_ID, 0xFF), FR_OK);
    FILINFO fi;
    ASSERT_EQ(f_stat("/D", &fi), FR_OK);
    EXPECT_EQ(fi.fattrib, ATTR_DIRECTORY | ATTR_READ_ONLY | ATTR_SYSTEM) << "directory bit kept, label bit ignored";
    ASSERT_EQ(f_chmod("/D", 0, 0xFF), FR_OK);
    ASSERT_EQ(f_stat("/D", &fi), FR_OK);
    EXPECT_EQ(fi.fattrib, ATTR_DIRECTORY);
    EXPECT_EQ(f_chmod("/D/..", 0, 0xFF), FR_INVALID_NAME);
    EXPECT_EQ(f_chmod("/", 0, 0xFF), FR_INVALID_NAME);

    FILINFO t{};
    t.fdate = 0xFFFF;  // not validated
    t.ftime = 0x1234;
    ASSERT_EQ(f_utime("/D", &t), FR_OK);
    ASSERT_EQ(f_stat("/D", &fi), FR_OK);
    EXPECT_EQ(fi.fdate, 0xFFFF);
    EXPECT_EQ(fi.ftime, 0x1234);
    EXPECT_EQ(f_utime("/NONE", &t), FR_NO_FILE);
}

TEST_P(NamespaceTest, WriteProtectedMediumRefusesChanges)
{
    put("/F.TXT", "x");
    disk_->set_write_protect(true);
    FILINFO fi{};
    EXPECT_EQ(f_unlink("/F.TXT"), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_mkdir("/D"), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_chmod("/F.TXT", 0, 0xFF), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_utime("/F.TXT", &fi), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_rename("/F.TXT", "/G.TXT"), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_stat("/F.TXT", &fi), FR_OK);
}

// Long-name entries another system wrote before a short entry go with it.
TEST_P(NamespaceTest, RemovingAnEntryRemovesItsLongName)
{
    ASSERT_EQ(f_mkdir("/D"), FR_OK);
    for (const char* p : {"/D/L1", "/D/L2", "/D/SHORT.TXT", "/D/L3", "/D/L4", "/D/KEEP.TXT"}) put(p, "x");
    DIR dj;
    dj.fs = &fs_;
    dj.sclust = first_cluster("/D");
    auto entry = [&](WORD index) {
        EXPECT_EQ(dir_sdi(&dj, index), FR_OK);
        EXPECT_EQ(move_window(&fs_, dj.sect), FR_OK);
        return dj.dir;
    };
    auto sum_of = [&](WORD index) {
        const BYTE* e = entry(index);
        BYTE sum = 0;
        for (int i = 0; i < 11; i++) sum = static_cast<BYTE>(((sum & 1) << 7) + (sum >> 1) + e[i]);
        return sum;
    };
    // Entries 2, 3: long name of SHORT.TXT (entry 4); 5, 6: of KEEP.TXT (7),
    // but entry 6 carries a wrong checksum, so it and 5 are not KEEP's.
    const BYTE short_sum = sum_of(4), keep_sum = sum_of(7);
    const struct { WORD index; BYTE ord; BYTE sum; } lfn[] = {
        {2, 0x42, short_sum}, {3, 0x01, short_sum}, {5, 0x42, keep_sum}, {6, 0x01, static_cast<BYTE>(keep_sum + 1)}};
    for (const auto& l : lfn) {
        BYTE* e = entry(l.index);
        e[0] = l.ord;
        e[DIR_Attr] = ATTR_LONG_NAME;
        e[13] = l.sum;
        fs_.wflag = 1;
    }
    ASSERT_EQ(sync(&fs_), FR_OK);

    ASSERT_EQ(f_unlink("/D/SHORT.TXT"), FR_OK);
    EXPECT_EQ(entry(2)[0], DDE);
    EXPECT_EQ(entry(3)[0], DDE);
    ASSERT_EQ(f_rename("/D/KEEP.TXT", "/KEPT.TXT"), FR_OK);
    EXPECT_EQ(entry(5)[0], 0x42) << "not part of the moved entry's name";
    EXPECT_EQ(entry(6)[0], 0x01);
    EXPECT_EQ(entry(7)[0], DDE);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NamespaceTest, ::testing::Values(FAT12_SMALL, FAT32_SMALL),
                         [](const auto& info) { return info.param.sectors == FAT12_SMALL.sectors ? "Fat12" : "Fat32"; });

// Full volumes and full fixed roots.

class FullTest : public VolumeTest {};

TEST_F(FullTest, MkdirInFullFixedRootFreesItsCluster)
{
    format(FAT12_SMALL);
    char name[16];
    for (int i = 0; i < 511; i++) {
        std::snprintf(name, sizeof name, "/F%d", i);
        put(name, "");
    }
    ASSERT_EQ(f_mkdir("/LAST"), FR_OK);  // entry 512 of 512
    put("/LAST/X", "");
    const DWORD before = free_clusters();
    EXPECT_EQ(f_mkdir("/MORE"), FR_NO_FILE);
    EXPECT_EQ(free_clusters(), before) << "the cluster taken is given back";
    // ... on the card too, not only in the window: count again after a remount.
    ASSERT_EQ(f_mount(0, &fs_), FR_OK);
    EXPECT_EQ(free_clusters(), before);
    EXPECT_EQ(f_rename("/LAST/X", "/X"), FR_NO_FILE);
    FILINFO fi;
    EXPECT_EQ(f_stat("/LAST/X", &fi), FR_OK) << "nothing changed";
}

TEST_F(FullTest, MkdirOnFullVolumeIsDenied)
{
    format(FAT12_SMALL);
    FIL f;
    ASSERT_EQ(f_open(&f, "/BIG", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
    const std::string chunk(64 * 1024, 'z');
    UINT bw = 0;
    do {
        ASSERT_EQ(f_write(&f, chunk.data(), static_cast<UINT>(chunk.size()), &bw), FR_OK);
    } while (bw == chunk.size());
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(f_mkdir("/D"), FR_DENIED);
    FILINFO fi;
    EXPECT_EQ(f_stat("/D", &fi), FR_NO_FILE);
}

} // namespace
