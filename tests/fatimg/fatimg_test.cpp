// fatimg run as a program on images made by itself, by mkfs.fat and by
// mtools; fsck.fat must find nothing to fix after its writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <algorithm>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

struct Result {
    int rc = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string data(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    return data;
}

void spit(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string blob(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

bool have_tools()
{
    return std::system("(command -v fsck.fat && command -v mkfs.fat && command -v mcopy) >/dev/null 2>&1") == 0;
}

class FatimgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have_tools()) GTEST_SKIP() << "dosfstools or mtools not installed";
        char tmpl[] = "/tmp/fatimg_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        img_ = dir_ + "/card.img";
    }
    void TearDown() override
    {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    Result sh(const std::string& cmd)
    {
        Result r;
        const std::string out = dir_ + "/.out", err = dir_ + "/.err";
        const int status =
            std::system(("MTOOLS_SKIP_CHECK=1 " + cmd + " >" + out + " 2>" + err + " </dev/null").c_str());
        r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }
    Result fatimg(const std::string& args) { return sh(std::string(FATIMG_PATH) + " " + img_ + " " + args); }
    // Runs fatimg and requires success.
    std::string ok(const std::string& args)
    {
        const Result r = fatimg(args);
        EXPECT_EQ(r.rc, 0) << "fatimg " << args << "\n" << r.err;
        EXPECT_EQ(r.err, "") << args;
        return r.out;
    }
    // fsck.fat -n on the volume (cut out of a partitioned image at `offset`).
    void expect_fsck_clean(uint64_t offset = 0)
    {
        std::string vol = img_;
        if (offset) {
            vol = dir_ + "/vol.img";
            ASSERT_EQ(sh("dd if=" + img_ + " of=" + vol + " bs=512 skip=" + std::to_string(offset / 512) +
                         " conv=sparse status=none").rc,
                      0);
        }
        const Result r = sh("fsck.fat -n " + vol);
        EXPECT_EQ(r.rc, 0) << r.out << r.err;
    }
    std::string local(const std::string& name) { return dir_ + "/" + name; }

    std::string dir_, img_;
};

// A sequence of writes through fatimg on each kind of image, then the tree,
// the contents, fsck.fat and mtools must all agree.
struct ImageKind {
    const char* name;
    const char* make;       // shell command; {img} is the image
    uint64_t offset;        // byte offset of the volume for mtools and fsck
};

const ImageKind KINDS[] = {
    {"SelfPartitioned", "{fatimg} {img} mkfs --size 48M", 63 * 512},
    {"SelfWholeFat12", "{fatimg} {img} mkfs --size 4M --sfd", 0},
    {"SelfFat32SmallClusters", "{fatimg} {img} mkfs --size 40M --sfd --au 512", 0},
    {"MkfsFat12", "mkfs.fat -F 12 -C {img} 2048", 0},
    {"MkfsFat16TwoFats", "mkfs.fat -F 16 -C {img} 32768", 0},
    {"MkfsFat32", "mkfs.fat -F 32 -s 1 -C {img} 40000", 0},
};

class WriteSequence : public FatimgTest, public ::testing::WithParamInterface<ImageKind> {};

TEST_P(WriteSequence, TreeContentsFsckAndMtoolsAgree)
{
    const ImageKind& k = GetParam();
    std::string make = k.make;
    for (auto [key, val] : {std::pair<std::string, std::string>{"{fatimg}", FATIMG_PATH}, {"{img}", img_}}) {
        for (size_t p; (p = make.find(key)) != std::string::npos;) make.replace(p, key.size(), val);
    }
    ASSERT_EQ(sh(make).rc, 0) << make;
    const std::string mt = "-i " + img_ + "@@" + std::to_string(k.offset) + " ";

    // Something mtools wrote first, with a long name.
    spit(local("m.txt"), "from mtools\n");
    ASSERT_EQ(sh("mmd " + mt + "::/MT && mcopy " + mt + local("m.txt") + " '::/MT/Long name.txt'").rc, 0);

    const std::vector<std::pair<std::string, size_t>> files = {
        {"ZERO.BIN", 0}, {"ONE.BIN", 1}, {"SECTOR.BIN", 512}, {"ODD.BIN", 2049}, {"BIG.BIN", 300000}};
    ok("mkdir /A");
    ok("mkdir /A/B");
    for (size_t i = 0; i < files.size(); i++) {
        spit(local(files[i].first), blob(files[i].second, static_cast<unsigned>(i)));
        ok("put " + local(files[i].first) + " /A/B/" + files[i].first);
    }
    ok("mv /A/B/ODD.BIN /ODD.BIN");
    ok("mv /A/B /B");            // a directory changes parent
    ok("mv /MT/LONGNA~1.TXT /A/M.TXT");
    ok("rm /MT");
    ok("rm /B/ONE.BIN");
    ok("put " + local("ONE.BIN") + " /B/ONE.BIN");  // again, into the freed space
    ok("put " + local("SECTOR.BIN") + " /B/BIG.BIN");  // replaces a larger file
    ok("attrib /ODD.BIN +r +h");
    ok("touch /A/M.TXT --date 2021-06-07 --time 08:09:10");
    ok("touch /NEW.TXT");

    EXPECT_EQ(ok("tree"),
              "/NEW.TXT 0\n"
              "/A/\n"
              "/A/M.TXT 12\n"
              "/ODD.BIN 2049\n"
              "/B/\n"
              "/B/ZERO.BIN 0\n"
              "/B/ONE.BIN 1\n"
              "/B/SECTOR.BIN 512\n"
              "/B/BIG.BIN 512\n");
    EXPECT_EQ(ok("tree /b"), "/B/ZERO.BIN 0\n/B/ONE.BIN 1\n/B/SECTOR.BIN 512\n/B/BIG.BIN 512\n");
    EXPECT_EQ(ok("cat /B/ONE.BIN"), blob(1, 1));
    ok("get /ODD.BIN " + local("odd.out"));
    EXPECT_EQ(slurp(local("odd.out")), blob(2049, 3));
    EXPECT_NE(ok("stat /ODD.BIN").find("-RH-A"), std::string::npos);
    EXPECT_NE(ok("ls /A").find("2021-06-07 08:09:10"), std::string::npos);
    expect_fsck_clean(k.offset);

    // mtools reads what fatimg wrote.
    ASSERT_EQ(sh("mcopy -n " + mt + "::/B/SECTOR.BIN " + local("s.out")).rc, 0);
    EXPECT_EQ(slurp(local("s.out")), blob(512, 2));
    ASSERT_EQ(sh("mcopy -n " + mt + "::/A/M.TXT " + local("mm.out")).rc, 0);
    EXPECT_EQ(slurp(local("mm.out")), "from mtools\n");
}

INSTANTIATE_TEST_SUITE_P(Images, WriteSequence, ::testing::ValuesIn(KINDS),
                         [](const auto& info) { return std::string(info.param.name); });

// A long pseudo-random sequence of writes, checked against a model of the
// tree, then by fsck.fat and by reading every file back.
class RandomSequence : public FatimgTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RandomSequence, MatchesModelAndFsckIsClean)
{
    std::string make = GetParam();
    make.replace(make.find("{img}"), 5, img_);
    if (make.rfind("fatimg", 0) == 0) make.replace(0, 6, FATIMG_PATH);
    ASSERT_EQ(sh(make).rc, 0) << make;

