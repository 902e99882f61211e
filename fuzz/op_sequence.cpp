// Fuzz target: operation sequences on a small valid volume, against a model.
//
// The model knows every file's bytes (or that a byte is unknown: the gap a
// seek past the end opens) and every directory. Calls that succeed are
// applied to it; calls whose outcome the model can predict for certain are
// checked. The driver behaves like a careful caller: it never opens one file
// twice and never renames or deletes an open file.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fatfs/ff.h"
#include "fuzz/fuzz_disk.h"
#include "fuzz/fuzz_targets.h"

namespace fuzz {
namespace {

// Paths the sequences work on: enough for nesting, moves and name clashes.
const char* const kPaths[] = {
    "/F1.TXT", "/F2.BIN", "/D1", "/D1/F3.TXT", "/D1/D2", "/D1/D2/F4", "/D3", "/D3/F5.DAT", "/D1/D2/D4",
    "/D1/D2/D4/F6.X", "/D3/D1", "/D3/D1/F3.TXT",
};
constexpr int kPathCount = sizeof kPaths / sizeof kPaths[0];
constexpr int kSlots = 3;
constexpr int kMaxOps = 80;

struct BaseVolume {
    DWORD sectors;
    BYTE sfd;
    UINT au;
};
// FAT12 on one-sector and four-sector clusters, FAT16 behind a partition
// table, FAT32 with the fewest clusters it allows.
const BaseVolume kBases[] = {{2000, 1, 512}, {4000, 1, 2048}, {8000, 0, 512}, {70000, 1, 512}};

struct Node {
    bool dir = false;
    std::vector<int> bytes;  // file contents; -1 = unknown
};

struct Slot {
    bool open = false;
    std::string path;
    BYTE mode = 0;
    DWORD pos = 0;
    FIL fil;
};

class Reader {
public:
    Reader(const uint8_t* d, std::size_t n) : d_(d), n_(n) {}
    bool more() const { return i_ < n_; }
    uint8_t byte() { return i_ < n_ ? d_[i_++] : 0; }
    unsigned word() { return byte() | (byte() << 8); }

private:
    const uint8_t* d_;
    std::size_t n_;
    std::size_t i_ = 0;
};

std::string parent_of(const std::string& p) { return p.substr(0, p.rfind('/')); }
bool under(const std::string& p, const std::string& dir) { return p.size() > dir.size() && p.compare(0, dir.size(), dir) == 0 && p[dir.size()] == '/'; }

class Sequence {
public:
    Sequence(Reader& in, bool strict) : in_(in), strict_(strict) {}

    void run()
    {
        for (int n = 0; n < kMaxOps && in_.more(); n++) step(n);
    }

    // With the disk working, closing works, also for a file in the error state.
    void close_all()
    {
        for (Slot& s : slots_)
            if (s.open) require(f_close(&s.fil) == FR_OK, "f_close failed on a working disk");
    }

    // Remounts and compares the whole tree with the model.
    void check_volume()
    {
        f_mount(0, nullptr);
        FATFS fs;
        std::memset(&fs, 0, sizeof fs);
        f_mount(0, &fs);
        std::map<std::string, Node> seen;
        collect("", seen);
        // Only a disk that never failed leaves a tree the model can predict.
        for (const auto& [path, node] : strict_ ? model_ : std::map<std::string, Node>{}) {
            const auto it = seen.find(path);
            if (it == seen.end()) {
                fail("an object of the model is missing after remount", path);
                continue;
            }
            if (it->second.dir != node.dir) fail("file and directory swapped after remount", path);
            if (node.dir) continue;
            if (it->second.bytes.size() != node.bytes.size()) fail("file size differs after remount", path);
            for (std::size_t i = 0; i < node.bytes.size(); i++)
                if (node.bytes[i] >= 0 && node.bytes[i] != it->second.bytes[i]) fail("file bytes differ after remount", path);
        }
        for (const auto& kv : seen)
            if (strict_ && !model_.count(kv.first)) fail("an object appeared that the model does not have", kv.first);
        DWORD nclst = 0;
        FATFS* fsp = nullptr;
        require(f_getfree("", &nclst, &fsp) == FR_OK, "f_getfree failed after remount");
        f_mount(0, nullptr);
    }

private:
    void fail(const char* what, const std::string& path)
    {
        if (!strict_) return;
        std::fprintf(stderr, "path %s\n", path.c_str());
        require(false, what);
    }

