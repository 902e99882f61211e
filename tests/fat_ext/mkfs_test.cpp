// f_mkfs: layout numbers on a sparse card, refusals, and the volumes it
// writes checked by fsck.fat and mtools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "fatfs/ff.h"
#include "fatfs/ff_private.h"
#include "fatfs/host/instrumented_disk.h"
#include "fatfs/host/memory_disk.h"

using namespace ff;

namespace {

// A card of any size in memory (only what is written takes room), seen
// through the recording wrapper as drive 0.
struct Card {
    MemoryDisk medium;
    InstrumentedDisk drive{medium};
    Card() { drive.attach(0); }

    // A blank card of `sectors` sectors, nothing recorded, no faults.
    void reset(DWORD sectors)
    {
        medium.reset(sectors);
        medium.set_erase_block(1);
        medium.set_write_protect(false);
        drive.clear_calls();
        drive.clear_faults();
    }
    bool wrote_outside() const { return drive.count(DiskOp::Write, RES_PARERR) != 0; }
    bool wrote_nothing() const { return drive.written_sectors().empty(); }
    DWORD highest_written() const
    {
        DWORD top = 0;
        for (DWORD s : drive.written_sectors()) top = std::max(top, s);
        return top;
    }
};

Card& card()
{
    static Card c;
    return c;
}

DWORD le16(const BYTE* p) { return ld_word(p); }
DWORD le32(const BYTE* p) { return ld_dword(p); }

struct Layout {
    BYTE fs_type = 0;
    DWORD csize = 0;
    DWORD clusters = 0;
    DWORD fatbase = 0;
    DWORD database = 0;
    DWORD free_count = 0;
};

// Mounts what f_mkfs wrote and reads back the geometry the module derives.
Layout mount_layout()
{
    static FATFS fs;
    f_mount(0, &fs);
    Layout l;
    DWORD nfree = 0;
    FATFS* pfs = nullptr;
    if (f_getfree("", &nfree, &pfs) != FR_OK) return l;
    l.fs_type = pfs->fs_type;
    l.csize = pfs->csize;
    l.clusters = pfs->n_fatent - 2;
    l.fatbase = pfs->fatbase;
    l.database = pfs->database;
    l.free_count = nfree;
    return l;
}

FRESULT format(DWORD sectors, BYTE sfd, UINT au, DWORD block = 1)
{
    card().reset(sectors);
    card().medium.set_erase_block(block);
    static FATFS fs;
    f_mount(0, &fs);
    return f_mkfs(0, sfd, au);
}

// The numbers worked out for sample cards (0 = not checked).
struct LayoutCase {
    const char* name;
    DWORD card;
    BYTE sfd;
    UINT au;
    DWORD block;
    FRESULT res;
    BYTE fs_type;
    DWORD csize;
    DWORD clusters;
    DWORD n_rsv;
    DWORD fatbase;
    DWORD n_fat;
    DWORD database;
    BYTE sys;
};

const LayoutCase LAYOUTS[] = {
    // name                 card      sfd au      block  result            type csz clusters n_rsv fatbase n_fat database sys
    {"Fat16TotSec32",       65599,    0, 1024,   1,     FR_OK,            2,   2,  0,       1,    64,     129,  0,       0x06},
    {"Fat16TotSec16",       65598,    0, 1024,   1,     FR_OK,            2,   2,  0,       1,    64,     0,    0,       0x04},
    {"AutoSmallIsFat12",    65599,    0, 0,      1,     FR_OK,            1,   32, 0,       1,    64,     0,    0,       0x01},
    {"AutoRow0",            3906250,  0, 0,      1,     FR_OK,            2,   64, 0,       1,    64,     239,  0,       0x06},
    {"AutoRow4",            200063,   0, 0,      1,     FR_OK,            2,   4,  0,       1,    64,     0,    0,       0x06},
    {"AutoRow5",            70063,    0, 0,      1,     FR_OK,            1,   32, 0,       1,    64,     0,    0,       0x01},
    {"Fat32Aligned",        15523840, 0, 0,      8192,  FR_OK,            3,   64, 242432,  6233, 6296,   1896, 8192,    0x0C},
    {"Fat16Aligned",        3906250,  0, 0,      8192,  FR_OK,            2,   64, 60907,   1,    64,     8096, 8192,    0x06},
    {"BlockZeroNoAlign",    3906250,  0, 0,      0,     FR_OK,            2,   64, 0,       1,    64,     239,  0,       0x06},
    {"BlockHugeNoAlign",    3906250,  0, 0,      65536, FR_OK,            2,   64, 0,       1,    64,     239,  0,       0x06},
    {"Fat16Largest",        4193663,  1, 0,      1,     FR_OK,            2,   64, 0,       1,    1,      0,    0,       0},
    {"GapLow",              4193664,  1, 0,      1,     FR_MKFS_ABORTED,  0,   0,  0,       0,    0,      0,    0,       0},
    {"GapHigh",             4194207,  1, 0,      1,     FR_MKFS_ABORTED,  0,   0,  0,       0,    0,      0,    0,       0},
    {"Fat32Smallest",       4194208,  1, 0,      1,     FR_OK,            3,   64, 65526,   32,   32,     512,  0,       0},
    {"AuBelowSector",       20000,    1, 256,    1,     FR_OK,            2,   1,  0,       1,    1,      0,    0,       0},
    {"AuAbove128Sectors",   65599,    0, 131072, 1,     FR_OK,            1,   128,0,       1,    64,     0,    0,       0x01},
    {"Smallest",            128,      1, 0,      1,     FR_OK,            1,   1,  94,      1,    1,      1,    34,      0},
    {"TooSmall",            127,      1, 0,      1,     FR_DISK_ERR,      0,   0,  0,       0,    0,      0,    0,       0},
    {"AuNotPowerOfTwo",     65599,    0, 3,      1,     FR_INVALID_PARAMETER, 0, 0, 0,      0,    0,      0,    0,       0},
    // A small cluster on a huge card: more clusters than a FAT32 entry can name.
    {"Fat32TooManyClusters",0x10000000,1, 512,   1,     FR_MKFS_ABORTED,  0,   0,  0,       0,    0,      0,    0,       0},
    // A large erase block leaves no room for a cluster on a small card.
    {"AlignmentEatsVolume", 200,      1, 512,    32768, FR_MKFS_ABORTED,  0,   0,  0,       0,    0,      0,    0,       0},
    {"AlignmentEatsFat32",  70000,    1, 512,    32768, FR_MKFS_ABORTED,  0,   0,  0,       0,    0,      0,    0,       0},
};

class MkfsLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(MkfsLayout, WritesTheWorkedOutGeometry)
{
    const LayoutCase& c = GetParam();
    ASSERT_EQ(format(c.card, c.sfd, c.au, c.block), c.res);
    EXPECT_FALSE(card().wrote_outside());
    if (c.res != FR_OK) {
        EXPECT_TRUE(card().wrote_nothing()) << "a refused format writes nothing";
        return;
    }
    const DWORD b_vol = c.sfd ? 0 : 63;
    const DWORD n_vol = c.card - b_vol;
    const BYTE* bs = card().medium.sector(b_vol);
    EXPECT_EQ(le16(bs + BPB_BytsPerSec), 512u);
    EXPECT_EQ(bs[BPB_NumFATs], 1);
    EXPECT_EQ(le32(bs + BPB_HiddSec), b_vol);
    EXPECT_EQ(bs[BPB_Media], c.sfd ? 0xF0 : 0xF8);
    if (n_vol < 0x10000) {
        EXPECT_EQ(le16(bs + BPB_TotSec16), n_vol);
        EXPECT_EQ(le32(bs + BPB_TotSec32), 0u);
    } else {
        EXPECT_EQ(le16(bs + BPB_TotSec16), 0u);
        EXPECT_EQ(le32(bs + BPB_TotSec32), n_vol);
    }
    if (c.n_rsv) { EXPECT_EQ(le16(bs + BPB_RsvdSecCnt), c.n_rsv); }
    const DWORD n_fat = c.fs_type == 3 ? le32(bs + BPB_FATSz32) : le16(bs + BPB_FATSz16);
    if (c.n_fat) { EXPECT_EQ(n_fat, c.n_fat); }

