// tessivo-sim's command line: what a user types wrong gets one clear line
// and exit status 2; --help is not an error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

struct Result {
    int status;
    std::string output;
};

Result run(const std::string& args) {
    const std::string cmd = std::string(TESSIVO_SIM) + " " + args + " 2>&1";
    Result r{-1, {}};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST(SimCommandLine, MistakesGiveOneLineAndStatusTwo) {
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"--frobnicate", "unknown option '--frobnicate'"},
        {"--passes", "--passes needs a value"},
        {"--passes 0", "--passes '0'"},
        {"--passes two", "--passes 'two'"},
        {"--max-seconds -1", "--max-seconds '-1'"},
        {"--card-type floppy", "--card-type 'floppy'"},
        {"--card /nonexistent/card.img", "/nonexistent/card.img: No such file or directory"},
        {"--card-type none --quiet --panel-png /nonexistent/p.png",
         "/nonexistent/p.png: cannot write the panel picture: No such file or directory"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << " printed: " << r.output;
        EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << c.args << ": one line, printed: " << r.output;
    }
}

TEST(SimCommandLine, HelpListsTheOptions) {
    const Result r = run("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--card", "--card-type", "--passes", "--max-seconds", "--panel-png", "--panel-raw",
                               "--sdi-dump", "--audio", "--report-json", "--quiet"})
        EXPECT_NE(r.output.find(option), std::string::npos) << option;
}

TEST(SimCommandLine, EmptySocketRunsTheRequestedPasses) {
    const Result r = run("--card-type none --passes 3 --quiet --no-panel-png --report-json /dev/stdout");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\"passes\": 3"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"violations\": 0"), std::string::npos) << r.output;
}

TEST(SimCommandLine, BoardTimeAloneEndsTheRunWhenOnlyItIsGiven) {
    // With an empty socket a pass takes a few milliseconds: 2 s hold hundreds.
    for (const char* args : {"--max-seconds 2", "--passes 1000000 --max-seconds 2"}) {
        const Result r = run(std::string("--card-type none ") + args +
                             " --quiet --no-panel-png --report-json /dev/stdout");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("\"board_seconds\": 2.000"), std::string::npos) << args << ": " << r.output;
    }
}

}  // namespace
