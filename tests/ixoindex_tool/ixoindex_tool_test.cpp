// ixoindex against a running ixoserver: a first run indexes a folder, a second run
// after one file changed and one was removed sends one update and one delete, and
// queries then find the new text and not the old.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "ixo.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"
#include "tests/ixoindex_tool/server_process.h"

namespace {

using namespace std::chrono_literals;
using ixoindex_testing::runCommand;
using ixoindex_testing::ServerProcess;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

// Hits for one term, waiting up to two seconds for the server's batched commits.
int hits(int port, const std::string& term, int expected) {
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, port, port);
    int n = -1;
    auto until = std::chrono::steady_clock::now() + 2s;
    do {
        char* reply = nullptr;
        std::string path = "/qmethod=q&querytext=" + term + "&qnum=20";
        int32_t rc =
            ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, path.c_str(), nullptr, &reply);
        std::string text = rc == 1 && reply ? reply : "";
        if (reply) memFree(reply);
        size_t p = text.find("numhits=");
        n = p == std::string::npos ? -1 : std::atoi(text.c_str() + p + 8);
        if (n == expected) break;
        std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < until);
    ixoDestroyIxo(&ixo);
    return n;
}

TEST(IxoIndexTool, FirstRunThenOnlyChanges) {
    testing_support::TempDir dir;
    ServerProcess server(dir.path() / "home", "MAXBODYBYTES=20000000\n");
    ASSERT_GT(server.indexPort, 0);
    const std::string docs = dir.file("docs");
    std::filesystem::create_directories(docs + "/sub");
    writeWholeFile(docs + "/kangaroo.txt", "Kangaroos hop across the outback.\n");
    writeWholeFile(docs + "/penguin.txt", "Penguins swim in cold water.\n");
    writeWholeFile(docs + "/sub/wombat.c", "/* wombats dig burrows */\nint wombat;\n");
    writeWholeFile(docs + "/picture.bmp", "not handled");
    const std::string state = dir.file("state");
    const std::string cmd = std::string(IXOINDEX_BIN) +
                            " --server 127.0.0.1:" + std::to_string(server.indexPort) +
                            " --state " + state + " " + docs;
    std::string out;
    ASSERT_EQ(runCommand(cmd, &out), 0) << out;
    EXPECT_EQ(hits(server.queryPort, "kangaroos", 1), 1);
    EXPECT_EQ(hits(server.queryPort, "penguins", 1), 1);
    EXPECT_EQ(hits(server.queryPort, "wombats", 1), 1);
    std::string remembered = readWholeFile(state);
    EXPECT_NE(remembered.find("/docs/kangaroo.txt\n"), std::string::npos);
    EXPECT_EQ(remembered.find("picture.bmp"), std::string::npos);

    // Change one file (new text, new size) and remove another.
    writeWholeFile(docs + "/kangaroo.txt", "Koalas sleep in eucalyptus trees all day.\n");
    std::filesystem::remove(docs + "/penguin.txt");
    ASSERT_EQ(runCommand(cmd, &out), 0) << out;
    EXPECT_EQ(hits(server.queryPort, "koalas", 1), 1);
    EXPECT_EQ(hits(server.queryPort, "kangaroos", 0), 0);
    EXPECT_EQ(hits(server.queryPort, "penguins", 0), 0);
    EXPECT_EQ(hits(server.queryPort, "wombats", 1), 1);
    remembered = readWholeFile(state);
    EXPECT_EQ(remembered.find("penguin.txt"), std::string::npos);

    // Nothing changed: nothing is sent, the state stays as it was.
    ASSERT_EQ(runCommand(cmd, &out), 0) << out;
    EXPECT_EQ(readWholeFile(state), remembered);
}

