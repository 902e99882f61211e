#include "workloads/power_loss.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>

#include "fatfs/diskio.h"
#include "fatfs/ff.h"
#include "fatfs/host/volume_start.h"
#include "fatfs/sdspi.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "workloads/firmware_tick.h"
#include "sim/board.h"
#include "sim/card_model.h"

namespace power_loss {
namespace {

using Bytes = std::vector<uint8_t>;

// Board time one phase (workload, or the checks after the cut) may take
// before it counts as hung.
const sim::Cycle kPhaseLimit = sim::cycles_from_ms(60'000);

// One acceptable state of a file after a cut: under this path with these
// bytes, or gone.
struct Alternative {
    std::string path;
    bool present = true;
    Bytes content;
    // Only the first content.size() bytes must read back (a truncation cut
    // short may leave the old size in the entry over the shortened chain).
    bool prefix = false;
    bool operator==(const Alternative&) const = default;
};
// Synced files by name; each may be in any of its alternatives.
using Expectations = std::map<std::string, std::vector<Alternative>>;

Expectations merged(const Expectations& before, const Expectations& after)
{
    // A file first synced by the step cut short was never synced: nothing is
    // expected of it. The others may be as before or as after the step.
    Expectations out = before;
    for (const auto& [name, alts] : after) {
        if (!before.count(name)) continue;
        for (const Alternative& a : alts) {
            std::vector<Alternative>& mine = out[name];
            if (std::find(mine.begin(), mine.end(), a) == mine.end()) mine.push_back(a);
        }
    }
    return out;
}

Bytes pattern(std::size_t n, unsigned seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(seed * 37 + i * 7 + (i >> 9));
    return b;
}

struct Step {
    std::string name;
    std::function<FRESULT()> call;
    // What the synced files are once the call has succeeded.
    std::function<void(Expectations&)> effect;
    bool formats = false;  // the volume may be without a file system while it runs
    bool shortens = false; // cut short, the file may keep only the part it keeps anyway
};

// The workload: files written in pieces and synced, a directory, a rename,
// a deleted file, a truncation, formatting, and a file on the new volume.
class Script {
public:
    Script() { build(); }
    const std::vector<Step>& steps() const { return steps_; }

private:
    FRESULT write(FIL& f, std::size_t n, unsigned seed, Bytes& shadow)
    {
        const Bytes data = pattern(n, seed);
        UINT bw = 0;
        const FRESULT r = f_write(&f, data.data(), static_cast<UINT>(n), &bw);
        if (r == FR_OK && bw != n) return FR_DENIED;
        shadow.insert(shadow.end(), data.begin(), data.begin() + bw);
        return r;
    }

    void add(std::string name, std::function<FRESULT()> call, std::function<void(Expectations&)> effect = {})
    {
        steps_.push_back({std::move(name), std::move(call), std::move(effect)});
    }

    void build()
    {
        add("create KEEP.TXT", [this] { keep_.clear(); return f_open(&f_, "KEEP.TXT", FM_WRITE | FM_CREATE_ALWAYS); });
        add("write KEEP.TXT in pieces", [this] {
            FRESULT r = FR_OK;
            for (auto [n, seed] : {std::pair{700u, 1u}, {1500u, 2u}, {300u, 3u}})
                if (r == FR_OK) r = write(f_, n, seed, keep_);
            return r;
        });
        add("f_sync KEEP.TXT", [this] { return f_sync(&f_); },
            [this](Expectations& e) { e["keep"] = {{"KEEP.TXT", true, keep_}}; });
        add("append and close KEEP.TXT", [this] {
            const FRESULT r = write(f_, 2000, 4, keep_);
            return r != FR_OK ? r : f_close(&f_);
        }, [this](Expectations& e) { e["keep"] = {{"KEEP.TXT", true, keep_}}; });
        add("mkdir DIR", [] { return f_mkdir("DIR"); });
        add("create DIR/LOG.BIN", [this] { log_.clear(); return f_open(&f_, "DIR/LOG.BIN", FM_WRITE | FM_CREATE_ALWAYS); });
        for (unsigned i = 0; i < 4; i++) {
            add("write DIR/LOG.BIN", [this, i] { return write(f_, 1000, 10 + i, log_); });
            add("f_sync DIR/LOG.BIN", [this] { return f_sync(&f_); },
                [this](Expectations& e) { e["log"] = {{"DIR/LOG.BIN", true, log_}}; });
        }
        add("close DIR/LOG.BIN", [this] { return f_close(&f_); });
        add("rename KEEP.TXT to DIR/KEPT.TXT", [] { return f_rename("KEEP.TXT", "DIR/KEPT.TXT"); },
            [this](Expectations& e) { e["keep"] = {{"DIR/KEPT.TXT", true, keep_}}; });
        add("write and close TMP.BIN", [this] {
            Bytes tmp;
            FRESULT r = f_open(&f_, "TMP.BIN", FM_WRITE | FM_CREATE_ALWAYS);
            if (r == FR_OK) r = write(f_, 3000, 20, tmp);
            if (r == FR_OK) r = f_close(&f_);
            tmp_ = tmp;
            return r;
        }, [this](Expectations& e) { e["tmp"] = {{"TMP.BIN", true, tmp_}}; });
        add("unlink TMP.BIN", [] { return f_unlink("TMP.BIN"); },
            [](Expectations& e) { e["tmp"] = {{"TMP.BIN", false, {}}}; });
        add("truncate DIR/LOG.BIN to 1500", [this] {
            log_.resize(1500);
            FRESULT r = f_open(&f_, "DIR/LOG.BIN", FM_READ | FM_WRITE);
            if (r == FR_OK) r = f_lseek(&f_, 1500);
            if (r == FR_OK) r = f_truncate(&f_);
            if (r == FR_OK) r = f_close(&f_);
            return r;
        }, [this](Expectations& e) { e["log"] = {{"DIR/LOG.BIN", true, log_}}; });
        steps_.back().shortens = true;
        steps_.push_back({"f_mkfs", [] { return f_mkfs(0, 0, 0); }, [](Expectations& e) { e.clear(); }, true});
        add("create, write and close NEW.TXT", [this] {
            Bytes fresh;
            FRESULT r = f_open(&f_, "NEW.TXT", FM_WRITE | FM_CREATE_NEW);
            if (r == FR_OK) r = write(f_, 600, 30, fresh);
            if (r == FR_OK) r = f_close(&f_);
            fresh_ = fresh;
            return r;
        }, [this](Expectations& e) { e["new"] = {{"NEW.TXT", true, fresh_}}; });
    }

    std::vector<Step> steps_;
    FIL f_{};
    Bytes keep_, log_, tmp_, fresh_;
};

// Whether the file is in state `a` on the mounted volume; `why` says how not.
bool holds(const Alternative& a, std::string& why)
{
    FIL f;
    const FRESULT r = f_open(&f, a.path.c_str(), FM_READ);
    if (!a.present) {
        if (r == FR_OK) f_close(&f);
        if (r == FR_NO_FILE) return true;
        why += a.path + " still there; ";
        return false;
    }
    if (r != FR_OK) {
        why += a.path + " does not open (" + std::to_string(r) + "); ";
        return false;
    }
    Bytes got(a.content.size() + (a.prefix ? 0 : 1));
    UINT br = 0;
    const FRESULT rr = f_read(&f, got.data(), static_cast<UINT>(got.size()), &br);
    f_close(&f);
    got.resize(br);
    if (rr == FR_OK && got == a.content) return true;
    why += a.path + " reads " + std::to_string(br) + " bytes (result " + std::to_string(rr) + "), wanted " +
           std::to_string(a.content.size()) + "; ";
    return false;
}

// Reads everything on the volume (results ignored): a damaged volume must
// not make any call crash or hang.
void walk_all(const std::string& dir, int depth)
{
    DIR dj;
    if (depth > 8 || f_opendir(&dj, dir.c_str()) != FR_OK) return;
    FILINFO fno;
    for (int n = 0; n < 256 && f_readdir(&dj, &fno) == FR_OK && fno.fname[0]; n++) {
        if (fno.fname[0] == '.') continue;
        const std::string p = dir + "/" + fno.fname;
        if (fno.fattrib & ATTR_DIRECTORY) {
            walk_all(p, depth + 1);
            continue;
        }
        FIL f;
        if (f_open(&f, p.c_str(), FM_READ) != FR_OK) continue;
        std::array<uint8_t, 1024> buf;
        UINT br = 0;
        while (f_read(&f, buf.data(), buf.size(), &br) == FR_OK && br == buf.size()) {
        }
        f_close(&f);
    }
    DWORD n = 0;
    FATFS* fs = nullptr;
    (void)f_getfree("", &n, &fs);
}

int run_fsck(const std::string& image, std::string& output)
{
    const std::string cmd = "fsck.fat -n '" + image + "' 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) output.append(buf.data(), n);
    const int st = ::pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace

std::vector<std::string> classify_fsck(const std::string& output)
{
    // Most specific first; a line gets the first kind that matches.
    static const std::vector<std::pair<std::regex, std::string>> kinds = {
        {std::regex("[Dd]irty bit"), "dirty bit set"},
        {std::regex("[Ff]ree cluster summary|free clusters"), "free cluster count"},
        {std::regex("FATs differ"), "FAT copies differ"},
        {std::regex("[Oo]rphan|[Rr]eclaim|unused cluster|[Ll]ost"), "lost clusters"},
        {std::regex("shared|[Cc]ross-?link"), "cross-linked chains"},
        {std::regex("[Dd]irectory has non-zero size"), "directory with a size"},
        {std::regex("[Ff]ile size|has too many clusters|too (small|large)|[Tt]runcating"), "file size vs. chain"},
        {std::regex("[Bb]ad short|[Ii]nvalid name|[Bb]ad (file )?name|illegal|Renamed to FSCK"), "bad name"},
        {std::regex("[Dd]uplicate|already exists|[Aa]uto-renaming"), "duplicate name"},
        {std::regex("\\.\\.? is|[Dd]ot"), "dot entries"},
        {std::regex("[Bb]ackup|[Bb]oot sector"), "boot sector"},
        {std::regex("free cluster \\(|[Ss]tart (cluster|does)|beyond|[Bb]ad cluster|points to|invalid cluster"), "bad chain"},
        {std::regex("not a FAT|[Ll]ogical sector size|Currently,|got [0-9]+ bytes"), "not a FAT volume"},
    };
    // The banner, the closing words and the summary; a line naming a path
    // ("/DIR/F.TXT") only introduces the indented finding that follows it.
    static const std::regex noise("^(fsck\\.fat |Leaving|Checking|Starting|Performing|[ \\t]*$|/)");
    static const std::regex digits("[0-9]+");
    std::set<std::string> found;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        start = end + 1;
        if (std::regex_search(line, noise)) continue;
        const bool detail = line[0] == ' ' || line[0] == '\t';
        line.erase(0, line.find_first_not_of(" \t"));
        std::string kind;
        for (const auto& [re, name] : kinds)
            if (std::regex_search(line, re)) {
                kind = name;
                break;
            }
        // Indented lines that match nothing are the details of a finding
        // (names, sizes, dates); a line without a space is the rest of a
        // path whose name held a line break.
        if (kind.empty() && (detail || line.find(' ') == std::string::npos)) continue;
        if (kind.empty()) kind = "other: " + std::regex_replace(line.substr(0, 60), digits, "#");
        found.insert(kind);
    }
    return {found.begin(), found.end()};
}

std::vector<uint8_t> mkfs_fat_image(uint64_t bytes, int fat_bits)
{
    char dir[] = "/tmp/tessivo-card-XXXXXX";
    if (!::mkdtemp(dir)) throw std::runtime_error("no scratch directory");
    const std::string path = std::string(dir) + "/card.img";
    const std::string cmd = "mkfs.fat -C -F " + std::to_string(fat_bits) + " -s 1 '" + path + "' " + std::to_string(bytes / 1024) + " >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    ::rmdir(dir);
    if (rc != 0 || image.size() != bytes) throw std::runtime_error("mkfs.fat failed");
    return image;
}

Workload::Workload(int fat_bits)
    : card_bytes_(fat_bits == 32 ? 34000u * 1024 : 4u << 20), base_(mkfs_fat_image(card_bytes_, fat_bits))
{
    char dir[] = "/tmp/tessivo-power-XXXXXX";
    if (!::mkdtemp(dir)) throw std::runtime_error("no scratch directory");
    scratch_ = std::string(dir) + "/card.img";
}

Workload::~Workload()
{
    std::remove(scratch_.c_str());
    ::rmdir(scratch_.substr(0, scratch_.rfind('/')).c_str());
}

uint64_t Workload::total_writes()
{
    return run(0).cut_after;
}

CutOutcome Workload::run(uint64_t n)
{
    CutOutcome out;
    out.cut_after = n;
    sim::Board board;
    sim::CompiledCpu cpu(board);
    OSCSetPBDIV(OSC_PB_DIV_1);
    workloads::start_firmware_tick(cpu);
    disk_attach(0, &sdspi_disk, nullptr);
    sim::MemoryImage image(base_);
    auto card = std::make_unique<sim::CardModel>(sim::CardKind::Sdsc, image);
    board.plug(*card);
    // A 16 KB allocation unit, so formatting aligns to something a 4 MB card has.
    card->timing().au_size = 1;
    if (n) card->faults().power_cut_after_writes = n;

    Script script;
    Expectations expected;
    bool formatting = false;
    board.stop_at(board.now() + kPhaseLimit);
    const bool hung = cpu.run([&] {
        if (disk_initialize(0) != 0) {
            out.failure = "the card did not initialise";
            return;
        }
        static FATFS fs;
        fs = FATFS{};
        f_mount(0, &fs);
        for (const Step& step : script.steps()) {
            Expectations after = expected;
            const FRESULT r = step.call();
            if (step.effect) step.effect(after);
            if (r == FR_OK) {
                expected = after;
                if (card->powered()) continue;
            }
            // The power went during this step (or the step failed without
            // it, which the checks below will show).
            out.step = step.name;
            formatting = step.formats;
            if (r != FR_OK) {
                if (step.shortens)
                    for (auto& kv : after)
                        for (Alternative& a : kv.second) a.prefix = true;
                expected = formatting ? Expectations{} : merged(expected, after);
            }
            if (card->powered()) out.failure = step.name + " failed with power on (result " + std::to_string(r) + ")";
            return;
        }
    });
    if (hung) out.failure = "the workload hung at " + out.step;
    if (n == 0) {
        out.cut_after = card->sectors_written();
        return out;
    }
    if (!out.failure.empty()) return out;
    if (out.step.empty()) out.step = "after the workload";

    // Power back on and look at what the card holds.
    card->faults().power_cut_after_writes.reset();
    card->power_cycle();
    board.stop_at(board.now() + kPhaseLimit);
    const bool check_hung = cpu.run([&] {
        if (disk_initialize(0) != 0) {
            out.failure = "the card did not initialise after the cut";
            return;
        }
        static FATFS fs;
        fs = FATFS{};
        f_mount(0, nullptr);
        f_mount(0, &fs);
        DIR root;
        const FRESULT r = f_opendir(&root, "/");
        out.mounted = r == FR_OK;
        out.no_filesystem = r == FR_NO_FILESYSTEM;
        if (!out.mounted) {
            if (!(out.no_filesystem && formatting))
                out.failure = "the volume does not mount (result " + std::to_string(r) + ")";
            return;
        }
        for (const auto& [name, alts] : expected) {
            out.files_checked++;
            std::string why;
            bool ok = false;
            for (const Alternative& a : alts) ok = ok || holds(a, why);
            if (!ok) out.lost.push_back(name + ": " + why);
        }
        walk_all("", 0);
        f_mount(0, nullptr);
    });
    if (check_hung) out.failure = "the checks after the cut hung";

    // fsck.fat on the card as it is now.
    Bytes bytes(card_bytes_);
    image.read(0, bytes.data(), bytes.size());
    {
        // fsck.fat reads no partition table: it gets the volume alone.
        const std::size_t start = std::size_t{512} * volume_start(bytes.data());
        std::ofstream f(scratch_, std::ios::binary | std::ios::trunc);
        if (start < bytes.size())
            f.write(reinterpret_cast<const char*>(bytes.data() + start), static_cast<std::streamsize>(bytes.size() - start));
    }
    std::string report;
    out.fsck_status = run_fsck(scratch_, report);
    if (out.fsck_status != 0) out.fsck_kinds = classify_fsck(report);
    if (std::getenv("POWER_LOSS_FSCK_LOG")) std::fprintf(stderr, "--- cut %llu\n%s", static_cast<unsigned long long>(n), report.c_str());
    for (const std::string& v : board.violations()) out.failure += "card protocol violation: " + v + "; ";
    return out;
}

}  // namespace power_loss
