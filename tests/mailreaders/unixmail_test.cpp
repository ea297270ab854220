// The mbox and Maildir readers on the real stores (the same five messages in both) and
// on made-up and damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import/mboxparse.h"
#include "mailtestutil.h"
#include "tests/common/tempdir.h"

namespace {

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

struct Seen {
    std::string key, subject, text, reference;
    int64_t time;
};

std::vector<Seen> walkMbox(const std::string& path, const TempDir& dir, int* rc = nullptr) {
    std::vector<Seen> out;
    MboxMailbox* box = nullptr;
    int r = mboxOpen(path.c_str(), &box);
    if (rc) *rc = r;
    if (r != UNIXMAIL_OK) return out;
    while ((r = mboxNextMessage(box)) != UNIXMAIL_END) {
        if (r != UNIXMAIL_OK) continue;
        const UnixMailMessage* m = mboxCurrentMessage(box);
        std::string file = dir.file("m.eml");
        EXPECT_EQ(mboxCopyMessage(box, file.c_str()), UNIXMAIL_OK);
        char* ref = mboxMessageReference(box);
        out.push_back({m->key, m->subject, readWholeFile(file), ref, m->time});
        memFree(ref);
    }
    mboxClose(&box);
    return out;
}

std::vector<Seen> walkMaildir(const std::string& path, const TempDir& dir) {
    std::vector<Seen> out;
    MaildirMailbox* box = nullptr;
    if (maildirOpen(path.c_str(), &box) != UNIXMAIL_OK) return out;
    int r;
    while ((r = maildirNextMessage(box)) != UNIXMAIL_END) {
        if (r != UNIXMAIL_OK) continue;
        const UnixMailMessage* m = maildirCurrentMessage(box);
        std::string file = dir.file("m.eml");
        EXPECT_EQ(maildirCopyMessage(box, file.c_str()), UNIXMAIL_OK);
        char* ref = maildirMessageReference(box);
        out.push_back({m->key, m->subject, readWholeFile(file), ref, m->time});
        memFree(ref);
    }
    maildirClose(&box);
    return out;
}

const std::vector<std::string> kIds = {
    "<20101213054255.GY10018@arlut.utexas.edu>",
    "<1106655.1291848685527.JavaMail.www@app218>",
    "<1403023253.687064.1271943030324.JavaMail.srtomcat@nexus.communitect.com>",
    "<4D06B6E1.1070601@arlut.utexas.edu>",
    "<4D06B782.4080901@arlut.utexas.edu>",
};

TEST(UnixMail, RealMboxAndMaildirGiveTheSameFiveMessages) {
    TempDir dir;
    std::string mboxPath = mailtest::sharedMail("mbox/eudora2unix_test1.mbox");
    auto mbox = walkMbox(mboxPath, dir);
    auto maildir = walkMaildir(mailtest::sharedMail("maildir/test1_via_mb2md"), dir);
    ASSERT_EQ(mbox.size(), 5u);
    ASSERT_EQ(maildir.size(), 5u);
    std::string whole = readWholeFile(mboxPath);
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(mbox[i].key, kIds[i]);
        EXPECT_NE(maildir[i].text.find(kIds[i]), std::string::npos);
        EXPECT_EQ(mbox[i].subject, maildir[i].subject);
        EXPECT_EQ(mbox[i].text.rfind("From ", 0), std::string::npos);  // no separator line
        EXPECT_NE(whole.find(mbox[i].text), std::string::npos);
        EXPECT_EQ(maildir[i].key, "1796582023.00000" + std::to_string(i) + ".mbox");
        EXPECT_EQ(maildir[i].time, 1796582023);
    }
    EXPECT_EQ(mbox[4].subject, "Another email test");
    EXPECT_EQ(mbox[0].time, mboxSeparatorTime("From x  Sun Dec 12 23:42:56 2010"));

