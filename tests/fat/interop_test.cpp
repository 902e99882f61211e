// Interop with the Debian FAT tools: volumes made by mkfs.fat and filled by
// mtools are read through the module; volumes written by the module pass
// fsck.fat and read back identically through mtools.
#include "fat_support.h"

#include <map>

namespace fsys = std::filesystem;

namespace {

struct ImageCase {
    const char* name;
    int fat_bits;
    int n_fats;
    int spc;            // sectors per cluster
    DWORD size_kib;     // volume size
    DWORD part_start;   // 0: no partition table
};

const ImageCase kCases[] = {
    {"Fat12_1fat_spc1", 12, 1, 1, 1440, 0},
    {"Fat12_2fat_spc4_part", 12, 2, 4, 8000, 63},
    {"Fat16_2fat_spc1", 16, 2, 1, 16384, 0},
    {"Fat16_1fat_spc8_part", 16, 1, 8, 65536, 2048},
    {"Fat16_2fat_spc16", 16, 2, 16, 40960, 0},
    {"Fat32_2fat_spc1", 32, 2, 1, 40960, 0},
    {"Fat32_1fat_spc2_part", 32, 1, 2, 72000, 2048},
};

std::string case_name(const ::testing::TestParamInfo<ImageCase>& i) { return i.param.name; }

using Tree = std::map<std::string, std::vector<BYTE>>;  // "/A/B/F.BIN" -> content

class Interop : public ::testing::TestWithParam<ImageCase> {
protected:
    void SetUp() override
    {
        if (!fat_tools_available()) GTEST_SKIP() << "mkfs.fat, fsck.fat or mtools not installed";
        const ImageCase& c = GetParam();
        img_ = tmp_.path() / "card.img";
        cluster_ = static_cast<UINT>(c.spc) * 512;
        make_image();
    }
    void TearDown() override { f_mount(0, nullptr); }

    std::string mtarget() const
    {
        std::string t = shell_quote(img_.string());
        if (GetParam().part_start) t += "@@" + std::to_string(GetParam().part_start * 512ull);
        return t;
    }

    void make_image()
    {
        const ImageCase& c = GetParam();
        const unsigned long long bytes = (c.part_start + c.size_kib * 2ull) * 512;
        {
            std::vector<BYTE> head(512, 0);
            if (c.part_start) {
                BYTE* pte = head.data() + MBR_Table;
                pte[PTE_System] = c.fat_bits == 32 ? 0x0C : 0x06;
                st_dword(pte + PTE_StLba, c.part_start);
                st_dword(pte + PTE_SizLba, c.size_kib * 2);
                head[510] = 0x55;
                head[511] = 0xAA;
            }
            write_binary(img_, head);
            fsys::resize_file(img_, bytes);
        }
        std::string out;
        const std::string cmd = "mkfs.fat -F " + std::to_string(c.fat_bits) + " -f " + std::to_string(c.n_fats) +
                                " -s " + std::to_string(c.spc) + " --invariant" +
                                (c.part_start ? " --offset=" + std::to_string(c.part_start) : std::string()) +
                                " " + shell_quote(img_.string()) + " " + std::to_string(c.size_kib);
        ASSERT_EQ(run(cmd, &out), 0) << cmd << "\n" << out;
    }

    // Host files sized around sector and cluster boundaries.
    std::vector<std::size_t> boundary_sizes() const
    {
        return {0, 1, 511, 512, 513, cluster_ - 1, cluster_, cluster_ + 1, 3 * cluster_ + 7, 70000};
    }

    // Builds a tree on the host and copies it into the image with mtools.
    void fill_with_mtools()
    {
        const fsys::path src = tmp_.path() / "src";
        unsigned seed = 1;
        auto add = [&](const std::string& rel, std::size_t size) {
            auto data = pattern(size, seed++);
            fsys::create_directories((src / rel).parent_path());
            write_binary(src / rel, data);
            expected_["/" + rel] = data;
        };
        const auto sizes = boundary_sizes();
        for (std::size_t i = 0; i < sizes.size(); i++) {
            add(std::string("S") + std::to_string(i) + ".BIN", sizes[i]);
            add(std::string("A/B/C/D") + std::to_string(i) + ".DAT", sizes[i]);
        }
        for (int i = 0; i < 40; i++) add("A/MANY/F" + std::to_string(i) + ".TXT", 100 + i);  // multi-sector dir
        add("A/B/NOEXT", 1234);
        fsys::create_directories(src / "EMPTY");
        write_binary(src / "Long File Name.txt", pattern(999, 77));
        std::string out;
        const std::string cmd = "cd " + shell_quote(src.string()) + " && mcopy -s -i " + mtarget() + " * ::/";
        ASSERT_EQ(run(cmd, &out), 0) << cmd << "\n" << out;
    }

