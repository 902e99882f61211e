#include "tools/common/card_check.h"

#include "fatfs/diskio.h"

namespace tools {
namespace {

constexpr DWORD kPictureBytes = 800 * 480 * 2;

// One file as the player opens it: read and write access, created when
// missing (mode 0x13).
bool judge_file(const char* name, const CardFile& f, const char* plays, std::vector<std::string>& findings)
{
    const std::string n = name;
    if (f.found == FR_NO_FILE) {
        findings.push_back(n + " is missing: the board creates it, empty, on the card, and " + plays + ".");
        return false;
    }
    if (f.found != FR_OK) {
        findings.push_back(n + " cannot be looked up on the volume: the board " + plays + ".");
        return false;
    }
    if (f.attrib & ATTR_DIRECTORY) {
        findings.push_back(n + " is a directory: the board " + plays + ".");
        return false;
    }
    if (f.attrib & ATTR_READ_ONLY) {
        findings.push_back(n + " is read-only: the board opens it for writing, cannot, and " + plays + ".");
        return false;
    }
    if (f.size == 0) {
        findings.push_back(n + " is empty: the board " + plays + ".");
        return false;
    }
    return true;
}

} // namespace

CardFacts check_card()
{
    CardFacts facts;
    FATFS fs;
    disk_initialize(0);
    f_mount(0, &fs);
    FILINFO fi;
    // The first lookup mounts the volume; a missing name still proves it.
    const FRESULT first = f_stat("LOL.RAW", &fi);
    facts.volume = first == FR_OK || first == FR_NO_FILE ? FR_OK : first;
    if (facts.volume == FR_OK) {
        facts.picture = {first, first == FR_OK ? fi.fsize : 0, first == FR_OK ? fi.fattrib : BYTE{0}};
        const FRESULT second = f_stat("LOL.MP3", &fi);
        facts.music = {second, second == FR_OK ? fi.fsize : 0, second == FR_OK ? fi.fattrib : BYTE{0}};
    }
    f_mount(0, nullptr);
    return facts;
}

CardVerdict judge_card(const CardFacts& facts)
{
    CardVerdict v;
    if (facts.volume != FR_OK) {
        v.findings.push_back(facts.volume == FR_NO_FILESYSTEM
                                 ? "No FAT volume on the card: the board shows one colour and plays nothing."
                                 : "The card cannot be read: the board shows one colour and plays nothing.");
        return v;
    }
    v.picture = judge_file("LOL.RAW", facts.picture, "shows one colour", v.findings);
    if (v.picture && facts.picture.size < kPictureBytes)
        v.findings.push_back("LOL.RAW holds " + std::to_string(facts.picture.size) +
                             " bytes, less than a whole picture (768000): its last pixel repeats to the end of "
                             "the panel.");
    v.music = judge_file("LOL.MP3", facts.music, "plays nothing", v.findings);
    return v;
}

} // namespace tools