    std::map<std::string, unsigned> files;  // path -> content seed (size follows from it)
    std::set<std::string> dirs = {""};       // "" is the root
    auto size_of = [](unsigned seed) { return std::vector<size_t>{0, 1, 511, 512, 513, 2048, 5000, 40000}[seed % 8]; };
    auto under = [](const std::string& p, const std::string& d) { return p.size() > d.size() && p.compare(0, d.size() + 1, d + "/") == 0; };
    auto pick_dir = [&](unsigned r) { return *std::next(dirs.begin(), r % dirs.size()); };
    unsigned x = 12345;
    auto rnd = [&]() { return x = x * 1103515245u + 12345u, x >> 8; };

    for (int step = 0; step < 120; step++) {
        const unsigned op = rnd() % 10;
        const std::string d = pick_dir(rnd());
        if (op < 2 && dirs.size() < 12) {
            const std::string p = d + "/D" + std::to_string(rnd() % 50);
            if (dirs.count(p) || files.count(p)) continue;
            ok("mkdir " + p);
            dirs.insert(p);
        } else if (op < 6) {
            const std::string p = d + "/F" + std::to_string(rnd() % 40) + ".BIN";
            if (dirs.count(p)) continue;
            const unsigned seed = rnd();
            spit(local("in"), blob(size_of(seed), seed));
            ok("put " + local("in") + " " + p);
            files[p] = seed;
        } else if (op < 8 && !files.empty()) {
            const auto it = std::next(files.begin(), rnd() % files.size());
            if (op == 6) {
                ok("rm " + it->first);
                files.erase(it);
            } else {
                const std::string p = pick_dir(rnd()) + "/M" + std::to_string(rnd() % 40) + ".BIN";
                if (files.count(p) || dirs.count(p)) continue;
                ok("mv " + it->first + " " + p);
                files[p] = it->second;
                files.erase(it);
            }
        } else if (d != "") {
            bool empty = true;
            for (const auto& f : files) empty = empty && !under(f.first, d);
            for (const auto& e : dirs) empty = empty && !under(e, d);
            if (op == 8) {
                const Result r = fatimg("rm " + d);
                EXPECT_EQ(r.rc, empty ? 0 : 1) << "rm " << d << r.err;
                if (empty) dirs.erase(d);
            } else {
                const std::string target = pick_dir(rnd());
                const std::string p = target + "/R" + std::to_string(rnd() % 50);
                if (dirs.count(p) || files.count(p)) continue;
                const Result r = fatimg("mv " + d + " " + p);
                if (target == d || under(target, d)) {
                    EXPECT_EQ(r.rc, 1) << "mv " << d << " " << p;
                    continue;
                }
                EXPECT_EQ(r.rc, 0) << "mv " << d << " " << p << r.err;
                std::map<std::string, unsigned> moved_files;
                for (const auto& f : files) moved_files[under(f.first, d) ? p + f.first.substr(d.size()) : f.first] = f.second;
                std::set<std::string> moved_dirs;
                for (const auto& e : dirs) moved_dirs.insert(e == d || under(e, d) ? p + e.substr(d.size()) : e);
                files.swap(moved_files);
                dirs.swap(moved_dirs);
            }
        }
    }

