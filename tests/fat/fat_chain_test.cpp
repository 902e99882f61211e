// FAT entries of every width, chain allocation and release, link map lookup.
#include "fat_support.h"

class FatChain : public MountedVolume {
protected:
    void mount_bits(int bits)
    {
        VolumeSpec s;
        s.fat_bits = bits;
        s.clusters = bits == 12 ? 3000 : bits == 16 ? 5000 : 70000;
        s.rsvd = bits == 32 ? 8 : 1;
        mount(s);
    }
};

TEST_F(FatChain, RangeChecksNeedNoDiskAccess)
{
    mount({});
    EXPECT_EQ(clust2sect(&fs, 2), geo.database);
    EXPECT_EQ(clust2sect(&fs, fs.n_fatent - 1), geo.database + (fs.n_fatent - 3) * fs.csize);
    for (DWORD c : {0u, 1u, fs.n_fatent, 0xFFFFFFFFu}) {
        EXPECT_EQ(clust2sect(&fs, c), 0u) << c;
        EXPECT_EQ(get_fat(&fs, c), 1u) << c;
        EXPECT_EQ(put_fat(&fs, c, 5), FR_INT_ERR) << c;
        EXPECT_EQ(remove_chain(&fs, c), FR_INT_ERR) << c;
    }
    EXPECT_TRUE(disk->calls().empty());
}

TEST_F(FatChain, Fat12EntryAcrossSectorBoundary)
{
    mount_bits(12);
    // Cluster 341 starts at byte 511 of the FAT: its two bytes lie in two sectors.
    set_fat_entry(340, 0x123);
    set_fat_entry(341, 0x456);
    set_fat_entry(342, 0x789);
    EXPECT_EQ(get_fat(&fs, 341), 0x456u);
    EXPECT_EQ(disk->count(DiskOp::Read), 2u);
    ASSERT_EQ(put_fat(&fs, 341, 0xABC), FR_OK);
    ASSERT_EQ(sync(&fs), FR_OK);
    const std::vector<DWORD> written = disk->written_sectors();
    for (DWORD s : {geo.fatbase, geo.fatbase + 1, geo.fatbase + geo.fatsz, geo.fatbase + geo.fatsz + 1})
        EXPECT_NE(std::find(written.begin(), written.end(), s), written.end()) << s;
    EXPECT_EQ(fat_entry(340), 0x123u);
    EXPECT_EQ(fat_entry(341), 0xABCu);
    EXPECT_EQ(fat_entry(342), 0x789u);
    EXPECT_EQ(get_fat(&fs, 340), 0x123u);
    EXPECT_EQ(get_fat(&fs, 342), 0x789u);
    // Even entry across the boundary the other way round (byte 1023: cluster 682).
    ASSERT_EQ(put_fat(&fs, 682, 0xFED), FR_OK);
    ASSERT_EQ(sync(&fs), FR_OK);
    EXPECT_EQ(fat_entry(682), 0xFEDu);
    EXPECT_EQ(fat_entry(681), 0u);
    EXPECT_EQ(fat_entry(683), 0u);
}

TEST_F(FatChain, Fat32UpperBitsArePreserved)
{
    mount_bits(32);
    set_fat_entry(10, 0xF0000005);
    EXPECT_EQ(get_fat(&fs, 10), 5u);
    ASSERT_EQ(put_fat(&fs, 10, 0), FR_OK);
    ASSERT_EQ(sync(&fs), FR_OK);
    EXPECT_EQ(fat_entry(10), 0xF0000000u);
}

TEST_F(FatChain, NewChainsEndWithTheTypesEndMark)
{
    for (int bits : {12, 16, 32}) {
        mount_bits(bits);
        fs.free_clust = 100;
        const DWORD a = create_chain(&fs, 0);
        const DWORD b = create_chain(&fs, a);
        ASSERT_GE(a, 2u);
        ASSERT_EQ(b, a + 1);
        EXPECT_EQ(fs.fsi_flag, 1);
        ASSERT_EQ(sync(&fs), FR_OK);
        const DWORD eoc = bits == 12 ? 0xFFF : bits == 16 ? 0xFFFF : 0x0FFFFFFF;
        EXPECT_EQ(fat_entry(a), b) << bits;
        EXPECT_EQ(fat_entry(b), eoc) << bits;
        EXPECT_EQ(fs.last_clust, b);
        EXPECT_EQ(fs.free_clust, 98u);
    }
}