    const char* path() { return kPaths[in_.byte() % kPathCount]; }
    bool exists(const std::string& p) const { return model_.count(p) != 0; }
    bool is_dir(const std::string& p) const { return p.empty() || (exists(p) && model_.at(p).dir); }
    bool busy(const std::string& p) const
    {
        for (const Slot& s : slots_)
            if (s.open && (s.path == p || under(s.path, p))) return true;
        return false;
    }

    void check_position(Slot& s, const char* what)
    {
        const Node& n = model_.at(s.path);
        if (s.fil.fptr != s.pos || s.fil.fsize != n.bytes.size()) fail(what, s.path);
    }

    void step(int n)
    {
        const uint8_t op = in_.byte() % 12;
        Slot& s = slots_[in_.byte() % kSlots];
        switch (op) {
        case 0: open(s); break;
        case 1: write(s, n); break;
        case 2: read(s); break;
        case 3: seek(s); break;
        case 4:
            if (s.open) {
                const bool had_error = s.fil.flag & FM_ERROR;
                const FRESULT r = f_truncate(&s.fil);
                check_error_state(s, had_error, r, "f_truncate and the error state");
                if (had_error) break;
                if (!(s.mode & FM_WRITE)) {
                    require(r == FR_DENIED, "f_truncate without write access");
                } else {
                    check(r == FR_OK, "f_truncate failed on a healthy volume");
                    model_[s.path].bytes.resize(s.pos);
                    check_position(s, "f_truncate left position or size wrong");
                }
            }
            break;
        case 5:
            if (s.open) check(f_sync(&s.fil) == FR_OK, "f_sync failed on a healthy volume");
            break;
        case 6:
            if (s.open) {
                check(f_close(&s.fil) == FR_OK, "f_close failed on a healthy volume");
                s.open = false;
            }
            break;
        case 7: mkdir(); break;
        case 8: rename(); break;
        case 9: unlink(); break;
        case 10: stat(); break;
        default: {
            const char* p = path();
            if (f_chdir(p) == FR_OK) {
                check(is_dir(p), "f_chdir into something that is not a directory");
                char cwd[64];
                check(f_getcwd(cwd, sizeof cwd) == FR_OK, "f_getcwd failed");
                if (std::string("0:") + p != cwd) fail("f_getcwd differs from the directory entered", p);
            }
            break;
        }
        }
    }

    void open(Slot& s)
    {
        static const BYTE kModes[] = {FM_READ, FM_WRITE, FM_READ | FM_WRITE, FM_READ | FM_WRITE | FM_CREATE_NEW,
                                      FM_READ | FM_WRITE | FM_CREATE_ALWAYS, FM_READ | FM_WRITE | FM_OPEN_ALWAYS,
                                      FM_WRITE | FM_CREATE_ALWAYS, FM_READ | FM_OPEN_ALWAYS};
        const BYTE mode = kModes[in_.byte() % (sizeof kModes)];
        const std::string p = path();
        if (s.open || busy(p)) return;
        const FRESULT r = f_open(&s.fil, p.c_str(), mode);
        const bool creating = mode & (FM_CREATE_NEW | FM_CREATE_ALWAYS | FM_OPEN_ALWAYS);
        if (exists(p) && !is_dir(p) && !(mode & FM_CREATE_NEW))
            check(r == FR_OK, "opening an existing file failed");
        if (exists(p) && (mode & FM_CREATE_NEW)) check(r != FR_OK, "FM_CREATE_NEW over an existing object");
        if (r != FR_OK) return;
        check(!is_dir(p), "a directory opened as a file");
        check(creating || exists(p), "a missing file opened");
        check(is_dir(parent_of(p)), "a file created below something that is not a directory");
        Node& node = model_[p];
        if (mode & FM_CREATE_ALWAYS) node.bytes.clear();
        s.open = true;
        s.path = p;
        s.mode = mode;
        s.pos = 0;
        check_position(s, "f_open left position or size wrong");
    }