// File names holding the list separator '+', the parameter separator '&', a '%' that
// reads like an escape, and a blank: once the files are gone, the next run deletes
// exactly their documents.
TEST(IxoIndexTool, DeletesFilesWithSeparatorsInTheirNames) {
    testing_support::TempDir dir;
    ServerProcess server(dir.path() / "home");
    ASSERT_GT(server.indexPort, 0);
    const std::string docs = dir.file("docs");
    std::filesystem::create_directories(docs);
    const std::pair<const char*, const char*> gone[] = {{"C++ notes.txt", "armadillos"},
                                                        {"a&b.txt", "buffaloes"},
                                                        {"%41.txt", "chinchillas"},
                                                        {"my notes.txt", "dugongs"}};
    const std::pair<const char*, const char*> kept[] = {
        {"A.txt", "echidnas"}, {"C.txt", "flamingos"}, {"notes.txt", "gazelles"}};
    for (const auto& [name, word] : gone)
        writeWholeFile(docs + "/" + name, word + std::string("\n"));
    for (const auto& [name, word] : kept)
        writeWholeFile(docs + "/" + name, word + std::string("\n"));
    const std::string state = dir.file("state");
    const std::string cmd = std::string(IXOINDEX_BIN) +
                            " --server 127.0.0.1:" + std::to_string(server.indexPort) +
                            " --state " + state + " " + docs;
    std::string out;
    ASSERT_EQ(runCommand(cmd, &out), 0) << out;
    for (const auto& [name, word] : gone) ASSERT_EQ(hits(server.queryPort, word, 1), 1) << name;
    for (const auto& [name, word] : kept) ASSERT_EQ(hits(server.queryPort, word, 1), 1) << name;

    for (const auto& [name, word] : gone) std::filesystem::remove(docs + "/" + name);
    ASSERT_EQ(runCommand(cmd, &out), 0) << out;
    for (const auto& [name, word] : gone) EXPECT_EQ(hits(server.queryPort, word, 0), 0) << name;
    for (const auto& [name, word] : kept) EXPECT_EQ(hits(server.queryPort, word, 1), 1) << name;
    const std::string remembered = readWholeFile(state);
    for (const auto& [name, word] : gone) EXPECT_EQ(remembered.find(name), std::string::npos);
}

// The server builds one batch while it commits the one before, so ixoindex keeps two
// batches on their way: a stand-in server holds each add until a second one is with it
// (or a second has passed) and records how many it held at once; once two were there
// together it holds none.
TEST(IxoIndexTool, KeepsTwoBatchesOnTheirWay) {
    testing_support::TempDir dir;
    const std::string docs = dir.file("docs");
    std::filesystem::create_directories(docs);
    for (int i = 0; i < 6; ++i)
        writeWholeFile(docs + "/f" + std::to_string(i) + ".txt", "word" + std::to_string(i));
    std::mutex m;
    std::condition_variable cv;
    int inside = 0, most = 0;
    testing_support::LoopbackServer server;
    server.setHandler([&](const std::string& request) {
        using testing_support::LoopbackServer;
        if (request.find("IXOADDDATA") == std::string::npos)
            return LoopbackServer::httpReply("FINISHED\n");
        std::unique_lock lock(m);
        most = std::max(most, ++inside);
        cv.notify_all();
        cv.wait_for(lock, 1s, [&] { return most >= 2; });
        --inside;
        return LoopbackServer::httpReply("INDEXID=1\nDOCUMENTS=1\n");
    });
    const std::string state = dir.file("state");
    std::string out;
    ASSERT_EQ(runCommand(std::string(IXOINDEX_BIN) + " --batch 1 --server 127.0.0.1:" +
                             std::to_string(server.port()) + " --state " + state + " " + docs,
                         &out),
              0)
        << out;
    std::lock_guard lock(m);
    EXPECT_EQ(most, 2);
    EXPECT_NE(readWholeFile(state).find("/f5.txt"), std::string::npos);
}

TEST(IxoIndexTool, UnreachableServerKeepsTheOldState) {
    testing_support::TempDir dir;
    const std::string docs = dir.file("docs");
    std::filesystem::create_directories(docs);
    writeWholeFile(docs + "/a.txt", "text");
    const std::string state = dir.file("state");
    writeWholeFile(state, "");
    // Port 1 on loopback: nothing listens there.
    std::string out;
    EXPECT_EQ(runCommand(
                  std::string(IXOINDEX_BIN) + " --server 127.0.0.1:1 --state " + state + " " + docs,
                  &out),
              1);
    EXPECT_EQ(readWholeFile(state), "");
    EXPECT_EQ(runCommand(std::string(IXOINDEX_BIN) + " --server nowhere " + docs), 2);
}

}  // namespace