    std::vector<std::string> expect;
    for (const auto& e : dirs)
        if (!e.empty()) expect.push_back(e + "/");
    for (const auto& f : files) expect.push_back(f.first + " " + std::to_string(size_of(f.second)));
    std::sort(expect.begin(), expect.end());
    std::vector<std::string> got;
    std::istringstream tree(ok("tree"));
    for (std::string line; std::getline(tree, line);) got.push_back(line);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expect);
    for (const auto& f : files) EXPECT_TRUE(ok("cat " + f.first) == blob(size_of(f.second), f.second)) << f.first;
    expect_fsck_clean(make.find("--sfd") == std::string::npos && make.find("mkfs.fat") == std::string::npos ? 63 * 512 : 0);
}

const char* const RANDOM_SEQUENCE_NAMES[] = {"fatimg_24M", "mkfs_fat_16M", "fatimg_40M_whole_card_512_au"};

INSTANTIATE_TEST_SUITE_P(Images, RandomSequence,
                         ::testing::Values("fatimg {img} mkfs --size 24M", "mkfs.fat -F 16 -C {img} 16384",
                                           "fatimg {img} mkfs --size 40M --sfd --au 512"),
                         [](const auto& info) { return std::string(RANDOM_SEQUENCE_NAMES[info.index]); });

