// ixoindex against a server that requires its generated credentials: "--home" reads
// them, a run the server refuses keeps the old state, and runs cut short by kill -9
// (of ixoindex or of the server) end, once run again, with every file on the server.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "ixo.h"
#include "tests/common/tempdir.h"
#include "tests/ixoindex_tool/server_process.h"

namespace {

using namespace std::chrono_literals;
using ixoindex_testing::runCommand;
using ixoindex_testing::ServerProcess;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

int countHits(int port, const std::string& term) {
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, port, port);
    char* reply = nullptr;
    const std::string path = "/qmethod=q&querytext=" + term + "&xoptions=counthits";
    int32_t rc =
        ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, path.c_str(), nullptr, &reply);
    std::string text = rc == 1 && reply ? reply : "";
    if (reply) memFree(reply);
    ixoDestroyIxo(&ixo);
    size_t p = text.find("numhits=");
    return p == std::string::npos ? -1 : std::atoi(text.c_str() + p + 8);
}

// A word of letters only, different for every n.
std::string wordOf(int n) {
    std::string w = "tok";
    for (int i = 0; i < 3; ++i, n /= 26) w += static_cast<char>('a' + n % 26);
    return w;
}

pid_t spawn(const std::vector<std::string>& args) {
    pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace

TEST(IxoIndexHome, TheHomesCredentialsAreSentAndRefusalsKeepTheState) {
    testing_support::TempDir dir;
    const auto home = dir.path() / "home";
    ServerProcess server(home, "INDEXAUTH=ON\n");
    ASSERT_GT(server.indexPort, 0);
    const std::string docs = dir.file("docs");
    std::filesystem::create_directories(docs);
    writeWholeFile(docs + "/a.txt", "Aardvarks dig for termites.\n");
    writeWholeFile(docs + "/b.txt", "Bonobos live in forests.\n");
    const std::string state = dir.file("state");
    const std::string port = std::to_string(server.indexPort);

    // Without the credentials every batch is refused: failure, no state.
    std::string out;
    EXPECT_EQ(runCommand(std::string(IXOINDEX_BIN) + " --server 127.0.0.1:" + port + " --state " +
                             state + " " + docs,
                         &out),
              1)
        << out;
    EXPECT_FALSE(std::filesystem::exists(state));
    EXPECT_EQ(countHits(server.queryPort, "aardvarks"), 0);

    const std::string withHome =
        std::string(IXOINDEX_BIN) + " --home " + home.string() + " --state " + state + " " + docs;
    ASSERT_EQ(runCommand(withHome, &out), 0) << out;
    EXPECT_EQ(countHits(server.queryPort, "aardvarks"), 1);
    EXPECT_EQ(countHits(server.queryPort, "bonobos"), 1);
    const std::string remembered = readWholeFile(state);
    EXPECT_NE(remembered.find("/b.txt\n"), std::string::npos);

    // A deletion the server refuses is not taken for done: the state keeps the file.
    std::filesystem::remove(docs + "/b.txt");
    EXPECT_EQ(runCommand(std::string(IXOINDEX_BIN) + " --server 127.0.0.1:" + port + " --state " +
                             state + " " + docs,
                         &out),
              1)
        << out;
    EXPECT_EQ(readWholeFile(state), remembered);
    EXPECT_EQ(countHits(server.queryPort, "bonobos"), 1);
    ASSERT_EQ(runCommand(withHome, &out), 0) << out;
    EXPECT_EQ(countHits(server.queryPort, "bonobos"), 0);
    EXPECT_EQ(readWholeFile(state).find("/b.txt"), std::string::npos);
}

TEST(IxoIndexHome, RunsKilledAtAnyPointEndWithEveryFile) {
    testing_support::TempDir dir;
    const auto home = dir.path() / "home";
    const std::string docs = dir.file("docs");
    std::filesystem::create_directories(docs);
    constexpr int kFiles = 60;
    for (int i = 0; i < kFiles; ++i)
        writeWholeFile(docs + "/f" + std::to_string(i) + ".txt",
                       "Notes about " + wordOf(i) + " and other things.\n");
    const std::string state = dir.file("state");
    const std::vector<std::string> args = {IXOINDEX_BIN, "--home",  home.string(), "--state",
                                           state,        "--batch", "3",           docs};
    std::mt19937 random(777);
    std::optional<ServerProcess> server;
    server.emplace(home, "INDEXAUTH=ON\n");
    ASSERT_GT(server->indexPort, 0);
    for (int trial = 0; trial < 4; ++trial) {
        // Files change between runs too, so every run has work to do.
        for (int i = trial; i < kFiles; i += 4)
            writeWholeFile(docs + "/f" + std::to_string(i) + ".txt",
                           "Notes about " + wordOf(i) + " changed " + std::to_string(trial) + "\n");
        pid_t pid = spawn(args);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 150));
        if (trial % 2 == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        } else {
            server.reset();  // the server is killed under the running indexer
            ::waitpid(pid, nullptr, 0);
            server.emplace(home, "INDEXAUTH=ON\n");
            ASSERT_GT(server->indexPort, 0);
        }
    }
    std::string out;
    ASSERT_EQ(runCommand(std::string(IXOINDEX_BIN) + " --home " + home.string() + " --state " +
                             state + " --batch 3 " + docs,
                         &out),
              0)
        << out;
    for (int i = 0; i < kFiles; ++i)
        EXPECT_EQ(countHits(server->queryPort, wordOf(i)), 1) << "file " << i;
}
