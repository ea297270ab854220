// ixoindex --watch against a real ixoserver: changes of every kind reach the server
// within two seconds, a burst that overflows the kernel's event queue is indexed once
// per file with nothing missed, a Maildir is read again when a message arrives, and a
// second watcher on the same state file is refused.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ixo.h"
#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"
#include "tests/ixowatch/watch_process.h"
#include "tools/ixowatch/watchstate.h"

namespace {

using namespace std::chrono_literals;
using ixowatch_testing::countHits;
using ixowatch_testing::references;
using ixowatch_testing::waitHits;
using ixowatch_testing::WatchProcess;
using testing_support::TempDir;
using testing_support::writeWholeFile;
namespace fs = std::filesystem;

class Server : public testing_support::ServerChild {
  public:
    explicit Server(const fs::path& home)
        : ServerChild(IXOSERVER_BIN, home, "QUERYPORT=0\nINDEXPORT=0\nCOMMITINTERVALMS=50\n") {}
};

std::string indexArg(const Server& s) {
    return "127.0.0.1:" + std::to_string(s.indexPort);
}

int documentCount(int port) {
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, port, port);
    IxoServerInfo* info = nullptr;
    int count = ixoGetInfoToStructure(&ixo, &info) == IXO_OK && info ? info->documentCount : -1;
    if (info) ixoDestroyInfoStructure(info);
    ixoDestroyIxo(&ixo);
    return count;
}

// Waits up to two seconds until one of the term's hits has a reference ending in tail.
bool waitReference(int port, const std::string& term, const std::string& tail) {
    for (const auto until = std::chrono::steady_clock::now() + 2s;;
         std::this_thread::sleep_for(25ms)) {
        for (const std::string& r : references(port, term))
            if (r.size() >= tail.size() &&
                r.compare(r.size() - tail.size(), tail.size(), tail) == 0)
                return true;
        if (std::chrono::steady_clock::now() >= until) return false;
    }
}

// The numbers of the last PROGRESS line: seen, total, sent, failed.
std::vector<long> lastProgress(WatchProcess& w) {
    std::vector<long> n(4, -1);
    for (const std::string& l : w.lines())
        if (l.rfind("PROGRESS ", 0) == 0)
            std::sscanf(l.c_str(), "PROGRESS %ld %ld %ld %ld", &n[0], &n[1], &n[2], &n[3]);
    return n;
}

}  // namespace

TEST(Watch, CreatedChangedMovedAndDeletedFilesReachTheServerWithinTwoSeconds) {
    TempDir dir;
    Server server(dir.path() / "home");
    ASSERT_GT(server.indexPort, 0);
    const fs::path a = dir.path() / "a", b = dir.path() / "b", outside = dir.path() / "outside";
    fs::create_directories(a);
    fs::create_directories(b);
    fs::create_directories(outside / "ext");
    writeWholeFile((a / "first.txt").string(), "Aardvarks dig for termites at night.\n");
    WatchProcess watch(
        {"--server", indexArg(server), "--state", dir.file("state"), a.string(), b.string()},
        dir.file("errors"));
    ASSERT_TRUE(watch.waitIdle());
    const int q = server.queryPort;
    EXPECT_EQ(countHits(q, "AARDVARKS+"), 1);

    // A file in folders made after the start.
    fs::create_directories(a / "new" / "sub");
    writeWholeFile((a / "new" / "sub" / "deep.txt").string(), "Bonobos share their food.\n");
    EXPECT_EQ(waitHits(q, "BONOBOS+", 1), 1);

    // Changed in place, to the same size: the old words go, the new ones come.
    writeWholeFile((a / "new" / "sub" / "deep.txt").string(), "Caracals share their food.\n");
    EXPECT_EQ(waitHits(q, "CARACALS+", 1), 1);
    EXPECT_EQ(waitHits(q, "BONOBOS+", 0), 0);

    // Renamed into the other watched folder: found once, under its new name.
    fs::rename(a / "new" / "sub" / "deep.txt", b / "moved.txt");
    EXPECT_TRUE(waitReference(q, "CARACALS+", "/b/moved.txt"));
    EXPECT_EQ(waitHits(q, "CARACALS+", 1), 1);

    // A folder moved in from outside, then within, then out again.
    writeWholeFile((outside / "ext" / "e.txt").string(), "Dromedaries cross the desert.\n");
    fs::rename(outside / "ext", b / "ext");
    EXPECT_EQ(waitHits(q, "DROMEDARIES+", 1), 1);
    fs::rename(b / "ext", a / "ext2");
    EXPECT_TRUE(waitReference(q, "DROMEDARIES+", "/a/ext2/e.txt"));
    EXPECT_EQ(waitHits(q, "DROMEDARIES+", 1), 1);
    // Files written into the moved folder are seen at its new place.
    writeWholeFile((a / "ext2" / "f.txt").string(), "Echidnas lay eggs.\n");
    EXPECT_EQ(waitHits(q, "ECHIDNAS+", 1), 1);
    fs::rename(a / "ext2", outside / "gone");
    EXPECT_EQ(waitHits(q, "DROMEDARIES+", 0), 0);
    EXPECT_EQ(waitHits(q, "ECHIDNAS+", 0), 0);

    fs::remove(b / "moved.txt");
    EXPECT_EQ(waitHits(q, "CARACALS+", 0), 0);

    EXPECT_EQ(watch.stop(), 0);
    const ixowatch::StateMap state = ixowatch::loadState(dir.file("state"));
    ASSERT_EQ(state.size(), 1u);
    EXPECT_EQ(state.begin()->first, (a / "first.txt").string());
}