TEST_F(FatimgTest, FailuresNameCommandPathAndResult)
{
    ok("mkfs --size 8M");
    ok("mkdir /D");
    spit(local("f"), "x");
    ok("put " + local("f") + " /D/F");
    struct {
        const char* args;
        int rc;
        const char* err;  // start of the message
    } cases[] = {
        {"rm /NOPE", 1, "fatimg: rm: /NOPE: FR_NO_FILE "},
        {"rm /D", 1, "fatimg: rm: /D: FR_DENIED "},
        {"mkdir /D", 1, "fatimg: mkdir: /D: FR_EXIST "},
        {"ls /X/Y", 1, "fatimg: ls: /X/Y: FR_NO_PATH "},
        {"cat /D", 1, "fatimg: cat: /D: is a directory, not a file"},
        {"stat /toolongname.txt", 1, "fatimg: stat: /toolongname.txt: FR_INVALID_NAME "},
        {"mv /D /D/E", 1, "fatimg: mv: /D -> /D/E: FR_INVALID_NAME "},
        {"put /nonexistent/file /X", 3, "fatimg: put: /nonexistent/file: No such file or directory"},
        {"put {f} /D", 1, "fatimg: put: /D: FR_DENIED (a directory has that name)"},
        {"frobnicate", 2, "fatimg: unknown command 'frobnicate'"},
        {"rm", 2, "fatimg: rm: expects PATH"},
        {"attrib /D/F +x", 2, "fatimg: attrib: bad attribute change: +x"},
        {"touch /D/F --date 2021-13-01", 2, "fatimg: touch: bad --date"},
        {"mkfs --au 3", 2, "fatimg: mkfs: --au 3: the cluster size must be a power of 2 from 512 to 64K"},
        {"mkfs --au 256", 2, "fatimg: mkfs: --au 256: the cluster size"},
        {"mkfs --au 128K", 2, "fatimg: mkfs: --au 131072: the cluster size"},
        {"mkfs --size 60K", 2, "fatimg: mkfs: --size 60K is below the smallest volume (64K)"},
        {"mkfs --size 4M --au 512 --size 2080K", 1,
         "fatimg: mkfs: {img}: FR_MKFS_ABORTED (size 2080K: with clusters of 512 bytes the count lands below the "
         "FAT16 minimum of 4086 once the tables are counted; choose another --size or --au)"},
        {"mkfs --size 1T --au 512", 1, "fatimg: mkfs: {img}: FR_MKFS_ABORTED (size 1T: 2147483585 clusters of 512 "
                                       "bytes are more than FAT32 can number (268435445); choose larger clusters "
                                       "with --au)"},
    };
    for (const auto& c : cases) {
        std::string err = c.err, args = c.args;
        if (const size_t at = err.find("{img}"); at != std::string::npos) err.replace(at, 5, img_);
        if (const size_t at = args.find("{f}"); at != std::string::npos) args.replace(at, 3, local("f"));
        const Result r = fatimg(args);
        EXPECT_EQ(r.rc, c.rc) << c.args;
        EXPECT_EQ(r.err.rfind(err, 0), 0u) << c.args << ": " << r.err;
        if (c.rc == 1) { EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err; }
    }
    // What the image is, when it is none: the cause, never "Success".
    const struct {
        std::string image;
        const char* says;
    } not_images[] = {
        {local("none.img"), "none.img: No such file or directory"},
        {"/dev/null", "/dev/null: a character device, not a disk image or a card"},
        {dir_, "a directory, not a disk image or a card"},
    };
    for (const auto& n : not_images) {
        const Result r = sh(std::string(FATIMG_PATH) + " " + n.image + " ls");
        EXPECT_EQ(r.rc, 3) << n.image;
        EXPECT_NE(r.err.find(n.says), std::string::npos) << r.err;
    }
    const Result notfat = sh("truncate -s 1M " + local("zero.img") + " && " + FATIMG_PATH + " " + local("zero.img") + " ls");
    EXPECT_EQ(notfat.rc, 1);
    EXPECT_NE(notfat.err.find("FR_NO_FILESYSTEM"), std::string::npos);
}

