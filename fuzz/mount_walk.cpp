// Fuzz target: mount a hostile image and walk all of it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fatfs/ff.h"
#include "fuzz/fuzz_disk.h"
#include "fuzz/fuzz_targets.h"

namespace fuzz {
namespace {

// Bounds that keep one input cheap however the image links its tree.
constexpr int kMaxDepth = 8;
constexpr int kMaxEntries = 2000;
constexpr UINT kMaxFileBytes = 64 * 1024;
// Sector count an input may declare: large enough for a FAT32 volume, small
// enough that walking every FAT entry of the card (f_getfree on a volume
// that claims more clusters than the card holds) stays well under a second.
constexpr DWORD kMaxSectors = 1u << 17;
// Disk calls the walk may make. A directory may hold 65,536 entries, and on a
// hostile volume every lookup of a listed name can run through all of them
// (a looping chain, a name the lookup cannot match): without a budget a few
// thousand lookups take tens of seconds.
constexpr std::size_t kMaxDiskCalls = 100000;

bool within_budget() { return FuzzDrive::get().drive.calls().size() < kMaxDiskCalls; }

struct Walk {
    int entries = 0;
    std::string first_file;  // the first file met, deleted afterwards
    BYTE buf[1536];
};

void read_file(Walk& w, const std::string& path, DWORD size)
{
    FIL f;
    // (A hostile directory may hold the same name twice: the size opened
    // need not be the one listed.)
    if (f_open(&f, path.c_str(), FM_READ) != FR_OK) return;
    UINT total = 0;
    for (;;) {
        UINT br = 0;
        const UINT want = (total & 1) ? 700 : sizeof w.buf;
        const FRESULT res = f_read(&f, w.buf, want, &br);
        require(br <= want, "f_read reports more bytes than asked for");
        total += br;
        if (res != FR_OK || br < want || total >= kMaxFileBytes || !within_budget()) break;
    }
    // Seek to the middle and to the end, then read a little.
    if (f_lseek(&f, size / 2) == FR_OK) {
        UINT br = 0;
        (void)f_read(&f, w.buf, 100, &br);
    }
    (void)f_lseek(&f, size);
    require(f_close(&f) == FR_OK, "closing a file only read failed");
}

void walk_dir(Walk& w, const std::string& path, int depth)
{
    DIR dj;
    if (f_opendir(&dj, path.c_str()) != FR_OK) return;
    FILINFO fno;
    while (w.entries < kMaxEntries && within_budget() && f_readdir(&dj, &fno) == FR_OK && fno.fname[0]) {
        w.entries++;
        require(std::memchr(fno.fname, 0, sizeof fno.fname) != nullptr, "listed name not terminated");
        if (std::strcmp(fno.fname, ".") == 0 || std::strcmp(fno.fname, "..") == 0) continue;
        const std::string child = path + "/" + fno.fname;
        FILINFO st;
        (void)f_stat(child.c_str(), &st);
        if (fno.fattrib & ATTR_DIRECTORY) {
            if (depth < kMaxDepth) walk_dir(w, child, depth + 1);
            if (f_chdir(child.c_str()) == FR_OK) {
                char cwd[64];
                (void)f_getcwd(cwd, sizeof cwd);
                require(std::memchr(cwd, 0, sizeof cwd) != nullptr, "f_getcwd left no terminator");
            }
        } else {
            if (w.first_file.empty()) w.first_file = child;
            read_file(w, child, fno.fsize);
        }
    }
}

}  // namespace

void require(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "finding: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void mount_and_walk(const uint8_t* data, std::size_t size)
{
    FuzzDrive& disk = FuzzDrive::get();
    disk.load_sparse(data, size, kMaxSectors);

    FATFS fs;
    std::memset(&fs, 0, sizeof fs);
    f_mount(0, &fs);
    Walk w;
    walk_dir(w, "", 0);
    DWORD nclst = 0;
    FATFS* fsp = nullptr;
    if (f_getfree("", &nclst, &fsp) == FR_OK) {
        require(fsp == &fs, "f_getfree names another volume object");
        // FAT16/32 count the two reserved entries too, so a damaged volume
        // with zeros there reports up to two more.
        require(nclst <= fs.n_fatent, "more free clusters than the FAT has entries");
    }
    char cwd[80];
    (void)f_chdir("/");
    (void)f_getcwd(cwd, sizeof cwd);
    (void)f_getcwd(cwd, 3);  // a buffer too small for most paths
    require(disk.sectors_written() == 0, "walking a volume wrote to it");

    // Changes on the hostile volume stay inside it.
    if (fs.fs_type != 0) {
        const DWORD first = fs.fatbase;
        const DWORD end = fs.database + (fs.n_fatent - 2) * fs.csize;
        const DWORD fsinfo = fs.fs_type == 3 && fs.fsi_sector != 0 ? fs.fsi_sector : first;
        FIL f;
        if (f_open(&f, "/NEW.BIN", FM_WRITE | FM_CREATE_ALWAYS) == FR_OK) {
            UINT bw = 0;
            (void)f_write(&f, w.buf, sizeof w.buf, &bw);
            (void)f_write(&f, w.buf, 100, &bw);
            (void)f_close(&f);
        }
        (void)f_mkdir("/NEWDIR");
        (void)f_rename("/NEW.BIN", "/NEWDIR/MOVED.BIN");
        if (!w.first_file.empty()) (void)f_unlink(w.first_file.c_str());
        (void)f_unlink("/NEWDIR/MOVED.BIN");
        for (DWORD s : disk.drive.written_sectors())
            require((s >= first && s < end) || s == fsinfo, "a write outside the volume's tables and data area");
    }
    f_mount(0, nullptr);
}

}  // namespace fuzz
