#include "support/diaglog.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;

namespace {

// Length of the entry head "d/m/yyyy  hh:mm:ss:" at pos (day and month one or two
// digits), or 0 when there is none.
size_t stampAt(const std::string& s, size_t pos) {
    size_t i = pos;
    auto digits = [&](size_t lo, size_t hi) {
        size_t n = 0;
        while (i < s.size() && n < hi && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++n;
        return n >= lo;
    };
    auto lit = [&](const char* t) {
        for (; *t; ++t, ++i)
            if (i >= s.size() || s[i] != *t) return false;
        return true;
    };
    bool ok = digits(1, 2) && lit("/") && digits(1, 2) && lit("/") && digits(4, 4) && lit("  ") &&
              digits(2, 2) && lit(":") && digits(2, 2) && lit(":") && digits(2, 2) && lit(":");
    return ok ? i - pos : 0;
}

// The line with every entry head replaced by '@'.
std::string heads(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size();) {
        if (size_t n = stampAt(line, i)) {
            out += '@';
            i += n;
        } else {
            out += line[i++];
        }
    }
    return out;
}

class DiagLog : public ::testing::Test {
  protected:
    void TearDown() override { diagLogSetup(nullptr, 0, 0); }
    void logVia(FILE* copy, const char* format, ...) __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        diagLogWithCopy(copy, format, args);
        va_end(args);
    }
    testing_support::TempDir dir_;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST(DiagLogStamp, DayMonthYearRule) {
    struct tm t {};
    t.tm_mday = 7;
    t.tm_mon = 0;
    t.tm_hour = 5;
    t.tm_min = 4;
    t.tm_sec = 3;
    char buf[64];
    t.tm_year = 124;
    EXPECT_STREQ(diagLogFormatStamp(&t, buf, sizeof buf), "7/1/2024  05:04:03");
    t.tm_year = 5;  // below 50: two-digit years of this century
    EXPECT_STREQ(diagLogFormatStamp(&t, buf, sizeof buf), "7/1/2005  05:04:03");
    t.tm_year = 75;  // 50 to 99: printed as it stands
    t.tm_mon = 11;
    t.tm_mday = 31;
    EXPECT_STREQ(diagLogFormatStamp(&t, buf, sizeof buf), "31/12/75  05:04:03");
    char tiny[5];
    EXPECT_STREQ(diagLogFormatStamp(&t, tiny, sizeof tiny), "31/1");  // cut, terminated
}

TEST_F(DiagLog, OffUntilAFileIsNamed) {
    std::string path = dir_.file("never.log");
    diagLogSetup(nullptr, 0, 4);
    diagLog("nothing %d\n", 1);
    diagLogText("nothing");
    EXPECT_TRUE(fs::is_empty(dir_.path()));
    EXPECT_EQ(diagLogRingCount(), 0);
    diagLogSetup("", 0, 4);
    diagLog("still nothing\n");
    EXPECT_TRUE(fs::is_empty(dir_.path()));

    // A copy asked for by the caller is written even while the log is off.
    FILE* copy = std::tmpfile();
    ASSERT_NE(copy, nullptr);
    logVia(copy, "to the copy %d\n", 5);
    std::rewind(copy);
    char buf[32] = {};
    ASSERT_NE(std::fgets(buf, sizeof buf, copy), nullptr);
    EXPECT_STREQ(buf, "to the copy 5\n");
    std::fclose(copy);
    EXPECT_TRUE(fs::is_empty(dir_.path()));

    // Logging into a folder that does not exist fails quietly.
    diagLogSetup(dir_.file("missing/x.log").c_str(), 0, 4);
    diagLog("lost\n");
    EXPECT_FALSE(fs::exists(dir_.file("missing")));
    EXPECT_EQ(diagLogRingCount(), 0);
}

TEST_F(DiagLog, EntryLayout) {
    std::string path = dir_.file("a.log");
    diagLogSetup(path.c_str(), 0, 0);
    diagLog("no line end %s", "here");
    diagLog("value %d\n", 42);
    diagLog(nullptr);
    diagLogText("plain");
    diagLogText(nullptr);
    std::string text = readWholeFile(path);
    std::vector<std::string> got = lines(text);
    ASSERT_EQ(got.size(), 4u) << text;
    // The first entry lacks a line end, so the second continues its line.
    EXPECT_EQ(heads(got[0]), "@no line end here@value 42");
    EXPECT_EQ(heads(got[1]), "@NULL");
    EXPECT_EQ(heads(got[2]), "@plain");
    EXPECT_EQ(heads(got[3]), "@NULL");

    // The copy gets the message alone.
    FILE* copy = std::tmpfile();
    ASSERT_NE(copy, nullptr);
    logVia(copy, "copied %s\n", "too");
    std::rewind(copy);
    char buf[64] = {};
    ASSERT_NE(std::fgets(buf, sizeof buf, copy), nullptr);
    EXPECT_STREQ(buf, "copied too\n");
    std::fclose(copy);
    EXPECT_NE(readWholeFile(path).find("copied too\n"), std::string::npos);
}

TEST_F(DiagLog, RotationReplacesTheOldFile) {
    std::string path = dir_.file("r.log");
    diagLogSetup(path.c_str(), 100, 0);
    diagLog("%s\n", std::string(60, 'a').c_str());  // ~80 bytes: under the limit
    EXPECT_FALSE(fs::exists(path + ".old"));
    diagLog("%s\n", std::string(10, 'b').c_str());  // past the limit: rotated
    EXPECT_FALSE(fs::exists(path));
    std::string first = readWholeFile(path + ".old");
    EXPECT_NE(first.find(std::string(60, 'a')), std::string::npos);
    EXPECT_NE(first.find(std::string(10, 'b')), std::string::npos);

    // The counter restarted: the next entries go to a fresh file until it is full again.
    diagLog("%s\n", std::string(30, 'c').c_str());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(readWholeFile(path + ".old"), first);
    diagLog("%s\n", std::string(90, 'd').c_str());
    EXPECT_FALSE(fs::exists(path));
    std::string second = readWholeFile(path + ".old");
    EXPECT_EQ(second.find('a'), std::string::npos);  // the older ".old" is gone
    EXPECT_NE(second.find(std::string(30, 'c')), std::string::npos);
    EXPECT_NE(second.find(std::string(90, 'd')), std::string::npos);
}

TEST_F(DiagLog, RingKeepsTheLatestEntriesCut) {
    diagLogSetup(dir_.file("ring.log").c_str(), 0, 3);
    for (int i = 0; i < 5; ++i) diagLog("entry %d\n", i);
    ASSERT_EQ(diagLogRingCount(), 3);
    char message[64], stamp[64];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(diagLogRingGet(i, message, sizeof message, stamp, sizeof stamp), 1);
        EXPECT_EQ(std::string(message), "entry " + std::to_string(i + 2) + "\n");
        EXPECT_EQ(heads(stamp + std::string(":")), "@");
    }
    EXPECT_EQ(diagLogRingGet(3, message, sizeof message, nullptr, 0), 0);
    EXPECT_EQ(diagLogRingGet(-1, message, sizeof message, nullptr, 0), 0);

