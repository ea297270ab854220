// ixoindex with --mail against a running ixoserver: mail from an mbox and a Maildir is
// fetched, imported and sent with its mail references; later runs send only new
// messages; a run the server did not take leaves the mail status as it was; a reference
// that comes back from the server opens its message.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ixo.h"
#include "mailfetch/emailclient.h"
#include "tests/common/tempdir.h"
#include "tests/ixoindex_tool/server_process.h"

namespace {

using namespace std::chrono_literals;
using ixoindex_testing::runCommand;
using ixoindex_testing::ServerProcess;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

std::string mailData(const std::string& relative) {
    return std::string(SAPIOLUX_SHARED_DIR) + "/testdata/mail/" + relative;
}

// The "Doc_name=" references of the hits for one term, once there are `expected` of
// them (waiting up to two seconds for the server's batched commits).
std::vector<std::string> references(int port, const std::string& term, size_t expected) {
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, port, port);
    std::vector<std::string> refs;
    auto until = std::chrono::steady_clock::now() + 2s;
    do {
        refs.clear();
        char* reply = nullptr;
        std::string path = "/qmethod=q&querytext=" + term + "&qnum=50";
        int32_t rc =
            ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, path.c_str(), nullptr, &reply);
        std::string text = rc == 1 && reply ? reply : "";
        if (reply) memFree(reply);
        for (size_t p = 0; (p = text.find("Doc_name=", p)) != std::string::npos;) {
            p += 9;
            refs.push_back(text.substr(p, text.find('\n', p) - p));
        }
        if (refs.size() == expected) break;
        std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < until);
    ixoDestroyIxo(&ixo);
    std::sort(refs.begin(), refs.end());
    return refs;
}

// The status file's references (every other line), in sorted order.
std::vector<std::string> statusReferences(const std::string& file) {
    std::vector<std::string> refs;
    std::string text = readWholeFile(file);
    size_t line = 0;
    for (size_t p = 0; p < text.size(); ++line) {
        size_t end = text.find('\n', p);
        if (end == std::string::npos) end = text.size();
        if (line % 2 == 0) refs.push_back(text.substr(p, end - p));
        p = end + 1;
    }
    std::sort(refs.begin(), refs.end());
    return refs;
}

const char* kNewMessage =
    "From someone@example.org Tue Dec 14 10:00:00 2010\n"
    "From: Someone <someone@example.org>\n"
    "To: eudtest@arlut.utexas.edu\n"
    "Subject: Zeppelin timetable\n"
    "Message-ID: <zeppelin-1@example.org>\n"
    "Date: Tue, 14 Dec 2010 10:00:00 +0000\n"
    "\n"
    "The zeppelin leaves at noon from the airfield.\n";

