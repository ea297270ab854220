// The Simple MAPI reader and fetcher, against the stand-in library the tests build and
// against a machine without the library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "mailfetch/simplemapiread.h"
#include "platform/dynload.h"
#include "support/diaglog.h"
#include "tests/common/tempdir.h"

namespace {

using mailfetch::SimpleMapiFetcher;
using mailfetch::SmapiMessage;
using mailfetch::SmapiSession;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

struct FakeMapiState {
    int logons, logoffs, outstanding, badFlags, firstSeedNull;
    MapiUlong lastLogonFlags;
};

// Points the loader at a folder for the life of the object; logs to a file.
class SmapiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("SAPIOLUX_LIBRARY_PATH");
        hadPath_ = old != nullptr;
        if (old) oldPath_ = old;
        setenv("SAPIOLUX_LIBRARY_PATH", FAKE_MAPI_DIR, 1);
        diagLogSetup(log_.file("diag.log").c_str(), 0, 0);
        // Held for the whole test so that the library's counters outlive the sessions.
        ASSERT_TRUE(hold_.load("MAPI32.dll")) << hold_.error();
    }
    void TearDown() override {
        hold_.unload();
        diagLogSetup(nullptr, 0, 0);
        if (hadPath_)
            setenv("SAPIOLUX_LIBRARY_PATH", oldPath_.c_str(), 1);
        else
            unsetenv("SAPIOLUX_LIBRARY_PATH");
    }
    FakeMapiState state() {
        auto fn = reinterpret_cast<void (*)(FakeMapiState*)>(hold_.symbol("fakeMapiState"));
        FakeMapiState s{};
        if (fn) fn(&s);
        return s;
    }
    std::string logText() { return readWholeFile(log_.file("diag.log")); }

    TempDir log_;
    platform::DynamicLibrary hold_;
    bool hadPath_ = false;
    std::string oldPath_;
};

TEST_F(SmapiTest, SessionWalksTheInbox) {
    FakeMapiState before = state();
    {
        SmapiSession session;
        session.setProfile("", "secret");
        SmapiMessage m;
        ASSERT_TRUE(session.next(m));
        EXPECT_TRUE(m.valid);
        EXPECT_EQ(m.id, "AAAA0001");
        EXPECT_EQ(m.subject, "First #1");
        EXPECT_EQ(m.originatorAddress, "alice@example.org");
        // The recipient without an address is left out of both lists.
        EXPECT_EQ(m.recipientNames, (std::vector<std::string>{"Bob", "Carol"}));
        EXPECT_EQ(m.recipientAddresses.size(), 2u);
        EXPECT_EQ(m.dateText, "2010/12/13 05:42");
        EXPECT_NE(m.time, 0);
        EXPECT_EQ(m.conversationId, "conv-0");
        ASSERT_TRUE(session.next(m));
        EXPECT_EQ(m.id, "AAAA0002");
        EXPECT_EQ(m.time, 0);  // no date: time 0, still read
        EXPECT_TRUE(m.valid);
        ASSERT_TRUE(session.next(m));
        ASSERT_TRUE(session.next(m));
        EXPECT_EQ(m.id, "AAAA0004");
        EXPECT_FALSE(session.next(m));
        EXPECT_FALSE(session.read("nope", m));
        EXPECT_FALSE(m.valid);
    }
    FakeMapiState after = state();
    EXPECT_EQ(after.logons - before.logons, 1);
    EXPECT_EQ(after.logoffs - before.logoffs, 1);
    EXPECT_EQ(after.outstanding, 0);
    EXPECT_EQ(after.badFlags, 0);
    EXPECT_EQ(after.firstSeedNull, 1);
    EXPECT_EQ(after.lastLogonFlags, smapi::kNewSession);
    std::string log = logText();
    EXPECT_NE(log.find("MAPILogon: Profile name = \"\", Password = \"********\""),
              std::string::npos);
    EXPECT_EQ(log.find("secret"), std::string::npos);
    EXPECT_NE(log.find("Created simple MAPI session OK."), std::string::npos);
    EXPECT_NE(log.find("Found message with ID of \"AAAA0003\""), std::string::npos);
    EXPECT_NE(log.find("Could not find any more messages. \n"), std::string::npos);
    EXPECT_NE(log.find("Logging off MAPI"), std::string::npos);

    SmapiSession refused;
    refused.setProfile("refuse", "");
    EXPECT_FALSE(refused.open());
    EXPECT_NE(logText().find("Could not create MAPI session. Error: Login failure."),
              std::string::npos);
}

