#include "fat_support.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <cstdlib>
#include <fstream>
#include <random>

namespace {

DWORD fat_bytes(int bits, DWORD entries)
{
    if (bits == 12) return entries * 3 / 2 + (entries & 1);
    return entries * static_cast<DWORD>(bits / 8);
}

// Byte `i` of a FAT: in a buffer, or on a RAM disk from sector `first` on.
struct FatBytes {
    BYTE* buf = nullptr;
    RamDisk* disk = nullptr;
    DWORD first = 0;
    BYTE& operator[](std::size_t i) const
    {
        if (buf) return buf[i];
        return disk->sector(static_cast<DWORD>(first + i / 512))[i % 512];
    }
};

void put_entry(const FatBytes& fat, int bits, DWORD n, DWORD val)
{
    if (bits == 12) {
        const DWORD bc = n + n / 2;
        if (n & 1) {
            fat[bc] = static_cast<BYTE>((fat[bc] & 0x0F) | ((val & 0x0F) << 4));
            fat[bc + 1] = static_cast<BYTE>(val >> 4);
        } else {
            fat[bc] = static_cast<BYTE>(val);
            fat[bc + 1] = static_cast<BYTE>((fat[bc + 1] & 0xF0) | ((val >> 8) & 0x0F));
        }
        return;
    }
    const DWORD width = static_cast<DWORD>(bits / 8);
    for (DWORD i = 0; i < width; i++) fat[n * width + i] = static_cast<BYTE>(val >> (8 * i));
}

} // namespace

Geometry geometry_of(const VolumeSpec& s)
{
    Geometry g {};
    g.fatsz = (fat_bytes(s.fat_bits, s.clusters + 2) + 511) / 512;
    g.fatbase = s.bsect + s.rsvd;
    const DWORD rootsz = s.fat_bits == 32 ? 0 : s.root_entries / 16u;
    g.rootbase = g.fatbase + g.fatsz * s.n_fats;
    g.database = g.rootbase + rootsz;
    g.total = s.rsvd + g.fatsz * s.n_fats + rootsz + s.clusters * s.csize;
    return g;
}

std::unique_ptr<RamDisk> build_volume(const VolumeSpec& s)
{
    const Geometry g = geometry_of(s);
    auto disk = std::make_unique<RamDisk>(s.bsect + g.total + s.spare_sectors);
    if (s.bsect) {
        BYTE* mbr = disk->sector(0);
        BYTE* pte = mbr + MBR_Table;
        pte[PTE_System] = s.fat_bits == 32 ? 0x0C : 0x06;
        st_dword(pte + PTE_StLba, s.bsect);
        st_dword(pte + PTE_SizLba, g.total);
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
    }
    BYTE* bs = disk->sector(s.bsect);
    bs[0] = 0xEB; bs[1] = 0x3C; bs[2] = 0x90;
    std::memcpy(bs + BS_OEMName, "TESTVOL ", 8);
    st_word(bs + BPB_BytsPerSec, 512);
    bs[BPB_SecPerClus] = s.csize;
    st_word(bs + BPB_RsvdSecCnt, s.rsvd);
    bs[BPB_NumFATs] = s.n_fats;
    st_word(bs + BPB_RootEntCnt, s.fat_bits == 32 ? 0 : s.root_entries);
    if (g.total < 0x10000) st_word(bs + BPB_TotSec16, static_cast<WORD>(g.total));
    else st_dword(bs + BPB_TotSec32, g.total);
    bs[BPB_Media] = 0xF8;
    st_dword(bs + BPB_HiddSec, s.bsect);
    if (s.fat_bits == 32) {
        st_dword(bs + BPB_FATSz32, g.fatsz);
        st_dword(bs + BPB_RootClus, s.root_clus);
        st_word(bs + BPB_FSInfo, s.fsinfo);
        bs[BS_BootSig32] = 0x29;
        std::memcpy(bs + BS_FilSysType32, "FAT32   ", 8);
        if (s.fsinfo >= 1 && s.fsinfo < s.rsvd) {
            BYTE* fsi = disk->sector(s.bsect + s.fsinfo);
            st_dword(fsi + FSI_LeadSig, FSI_LEAD_SIG_VALUE);
            st_dword(fsi + FSI_StrucSig, FSI_STRUC_SIG_VALUE);
            st_dword(fsi + FSI_Free_Count, s.fsi_free);
            st_dword(fsi + FSI_Nxt_Free, s.fsi_next);
            fsi[510] = 0x55;
            fsi[511] = 0xAA;
        }
    } else {
        st_word(bs + BPB_FATSz16, static_cast<WORD>(g.fatsz));
        bs[BS_BootSig] = 0x29;
        std::memcpy(bs + BS_FilSysType, s.fat_bits == 12 ? "FAT12   " : "FAT16   ", 8);
    }
    bs[510] = 0x55;
    bs[511] = 0xAA;

    std::vector<BYTE> fat(static_cast<std::size_t>(g.fatsz) * 512, 0);
    const DWORD eoc = s.fat_bits == 12 ? 0xFFF : s.fat_bits == 16 ? 0xFFFF : 0x0FFFFFFF;
    const FatBytes bytes{fat.data()};
    put_entry(bytes, s.fat_bits, 0, (eoc & ~0xFFu) | 0xF8);
    put_entry(bytes, s.fat_bits, 1, eoc);
    if (s.fat_bits == 32 && s.root_clus >= 2 && s.root_clus < s.clusters + 2)
        put_entry(bytes, s.fat_bits, s.root_clus, eoc);
    for (BYTE i = 0; i < s.n_fats; i++)
        for (DWORD k = 0; k < g.fatsz; k++)
            std::memcpy(disk->sector(g.fatbase + i * g.fatsz + k), fat.data() + std::size_t{k} * 512, 512);
    return disk;
}