TEST(IxoIndexMail, MboxAndMaildirSentOnceThenOnlyNewMessages) {
    TempDir dir;
    ServerProcess server(dir.path() / "home");
    ASSERT_GT(server.indexPort, 0);
    // A copy of the real mbox, so the test can add a message to it later.
    const std::string inbox = dir.file("Inbox");
    std::filesystem::copy_file(mailData("mbox/eudora2unix_test1.mbox"), inbox);
    const std::string state = dir.file("state");
    const std::string cmd = std::string(IXOINDEX_BIN) +
                            " --server 127.0.0.1:" + std::to_string(server.indexPort) +
                            " --state " + state + " --mail mbox=" + inbox +
                            " --mail MAILDIR=" + mailData("maildir/test1_via_mb2md");
    std::string out;
    ASSERT_EQ(runCommand(cmd, &out), 0) << out;

    // Every message of both stores went with its own reference.
    std::vector<std::string> mbox = statusReferences(state + ".mail.mbox");
    std::vector<std::string> maildir = statusReferences(state + ".mail.maildir");
    ASSERT_EQ(mbox.size(), 5u);
    ASSERT_EQ(maildir.size(), 5u);
    EXPECT_FALSE(std::filesystem::exists(state + ".mail.mbox.new"));
    // Three messages of each store say "test" ("Email Attachment Test", "This is a
    // test", "Another email test").
    std::vector<std::string> found = references(server.queryPort, "test", 6);
    ASSERT_EQ(found.size(), 6u);
    EXPECT_EQ(std::count_if(found.begin(), found.end(),
                            [](const std::string& r) { return r.rfind("email://mbox&", 0) == 0; }),
              3);
    EXPECT_EQ(
        std::count_if(found.begin(), found.end(),
                      [](const std::string& r) { return r.rfind("email://maildir&", 0) == 0; }),
        3);
    for (const std::string& r : found)
        EXPECT_TRUE(std::find(mbox.begin(), mbox.end(), r) != mbox.end() ||
                    std::find(maildir.begin(), maildir.end(), r) != maildir.end())
            << r;

    // A reference that came back from the server opens its message.
    std::string opened;
    std::string mboxRef = *std::find_if(found.begin(), found.end(), [](const std::string& r) {
        return r.rfind("email://mbox&", 0) == 0;
    });
    auto fetcher = mailfetch::createFetcher(mboxRef);
    ASSERT_NE(fetcher, nullptr);
    fetcher->setOpener([&](const std::string& file) {
        opened = readWholeFile(file);
        std::filesystem::remove(file);
        return true;
    });
    ASSERT_TRUE(fetcher->openMessage(mboxRef));
    // The key of an mbox reference is the message id: the opened file is that message.
    size_t keyStart = mboxRef.find('&', mboxRef.find('&', 8) + 1) + 1;
    std::string key = mboxRef.substr(keyStart, mboxRef.find('&', keyStart) - keyStart);
    std::string id;
    for (size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '%' && i + 2 < key.size()) {
            id += static_cast<char>(std::stoi(key.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            id += key[i] == '+' ? ' ' : key[i];
        }
    }
    ASSERT_FALSE(id.empty());
    EXPECT_NE(opened.find("Message-ID: " + id), std::string::npos) << id;

    // Nothing new: nothing is sent again (the hit count stays), the status is the same.
    ASSERT_EQ(runCommand(cmd, &out), 0) << out;
    EXPECT_EQ(statusReferences(state + ".mail.mbox"), mbox);
    EXPECT_EQ(references(server.queryPort, "test", 6).size(), 6u);

    // One new message in the mbox: only it is sent.
    std::string text = readWholeFile(inbox);
    writeWholeFile(inbox, text + "\n" + kNewMessage);
    ASSERT_EQ(runCommand(cmd, &out), 0) << out;
    EXPECT_EQ(statusReferences(state + ".mail.mbox").size(), 6u);
    EXPECT_EQ(references(server.queryPort, "zeppelin", 1).size(), 1u);
    EXPECT_EQ(references(server.queryPort, "test", 6).size(), 6u);
}

TEST(IxoIndexMail, RefusedRunKeepsTheMailStatus) {
    TempDir dir;
    const std::string state = dir.file("state");
    // Nothing listens on the port: the messages are fetched and imported, the batch is
    // refused, and the status file is not written, so a later run sends them again.
    const std::string cmd = std::string(IXOINDEX_BIN) + " --server 127.0.0.1:1 --state " + state +
                            " --mail mbox=" + mailData("mbox/eudora2unix_test1.mbox");
    std::string out;
    EXPECT_EQ(runCommand(cmd, &out), 1) << out;
    EXPECT_FALSE(std::filesystem::exists(state + ".mail.mbox"));
    EXPECT_FALSE(std::filesystem::exists(state + ".mail.mbox.new"));

    // An unknown client is a usage error.
    EXPECT_EQ(runCommand(std::string(IXOINDEX_BIN) + " --server 127.0.0.1:1 --mail pine", &out), 2);
}

}  // namespace