    void write(Slot& s, int n)
    {
        UINT len = in_.word() % 5000;
        const uint8_t seed = in_.byte();
        if (!s.open) return;
        std::vector<BYTE> data(len);
        for (UINT i = 0; i < len; i++) data[i] = static_cast<BYTE>(seed + i * 31 + (i >> 8) + n);
        UINT bw = 0;
        const bool had_error = s.fil.flag & FM_ERROR;
        const FRESULT r = f_write(&s.fil, data.data(), len, &bw);
        check_error_state(s, had_error, r, "f_write and the error state");
        if (had_error) return;
        if (!(s.mode & FM_WRITE)) {
            require(r == FR_DENIED && bw == 0, "f_write without write access");
            return;
        }
        check(r == FR_OK, "f_write failed on a healthy volume");
        require(bw <= len, "f_write reports more bytes than given");
        std::vector<int>& bytes = model_[s.path].bytes;
        if (bytes.size() < s.pos + bw) bytes.resize(s.pos + bw, -1);
        for (UINT i = 0; i < bw; i++) bytes[s.pos + i] = data[i];
        s.pos += bw;
        check_position(s, "f_write left position or size wrong");
    }

    void read(Slot& s)
    {
        const UINT len = in_.word() % 5000;
        if (!s.open) return;
        std::vector<BYTE> data(len + 1);
        UINT br = 0;
        const bool had_error = s.fil.flag & FM_ERROR;
        const FRESULT r = f_read(&s.fil, data.data(), len, &br);
        require(br <= len, "f_read reports more bytes than asked for");
        check_error_state(s, had_error, r, "f_read and the error state");
        if (had_error) return;
        if (!(s.mode & FM_READ)) {
            require(r == FR_DENIED && br == 0, "f_read without read access");
            return;
        }
        check(r == FR_OK, "f_read failed on a healthy volume");
        const std::vector<int>& bytes = model_.at(s.path).bytes;
        const std::size_t left = s.pos < bytes.size() ? bytes.size() - s.pos : 0;
        check(br == (len < left ? len : left), "f_read count differs from what the file holds");
        for (UINT i = 0; i < br && s.pos + i < bytes.size(); i++)
            if (bytes[s.pos + i] >= 0 && bytes[s.pos + i] != data[i]) fail("f_read returned other bytes than written", s.path);
        s.pos += br;
        check_position(s, "f_read left position or size wrong");
    }

    void seek(Slot& s)
    {
        const unsigned v = in_.word();
        if (!s.open) return;
        std::vector<int>& bytes = model_[s.path].bytes;
        DWORD ofs = v * 2u;
        if (v & 1) ofs = static_cast<DWORD>(bytes.size());  // the end of the file
        const bool had_error = s.fil.flag & FM_ERROR;
        const FRESULT r = f_lseek(&s.fil, ofs);
        check_error_state(s, had_error, r, "f_lseek and the error state");
        if (had_error) return;
        check(r == FR_OK, "f_lseek failed on a healthy volume");
        const DWORD old = static_cast<DWORD>(bytes.size());
        check(s.fil.fsize >= old, "f_lseek shrank the file");
        if (!(s.mode & FM_WRITE)) check(s.fil.fsize == old, "f_lseek grew a file opened for reading");
        check(s.fil.fptr <= (ofs > old ? ofs : old), "f_lseek went past the position asked for");
        if (ofs <= old) check(s.fil.fptr == ofs, "f_lseek inside the file missed");
        bytes.resize(s.fil.fsize, -1);
        s.pos = s.fil.fptr;
    }

    void mkdir()
    {
        const std::string p = path();
        const FRESULT r = f_mkdir(p.c_str());
        if (exists(p)) check(r == FR_EXIST, "f_mkdir over an existing object");
        if (r != FR_OK) return;
        check(is_dir(parent_of(p)), "a directory created below something that is not a directory");
        model_[p].dir = true;
    }

    void rename()
    {
        const std::string from = path(), to = path();
        if (busy(from) || busy(to)) return;
        const FRESULT r = f_rename(from.c_str(), to.c_str());
        if (r != FR_OK) return;
        check(exists(from), "a missing object renamed");
        check(!exists(to), "renamed over an existing object");
        check(is_dir(parent_of(to)), "renamed below something that is not a directory");
        if (under(to, from)) fail("a directory was moved into itself", from + " -> " + to);
        std::map<std::string, Node> moved;
        for (auto it = model_.begin(); it != model_.end();) {
            if (it->first == from || under(it->first, from)) {
                moved[to + it->first.substr(from.size())] = it->second;
                it = model_.erase(it);
            } else {
                ++it;
            }
        }
        model_.insert(moved.begin(), moved.end());
    }