    if (c.sfd == 0) {
        const BYTE* mbr = card().medium.sector(0);
        EXPECT_EQ(mbr[MBR_Table + PTE_System], c.sys);
        EXPECT_EQ(le32(mbr + MBR_Table + PTE_StLba), 63u);
        EXPECT_EQ(le32(mbr + MBR_Table + PTE_SizLba), n_vol);
        EXPECT_EQ(mbr[510], 0x55);
        EXPECT_EQ(mbr[511], 0xAA);
    }

    const Layout l = mount_layout();
    EXPECT_EQ(l.fs_type, c.fs_type);
    EXPECT_EQ(l.csize, c.csize);
    if (c.clusters) { EXPECT_EQ(l.clusters, c.clusters); }
    if (c.fatbase) { EXPECT_EQ(l.fatbase, c.fatbase); }
    if (c.database) { EXPECT_EQ(l.database, c.database); }
    if (c.block > 1 && c.block <= 32768) { EXPECT_EQ(l.database % c.block, 0u) << "data area on an erase block"; }
    // The free count: FSInfo on FAT32 (all but the root cluster); counted on FAT12/16.
    EXPECT_EQ(l.free_count, c.fs_type == 3 ? l.clusters - 1 : l.clusters);
    EXPECT_LE(card().highest_written(), c.card - 1);
}

INSTANTIATE_TEST_SUITE_P(Cards, MkfsLayout, ::testing::ValuesIn(LAYOUTS),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Mkfs, Fat32SystemSectors)
{
    ASSERT_EQ(format(15523840, 0, 0, 8192), FR_OK);
    const BYTE* bs = card().medium.sector(63);
    const BYTE* backup = card().medium.sector(63 + 6);
    EXPECT_EQ(std::vector<BYTE>(bs, bs + 512), std::vector<BYTE>(backup, backup + 512));
    EXPECT_EQ(le32(bs + BPB_RootClus), 2u);
    EXPECT_EQ(le16(bs + BPB_FSInfo), 1u);
    EXPECT_EQ(le16(bs + BPB_BkBootSec), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bs + BS_FilSysType32), 8), "FAT32   ");
    for (DWORD s : {63u + 1, 63u + 7}) {
        const BYTE* fsi = card().medium.sector(s);
        EXPECT_EQ(le32(fsi + FSI_LeadSig), FSI_LEAD_SIG_VALUE);
        EXPECT_EQ(le32(fsi + FSI_StrucSig), FSI_STRUC_SIG_VALUE);
        EXPECT_EQ(le32(fsi + FSI_Free_Count), 242431u);
        EXPECT_EQ(le32(fsi + FSI_Nxt_Free), 2u);
    }
    // FAT: reserved entries, then the root cluster's end mark.
    const BYTE* fat = card().medium.sector(6296);
    EXPECT_EQ(le32(fat + 0), 0xFFFFFFF8u);
    EXPECT_EQ(le32(fat + 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(fat + 8), 0x0FFFFFFFu);
    // Partition entry CHS: end cylinder 966 (bits 8-9 in the sector byte).
    const BYTE* pte = card().medium.sector(0) + MBR_Table;
    EXPECT_EQ(pte[1], 1);
    EXPECT_EQ(pte[2], 1);
    EXPECT_EQ(pte[5], 254);
    EXPECT_EQ(pte[6], ((966 >> 2) & 0xC0) | 63);
    EXPECT_EQ(pte[7], 966 & 0xFF);
}

