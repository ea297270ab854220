// The single-instance lock (against a second holder, a planted link and an unsafe
// runtime folder) and the connectivity probe against loopback servers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "agent/probe.h"
#include "platform/instance.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

namespace {

using platform::InstanceLock;
using testing_support::LoopbackServer;
using testing_support::TempDir;

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(InstanceLock, OneHolderAtATime) {
    TempDir dir;
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    InstanceLock first, second;
    ASSERT_EQ(first.acquire("Sapiolux Mutex"), InstanceLock::Result::Acquired) << first.error();
    EXPECT_EQ(first.path(), dir.file("Sapiolux Mutex.lock"));
    EXPECT_EQ(second.acquire("Sapiolux Mutex"), InstanceLock::Result::HeldElsewhere);
    first.release();
    EXPECT_EQ(second.acquire("Sapiolux Mutex"), InstanceLock::Result::Acquired);
    struct stat st {};
    ASSERT_EQ(::stat(second.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(InstanceLock, RefusesAPlantedLink) {
    TempDir dir;
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    std::string victim = dir.file("victim");
    testing_support::writeWholeFile(victim, "keep me");
    std::filesystem::create_symlink(victim, dir.file("Sapiolux Mutex.lock"));
    InstanceLock lock;
    EXPECT_EQ(lock.acquire("Sapiolux Mutex"), InstanceLock::Result::Failed);
    EXPECT_EQ(testing_support::readWholeFile(victim), "keep me");
}

TEST(InstanceLock, PrivateFallbackFolder) {
    TempDir dir;
    ScopedEnv runtime("XDG_RUNTIME_DIR", "");
    ScopedEnv tmp("TMPDIR", dir.path().string());
    std::string folder = platform::userRuntimeDir();
    EXPECT_EQ(folder, dir.file("sapiolux-" + std::to_string(::geteuid())));
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A folder others may write to is not private: no lock is made in it.
    ::chmod(folder.c_str(), 0777);
    EXPECT_EQ(platform::userRuntimeDir(), "");
    InstanceLock lock;
    EXPECT_EQ(lock.acquire("Sapiolux Mutex"), InstanceLock::Result::Failed);
}

TEST(Probe, AnyHttpAnswerIsReachable) {
    LoopbackServer ok;
    ok.setReply(LoopbackServer::httpReply("hello"));
    EXPECT_TRUE(agent::probeServer("127.0.0.1", ok.port(), 2));
    EXPECT_EQ(ok.lastRequest().rfind("GET / HTTP/1.0\r\n", 0), 0u) << ok.lastRequest();

    LoopbackServer refusing;
    refusing.setReply(LoopbackServer::httpReply("no", "text/plain", 500));
    EXPECT_TRUE(agent::probeServer("127.0.0.1", refusing.port(), 2));

    LoopbackServer closing;
    closing.setMode(LoopbackServer::Mode::CloseAtOnce);
    EXPECT_FALSE(agent::probeServer("127.0.0.1", closing.port(), 2));

    EXPECT_FALSE(agent::probeServer("", 80, 2));
    EXPECT_FALSE(agent::probeServer("127.0.0.1", 0, 2));
}

}  // namespace