void MountedVolume::mount(const VolumeSpec& s)
{
    spec = s;
    mount_disk(build_volume(s));
}

void MountedVolume::mount_disk(std::unique_ptr<RamDisk> d)
{
    disk = std::move(d);
    geo = geometry_of(spec);
    fs = FATFS {};
    ASSERT_EQ(f_mount(0, &fs), FR_OK);
    const TCHAR* p = "";
    FATFS* rfs = nullptr;
    ASSERT_EQ(chk_mounted(&p, &rfs, 0), FR_OK);
    disk->clear_calls();
}

DWORD MountedVolume::fat_entry(DWORD clst) const
{
    const FatBytes fat{nullptr, disk.get(), fs.fatbase};
    switch (fs.fs_type) {
    case FS_FAT12: {
        const DWORD bc = clst + clst / 2;
        const DWORD w = fat[bc] | (fat[bc + 1] << 8);
        return (clst & 1) ? w >> 4 : w & 0xFFF;
    }
    case FS_FAT16: return fat[clst * 2] | (fat[clst * 2 + 1] << 8);
    default:
        return static_cast<DWORD>(fat[clst * 4]) | (static_cast<DWORD>(fat[clst * 4 + 1]) << 8) |
               (static_cast<DWORD>(fat[clst * 4 + 2]) << 16) | (static_cast<DWORD>(fat[clst * 4 + 3]) << 24);
    }
}

void MountedVolume::set_fat_entry(DWORD clst, DWORD val)
{
    for (BYTE i = 0; i < fs.n_fats; i++)
        put_entry(FatBytes{nullptr, disk.get(), fs.fatbase + i * fs.fsize},
                  fs.fs_type == FS_FAT12 ? 12 : fs.fs_type == FS_FAT16 ? 16 : 32, clst, val);
}

void MountedVolume::write_file(const char* path, const std::vector<BYTE>& data)
{
    FIL f;
    ASSERT_EQ(f_open(&f, path, FM_WRITE | FM_CREATE_ALWAYS), FR_OK) << path;
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, data.data(), static_cast<UINT>(data.size()), &bw), FR_OK);
    ASSERT_EQ(bw, data.size());
    ASSERT_EQ(f_close(&f), FR_OK);
}

std::vector<BYTE> MountedVolume::read_file(const char* path)
{
    FIL f;
    std::vector<BYTE> out;
    EXPECT_EQ(f_open(&f, path, FM_READ), FR_OK) << path;
    if (!f.fs) return out;
    out.resize(f.fsize);
    UINT br = 0;
    EXPECT_EQ(f_read(&f, out.data(), static_cast<UINT>(out.size()), &br), FR_OK);
    out.resize(br);
    EXPECT_EQ(f_close(&f), FR_OK);
    return out;
}

std::vector<BYTE> pattern(std::size_t n, unsigned seed)
{
    std::vector<BYTE> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<BYTE>(rng());
    return v;
}

int run(const std::string& cmd, std::string* out)
{
    std::string full = "MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 " + cmd + " 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int st = pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string shell_quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

bool fat_tools_available()
{
    return run("command -v mkfs.fat && command -v fsck.fat && command -v mcopy && command -v mmd") == 0;
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "fattest-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<BYTE> read_binary(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::error_code ec;
    const auto size = std::filesystem::file_size(p, ec);
    if (!in || ec) return {};
    std::vector<BYTE> data(size);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size));
    return data;
}

void write_binary(const std::filesystem::path& p, const std::vector<BYTE>& data)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}