    // Long messages: the file gets all of it, the slot its first 4095 characters, and a
    // small caller buffer a terminated prefix.
    std::string big(10000, 'z');
    diagLog("%s", big.c_str());
    std::vector<char> slot(8192);
    ASSERT_EQ(diagLogRingGet(2, slot.data(), 8192, nullptr, 0), 1);
    EXPECT_EQ(std::string(slot.data()), std::string(4095, 'z'));
    ASSERT_EQ(diagLogRingGet(2, message, 8, nullptr, 0), 1);
    EXPECT_STREQ(message, "zzzzzzz");
    EXPECT_NE(readWholeFile(dir_.file("ring.log")).find(big), std::string::npos);

    // A new set-up starts an empty ring.
    diagLogSetup(dir_.file("ring.log").c_str(), 0, 2);
    EXPECT_EQ(diagLogRingCount(), 0);
}

TEST_F(DiagLog, ConcurrentWritersKeepLinesWhole) {
    std::string path = dir_.file("threads.log");
    diagLogSetup(path.c_str(), 0, 8);
    constexpr int kThreads = 6, kEach = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) diagLog("thread %d entry %d %s\n", t, i, "payload");
        });
    for (auto& th : threads) th.join();

    std::vector<std::string> got = lines(readWholeFile(path));
    ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kEach));
    std::set<std::pair<int, int>> seen;
    for (const auto& line : got) {
        int t = -1, i = -1;
        char tail[16] = {};
        std::string body = heads(line);
        ASSERT_EQ(std::sscanf(body.c_str(), "@thread %d entry %d %15s", &t, &i, tail), 3) << line;
        EXPECT_STREQ(tail, "payload");
        EXPECT_EQ(body,
                  "@thread " + std::to_string(t) + " entry " + std::to_string(i) + " payload");
        seen.emplace(t, i);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(diagLogRingCount(), 8);
}

TEST_F(DiagLog, ConcurrentWritersWithRotationLoseNothing) {
    std::string path = dir_.file("rot.log");
    diagLogSetup(path.c_str(), 4000, 0);
    constexpr int kThreads = 4, kEach = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) diagLog("t%d e%d\n", t, i);
        });
    for (auto& th : threads) th.join();
    // Every rotation happens whole, so the newest file stays under the limit plus one
    // entry, and the last rotated file holds complete lines only.
    std::string current = fs::exists(path) ? readWholeFile(path) : std::string();
    EXPECT_LT(current.size(), 4000u + 64u);
    for (const auto& line : lines(readWholeFile(path + ".old")))
        EXPECT_EQ(heads(line).rfind("@t", 0), 0u) << line;
}

TEST(DiagLogEnvironment, NamesTheFileUnlessSetUpFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing_support::TempDir dir;
    std::string fromEnv = dir.file("env.log"), fromSetup = dir.file("setup.log");
    // Each check runs in a fresh process, where the log has not been used yet.
    EXPECT_EXIT(
        {
            setenv("SAPIOLUX_LOG", fromEnv.c_str(), 1);
            diagLog("via environment\n");
            bool ok = readWholeFile(fromEnv).find("via environment") != std::string::npos;
            fs::remove_all(dir.path());  // the child's own folder; exit skips its destructor
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            setenv("SAPIOLUX_LOG", fromEnv.c_str(), 1);
            fs::remove(fromEnv);
            diagLogSetup(fromSetup.c_str(), 0, 0);
            diagLog("via setup\n");
            bool ok = !fs::exists(fromEnv) && fs::exists(fromSetup);
            fs::remove_all(dir.path());
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