// Every failing command leaves the image and the local files as they were:
// the local side is checked before the volume is touched, a file on the
// volume is replaced only by a complete copy, a local file only by a
// complete copy, a format only by a complete new image.
TEST_F(FatimgTest, FailuresLeaveImageAndLocalFilesAsTheyWere)
{
    ok("mkfs --size 2M --sfd");
    ok("mkdir /D");
    spit(local("song"), blob(1200 << 10, 1));  // more than half the volume
    ok("put " + local("song") + " /LOL.MP3");
    spit(local("keep.txt"), "keep\n");
    fs::create_directory(local("folder"));
    spit(local("bigger"), blob(1300 << 10, 2));  // fits alone, not beside the old one
    struct {
        const char* name;
        std::string args;
        int rc;
        const char* says;
    } cases[] = {
        {"put a directory", "put " + local("folder") + " /LOL.MP3", 3, "is a directory"},
        {"put a missing file", "put " + local("nope") + " /LOL.MP3", 3, "No such file or directory"},
        {"put the image into itself", "put " + img_ + " /LOL.MP3", 3, "is the image itself"},
        {"get a directory", "get /D " + local("keep.txt"), 1, "/D: is a directory, not a file"},
        {"get a missing file", "get /NOPE " + local("keep.txt"), 1, "FR_NO_FILE"},
        {"get into a folder", "get /LOL.MP3 " + local("folder"), 3, "is a directory"},
        {"get over the image", "get /LOL.MP3 " + img_, 3, "is the image itself"},
        {"mkfs refused", "mkfs --size 2080K --au 512", 1, "FR_MKFS_ABORTED"},
        {"mkfs too small", "mkfs --size 60K", 2, "below the smallest volume"},
    };
    const std::vector<std::string> files = {".err", ".out", "bigger", "card.img", "folder", "keep.txt", "song"};
    const auto local_files = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::string image_before = slurp(img_);
    for (const auto& c : cases) {
        const Result r = fatimg(c.args);
        EXPECT_EQ(r.rc, c.rc) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
        EXPECT_TRUE(slurp(img_) == image_before) << c.name << ": the image changed";
        EXPECT_EQ(slurp(local("keep.txt")), "keep\n") << c.name;
        EXPECT_EQ(local_files(), files) << c.name << ": files left behind";
    }

    // A replacement that does not fit beside the old file: the old one stays.
    const Result full = fatimg("put " + local("bigger") + " /LOL.MP3");
    EXPECT_EQ(full.rc, 1);
    EXPECT_NE(full.err.find("FR_DENIED (volume full (the old and the new file must fit at once))"), std::string::npos)
        << full.err;
    EXPECT_EQ(ok("tree"), "/D/\n/LOL.MP3 1228800\n");
    // A new image that cannot be made leaves no file.
    EXPECT_EQ(sh(std::string(FATIMG_PATH) + " " + local("new.img") + " mkfs --size 2080K --au 512").rc, 1);
    EXPECT_FALSE(fs::exists(local("new.img")));
    EXPECT_EQ(ok("cat /LOL.MP3"), blob(1200 << 10, 1));
    expect_fsck_clean();
}

// put over an existing file and get over an existing local file replace
// them whole; get writes straight into a device and follows a symbolic link
// to the file it names.
TEST_F(FatimgTest, CopiesReplaceWholeFiles)
{
    ok("mkfs --size 8M --sfd");
    spit(local("old"), blob(5000, 1));
    spit(local("new"), blob(300, 2));
    ok("put " + local("old") + " /F.BIN");
    ok("attrib /F.BIN +h");
    ok("put " + local("new") + " /F.BIN");
    EXPECT_EQ(ok("cat /F.BIN"), blob(300, 2));
    EXPECT_EQ(ok("tree"), "/F.BIN 300\n") << "no temporary name left";
    EXPECT_NE(ok("stat /F.BIN").find("Attrib:   ----A"), std::string::npos) << "a fresh file, as a new copy is";

    spit(local("target"), "old local content");
    fs::create_symlink(local("target"), local("link"));
    ok("get /F.BIN " + local("link"));
    EXPECT_TRUE(fs::is_symlink(local("link")));
    EXPECT_EQ(slurp(local("target")), blob(300, 2));
    ok("get /F.BIN /dev/null");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    expect_fsck_clean();
}

