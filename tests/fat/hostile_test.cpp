// The card is untrusted: damaged or hostile on-disk values give error
// results, never a crash, an endless walk or a write outside the volume.
#include "fat_support.h"

#include <random>

class Hostile : public MountedVolume {};

TEST_F(Hostile, LoopingChainEndsReadAndWrite)
{
    VolumeSpec s;
    s.fat_bits = 12;
    s.clusters = 50;
    mount(s);
    write_file("LOOP.BIN", pattern(1536, 1));  // clusters 2, 3, 4
    ASSERT_EQ(sync(&fs), FR_OK);
    set_fat_entry(4, 2);  // ... 4 -> 2: the chain loops
    fs.winsect = 0;
    std::vector<BYTE> buf(1 << 20);

    // Writing on past the end follows the loop instead of allocating.
    FIL f;
    ASSERT_EQ(f_open(&f, "LOOP.BIN", FM_WRITE), FR_OK);
    UINT bw = 0;
    EXPECT_EQ(f_write(&f, buf.data(), static_cast<UINT>(buf.size()), &bw), FR_INT_ERR);
    EXPECT_LE(bw, 50u * 512);  // no more than the volume holds

    // A size far beyond the chain: reading follows the loop.
    st_dword(disk->sector(geo.rootbase) + DIR_FileSize, 0xFFFFFF00);
    fs.winsect = 0;
    ASSERT_EQ(f_open(&f, "LOOP.BIN", FM_READ), FR_OK);
    UINT br = 0;
    EXPECT_EQ(f_read(&f, buf.data(), static_cast<UINT>(buf.size()), &br), FR_INT_ERR);
    EXPECT_LE(br, 50u * 512);
}

// SUB's chain 2 -> 3 -> 2 on a 32-cluster volume, every entry in use, no end
// mark: walks stop once they have gone through more clusters than the
// volume has, and say the volume is damaged instead of ending normally.
TEST_F(Hostile, LoopingDirectoryChainEnds)
{
    VolumeSpec s;
    s.fat_bits = 12;
    s.clusters = 32;
    mount(s);
    BYTE* e = disk->sector(geo.rootbase);
    std::memcpy(e, "SUB        ", 11);
    e[DIR_Attr] = ATTR_DIRECTORY;
    st_clust(e, 2);
    set_fat_entry(2, 3);
    set_fat_entry(3, 2);
    for (DWORD c = 2; c <= 3; c++)
        for (UINT i = 0; i < 16; i++) std::memcpy(disk->sector(geo.database + c - 2) + i * 32, "X       BIN", 11);

    DIR dj;
    ASSERT_EQ(f_opendir(&dj, "SUB"), FR_OK);
    FILINFO fno;
    FRESULT res;
    DWORD listed = 0;
    while ((res = f_readdir(&dj, &fno)) == FR_OK && fno.fname[0]) listed++;
    EXPECT_EQ(res, FR_INT_ERR);
    EXPECT_LE(listed, 32u * 16u) << "no more entries than 32 clusters hold";

    FIL f;
    EXPECT_EQ(f_open(&f, "SUB/MISSING.TXT", FM_READ), FR_INT_ERR);
    EXPECT_EQ(f_open(&f, "SUB/NEW.TXT", FM_WRITE | FM_CREATE_NEW), FR_INT_ERR);
}

TEST_F(Hostile, OutOfRangeFirstCluster)
{
    mount({});
    write_file("F.BIN", pattern(100, 2));
    ASSERT_EQ(sync(&fs), FR_OK);
    st_clust(disk->sector(geo.rootbase), 0x0FFF0);  // beyond the volume
    fs.winsect = 0;
    FIL f;
    BYTE b[16];
    UINT n;
    ASSERT_EQ(f_open(&f, "F.BIN", FM_READ | FM_WRITE), FR_OK);
    EXPECT_EQ(f_read(&f, b, 16, &n), FR_INT_ERR);
    ASSERT_EQ(f_open(&f, "F.BIN", FM_READ | FM_WRITE), FR_OK);
    EXPECT_EQ(f_write(&f, b, 16, &n), FR_INT_ERR);
    EXPECT_EQ(f_open(&f, "F.BIN", FM_WRITE | FM_CREATE_ALWAYS), FR_INT_ERR);
}

TEST_F(Hostile, FsInfoValuesOutOfRange)
{
    VolumeSpec s;
    s.fat_bits = 32;
    s.clusters = 70000;
    s.rsvd = 8;
    s.fsi_free = 0xFFFFFFF0;
    s.fsi_next = 0x7FFFFFFF;
    mount(s);
    write_file("A.BIN", pattern(5000, 3));
    EXPECT_EQ(read_file("A.BIN"), pattern(5000, 3));
}

// Random damage to the system area and directories of a populated volume,
// then every kind of call. Nothing may crash or hang, and no write may land
// outside the volume.
TEST_F(Hostile, RandomDamage)
{
    for (int bits : {12, 16, 32}) {
        for (unsigned seed = 1; seed <= 60; seed++) {
            SCOPED_TRACE(::testing::Message() << "FAT" << bits << " seed " << seed);
            VolumeSpec s;
            s.fat_bits = bits;
            s.clusters = bits == 12 ? 300 : bits == 16 ? 4200 : 66000;
            s.rsvd = bits == 32 ? 8 : 1;
            s.bsect = 16;
            s.spare_sectors = 64;
            mount(s);
            for (int i = 0; i < 6; i++) write_file((std::string("F") + std::to_string(i) + ".BIN").c_str(), pattern(700 * i, i));
            ASSERT_EQ(sync(&fs), FR_OK);

            std::mt19937 rng(seed);
            const DWORD sys_end = geo.database + 16;  // FATs, root, first clusters
            for (int k = 0; k < 40; k++) {
                const DWORD sect = s.bsect + rng() % (sys_end - s.bsect);
                disk->sector(sect)[rng() % 512] = static_cast<BYTE>(rng());
            }
            f_mount(0, &fs);  // remount from the damaged medium
            disk->clear_calls();

            std::vector<BYTE> buf(8192);
            for (int i = 0; i < 8; i++) {
                const std::string name = std::string("F") + std::to_string(i) + ".BIN";
                FIL f;
                UINT n;
                if (f_open(&f, name.c_str(), FM_READ | FM_WRITE | FM_OPEN_ALWAYS) != FR_OK) continue;
                f_read(&f, buf.data(), static_cast<UINT>(buf.size()), &n);
                f_write(&f, buf.data(), 3000, &n);
                f_truncate(&f);
                f_close(&f);
            }
            const DWORD vol_end = s.bsect + geo.total;
            for (const DiskCall& c : disk->calls()) {
                if (c.op == DiskOp::Write) {
                    ASSERT_TRUE(c.sector >= s.bsect && c.sector + c.count <= vol_end) << c.sector;
                }
            }
        }
    }
}
