// f_lseek in normal mode and with the fast-seek link map.
#include "fixture.h"

namespace {

constexpr DWORD FILE_SIZE = 2000;  // four 512-byte clusters, the last one partly used

class SeekTest : public VolumeTest {
protected:
    void SetUp() override
    {
        format(FAT12_SMALL);
        data_ = pattern(FILE_SIZE);
        put("/F.BIN", data_);
    }
    // Reads one byte at the current position and compares it with the pattern.
    void expect_byte_at_position(FIL& f)
    {
        if (f.fptr >= f.fsize) return;
        const DWORD pos = f.fptr;
        char c = 0;
        UINT br = 0;
        ASSERT_EQ(f_read(&f, &c, 1, &br), FR_OK);
        ASSERT_EQ(br, 1u);
        EXPECT_EQ(c, pos < data_.size() ? data_[pos] : c) << "at " << pos;
    }
    std::string data_;
};

struct SeekCase {
    const char* name;
    BYTE mode;
    DWORD from;    // position before the seek
    DWORD to;      // requested offset
    DWORD fptr;    // expected position
    DWORD fsize;   // expected size
};

const SeekCase SEEKS[] = {
    {"Forward", FM_READ, 0, 1000, 1000, FILE_SIZE},
    {"ForwardFromInside", FM_READ, 700, 1900, 1900, FILE_SIZE},
    {"Backward", FM_READ, 1500, 100, 100, FILE_SIZE},
    {"BackwardInsideCluster", FM_READ, 1100, 1025, 1025, FILE_SIZE},
    {"ToEnd", FM_READ, 0, FILE_SIZE, FILE_SIZE, FILE_SIZE},
    {"BeyondEndReadOnlyClips", FM_READ, 0, 5000, FILE_SIZE, FILE_SIZE},
    {"BeyondEndWritableGrows", FM_READ | FM_WRITE, 0, 5000, 5000, 5000},
    {"ExactClusterEnd", FM_READ, 0, 1024, 1024, FILE_SIZE},
    {"ToZero", FM_READ, 1500, 0, 0, FILE_SIZE},
};

class SeekTable : public SeekTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(SeekTable, PositionSizeAndData)
{
    const SeekCase& c = GetParam();
    FIL f;
    ASSERT_EQ(f_open(&f, "/F.BIN", c.mode), FR_OK);
    ASSERT_EQ(f_lseek(&f, c.from), FR_OK);
    ASSERT_EQ(f_lseek(&f, c.to), FR_OK);
    EXPECT_EQ(f.fptr, c.fptr);
    EXPECT_EQ(f.fsize, c.fsize);
    EXPECT_EQ((f.flag & FM_WRITTEN) != 0, c.fsize != FILE_SIZE);
    if (c.fptr > 0) {
        // clust holds the byte before the position (a cluster end keeps its cluster).
        const std::vector<DWORD> cl = chain(f.sclust);
        ASSERT_LT((c.fptr - 1) / 512, cl.size());
        EXPECT_EQ(f.clust, cl[(c.fptr - 1) / 512]);
    }
    expect_byte_at_position(f);
    ASSERT_EQ(f_close(&f), FR_OK);
    if (c.fsize != FILE_SIZE) {
        // The enlarged file keeps its old bytes and is recorded with its new size and chain.
        const std::string now = get("/F.BIN");
        ASSERT_EQ(now.size(), c.fsize);
        EXPECT_EQ(now.substr(0, FILE_SIZE), data_);
        EXPECT_EQ(chain(first_cluster("/F.BIN")).size(), (c.fsize + 511) / 512);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SeekTable, ::testing::ValuesIn(SEEKS),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SeekTest, ToZeroAndToCurrentPositionTouchNoMedium)
{
    FIL f;
    ASSERT_EQ(f_open(&f, "/F.BIN", FM_READ), FR_OK);
    ASSERT_EQ(f_lseek(&f, 700), FR_OK);
    disk_->clear_calls();
    ASSERT_EQ(f_lseek(&f, 700), FR_OK);
    ASSERT_EQ(f_lseek(&f, 0), FR_OK);
    EXPECT_EQ(disk_->count(DiskOp::Read) + disk_->count(DiskOp::Write), 0u);
}

TEST_F(SeekTest, DirtyBufferWrittenBeforeAnotherSectorLoads)
{
    FIL f;
    ASSERT_EQ(f_open(&f, "/F.BIN", FM_READ | FM_WRITE), FR_OK);
    ASSERT_EQ(f_lseek(&f, 10), FR_OK);
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, "xyz", 3, &bw), FR_OK);
    ASSERT_EQ(f_lseek(&f, 1500), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    std::string expect = data_;
    expect.replace(10, 3, "xyz");
    EXPECT_EQ(get("/F.BIN"), expect);
}

TEST_F(SeekTest, EnlargingOnFullVolumeStopsAtLastCluster)
{
    // Fill the volume with a second file, leaving no free cluster.
    FIL big;
    ASSERT_EQ(f_open(&big, "/BIG.BIN", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
    const std::string chunk(64 * 1024, 'x');
    UINT bw = 0;
    do {
        ASSERT_EQ(f_write(&big, chunk.data(), static_cast<UINT>(chunk.size()), &bw), FR_OK);
    } while (bw == chunk.size());
    ASSERT_EQ(f_close(&big), FR_OK);
    ASSERT_EQ(free_clusters(), 0u);

    FIL f;
    ASSERT_EQ(f_open(&f, "/F.BIN", FM_READ | FM_WRITE), FR_OK);
    ASSERT_EQ(f_lseek(&f, 100000), FR_OK);
    EXPECT_EQ(f.fptr, 2048u) << "end of the last cluster the file has";
    EXPECT_EQ(f.fsize, 2048u);
    ASSERT_EQ(f_close(&f), FR_OK);

    FIL e;
    ASSERT_EQ(f_open(&e, "/EMPTY.BIN", FM_READ | FM_WRITE | FM_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_lseek(&e, 3000), FR_OK);
    EXPECT_EQ(e.fptr, 0u);
    EXPECT_EQ(e.sclust, 0u);
    ASSERT_EQ(f_close(&e), FR_OK);
}

TEST_F(SeekTest, ReadOnlySeekOnSizeWithoutClustersAllocatesNothing)
{
    // A corrupt entry: a size but no cluster chain.
    FIL w;
    ASSERT_EQ(f_open(&w, "/BAD.BIN", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
    w.fsize = 1000;
    ASSERT_EQ(f_close(&w), FR_OK);
    const DWORD before = free_clusters();

    FIL f;
    ASSERT_EQ(f_open(&f, "/BAD.BIN", FM_READ), FR_OK);
    EXPECT_EQ(f_lseek(&f, 600), FR_INT_ERR);
    EXPECT_TRUE(f.flag & FM_ERROR);
    EXPECT_EQ(f.sclust, 0u);
    EXPECT_EQ(free_clusters(), before);
    EXPECT_EQ(f_lseek(&f, 0), FR_INT_ERR) << "sticky error";
}

TEST_F(SeekTest, LoopingChainEndsTheWalk)
{
    // A damaged file: its chain loops and its size claims more than the volume.
    FIL w;
    ASSERT_EQ(f_open(&w, "/F.BIN", FM_WRITE), FR_OK);
    const std::vector<DWORD> cl = chain(w.sclust);
    ASSERT_EQ(put_fat(&fs_, cl.back(), cl.front()), FR_OK);
    w.fsize = 50000000;
    w.flag |= FM_WRITTEN;
    ASSERT_EQ(f_close(&w), FR_OK);

    for (BYTE mode : {BYTE(FM_READ), BYTE(FM_READ | FM_WRITE)}) {
        FIL f;
        ASSERT_EQ(f_open(&f, "/F.BIN", mode), FR_OK);
        EXPECT_EQ(f_lseek(&f, 40000000), FR_INT_ERR);
        EXPECT_TRUE(f.flag & FM_ERROR);
        EXPECT_LE(f.fptr, fs_.n_fatent * 512u);
    }
}

// --- Fast seek ---------------------------------------------------------------

class FastSeekTest : public SeekTest {
protected:
    // A file whose clusters alternate with another file's: fragments of one cluster.
    void make_fragmented(const std::string& path, DWORD clusters)
    {
        FIL a, b;
        ASSERT_EQ(f_open(&a, path.c_str(), FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
        ASSERT_EQ(f_open(&b, "/OTHER.BIN", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
        frag_ = pattern(clusters * 512, 7);
        UINT bw;
        for (DWORD i = 0; i < clusters; i++) {
            ASSERT_EQ(f_write(&a, frag_.data() + i * 512, 512, &bw), FR_OK);
            ASSERT_EQ(f_write(&b, frag_.data(), 512, &bw), FR_OK);
            ASSERT_EQ(f_sync(&a), FR_OK);  // allocate in turn
            ASSERT_EQ(f_sync(&b), FR_OK);
        }
        ASSERT_EQ(f_close(&a), FR_OK);
        ASSERT_EQ(f_close(&b), FR_OK);
    }
    std::string frag_;
};

TEST_F(FastSeekTest, MapOfContiguousEmptyAndFragmentedFiles)
{
    FIL f;
    DWORD map[16];

    ASSERT_EQ(f_open(&f, "/F.BIN", FM_READ), FR_OK);
    f.cltbl = map;
    map[0] = 16;
    ASSERT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_OK);
    EXPECT_EQ(std::vector<DWORD>(map, map + 4), (std::vector<DWORD>{4, 4, f.sclust, 0}));
    EXPECT_EQ(f.fptr, 0u) << "a build does not move the position";

    put("/E.BIN", "");
    ASSERT_EQ(f_open(&f, "/E.BIN", FM_READ), FR_OK);
    f.cltbl = map;
    map[0] = 16;
    ASSERT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_OK);
    EXPECT_EQ(std::vector<DWORD>(map, map + 2), (std::vector<DWORD>{2, 0}));

    make_fragmented("/FRAG.BIN", 3);
    ASSERT_EQ(f_open(&f, "/FRAG.BIN", FM_READ), FR_OK);
    const std::vector<DWORD> cl = chain(f.sclust);
    ASSERT_EQ(cl.size(), 3u);
    f.cltbl = map;
    map[0] = 16;
    ASSERT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_OK);
    EXPECT_EQ(std::vector<DWORD>(map, map + 8), (std::vector<DWORD>{8, 1, cl[0], 1, cl[1], 1, cl[2], 0}));
}

TEST_F(FastSeekTest, TooSmallArrayReportsNeedAndStaysTerminated)
{
    make_fragmented("/FRAG.BIN", 3);
    FIL f;
    ASSERT_EQ(f_open(&f, "/FRAG.BIN", FM_READ), FR_OK);
    const std::vector<DWORD> cl = chain(f.sclust);

    DWORD map[6] = {4, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    f.cltbl = map;
    EXPECT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_NOT_ENOUGH_CORE);
    EXPECT_FALSE(f.flag & FM_ERROR);
    // Needed length, the fragment that fitted, a terminator, nothing past the capacity.
    EXPECT_EQ(std::vector<DWORD>(map, map + 6), (std::vector<DWORD>{8, 1, cl[0], 0, 0xAA, 0xAA}));
    // A caller that ignores the result only finds the first cluster.
    EXPECT_EQ(clmt_clust(&f, 0), cl[0]);
    EXPECT_EQ(clmt_clust(&f, 512), 0u);

    DWORD one[2] = {1, 0xAA};
    f.cltbl = one;
    EXPECT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_NOT_ENOUGH_CORE);
    EXPECT_EQ(one[0], 8u);
    EXPECT_EQ(one[1], 0xAAu) << "capacity 1 has no room for anything but the count";
}

TEST_F(FastSeekTest, ReadsAndWritesThroughTheMap)
{
    make_fragmented("/FRAG.BIN", 4);
    FIL f;
    DWORD map[16] = {16};
    ASSERT_EQ(f_open(&f, "/FRAG.BIN", FM_READ | FM_WRITE), FR_OK);
    f.cltbl = map;
    ASSERT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_OK);
    disk_->clear_calls();
    for (DWORD ofs : {1500u, 3u, 1024u, 2047u, 600u}) {
        ASSERT_EQ(f_lseek(&f, ofs), FR_OK);
        char c = 0;
        UINT br = 0;
        ASSERT_EQ(f_read(&f, &c, 1, &br), FR_OK);
        ASSERT_EQ(br, 1u);
        EXPECT_EQ(c, frag_[ofs]) << ofs;
    }
    // Beyond the size: clipped, whatever the access mode.
    ASSERT_EQ(f_lseek(&f, 99999), FR_OK);
    EXPECT_EQ(f.fptr, 2048u);
    // A write across a fragment boundary lands in the mapped clusters.
    ASSERT_EQ(f_lseek(&f, 500), FR_OK);
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, "0123456789ABCDEFGHIJ", 20, &bw), FR_OK);
    ASSERT_EQ(bw, 20u);
    ASSERT_EQ(f_close(&f), FR_OK);
    std::string expect = frag_;
    expect.replace(500, 20, "0123456789ABCDEFGHIJ");
    EXPECT_EQ(get("/FRAG.BIN"), expect);
}

TEST_F(FastSeekTest, WritePastMappedClustersIsShort)
{
    FIL f;
    DWORD map[8] = {8};
    ASSERT_EQ(f_open(&f, "/F.BIN", FM_READ | FM_WRITE), FR_OK);
    f.cltbl = map;
    ASSERT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_OK);
    ASSERT_EQ(f_lseek(&f, FILE_SIZE), FR_OK);
    const std::string more(600, 'm');
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, more.data(), 600, &bw), FR_OK);
    EXPECT_EQ(bw, 48u) << "up to the end of the last mapped cluster";
    ASSERT_EQ(f_close(&f), FR_OK);
}