    void load_into_ramdisk()
    {
        disk_ = std::make_unique<RamDisk>(read_binary(img_));
        fs_ = FATFS {};
        ASSERT_EQ(f_mount(0, &fs_), FR_OK);
    }

    void save_from_ramdisk() { write_binary(img_, disk_->bytes()); }

    // Reads a file through the module in calls of varying size.
    std::vector<BYTE> module_read(const std::string& path, UINT chunk)
    {
        FIL f;
        std::vector<BYTE> out;
        EXPECT_EQ(f_open(&f, path.c_str(), FM_READ), FR_OK) << path;
        if (!f.fs) return out;
        std::vector<BYTE> buf(chunk);
        for (;;) {
            UINT br = 0;
            EXPECT_EQ(f_read(&f, buf.data(), chunk, &br), FR_OK) << path;
            out.insert(out.end(), buf.begin(), buf.begin() + br);
            if (br < chunk) break;
        }
        EXPECT_EQ(f_close(&f), FR_OK);
        return out;
    }

    void module_write(const std::string& path, const std::vector<BYTE>& data, BYTE mode, UINT chunk)
    {
        FIL f;
        ASSERT_EQ(f_open(&f, path.c_str(), mode), FR_OK) << path;
        if (mode & FM_OPEN_ALWAYS) {
            ASSERT_EQ(f_lseek(&f, f.fsize), FR_OK);
        }
        for (std::size_t off = 0; off < data.size(); off += chunk) {
            const UINT n = static_cast<UINT>(std::min<std::size_t>(chunk, data.size() - off));
            UINT bw = 0;
            ASSERT_EQ(f_write(&f, data.data() + off, n, &bw), FR_OK) << path;
            ASSERT_EQ(bw, n);
        }
        ASSERT_EQ(f_close(&f), FR_OK) << path;
    }

    // Lists every file below `dir` through the module.
    void module_tree(const std::string& dir, std::map<std::string, DWORD>& files)
    {
        DIR dj;
        ASSERT_EQ(f_opendir(&dj, dir.empty() ? "/" : dir.c_str()), FR_OK) << dir;
        for (;;) {
            FILINFO fi;
            ASSERT_EQ(f_readdir(&dj, &fi), FR_OK);
            if (!fi.fname[0]) break;
            const std::string name = fi.fname;
            if (name == "." || name == "..") continue;
            if (fi.fattrib & ATTR_DIRECTORY) {
                files[dir + "/" + name + "/"] = 0;
                module_tree(dir + "/" + name, files);
            } else {
                files[dir + "/" + name] = fi.fsize;
            }
        }
    }

    void check_with_tools()
    {
        const ImageCase& c = GetParam();
        fsys::path volume = img_;
        if (c.part_start) {
            // fsck.fat has no offset option: check a copy of the partition.
            const auto all = read_binary(img_);
            volume = tmp_.path() / "part.img";
            write_binary(volume, std::vector<BYTE>(all.begin() + c.part_start * 512, all.end()));
        }
        std::string out;
        EXPECT_EQ(run("fsck.fat -n " + shell_quote(volume.string()), &out), 0) << out;
        EXPECT_EQ(out.find("differ"), std::string::npos) << out;
        EXPECT_EQ(out.find("Free cluster summary wrong"), std::string::npos) << out;

        const fsys::path back = tmp_.path() / "back";
        fsys::remove_all(back);
        fsys::create_directories(back);
        ASSERT_EQ(run("mcopy -s -n -i " + mtarget() + " ::/* " + shell_quote(back.string()), &out), 0) << out;
        for (const auto& [path, data] : expected_)
            EXPECT_EQ(read_binary(back / path.substr(1)), data) << path;
        std::size_t host_files = 0;
        for (const auto& e : fsys::recursive_directory_iterator(back))
            if (e.is_regular_file()) host_files++;
        EXPECT_EQ(host_files, expected_.size() + 1);  // + the long-named file
    }