TEST_F(FatChain, CreateChainCases)
{
    mount({});
    set_fat_entry(5, 9);
    set_fat_entry(9, 0xFFFF);
    disk->clear_calls();
    EXPECT_EQ(create_chain(&fs, 5), 9u);  // already continues: nothing written
    EXPECT_EQ(create_chain(&fs, 6), 1u);  // a free cluster has no chain to extend
    EXPECT_EQ(sync(&fs), FR_OK);
    EXPECT_TRUE(disk->written_sectors().empty());

    // The search starts after the cluster allocated last and wraps to 2.
    fs.last_clust = fs.n_fatent - 1;
    EXPECT_EQ(create_chain(&fs, 0), 2u);
    // Growing a chain searches after its last cluster.
    EXPECT_EQ(create_chain(&fs, 9), 10u);
}

TEST_F(FatChain, FullVolumeChangesNothing)
{
    VolumeSpec s;
    s.fat_bits = 12;
    s.clusters = 40;
    mount(s);
    for (DWORD c = 2; c < fs.n_fatent; c++) set_fat_entry(c, 0xFFF);
    fs.free_clust = 0;
    fs.last_clust = 7;
    const std::vector<BYTE> before = disk->bytes();
    EXPECT_EQ(create_chain(&fs, 0), 0u);
    EXPECT_EQ(create_chain(&fs, 20), 0u);
    ASSERT_EQ(sync(&fs), FR_OK);
    EXPECT_EQ(disk->bytes(), before);
    EXPECT_EQ(fs.last_clust, 7u);
    EXPECT_EQ(fs.free_clust, 0u);
}

TEST_F(FatChain, RemoveChainFreesAndCounts)
{
    mount({});
    set_fat_entry(3, 4);
    set_fat_entry(4, 7);
    set_fat_entry(7, 0xFFFF);
    fs.free_clust = 10;
    EXPECT_EQ(remove_chain(&fs, 3), FR_OK);
    ASSERT_EQ(sync(&fs), FR_OK);
    for (DWORD c : {3u, 4u, 7u}) EXPECT_EQ(fat_entry(c), 0u);
    EXPECT_EQ(fs.free_clust, 13u);
}

TEST_F(FatChain, LoopingChainEnds)
{
    mount({});
    set_fat_entry(3, 4);
    set_fat_entry(4, 5);
    set_fat_entry(5, 3);  // loops back
    EXPECT_EQ(remove_chain(&fs, 3), FR_OK);
    ASSERT_EQ(sync(&fs), FR_OK);
    for (DWORD c : {3u, 4u, 5u}) EXPECT_EQ(fat_entry(c), 0u);
}

TEST_F(FatChain, DiskErrorsPropagate)
{
    mount({});
    disk->fail_sector(DiskOp::Read, geo.fatbase);
    EXPECT_EQ(get_fat(&fs, 3), 0xFFFFFFFFu);
    EXPECT_EQ(put_fat(&fs, 3, 0), FR_DISK_ERR);
    EXPECT_EQ(create_chain(&fs, 0), 0xFFFFFFFFu);
    EXPECT_EQ(remove_chain(&fs, 3), FR_DISK_ERR);
}

TEST_F(FatChain, LinkMapLookup)
{
    mount({});
    DWORD map[] = {6, 3, 100, 2, 200, 0};
    FIL f {};
    f.fs = &fs;
    f.cltbl = map;
    const DWORD expect[] = {100, 101, 102, 200, 201, 0, 0};
    for (DWORD s = 0; s < 7; s++) EXPECT_EQ(clmt_clust(&f, s * 512 + 17), expect[s]) << s;
}