TEST_F(SmapiTest, FetchWritesNdxFilesAndSkipsOldAndBlank) {
    TempDir dir;
    SimpleMapiFetcher f;
    ASSERT_TRUE(f.setFetchDirectory(dir.file("fetch")));
    f.setStatusFile(dir.file("status"));
    f.fetch(100);
    EXPECT_TRUE(f.finished());
    EXPECT_EQ(f.written(), 3);  // the blank message is not written
    std::string first = readWholeFile(dir.file("fetch/email0.ndx"));
    EXPECT_EQ(first,
              "#IXOTITLE First #1\n#IXOREFERENCE email://smapi&AAAA0001\n#IXOCONTENT\n"
              "Hello   world\r\n\n#IXOFIELD DOCTYPE=\"Email\"\n#IXODATE 2010/12/13 05:42\n"
              "#IXOFIELD CreationDate=\"2010/12/13 05:42\"\n#IXOFIELD Subject=\"First #1\"\n"
              "#IXOFIELD Folder=\"Email\"\n#IXOENDDOC\n");
    EXPECT_TRUE(std::filesystem::exists(dir.file("fetch/email1.ndx")));
    // Line ends in a subject become blanks: they would otherwise start tag lines.
    std::string fourth = readWholeFile(dir.file("fetch/email2.ndx"));
    EXPECT_NE(fourth.find("#IXOTITLE Two  #IXOENDDOC lines\n"), std::string::npos);
    EXPECT_NE(fourth.find("#IXOFIELD Subject=\"Two  #IXOENDDOC lines\"\n"), std::string::npos);
    EXPECT_EQ(fourth.find("\n#IXOENDDOC\n"), fourth.size() - 12);
    EXPECT_NE(logText().find("Doing message."), std::string::npos);
    // The next pass skips the dated message; the one without a date has stored time 0
    // and so counts as new on every pass. The running number goes on.
    f.fetch(100);
    EXPECT_EQ(f.written(), 1);
    EXPECT_NE(readWholeFile(dir.file("fetch/email3.ndx")).find("AAAA0002"), std::string::npos);
    f.reset();
    f.fetch(100);
    EXPECT_EQ(f.written(), 3);
    EXPECT_TRUE(std::filesystem::exists(dir.file("fetch/email6.ndx")));

    // A fetch directory that cannot take files: nothing is written and nothing is
    // remembered, so the messages come again once it can.
    SimpleMapiFetcher g;
    ASSERT_TRUE(g.setFetchDirectory(dir.file("blocked")));
    std::filesystem::remove(dir.file("blocked"));
    writeWholeFile(dir.file("blocked"), "a file where the folder was");
    g.fetch(100);
    EXPECT_EQ(g.written(), 0);
    EXPECT_EQ(g.statusCount(), 1u);  // only the blank message, never written anyway
    std::filesystem::remove(dir.file("blocked"));
    ASSERT_TRUE(g.setFetchDirectory(dir.file("blocked")));
    g.fetch(100);
    EXPECT_EQ(g.written(), 3);
}

TEST_F(SmapiTest, OpenRendersTheTemplates) {
    TempDir dir;
    writeWholeFile(dir.file("outlook.template"),
                   "<h1><ORVIQSMAPISubject></h1><p><ORVIQSMAPIOriginatorName> "
                   "<ORVIQSMAPIOriginatorAddress> <ORVIQSMAPIDateRecieved> "
                   "<ORVIQSMAPIMessageType> <ORVIQSMAPIConversationId></p>"
                   "<p><ORVIQSMAPIFirstRecip>/<ORVIQSMAPIFirstRecipAddress></p>"
                   "<ul><ORVIQSMAPIRecips></ul><pre><ORVIQSMAPIBody></pre><ORVIQSMAPISubject>");
    writeWholeFile(dir.file("tooutlook.template"),
                   "<li><ORVIQSMAPIRecipName> &lt;<ORVIQSMAPIRecipAddress>&gt;</li>");
    writeWholeFile(dir.file("attoutlook.template"), "<li>attachment</li>");
    std::filesystem::create_directories(dir.path() / "tmp");
    const char* oldTmp = std::getenv("TMPDIR");
    std::string saved = oldTmp ? oldTmp : "";
    setenv("TMPDIR", dir.file("tmp").c_str(), 1);

    auto client = mailfetch::createFetcher("email://SMAPI&AAAA0001");
    ASSERT_NE(client, nullptr);
    auto* f = dynamic_cast<SimpleMapiFetcher*>(client.get());
    ASSERT_NE(f, nullptr);
    f->setTemplateDirectory(dir.path().string());
    std::string opened;
    f->setOpener([&](const std::string& file) {
        opened = file;
        return true;
    });
    ASSERT_TRUE(f->openMessage("email://SMAPI&AAAA0001"));
    EXPECT_EQ(std::filesystem::path(opened).filename(), "email0.html");
    EXPECT_EQ(std::filesystem::path(opened).parent_path().parent_path(), dir.file("tmp"));
    EXPECT_EQ(readWholeFile(opened),
              "<h1>First #1</h1><p>Alice alice@example.org 2010/12/13 05:42 IPM.Note conv-0</p>"
              "<p>Bob/bob@example.org</p><ul><li>Bob &lt;bob@example.org&gt;</li>"
              "<li>Carol &lt;carol@example.org&gt;</li></ul><pre>Hello # world\r\n</pre>First #1");
    // Texts of the message are escaped: they cannot add markup or placeholders.
    ASSERT_TRUE(f->openMessage("email://smapi&AAAA0004"));
    EXPECT_NE(readWholeFile(opened).find(
                  "<pre>Fourth &lt;b&gt;body&lt;/b&gt; &amp; &lt;ORVIQSMAPISubject&gt;</pre>"),
              std::string::npos)
        << readWholeFile(opened);
    std::filesystem::remove(opened);
    EXPECT_FALSE(f->openMessage("email://smapi&missing"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("tmp/email2.html")));
    f->setTemplateDirectory(dir.file("nowhere"));
    EXPECT_FALSE(f->openMessage("email://smapi&AAAA0002"));
    if (oldTmp)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST_F(SmapiTest, WithoutTheLibraryTheFetchIsEmpty) {
    TempDir empty;
    hold_.unload();
    setenv("SAPIOLUX_LIBRARY_PATH", empty.path().c_str(), 1);
    SimpleMapiFetcher f;
    ASSERT_TRUE(f.setFetchDirectory(empty.file("fetch")));
    f.fetch(100);
    EXPECT_TRUE(f.finished());
    EXPECT_EQ(f.written(), 0);
    EXPECT_NE(logText().find("Failed to load MAPI32.dll.\n"), std::string::npos);
    EXPECT_FALSE(f.openMessage("email://smapi&AAAA0001"));
}

}  // namespace
