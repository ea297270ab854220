#include "support/slaveutil.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/common/tempdir.h"

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string slaveBase(const std::string& mode) {
    return std::string(TEST_SLAVE_DIR) + "/testslave_" + mode;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// True when pid no longer exists (not even as a zombie waiting to be reaped).
bool processGone(int32_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

// A slave for the length of a test.
struct Slave {
    SlaveProcess* s = nullptr;
    explicit Slave(const std::string& mode) {
        EXPECT_EQ(slaveCreate(&s, slaveBase(mode).c_str()), 1);
    }
    ~Slave() { slaveDestroy(&s); }
};

class SlaveTest : public testing::Test {
  protected:
    TempDir dir;
    std::string input = dir.file("in.txt");
    std::string output = dir.file("out.htm");
    std::string heartbeat = output + ".hb";
    void SetUp() override { writeWholeFile(input, "hello slave"); }
};

TEST_F(SlaveTest, ConvertsJobsAndCleansUpOnDestroy) {
    Slave slave("convert");
    ASSERT_NE(slave.s, nullptr);
    SlaveProcess* s = slave.s;
    // Names: base + process number + suffix; the program with ".exe".
    std::string pid = std::to_string(getpid());
    EXPECT_EQ(std::string(s->programName), slaveBase("convert") + ".exe");
    EXPECT_NE(std::string(s->mapFileName).find(pid), std::string::npos);
    EXPECT_TRUE(std::string(s->mapFileName).ends_with(".map"));
    EXPECT_TRUE(std::string(s->startEventName).ends_with(".start"));
    EXPECT_TRUE(std::string(s->finishEventName).ends_with(".finish"));
    EXPECT_EQ(fs::file_size(s->mapFileName), static_cast<uintmax_t>(SLAVE_VIEW_SIZE));

    const int32_t firstPid = s->process;
    for (int i = 0; i < 3; ++i) {
        std::string text = "job " + std::to_string(i);
        writeWholeFile(input, text);
        ASSERT_EQ(slaveRunJob(s, input.c_str(), output.c_str(), 5, nullptr), 1) << i;
        EXPECT_EQ(readWholeFile(output), "JOB " + std::to_string(i));
    }
    EXPECT_EQ(s->process, firstPid);  // one slave served every job
    // The view holds the names as the slave read them.
    EXPECT_STREQ(s->view, input.c_str());
    EXPECT_STREQ(s->view + SLAVE_NAME_FIELD, output.c_str());

    std::string mapFile = s->mapFileName;
    slaveDestroy(&slave.s);
    EXPECT_EQ(slave.s, nullptr);
    EXPECT_FALSE(fs::exists(mapFile));
    EXPECT_TRUE(processGone(firstPid));
}

TEST_F(SlaveTest, HungSlaveWithoutHeartbeatIsRestartedAfterTheTimeout) {
    Slave slave("hang");
    ASSERT_NE(slave.s, nullptr);
    const int32_t firstPid = slave.s->process;
    auto start = Clock::now();
    EXPECT_EQ(slaveRunJob(slave.s, input.c_str(), output.c_str(), 1, heartbeat.c_str()), 0);
    double took = secondsSince(start);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 3.0);
    EXPECT_NE(slave.s->process, firstPid);
    EXPECT_GT(slave.s->process, 0);
    EXPECT_TRUE(processGone(firstPid));
}

TEST_F(SlaveTest, StaleHeartbeatCountsAsHung) {
    Slave slave("hang");
    ASSERT_NE(slave.s, nullptr);
    writeWholeFile(heartbeat, "");
    fs::last_write_time(heartbeat, fs::file_time_type::clock::now() - std::chrono::seconds(30));
    auto start = Clock::now();
    EXPECT_EQ(slaveRunJob(slave.s, input.c_str(), output.c_str(), 1, heartbeat.c_str()), 0);
    EXPECT_LT(secondsSince(start), 3.0);
}

TEST_F(SlaveTest, FreshHeartbeatKeepsABusySlaveAlive) {
    Slave slave("heartbeat");
    ASSERT_NE(slave.s, nullptr);
    const int32_t firstPid = slave.s->process;
    auto start = Clock::now();
    EXPECT_EQ(slaveRunJob(slave.s, input.c_str(), output.c_str(), 1, heartbeat.c_str()), 1);
    EXPECT_GE(secondsSince(start), 2.0);  // well past the one-second time-out
    EXPECT_EQ(readWholeFile(output), "HELLO SLAVE");
    EXPECT_EQ(slave.s->process, firstPid);
}

TEST_F(SlaveTest, EmptyOutputIsAFailure) {
    Slave slave("empty");
    ASSERT_NE(slave.s, nullptr);
    writeWholeFile(output, "left over");
    auto start = Clock::now();
    EXPECT_EQ(slaveRunJob(slave.s, input.c_str(), output.c_str(), 5, nullptr), 0);
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_TRUE(fs::exists(output));
    EXPECT_EQ(fs::file_size(output), 0u);
}

TEST_F(SlaveTest, CrashIsDetectedAtOnceAndTheSlaveRestarted) {
    Slave slave("crash");
    ASSERT_NE(slave.s, nullptr);
    for (int round = 0; round < 2; ++round) {
        const int32_t before = slave.s->process;
        auto start = Clock::now();
        EXPECT_EQ(slaveRunJob(slave.s, input.c_str(), output.c_str(), 30, nullptr), 0);
        EXPECT_LT(secondsSince(start), 5.0) << "a dead slave must not be waited for";
        EXPECT_NE(slave.s->process, before);
        EXPECT_TRUE(processGone(before));  // reaped, no zombie
    }
}

TEST_F(SlaveTest, OverlongNamesAreRefusedWithoutTouchingTheSlave) {
    Slave slave("convert");
    ASSERT_NE(slave.s, nullptr);
    const int32_t pid = slave.s->process;
    std::string longName = dir.file(std::string(SLAVE_NAME_FIELD, 'x'));
    EXPECT_EQ(slaveRunJob(slave.s, longName.c_str(), output.c_str(), 5, nullptr), 0);
    EXPECT_EQ(slaveRunJob(slave.s, input.c_str(), longName.c_str(), 5, nullptr), 0);
    EXPECT_EQ(slaveRunJob(slave.s, nullptr, output.c_str(), 5, nullptr), 0);
    EXPECT_EQ(slave.s->process, pid);
    EXPECT_EQ(slaveRunJob(slave.s, input.c_str(), output.c_str(), 5, nullptr), 1);
}

TEST_F(SlaveTest, TwoMastersWithOneBaseNameWorkSideBySide) {
    Slave a("convert"), b("convert");
    ASSERT_NE(a.s, nullptr);
    ASSERT_NE(b.s, nullptr);
    EXPECT_STRNE(a.s->mapFileName, b.s->mapFileName);
    EXPECT_STRNE(a.s->startEventName, b.s->startEventName);
    EXPECT_STRNE(a.s->finishEventName, b.s->finishEventName);
    std::string inB = dir.file("b.txt"), outB = dir.file("b.htm");
    writeWholeFile(inB, "second master");
    int resultA = 0, resultB = 0;
    std::thread ta([&] {
        for (int i = 0;
             i < 5 && (resultA = slaveRunJob(a.s, input.c_str(), output.c_str(), 5, nullptr)) == 1;
             ++i) {
        }
    });
    std::thread tb([&] {
        for (int i = 0;
             i < 5 && (resultB = slaveRunJob(b.s, inB.c_str(), outB.c_str(), 5, nullptr)) == 1;
             ++i) {
        }
    });
    ta.join();
    tb.join();
    EXPECT_EQ(resultA, 1);
    EXPECT_EQ(resultB, 1);
    EXPECT_EQ(readWholeFile(output), "HELLO SLAVE");
    EXPECT_EQ(readWholeFile(outB), "SECOND MASTER");
}

// The map file's old, predictable names (beside the program, and in the temporary
// folder) may hold links planted by someone else; nothing is written through them.
TEST(SlaveCreate, MapFileIsPrivateNewAndUnpredictable) {
    TempDir dir;
    const std::string victim = dir.file("victim.txt");
    writeWholeFile(victim, "precious content");
    const std::string pid = std::to_string(getpid());
    const std::string besideProgram = slaveBase("convert") + pid + ".map";
    const std::string inTemp =
        (fs::temp_directory_path() / ("testslave_convert" + pid + ".map")).string();
    for (const std::string& link : {besideProgram, inTemp}) {
        fs::remove(link);
        fs::create_symlink(victim, link);
    }
    std::string mapFile, folder;
    {
        Slave slave("convert");
        ASSERT_NE(slave.s, nullptr);
        mapFile = slave.s->mapFileName;
        folder = fs::path(mapFile).parent_path().string();
        EXPECT_NE(mapFile, besideProgram);
        EXPECT_NE(mapFile, inTemp);
        EXPECT_FALSE(fs::is_symlink(mapFile));
        struct stat st {};
        ASSERT_EQ(lstat(mapFile.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(lstat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(st.st_uid, getuid());
        // Two masters never share a name, and the names are not the process id alone.
        Slave other("convert");
        ASSERT_NE(other.s, nullptr);
        EXPECT_NE(fs::path(mapFile).filename(), fs::path(other.s->mapFileName).filename());
        EXPECT_NE(fs::path(mapFile).parent_path(), fs::path(other.s->mapFileName).parent_path());
        EXPECT_NE(std::string(slave.s->startEventName), slaveBase("convert") + pid + ".start");

        const std::string input = dir.file("in.txt"), output = dir.file("out.htm");
        writeWholeFile(input, "still works");
        EXPECT_EQ(slaveRunJob(slave.s, input.c_str(), output.c_str(), 5, nullptr), 1);
        EXPECT_EQ(readWholeFile(output), "STILL WORKS");
    }
    EXPECT_EQ(readWholeFile(victim), "precious content");
    EXPECT_FALSE(fs::exists(mapFile));
    EXPECT_FALSE(fs::exists(folder));  // the private folder went with it
    for (const std::string& link : {besideProgram, inTemp}) {
        EXPECT_TRUE(fs::is_symlink(link));  // not ours: left alone
        fs::remove(link);
    }
}

TEST(SlaveCreate, MissingProgramReleasesEverything) {
    TempDir dir;
    SlaveProcess* s = reinterpret_cast<SlaveProcess*>(1);
    EXPECT_EQ(slaveCreate(&s, dir.file("noslave").c_str()), 0);
    EXPECT_EQ(s, nullptr);
    EXPECT_TRUE(fs::is_empty(dir.path()));  // the map file was removed again
    EXPECT_EQ(slaveCreate(&s, nullptr), 0);
    EXPECT_EQ(slaveCreate(&s, ""), 0);
    EXPECT_EQ(slaveCreate(nullptr, "x"), 0);
    slaveDestroy(&s);  // harmless
    EXPECT_EQ(slaveRunJob(nullptr, "a", "b", 1, nullptr), 0);
}

TEST(SlaveChannel, RefusesBadArguments) {
    SlaveChannel ch;
    char prog[] = "slave";
    char missing[] = "/nonexistent/dir/x.map";
    char* argv[] = {prog, missing, missing, missing, nullptr};
    EXPECT_EQ(slaveChannelOpen(&ch, 4, argv), 0);
    EXPECT_EQ(slaveChannelOpen(&ch, 1, argv), 0);
    EXPECT_EQ(slaveChannelWaitJob(&ch, 0), -1);
    slaveChannelClose(&ch);
    EXPECT_EQ(slaveTouchHeartbeat(nullptr), 0);
}

}  // namespace
