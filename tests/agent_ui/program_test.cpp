// The sapiolux program itself, offscreen: one copy per user, and an orderly end on
// SIGTERM that saves the window's placement.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/instance.h"
#include "tests/agent_core/agent_test_support.h"
#include "tests/common/tempdir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Exit code of pid within limit, or -1 (the child is then killed).
int waitExit(pid_t pid, std::chrono::milliseconds limit) {
    auto until = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < until) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

pid_t startAgent() {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(SAPIOLUX_BIN, SAPIOLUX_BIN, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

TEST(Program, OneCopyPerUserAndAnOrderlyEnd) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    std::filesystem::create_directories(dir.path() / "run");
    std::filesystem::permissions(dir.path() / "run", std::filesystem::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", (dir.path() / "run").c_str(), 1);
    ::setenv("SAPIOLUX_DATA_DIR", (dir.path() / "data").c_str(), 1);

    pid_t first = startAgent();
    ASSERT_GT(first, 0);
    // Running once its window has told other programs where it is (a lock probe would
    // race with the start and make the first copy the second).
    // (The window's id is a machine-wide value: it goes to the user's overlay.)
    const std::string machineHive = hives.userDir + "/machine-overlay.reg";
    bool up = false;
    for (auto until = Clock::now() + 20s; Clock::now() < until && !up;) {
        up = std::filesystem::exists(machineHive) &&
             testing_support::readWholeFile(machineHive).find("MainWnd") != std::string::npos;
        if (!up) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(up);
    platform::InstanceLock probe;
    EXPECT_EQ(probe.acquire("Sapiolux Mutex"), platform::InstanceLock::Result::HeldElsewhere);

    auto start = Clock::now();
    pid_t second = startAgent();
    EXPECT_EQ(waitExit(second, 10s), 0);
    EXPECT_LT(Clock::now() - start, 3s);

    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(::kill(first, SIGTERM), 0);
    start = Clock::now();
    EXPECT_EQ(waitExit(first, 10s), 0);
    EXPECT_LT(Clock::now() - start, 3s);
    std::string user = testing_support::readWholeFile(hives.userDir + "/user.reg");
    EXPECT_NE(user.find("\"XPosition\""), std::string::npos) << user;
    // The agent's own folder was made private.
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "data"));
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("SAPIOLUX_DATA_DIR");
}

}  // namespace