    TempDir tmp_;
    fsys::path img_;
    UINT cluster_ = 512;
    Tree expected_;
    std::unique_ptr<RamDisk> disk_;
    FATFS fs_ {};
};

TEST_P(Interop, ModuleReadsWhatMtoolsWrote)
{
    fill_with_mtools();
    load_into_ramdisk();
    const UINT chunks[] = {2, 32, 512, 4096, 100000};
    std::size_t k = 0;
    for (const auto& [path, data] : expected_) {
        const UINT chunk = chunks[k++ % 5];
        EXPECT_EQ(module_read(path, chunk), data) << path << " in calls of " << chunk;
    }
    EXPECT_EQ(module_read("/LONGFI~1.TXT", 64), pattern(999, 77));

    std::map<std::string, DWORD> listed;
    module_tree("", listed);
    for (const auto& [path, data] : expected_) EXPECT_EQ(listed[path], data.size()) << path;
    EXPECT_TRUE(listed.count("/EMPTY/"));
    EXPECT_TRUE(listed.count("/A/B/C/"));
    EXPECT_EQ(disk_->count(DiskOp::Write), 0u);  // reading writes nothing
}

TEST_P(Interop, ToolsAcceptWhatModuleWrote)
{
    fill_with_mtools();
    load_into_ramdisk();
    // New files next to the existing ones, in calls of varying size.
    const auto sizes = boundary_sizes();
    unsigned seed = 500;
    for (std::size_t i = 0; i < sizes.size(); i++) {
        const std::string root = "/N" + std::to_string(i) + ".BIN";
        const std::string deep = "/A/B/C/N" + std::to_string(i) + ".BIN";
        expected_[root] = pattern(sizes[i], seed++);
        expected_[deep] = pattern(sizes[i], seed++);
        module_write(root, expected_[root], FM_WRITE | FM_CREATE_NEW, 4096);
        module_write(deep, expected_[deep], FM_WRITE | FM_CREATE_NEW, 777);
    }
    // Directory growth: 70 more entries in a subdirectory.
    for (int i = 0; i < 70; i++) {
        const std::string p = "/EMPTY/G" + std::to_string(i) + ".TXT";
        expected_[p] = pattern(static_cast<std::size_t>(i) * 37, seed++);
        module_write(p, expected_[p], FM_WRITE | FM_CREATE_NEW, 512);
    }
    // Replace (shorter and longer), append, truncate existing files.
    expected_["/S9.BIN"] = pattern(100, seed++);
    module_write("/S9.BIN", expected_["/S9.BIN"], FM_WRITE | FM_CREATE_ALWAYS, 64);
    expected_["/S1.BIN"] = pattern(3 * cluster_ + 5, seed++);
    module_write("/S1.BIN", expected_["/S1.BIN"], FM_WRITE | FM_CREATE_ALWAYS, 1000);
    const auto tail = pattern(cluster_ + 300, seed++);
    auto& grown = expected_["/A/B/C/D4.DAT"];
    grown.insert(grown.end(), tail.begin(), tail.end());
    module_write("/A/B/C/D4.DAT", tail, FM_WRITE | FM_OPEN_ALWAYS, 300);
    {
        FIL f;
        ASSERT_EQ(f_open(&f, "/A/B/C/D8.DAT", FM_WRITE), FR_OK);
        ASSERT_EQ(f_lseek(&f, cluster_ + 3), FR_OK);
        ASSERT_EQ(f_truncate(&f), FR_OK);
        ASSERT_EQ(f_close(&f), FR_OK);
        expected_["/A/B/C/D8.DAT"].resize(cluster_ + 3);
    }
    save_from_ramdisk();
    check_with_tools();
}

INSTANTIATE_TEST_SUITE_P(Images, Interop, ::testing::ValuesIn(kCases), case_name);

} // namespace