TEST(Mkfs, RefusesBadArgumentsAndStates)
{
    card().reset(65599);
    static FATFS fs;
    f_mount(0, &fs);
    EXPECT_EQ(f_mkfs(1, 0, 0), FR_INVALID_DRIVE);
    EXPECT_EQ(f_mkfs(0, 2, 0), FR_INVALID_PARAMETER);
    card().medium.set_write_protect(true);
    EXPECT_EQ(f_mkfs(0, 0, 0), FR_WRITE_PROTECTED);
    card().medium.set_write_protect(false);
    f_mount(0, nullptr);
    EXPECT_EQ(f_mkfs(0, 0, 0), FR_NOT_ENABLED);
    EXPECT_TRUE(card().wrote_nothing());
}

TEST(Mkfs, FailedBlockQueryMeansNoAlignment)
{
    card().reset(3906250);
    card().drive.fail_ioctl(IOCTL_BLOCK_SIZE);
    static FATFS fs;
    f_mount(0, &fs);
    ASSERT_EQ(f_mkfs(0, 0, 0), FR_OK);
    EXPECT_EQ(le16(card().medium.sector(63) + BPB_FATSz16), 239u);
}

// Whichever sector fails to be written (the partition table, a FAT or root
// directory sector, FSInfo and its copy, the backup or the real boot
// sector), the format reports the failure.
TEST(Mkfs, EveryFailedWriteIsReported)
{
    for (const auto& [card_sectors, sfd, au] : {std::tuple<DWORD, BYTE, UINT>{70000, 1, 512}, {20000, 0, 0}}) {
        ASSERT_EQ(format(card_sectors, sfd, au), FR_OK);
        std::vector<DWORD> written = card().drive.written_sectors();
        std::sort(written.begin(), written.end());
        written.erase(std::unique(written.begin(), written.end()), written.end());
        for (DWORD s : written) {
            card().reset(card_sectors);
            card().drive.fail_sector(DiskOp::Write, s);
            static FATFS fs;
            f_mount(0, &fs);
            EXPECT_EQ(f_mkfs(0, sfd, au), FR_DISK_ERR) << card_sectors << " sectors, write of sector " << s;
        }
    }
}

