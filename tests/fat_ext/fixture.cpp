#include "fixture.h"

void VolumeTest::format(VolumeShape shape)
{
    disk_ = std::make_unique<RamDisk>(shape.sectors);
    fake_fattime_set(fat_timestamp(2026, 12, 11, 12, 30, 0));
    ASSERT_EQ(f_mount(0, &fs_), FR_OK);
    ASSERT_EQ(f_mkfs(0, 1, shape.au), FR_OK);
    ASSERT_EQ(f_mount(0, &fs_), FR_OK);
    ASSERT_EQ(f_chdir("/"), FR_OK);  // mounts
}

void VolumeTest::TearDown()
{
    f_mount(0, nullptr);
    disk_.reset();
}

void VolumeTest::put(const std::string& path, const std::string& data)
{
    FIL f;
    ASSERT_EQ(f_open(&f, path.c_str(), FM_WRITE | FM_CREATE_ALWAYS), FR_OK) << path;
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, data.data(), static_cast<UINT>(data.size()), &bw), FR_OK);
    ASSERT_EQ(bw, data.size());
    ASSERT_EQ(f_close(&f), FR_OK);
}

std::string VolumeTest::get(const std::string& path)
{
    FIL f;
    EXPECT_EQ(f_open(&f, path.c_str(), FM_READ), FR_OK) << path;
    std::string out(f.fsize, '\0');
    UINT br = 0;
    EXPECT_EQ(f_read(&f, out.data(), static_cast<UINT>(out.size()), &br), FR_OK);
    out.resize(br);
    EXPECT_EQ(f_close(&f), FR_OK);
    return out;
}

std::vector<DWORD> VolumeTest::chain(DWORD first)
{
    std::vector<DWORD> out;
    for (DWORD c = first; c >= 2 && c < fs_.n_fatent && out.size() < fs_.n_fatent; c = get_fat(&fs_, c))
        out.push_back(c);
    return out;
}

DWORD VolumeTest::free_clusters()
{
    DWORD n = 0;
    FATFS* pfs = nullptr;
    EXPECT_EQ(f_getfree("", &n, &pfs), FR_OK);
    return n;
}

DWORD VolumeTest::first_cluster(const std::string& path)
{
    DIR dj;
    BYTE sfn[12];
    EXPECT_EQ(resolve(&dj, sfn, path.c_str(), 0), FR_OK) << path;
    return dj.dir ? ld_clust(dj.dir) : 0;
}

std::string pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}
