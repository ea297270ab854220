// What the fetchers may never do: replace a message file of an earlier run, or write
// without a fetch folder; and the mailfetch program's exit status when a store cannot
// be read.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "imex.h"
#include "mailfetch/emailclient.h"
#include "support/envcfgutil.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

std::string shared(const std::string& relative) {
    return std::string(SAPIOLUX_SHARED_DIR) + "/testdata/mail/" + relative;
}

int run(const std::string& command, std::string& output) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    output.clear();
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const char* kNewMessage =
    "From someone@example.org Tue Dec 14 10:00:00 2010\n"
    "From: Someone <someone@example.org>\n"
    "Subject: Zeppelin timetable\n"
    "Message-ID: <zeppelin-1@example.org>\n"
    "Date: Tue, 14 Dec 2010 10:00:00 +0000\n"
    "\n"
    "The zeppelin leaves at noon from the airfield.\n";

// The references of the documents of an IDX file.
std::set<std::string> references(const std::string& idx) {
    std::set<std::string> refs;
    const std::string text = readWholeFile(idx);
    for (size_t p = 0; (p = text.find("#IXOREFERENCE ", p)) != std::string::npos;) {
        p += 14;
        refs.insert(text.substr(p, text.find('\n', p) - p));
    }
    return refs;
}

TEST(FetchSafety, ASecondRunIntoTheSameFolderLosesNothing) {
    TempDir dir;
    const std::string inbox = dir.file("Inbox");
    fs::copy_file(shared("mbox/eudora2unix_test1.mbox"), inbox);
    const std::string fetch = dir.file("fetch"), status = dir.file("status");
    {
        auto first = mailfetch::createStoreFetcher("mbox");
        first->setStores({inbox});
        ASSERT_TRUE(first->setFetchDirectory(fetch));
        first->setStatusFile(status);
        first->fetch(100);
        ASSERT_EQ(first->written(), 5);
    }
    const std::string firstMessage = readWholeFile(fetch + "/email0.eml");
    const std::string firstSide = readWholeFile(fetch + "/email0.eml.idx");

    // A new message arrives before the first run's files were imported; the next run
    // (a new fetcher reading the same status file) writes it beside them.
    std::string box = readWholeFile(inbox);
    writeWholeFile(inbox, box + "\n" + kNewMessage);
    {
        auto second = mailfetch::createStoreFetcher("mbox");
        second->setStores({inbox});
        ASSERT_TRUE(second->setFetchDirectory(fetch));
        second->setStatusFile(status);
        ASSERT_TRUE(second->loadStatus());
        second->fetch(100);
        ASSERT_EQ(second->written(), 1);
    }
    EXPECT_EQ(readWholeFile(fetch + "/email0.eml"), firstMessage);
    EXPECT_EQ(readWholeFile(fetch + "/email0.eml.idx"), firstSide);
    EXPECT_TRUE(fs::exists(fetch + "/email5.eml"));

    // Imported, the folder gives all six messages, each under its own mail reference.
    const std::string out = dir.file("out.idx");
    const std::string folder = fetch + "/";
    const char* inputs[] = {folder.c_str()};
    imexInit();
    ASSERT_EQ(imexSimpleImport(out.c_str(), "Mail", 1, inputs), 1);
    const std::string idx = readWholeFile(out);
    size_t messages = 0;
    for (size_t p = 0; (p = idx.find("#IXOFIELD DocType=\"EMAIL\"", p)) != std::string::npos; ++p)
        ++messages;
    EXPECT_EQ(messages, 6u);
    const std::set<std::string> refs = references(out);
    EXPECT_EQ(refs.size(), 7u);  // and the attachment of one of them
    for (const std::string& r : refs) EXPECT_EQ(r.rfind("email://mbox&", 0), 0u) << r;
}

TEST(FetchSafety, AnEmptyFetchFolderIsRefused) {
    auto f = mailfetch::createStoreFetcher("mbox");
    f->setStores({shared("mbox/eudora2unix_test1.mbox")});
    EXPECT_FALSE(f->setFetchDirectory(""));
    EXPECT_NE(f->error().find("fetch folder"), std::string::npos) << f->error();
    // Fetching anyway writes nothing (no "/email0.eml") and says why.
    f->fetch(100);
    EXPECT_EQ(f->written(), 0);
    EXPECT_TRUE(f->finished());
    EXPECT_FALSE(f->error().empty());
    EXPECT_EQ(f->statusCount(), 0u);
    EXPECT_FALSE(fs::exists("/email0.eml"));

    // A configuration without EmailClientFetchDir is refused the same way.
    const std::string text = "[Mail]\nEmailClientStatusFile=\n";
    ConfigFile* cfg = nullptr;
    ASSERT_EQ(envCfgLoadFromMemory(&cfg, text.data(), static_cast<int32_t>(text.size()), nullptr,
                                   ENVCFG_OWNED),
              0);
    mailfetch::StoreFetcher g("mbox");
    EXPECT_FALSE(g.configure(cfg, "Mail"));
    envCfgClose(&cfg);
    EXPECT_FALSE(g.error().empty());

    // The program says so and fails.
    TempDir dir;
    std::string out;
    EXPECT_EQ(run(std::string(MAILFETCH_BIN) + " --client mbox --store " +
                      shared("mbox/eudora2unix_test1.mbox") + " --fetch-dir ''",
                  out),
              2)
        << out;
    EXPECT_NE(out.find("fetch folder"), std::string::npos) << out;
}

TEST(FetchSafety, StoresThatCannotBeReadFailTheProgram) {
    TempDir dir;
    const std::string tool = MAILFETCH_BIN;
    writeWholeFile(dir.file("junk.dbx"), "this is not a store of any kind, just text\n");
    std::string out;
    struct Case {
        std::string args, says;
    } cases[] = {
        {"--client oe5 --store " + dir.file("missing.dbx"), "cannot read"},
        {"--client oe5 --store " + dir.file("junk.dbx"), "cannot read"},
        {"--client mbox --store " + dir.file("missing"), "cannot read"},
        {"--client eudora --store " + dir.file("nothing.toc"), "cannot read"},
        {"--client maildir --store " + dir.file("missing"), "no maildir mailbox"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(tool + " " + c.args + " --fetch-dir " + dir.file("fetch"), out), 1)
            << c.args << "\n"
            << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
    }
    // One readable store beside an unreadable one: what could be read is written, and
    // the run still fails.
    EXPECT_EQ(run(tool + " --client mbox --store " + shared("mbox/eudora2unix_test1.mbox") +
                      " --store " + dir.file("missing") + " --fetch-dir " + dir.file("both"),
                  out),
              1)
        << out;
    EXPECT_NE(out.find("cannot read"), std::string::npos) << out;
    EXPECT_TRUE(out.rfind("5\n", 0) == 0 || out.find("\n5\n") != std::string::npos) << out;
    EXPECT_TRUE(fs::exists(dir.file("both/email4.eml")));
}

}  // namespace