TEST_F(FastSeekTest, LoopingChainEndsTheBuild)
{
    FIL f;
    ASSERT_EQ(f_open(&f, "/F.BIN", FM_READ), FR_OK);
    const std::vector<DWORD> cl = chain(f.sclust);
    ASSERT_EQ(put_fat(&fs_, cl.back(), cl.front()), FR_OK);  // last links back to first
    DWORD map[64] = {64};
    f.cltbl = map;
    EXPECT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_INT_ERR);
    EXPECT_TRUE(f.flag & FM_ERROR);
}

TEST_F(FastSeekTest, BrokenLinkAbortsTheBuild)
{
    FIL f;
    ASSERT_EQ(f_open(&f, "/F.BIN", FM_READ), FR_OK);
    const std::vector<DWORD> cl = chain(f.sclust);
    ASSERT_EQ(put_fat(&fs_, cl[1], 0), FR_OK);  // a free entry inside the chain
    DWORD map[16] = {16};
    f.cltbl = map;
    EXPECT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_INT_ERR);
    EXPECT_TRUE(f.flag & FM_ERROR);
}

TEST_F(FastSeekTest, SeekCostsNoFatRead)
{
    make_fragmented("/FRAG.BIN", 4);
    FIL f;
    DWORD map[16] = {16};
    ASSERT_EQ(f_open(&f, "/FRAG.BIN", FM_READ), FR_OK);
    f.cltbl = map;
    ASSERT_EQ(f_lseek(&f, SEEK_BUILD_MAP), FR_OK);
    disk_->clear_calls();
    ASSERT_EQ(f_lseek(&f, 1700), FR_OK);
    // Only the data sector itself is read.
    ASSERT_EQ(disk_->count(DiskOp::Read), 1u);
    const DWORD read_sector = disk_->calls().back().sector;
    const std::vector<DWORD> cl = chain(f.sclust);
    EXPECT_EQ(read_sector, clust2sect(&fs_, cl[3]));
}

} // namespace