    void unlink()
    {
        const std::string p = path();
        if (busy(p)) return;
        const FRESULT r = f_unlink(p.c_str());
        if (r != FR_OK) return;
        check(exists(p), "a missing object deleted");
        for (const auto& kv : model_)
            if (under(kv.first, p)) fail("a directory that is not empty was deleted", p);
        model_.erase(p);
    }

    void stat()
    {
        const std::string p = path();
        FILINFO fno;
        const FRESULT r = f_stat(p.c_str(), &fno);
        if (exists(p) != (r == FR_OK)) fail("f_stat disagrees with the model about existence", p);
        if (r != FR_OK || busy(p) || !exists(p)) return;
        check(((fno.fattrib & ATTR_DIRECTORY) != 0) == is_dir(p), "f_stat type differs from the model");
        if (!is_dir(p)) check(fno.fsize == model_.at(p).bytes.size(), "f_stat size differs from the model");
    }

    void collect(const std::string& dir, std::map<std::string, Node>& seen)
    {
        DIR dj;
        const FRESULT opened = f_opendir(&dj, dir.empty() ? "/" : dir.c_str());
        if (dir.empty()) require(opened == FR_OK, "the root directory does not open after remount");
        check(opened == FR_OK, "f_opendir failed after remount");
        if (opened != FR_OK) return;
        FILINFO fno;
        for (;;) {
            const FRESULT listed = f_readdir(&dj, &fno);
            check(listed == FR_OK, "f_readdir failed after remount");
            if (listed != FR_OK || !fno.fname[0]) break;
            if (fno.fname[0] == '.') continue;
            const std::string p = dir + "/" + fno.fname;
            Node& node = seen[p];
            node.dir = fno.fattrib & ATTR_DIRECTORY;
            if (node.dir) {
                if (seen.size() > 1000) fail("the tree does not end", p);
                collect(p, seen);
                continue;
            }
            FIL f;
            const FRESULT opened_file = f_open(&f, p.c_str(), FM_READ);
            check(opened_file == FR_OK, "a listed file does not open after remount");
            if (opened_file != FR_OK) continue;
            std::vector<BYTE> buf(fno.fsize + 1);
            UINT br = 0;
            check(f_read(&f, buf.data(), fno.fsize, &br) == FR_OK && br == fno.fsize, "a listed file does not read back");
            node.bytes.assign(buf.begin(), buf.begin() + br);
            require(f_close(&f) == FR_OK, "f_close of a read file failed");
        }
    }

    // A model check: only meaningful while the disk works.
    void check(bool ok, const char* what)
    {
        if (strict_) require(ok, what);
    }

    // Data operations on a file in the error state are refused, and a
    // failed transfer puts the file into that state.
    void check_error_state(const Slot& s, bool had_error, FRESULT r, const char* what)
    {
        if (had_error) require(r == FR_INT_ERR && (s.fil.flag & FM_ERROR), what);
        if (r == FR_DISK_ERR) require(s.fil.flag & FM_ERROR, what);
    }

    Reader& in_;
    bool strict_;
    std::map<std::string, Node> model_;
    Slot slots_[kSlots];
};

// Formats base volume `b` once and keeps a copy of the result.
const MemoryDisk& base_volume(std::size_t b)
{
    static std::vector<MemoryDisk> bases;
    if (bases.empty()) {
        for (const BaseVolume& v : kBases) {
            FuzzDrive& disk = FuzzDrive::get();
            disk.start(MemoryDisk(v.sectors));
            FATFS fs;
            std::memset(&fs, 0, sizeof fs);
            f_mount(0, &fs);
            require(f_mkfs(0, v.sfd, v.au) == FR_OK, "f_mkfs of a base volume failed");
            f_mount(0, nullptr);
            bases.push_back(disk.medium);
        }
    }
    return bases[b];
}

}  // namespace

void operation_sequence(const uint8_t* data, std::size_t size)
{
    Reader in(data, size);
    const uint8_t first = in.byte();
    FuzzDrive& disk = FuzzDrive::get();
    disk.start(base_volume((first & 0x7F) % (sizeof kBases / sizeof kBases[0])));
    const bool faults = first & 0x80;
    if (faults) disk.drive.fail_after(in.byte() * 4u);

    FATFS fs;
    std::memset(&fs, 0, sizeof fs);
    f_mount(0, &fs);
    Sequence seq(in, !faults);
    seq.run();
    disk.drive.clear_faults();  // the disk works again
    seq.close_all();
    require(!disk.wrote_outside(), "a write outside the volume");
    seq.check_volume();
}

}  // namespace fuzz