TEST_F(FatimgTest, CheckTellsWhetherTheBoardCanPlayTheCard)
{
    spit(local("pic"), blob(768000, 1));
    spit(local("short"), blob(1000, 1));
    spit(local("mp3"), blob(4000, 2));
    spit(local("empty"), "");
    struct {
        const char* name;
        std::vector<std::string> setup;  // fatimg commands after a fresh mkfs
        int rc;
        std::vector<std::string> says;
    } cases[] = {
        {"both files", {"put {pic} /LOL.RAW", "put {mp3} /LOL.MP3"}, 0,
         {"LOL.RAW  768000 bytes: the picture", "LOL.MP3  4000 bytes: the music"}},
        {"fresh volume", {}, 1,
         {"LOL.RAW is missing: the board creates it, empty, on the card, and shows one colour.",
          "LOL.MP3 is missing: the board creates it, empty, on the card, and plays nothing."}},
        {"short picture, read-only music", {"put {short} /LOL.RAW", "put {mp3} /LOL.MP3", "attrib /LOL.MP3 +r"}, 1,
         {"LOL.RAW holds 1000 bytes, less than a whole picture (768000): its last pixel repeats",
          "LOL.MP3 is read-only: the board opens it for writing, cannot, and plays nothing."}},
        {"empty music, picture a directory", {"mkdir /LOL.RAW", "put {empty} /LOL.MP3"}, 1,
         {"LOL.RAW is a directory: the board shows one colour.", "LOL.MP3 is empty: the board plays nothing."}},
    };
    for (const auto& c : cases) {
        ok("mkfs --size 4M");
        for (std::string cmd : c.setup) {
            for (const char* name : {"pic", "short", "mp3", "empty"}) {
                const std::string key = std::string("{") + name + "}";
                if (const size_t at = cmd.find(key); at != std::string::npos) cmd.replace(at, key.size(), local(name));
            }
            ok(cmd);
        }
        const Result r = fatimg("check");
        EXPECT_EQ(r.rc, c.rc) << c.name;
        for (const std::string& line : c.says) EXPECT_NE(r.out.find(line), std::string::npos) << c.name << ": " << r.out;
    }
    ASSERT_EQ(sh("truncate -s 1M " + local("zero.img")).rc, 0);
    const Result none = sh(std::string(FATIMG_PATH) + " " + local("zero.img") + " check");
    EXPECT_EQ(none.rc, 1);
    EXPECT_EQ(none.out, "No FAT volume on the card: the board shows one colour and plays nothing.\n");
}

TEST_F(FatimgTest, TreeOfALoopingDirectoryEnds)
{
    ok("mkfs --size 4M --sfd");
    ok("mkdir /A");
    ok("mkdir /A/LOOP");
    // Point LOOP's entry at A: the tree below A now contains itself.
    std::string image = slurp(img_);
    const size_t a = image.find(std::string("A          \x10", 12));
    const size_t loop = image.find(std::string("LOOP       \x10", 12));
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(loop, std::string::npos);
    for (int i : {20, 21, 26, 27}) image[loop + i] = image[a + i];
    spit(img_, image);
    const Result r = fatimg("tree");
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "/A/\n/A/LOOP/\n");
    EXPECT_NE(r.err.find("/A/LOOP: FR_INT_ERR"), std::string::npos) << r.err;
}