    // References lead back to the same text.
    std::string out = dir.file("found.eml");
    ASSERT_EQ(mboxFindAndCopy(mbox[3].reference.c_str(), out.c_str()), UNIXMAIL_OK);
    EXPECT_EQ(readWholeFile(out), mbox[3].text);
    ASSERT_EQ(maildirFindAndCopy(maildir[2].reference.c_str(), out.c_str()), UNIXMAIL_OK);
    EXPECT_EQ(readWholeFile(out), maildir[2].text);
    EXPECT_EQ(mboxFindAndCopy(maildir[2].reference.c_str(), out.c_str()), UNIXMAIL_NOT_REFERENCE);
    std::string moved = mbox[3].reference.substr(0, mbox[3].reference.rfind('&')) + "&1";
    EXPECT_EQ(mboxFindAndCopy(moved.c_str(), out.c_str()), UNIXMAIL_NOT_FOUND);
}

TEST(UnixMail, SeparatorTimes) {
    EXPECT_EQ(mboxSeparatorTime("From - Thu Jan  1 00:00:01 1970"), 1);
    EXPECT_EQ(mboxSeparatorTime("From a@b Mon Dec 13 05:42:55 2010"), 1292218975);
    EXPECT_EQ(mboxSeparatorTime("From a@b Mon Dec 13 05:42:55 2010 +0100"), 1292218975);
    EXPECT_EQ(mboxSeparatorTime("From a@b yesterday"), 0);
    EXPECT_EQ(mboxSeparatorTime("From a@b Mon Dec 32 05:42:55 2010"), 0);
    EXPECT_EQ(mboxSeparatorTime(nullptr), 0);
}

TEST(UnixMail, MadeUpAndDamagedFiles) {
    TempDir dir;
    std::string path = dir.file("box");
    writeWholeFile(path,
                   "From a Mon Dec 13 05:42:55 2010\nSubject: One\n\nFirst\n>From here\n\n"
                   "From b Mon Dec 13 05:42:56 2010\r\nSubject: Two\r\n\r\nno id\r\n\n"
                   "From c Mon Dec 13 05:42:57 2010\nSubject: Last");
    auto got = walkMbox(path, dir);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].text, "Subject: One\n\nFirst\n>From here\n");
    EXPECT_EQ(got[1].key, "Two");  // no Message-ID: the subject
    EXPECT_EQ(got[2].text, "Subject: Last");

    int rc = -1;
    writeWholeFile(path, "");
    EXPECT_TRUE(walkMbox(path, dir, &rc).empty());
    EXPECT_EQ(rc, UNIXMAIL_OK);
    for (std::string other : {"dbx/dbxconvert_fixtures_test.dbx", "eudora/eudora2unix_win71/In.toc",
                              "wrong-format/eulcommon_oemac_Mail"}) {
        walkMbox(mailtest::sharedMail(other), dir, &rc);
        EXPECT_EQ(rc, UNIXMAIL_ERROR) << other;
    }
    walkMbox(dir.file("absent"), dir, &rc);
    EXPECT_EQ(rc, UNIXMAIL_CANNOT_OPEN);
    // A separator line without an end: one error, and the walk ends.
    writeWholeFile(path, "From " + std::string(5000, 'x'));
    EXPECT_TRUE(walkMbox(path, dir).empty());

    MaildirMailbox* box = nullptr;
    EXPECT_EQ(maildirOpen(dir.path().c_str(), &box), UNIXMAIL_CANNOT_OPEN);
    std::filesystem::create_directories(dir.path() / "md" / "new");
    writeWholeFile(dir.file("md/new/200.x"), "Subject: later\n\nb\n");
    std::filesystem::create_directories(dir.path() / "md" / "cur");
    writeWholeFile(dir.file("md/cur/100.y:2,S"), "Subject: earlier\n\na\n");
    auto md = walkMaildir(dir.file("md"), dir);
    ASSERT_EQ(md.size(), 2u);
    EXPECT_EQ(md[0].key, "100.y");
    EXPECT_EQ(md[0].time, 100);
    EXPECT_EQ(md[1].subject, "later");
    // Read since: moved to cur/ with flags; the reference still finds it.
    std::filesystem::rename(dir.file("md/new/200.x"), dir.file("md/cur/200.x:2,S"));
    std::string out = dir.file("o.eml");
    ASSERT_EQ(maildirFindAndCopy(md[1].reference.c_str(), out.c_str()), UNIXMAIL_OK);
    EXPECT_EQ(readWholeFile(out), "Subject: later\n\nb\n");
}

}  // namespace