TEST(Watch, ABurstThatOverflowsTheQueueIsIndexedOncePerFileWithNothingMissed) {
    TempDir dir;
    Server server(dir.path() / "home");
    ASSERT_GT(server.indexPort, 0);
    const fs::path docs = dir.path() / "docs";
    fs::create_directories(docs / "old");
    for (int i = 0; i < 20; ++i)
        writeWholeFile((docs / "old" / ("o" + std::to_string(i) + ".txt")).string(),
                       "Obsolete notes number " + std::to_string(i) + "\n");
    WatchProcess watch({"--server", indexArg(server), "--state", dir.file("state"), docs.string()},
                       dir.file("errors"));
    ASSERT_TRUE(watch.waitIdle());
    EXPECT_EQ(countHits(server.queryPort, "OBSOLETE+"), 20);

    // While the watcher is stopped, the kernel queues the events of 10,000 new files in
    // a watched folder (three each) and of 20 deletions: more than its queue holds by
    // default.
    const size_t before = watch.lines().size();
    watch.signal(SIGSTOP);
    fs::remove_all(docs / "old");
    for (int i = 0; i < 10000; ++i) {
        std::ofstream f(docs / ("f" + std::to_string(i) + ".txt"));
        f << "Burstword entry " << i << "\n";
    }
    watch.signal(SIGCONT);
    long queueLimit = 0;
    if (std::FILE* f = std::fopen("/proc/sys/fs/inotify/max_queued_events", "r")) {
        if (std::fscanf(f, "%ld", &queueLimit) != 1) queueLimit = 0;
        std::fclose(f);
    }
    // Idle again with every file remembered (a pass may end before the rest is seen).
    auto idleWithAll = [](const std::string& l) {
        return l.rfind("IDLE ", 0) == 0 && l.substr(l.rfind(' ') + 1) == "10000";
    };
    ASSERT_GE(watch.waitLine(idleWithAll, 30s, before), 0);
    auto overflow = [](const std::string& l) {
        return l.rfind("WARNING ", 0) == 0 && l.find("overflowed") != std::string::npos;
    };
    if (queueLimit > 0 && queueLimit < 30000) {
        EXPECT_GE(watch.waitLine(overflow, 0ms, before), 0);
    }
    const std::vector<long> progress = lastProgress(watch);
    EXPECT_EQ(progress[2], 20 + 10000);  // sent: each file once
    EXPECT_EQ(progress[3], 0);
    EXPECT_EQ(waitHits(server.queryPort, "OBSOLETE+", 0), 0);
    EXPECT_EQ(documentCount(server.queryPort), 10000);
    EXPECT_EQ(watch.stop(), 0);
}

TEST(Watch, AMaildirIsReadAgainWhenAMessageArrivesAndASecondWatcherIsRefused) {
    TempDir dir;
    Server server(dir.path() / "home");
    ASSERT_GT(server.indexPort, 0);
    const fs::path maildir = dir.path() / "Maildir";
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
    auto message = [&](const std::string& name, const std::string& word) {
        writeWholeFile((maildir / "new" / name).string(),
                       "From: Ann <ann@example.org>\nTo: Bob <bob@example.org>\nSubject: " + word +
                           " report\nDate: Mon, 7 Dec 2026 08:00:00 +0000\n"
                           "Message-ID: <" +
                           name + "@example.org>\n\nThe " + word + " report is attached.\n");
    };
    message("1.host", "Quarterly");
    fs::create_directories(dir.path() / "docs");
    const std::vector<std::string> args = {"--server",
                                           indexArg(server),
                                           "--state",
                                           dir.file("state"),
                                           "--mail",
                                           "maildir=" + maildir.string(),
                                           (dir.path() / "docs").string()};
    WatchProcess watch(args, dir.file("errors"));
    ASSERT_TRUE(watch.waitIdle());
    EXPECT_EQ(waitHits(server.queryPort, "QUARTERLY+", 1), 1);

    message("2.host", "Fortnightly");
    EXPECT_EQ(waitHits(server.queryPort, "FORTNIGHTLY+", 1), 1);
    EXPECT_EQ(countHits(server.queryPort, "QUARTERLY+"), 1);  // not sent twice

    WatchProcess second(args, dir.file("errors2"));
    EXPECT_EQ(second.waitExit(10s), 2);
    EXPECT_EQ(watch.stop(), 0);
}

TEST(WatchState, OneOffRunTimesCompareBySecondsAndTheContentListSurvivesItsFile) {
    TempDir dir;
    // A line as a one-off run writes it (whole seconds) beside one with nanoseconds.
    writeWholeFile(dir.file("state"),
                   "300\t4\tref3\t/x/plain.txt\n"
                   "100.000000005\t7\tref1\t/x/with space.txt\n");
    const ixowatch::StateMap back = ixowatch::loadState(dir.file("state"));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_TRUE(ixowatch::sameFile(back.at("/x/plain.txt"), {300, 123, 4, ""}));
    EXPECT_FALSE(ixowatch::sameFile(back.at("/x/with space.txt"), {100, 6, 7, ""}));

    ixowatch::ContentList list;
    list.folders = {"/home/ann/Documents", "/srv/a=b c%d/\xe9t\xe9", "/data/[x]"};
    list.mail = {"maildir=/home/ann/Mail", "mbox"};
    list.analysis = true;
    ASSERT_TRUE(ixowatch::saveContentList(dir.path().string(), list));
    ixowatch::ContentList read;
    ASSERT_TRUE(ixowatch::loadContentList(dir.path().string(), read));
    EXPECT_EQ(read.folders, list.folders);
    EXPECT_EQ(read.mail, list.mail);
    EXPECT_TRUE(read.analysis);
}