TEST_F(FatimgTest, FullFixedRootIsReportedAsFull)
{
    ASSERT_EQ(sh("mkfs.fat -F 12 -r 16 -C " + img_ + " 1024").rc, 0);
    spit(local("f"), "f");
    for (int i = 0; i < 16; i++) ok("put " + local("f") + " /F" + std::to_string(i));
    for (const std::string& args :
         std::vector<std::string>{"mkdir /D", "put " + local("f") + " /G", "touch /H", "put " + local("f") + " /F3"}) {
        const Result r = fatimg(args);
        EXPECT_EQ(r.rc, 1) << args;
        EXPECT_NE(r.err.find("FR_NO_FILE (no free entry in the directory"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ok("cat /F3"), "f") << "the file a replacement had no room for is kept";
    expect_fsck_clean();
}

TEST_F(FatimgTest, HelpAndVersionGoToStdout)
{
    const Result r = sh(std::string(FATIMG_PATH) + " --help");
    EXPECT_EQ(r.rc, 0);
    for (const char* word : {"mkfs", "ls", "tree", "stat", "cat", "get", "put", "mkdir", "rm", "mv", "attrib",
                             "touch", "df", "check", "Exit status"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_EQ(sh(FATIMG_PATH).rc, 2);
    const Result v = sh(std::string(FATIMG_PATH) + " --version");
    EXPECT_EQ(v.rc, 0);
    EXPECT_EQ(v.out.rfind("fatimg (tessivo) ", 0), 0u) << v.out;
}

TEST_F(FatimgTest, ReadOnlyCommandsLeaveTheImageAlone)
{
    ASSERT_EQ(sh("mkfs.fat -F 32 -s 1 -C " + img_ + " 40000").rc, 0);
    spit(local("f"), blob(5000, 9));
    ok("mkdir /D");
    ok("put " + local("f") + " /D/F.BIN");
    // Unknown free count: df must count, and still write nothing.
    ASSERT_EQ(sh("printf '\\377\\377\\377\\377' | dd of=" + img_ + " bs=1 seek=" + std::to_string(512 + 488) +
                 " conv=notrunc status=none").rc,
              0);
    const std::string before = slurp(img_);
    for (const char* args : {"ls", "ls /D", "tree", "stat /D/F.BIN", "cat /D/F.BIN", "df", "attrib /D/F.BIN"})
        ok(args);
    ok("get /D/F.BIN " + local("g"));
    EXPECT_TRUE(slurp(img_) == before);
    EXPECT_EQ(slurp(local("g")), blob(5000, 9));
}

TEST_F(FatimgTest, VolumeFullLeavesNoPartialFileAndNeverGrowsTheImage)
{
    ok("mkfs --size 2M --sfd");
    spit(local("big"), blob(3 << 20, 4));
    const Result r = fatimg("put " + local("big") + " /BIG.BIN");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("FR_DENIED"), std::string::npos) << r.err;
    EXPECT_EQ(ok("tree"), "");
    EXPECT_EQ(fs::file_size(img_), 2u << 20);
    expect_fsck_clean();
}

TEST_F(FatimgTest, TruncatedImageIsNeverExtended)
{
    ok("mkfs --size 8M --sfd");
    ASSERT_EQ(sh("truncate -s 1M " + img_).rc, 0);  // the volume now claims more than the file has
    spit(local("big"), blob(3 << 20, 5));
    const Result r = fatimg("put " + local("big") + " /BIG.BIN");
    EXPECT_NE(r.rc, 0);
    EXPECT_NE(r.err.find("FR_DISK_ERR"), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(img_), 1u << 20);
}

TEST_F(FatimgTest, MkfsResizesSparselyAndDfReportsTheVolume)
{
    ok("mkfs --size 64M");
    EXPECT_EQ(fs::file_size(img_), 64u << 20);
    struct stat st;
    ASSERT_EQ(::stat(img_.c_str(), &st), 0);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 4u << 20) << "only the system area is written";
    const std::string df = ok("df");
    EXPECT_NE(df.find("FAT16"), std::string::npos) << df;
    EXPECT_NE(df.find(" 2048 "), std::string::npos) << df;
    expect_fsck_clean(63 * 512);
    ok("mkfs --size 3M --sfd");  // shrinks the file, formats again
    EXPECT_EQ(fs::file_size(img_), 3u << 20);
    EXPECT_NE(ok("df").find("FAT12"), std::string::npos);
}

} // namespace