// --- Interoperability with fsck.fat and mtools -----------------------------

bool have_tools()
{
    return std::system("command -v fsck.fat >/dev/null 2>&1 && command -v mcopy >/dev/null 2>&1") == 0;
}

int run(const std::string& cmd, std::string* out = nullptr)
{
    const std::string full = "MTOOLS_SKIP_CHECK=1 " + cmd + " 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int rc = pclose(p);
    if (out) *out = text;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

struct InteropCase {
    const char* name;
    DWORD card;
    BYTE sfd;
    UINT au;
    DWORD block;
};

const InteropCase INTEROP[] = {
    {"Fat12Whole", 4096, 1, 0, 1},
    {"Fat12Partitioned", 20000, 0, 0, 1},
    {"Fat16Whole", 65599, 1, 1024, 1},
    {"Fat16PartitionedAligned", 204800, 0, 0, 8192},
    {"Fat32Whole", 70000, 1, 512, 1},
    {"Fat32PartitionedAligned", 140000, 0, 1024, 8192},
};

class MkfsInterop : public ::testing::TestWithParam<InteropCase> {
protected:
    void SetUp() override
    {
        if (!have_tools()) GTEST_SKIP() << "fsck.fat or mtools not installed";
        char tmpl[] = "/tmp/fat_mkfs_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override
    {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    // fsck.fat -n on the volume alone (partition cut out), must find nothing.
    void expect_fsck_clean(DWORD b_vol)
    {
        const std::string vol = dir_ + "/vol.img";
        ASSERT_TRUE(card().medium.save_raw(vol, b_vol));
        std::string out;
        EXPECT_EQ(run("fsck.fat -n " + vol, &out), 0) << out;
    }
    std::string dir_;
};

TEST_P(MkfsInterop, FsckCleanAndMtoolsReadsAndWrites)
{
    const InteropCase& c = GetParam();
    ASSERT_EQ(format(c.card, c.sfd, c.au, c.block), FR_OK);
    const DWORD b_vol = c.sfd ? 0 : 63;
    expect_fsck_clean(b_vol);

    // mtools writes a directory and a file of a few clusters into the new volume.
    const std::string img = dir_ + "/card.img";
    ASSERT_TRUE(card().medium.save_raw(img));
    const std::string target = "-i " + img + "@@" + std::to_string(b_vol * 512) + " ";
    std::string payload;
    for (int i = 0; i < 70000; i++) payload += static_cast<char>('A' + i % 23);
    {
        std::ofstream(dir_ + "/data.bin", std::ios::binary) << payload;
    }
    std::string out;
    ASSERT_EQ(run("mmd " + target + "::/SUB", &out), 0) << out;
    ASSERT_EQ(run("mcopy " + target + dir_ + "/data.bin ::/SUB/DATA.BIN", &out), 0) << out;
    ASSERT_EQ(run("mdir " + target + "::/SUB", &out), 0) << out;
    EXPECT_NE(out.find("DATA"), std::string::npos) << out;

    // The module reads mtools' file and writes one of its own.
    ASSERT_TRUE(card().medium.load_raw(img));
    static FATFS fs;
    ASSERT_EQ(f_mount(0, &fs), FR_OK);
    FIL f;
    ASSERT_EQ(f_open(&f, "/SUB/DATA.BIN", FM_READ), FR_OK);
    std::string back(payload.size() + 10, '\0');
    UINT br = 0;
    ASSERT_EQ(f_read(&f, back.data(), static_cast<UINT>(back.size()), &br), FR_OK);
    back.resize(br);
    EXPECT_EQ(back, payload);
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_open(&f, "/SUB/MINE.TXT", FM_WRITE | FM_CREATE_NEW), FR_OK);
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, payload.data(), 5000, &bw), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_TRUE(card().medium.save_raw(img));

    ASSERT_EQ(run("mcopy -n " + target + "::/SUB/MINE.TXT " + dir_ + "/mine.txt", &out), 0) << out;
    std::ifstream in(dir_ + "/mine.txt", std::ios::binary);
    const std::string mine((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(mine, payload.substr(0, 5000));
    expect_fsck_clean(b_vol);
}

INSTANTIATE_TEST_SUITE_P(Volumes, MkfsInterop, ::testing::ValuesIn(INTEROP),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
