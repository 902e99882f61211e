#include "tests/support/firmware_harness.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "workloads/firmware_tick.h"

namespace test_support {

constexpr const char* kChildMarker = "TESSIVO_ISOLATED_CHILD";

void start_tick(sim::CompiledCpu& cpu) { workloads::start_firmware_tick(cpu); }

void expect_violation(const sim::Board& board, const char* what, const char* reported) {
    const auto& seen = board.violations();
    if (!reported) {
        EXPECT_TRUE(seen.empty()) << what << ": " << seen.front();
        return;
    }
    bool found = false;
    for (const std::string& v : seen) found = found || v.find(reported) != std::string::npos;
    EXPECT_TRUE(found) << what << ": wanted \"" << reported << "\", got " << (seen.empty() ? "none" : seen.front());
}

void run_isolated(const std::function<void()>& body) {
    // In the fresh process the body simply runs.
    if (std::getenv(kChildMarker)) {
        body();
        return;
    }
    // Otherwise run this very test again in a new process image, where every
    // global starts from its power-up value.
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0) << "fork failed";
    if (pid == 0) {
        setenv(kChildMarker, "1", 1);
        execl("/proc/self/exe", "/proc/self/exe", filter.c_str(), "--gtest_brief=1", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child died with signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the isolated run failed (see its output above)";
}

}  // namespace test_support
