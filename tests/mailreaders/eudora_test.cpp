// The table-of-contents reader on the real folder, the Mac variants and damaged copies.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import/eudoraparse.h"
#include "mailtestutil.h"
#include "tests/common/tempdir.h"

namespace {

using mailtest::put16;
using mailtest::put32;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

const std::string kFolder = "eudora/eudora2unix_win71/";

std::string inFolder() {
    return mailtest::sharedMail(kFolder + "In");
}

// The Message-ID header values of a text, in order.
std::vector<std::string> messageIds(const std::string& text) {
    std::vector<std::string> ids;
    size_t at = 0;
    while ((at = text.find("\nMessage-ID:", at)) != std::string::npos) {
        at += 12;
        size_t open = text.find('<', at), close = text.find('>', open);
        if (open == std::string::npos || close == std::string::npos) break;
        ids.push_back(text.substr(open, close - open + 1));
    }
    return ids;
}

// Walks a mailbox; returns the copied messages (whole), counting failed entries.
std::vector<std::string> walk(const std::string& folder, const std::string& tmp, int* errors,
                              int* openResult = nullptr) {
    std::vector<std::string> out;
    EudoraMailbox* box = nullptr;
    int rc = eudoraOpen(folder.c_str(), &box);
    if (openResult) *openResult = rc;
    if (rc != EUDORA_OK) return out;
    while ((rc = eudoraNextMessage(box)) != EUDORA_END) {
        if (rc != EUDORA_OK) {
            ++*errors;
            continue;
        }
        std::string file = tmp + "/m.eml";
        EXPECT_EQ(eudoraCopyMessage(box, file.c_str(), 1), EUDORA_OK);
        out.push_back(readWholeFile(file));
    }
    eudoraClose(&box);
    return out;
}

// A writable copy of the In mailbox under dir, as folder path.
std::string copyIn(const TempDir& dir, const std::string& toc, const std::string& mbx) {
    writeWholeFile(dir.file("In.toc"), toc);
    writeWholeFile(dir.file("In.mbx"), mbx);
    return dir.file("In");
}

TEST(EudoraReader, RealFolderMatchesTableAndMbox) {
    auto rows = mailtest::readTsv(mailtest::sharedMail("eudora/expected_eudora2unix_win71_In.tsv"));
    ASSERT_EQ(rows.size(), 5u);
    std::string mbx = readWholeFile(inFolder() + ".mbx");
    EudoraMailbox* box = nullptr;
    ASSERT_EQ(eudoraOpen(inFolder().c_str(), &box), EUDORA_OK);
    EXPECT_STREQ(eudoraMailboxName(box), "In");
    EXPECT_EQ(eudoraMessageCount(box), 5);
    TempDir tmp;
    std::vector<std::string> ids;
    for (auto& row : rows) {
        SCOPED_TRACE("entry " + row[0]);
        ASSERT_EQ(eudoraNextMessage(box), EUDORA_OK);
        const EudoraMessage* m = eudoraCurrentMessage(box);
        EXPECT_EQ(m->position, std::stoul(row[1]));
        EXPECT_EQ(m->length, std::stoul(row[2]));
        EXPECT_EQ(m->time, std::stoll(row[3]));
        EXPECT_EQ(m->status, std::stoul(row[4]));
        EXPECT_EQ(std::string(m->dateText), row[5]);
        EXPECT_EQ(std::string(m->sender), row[6]);
        // Longer than 53 characters for entry 1: the whole subject field is read.
        EXPECT_EQ(std::string(m->subject), row[7]);
        std::string whole = tmp.file("whole.eml"), body = tmp.file("body.htm");
        ASSERT_EQ(eudoraCopyMessage(box, whole.c_str(), 1), EUDORA_OK);
        ASSERT_EQ(eudoraCopyMessage(box, body.c_str(), 0), EUDORA_OK);
        std::string text = readWholeFile(whole);
        EXPECT_EQ(text, mbx.substr(m->position, m->length));
        std::string bodyText = readWholeFile(body);
        ASSERT_LT(bodyText.size(), text.size());
        EXPECT_EQ(text.substr(text.size() - bodyText.size()), bodyText);
        EXPECT_EQ(text.find(row[8]) != std::string::npos, true);
        auto found = messageIds(text);
        ASSERT_FALSE(found.empty());
        ids.push_back(found[0]);
        EXPECT_EQ(found[0], row[8]);
    }
    EXPECT_EQ(eudoraNextMessage(box), EUDORA_END);
    EXPECT_EQ(eudoraCurrentMessage(box), nullptr);
    eudoraClose(&box);
    EXPECT_EQ(box, nullptr);
    // The same messages, in the same order, as the mbox they were imported from (the
    // first Message-ID of each message; attached messages carry their own).
    std::string mbox = "\n" + readWholeFile(mailtest::sharedMail("mbox/eudora2unix_test1.mbox"));
    std::vector<std::string> fromMbox;
    for (size_t at = mbox.find("\nFrom "); at != std::string::npos;) {
        size_t next = mbox.find("\nFrom ", at + 1);
        auto inMessage = messageIds(mbox.substr(at, next == std::string::npos ? next : next - at));
        ASSERT_FALSE(inMessage.empty());
        fromMbox.push_back(inMessage[0]);
        at = next;
    }
    EXPECT_EQ(ids, fromMbox);
}

TEST(EudoraReader, ReferencesFindTheirMessage) {
    TempDir tmp;
    EudoraMailbox* box = nullptr;
    ASSERT_EQ(eudoraOpen(inFolder().c_str(), &box), EUDORA_OK);
    std::vector<std::string> refs;
    while (eudoraNextMessage(box) == EUDORA_OK) {
        char* ref = eudoraMessageReference(box);
        ASSERT_NE(ref, nullptr);
        refs.push_back(ref);
        memFree(ref);
    }
    eudoraClose(&box);
    ASSERT_EQ(refs.size(), 5u);
    EXPECT_NE(refs[3].find("&This+is+a+test&1292307265"), std::string::npos) << refs[3];
    std::string out = tmp.file("open.htm");
    ASSERT_EQ(eudoraFindAndCopy(refs[3].c_str(), out.c_str(), 1), EUDORA_OK);
    EXPECT_NE(readWholeFile(out).find("<4D06B6E1.1070601@arlut.utexas.edu>"), std::string::npos);
    ASSERT_EQ(eudoraFindAndCopy(refs[3].c_str(), out.c_str(), 0), EUDORA_OK);
    EXPECT_EQ(readWholeFile(out).find("Message-ID:"), std::string::npos);

    std::string gone = refs[3];
    gone.replace(gone.rfind('&') + 1, std::string::npos, "1292307266");
    EXPECT_EQ(eudoraFindAndCopy(gone.c_str(), out.c_str(), 1), EUDORA_END);
    EXPECT_EQ(eudoraFindAndCopy("email://oe5&x&y&1", out.c_str(), 1), EUDORA_NOT_REFERENCE);
    EXPECT_EQ(eudoraFindAndCopy(nullptr, out.c_str(), 1), EUDORA_BAD_ARGUMENTS);
    EXPECT_EQ(eudoraFindAndCopy(refs[0].c_str(), "", 1), EUDORA_BAD_ARGUMENT);
}

TEST(EudoraReader, EmptyAndForeignTables) {
    TempDir tmp;
    int errors = 0, rc = -1;
    // Empty mailboxes of the real folder: a header and no entries.
    EXPECT_TRUE(
        walk(mailtest::sharedMail(kFolder + "Out"), tmp.path().string(), &errors, &rc).empty());
    EXPECT_EQ(rc, EUDORA_OK);
    // The Mac variants: no table at all, or a table of another layout and byte order.
    walk(mailtest::sharedMail("eudora/eudora2unix_mac624/In"), tmp.path().string(), &errors, &rc);
    EXPECT_EQ(rc, EUDORA_CANNOT_OPEN);
    for (std::string other : {"eudora/eulcommon_In.toc", "wrong-format/eulcommon_oemac_Index",
                              "dbx/dbxconvert_fixtures_test.dbx"}) {
        std::string folder = copyIn(tmp, readWholeFile(mailtest::sharedMail(other)), "");
        walk(folder, tmp.path().string(), &errors, &rc);
        EXPECT_EQ(rc, EUDORA_ERROR) << other;
    }
    EXPECT_EQ(errors, 0);
    EudoraMailbox* box = nullptr;
    EXPECT_EQ(eudoraOpen("", &box), EUDORA_BAD_ARGUMENTS);
    EXPECT_EQ(eudoraOpen("x", nullptr), EUDORA_BAD_ARGUMENT);
    // The data file is required too.
    std::filesystem::copy_file(inFolder() + ".toc", tmp.file("Lone.toc"));
    EXPECT_EQ(eudoraOpen(tmp.file("Lone").c_str(), &box), EUDORA_CANNOT_OPEN);
}

TEST(EudoraReader, DamagedCopies) {
    const std::string toc = readWholeFile(inFolder() + ".toc");
    const std::string mbx = readWholeFile(inFolder() + ".mbx");
    TempDir tmp;
    int errors = 0, rc = -1;
    {  // A count larger than the table: refused.
        std::string t = toc;
        put16(t, 102, 6);
        walk(copyIn(tmp, t, mbx), tmp.path().string(), &errors, &rc);
        EXPECT_EQ(rc, EUDORA_ERROR);
        put16(t, 102, 0xffff);
        walk(copyIn(tmp, t, mbx), tmp.path().string(), &errors, &rc);
        EXPECT_EQ(rc, EUDORA_ERROR);
        walk(copyIn(tmp, toc.substr(0, 50), mbx), tmp.path().string(), &errors, &rc);
        EXPECT_EQ(rc, EUDORA_ERROR);
    }
    {  // A table one byte short: its four whole entries are read, the rest is damaged.
        errors = 0;
        auto got = walk(copyIn(tmp, toc.substr(0, toc.size() - 1), mbx), tmp.path().string(),
                        &errors, &rc);
        EXPECT_EQ(rc, EUDORA_OK);
        EXPECT_EQ(got.size(), 4u);
        EXPECT_EQ(errors, 1);
        // One byte long: all five, and the extra byte reported.
        errors = 0;
        got = walk(copyIn(tmp, toc + "x", mbx), tmp.path().string(), &errors, &rc);
        EXPECT_EQ(rc, EUDORA_OK);
        EXPECT_EQ(got.size(), 5u);
        EXPECT_EQ(errors, 1);
        // A count one above the entries and the table cut inside the last: the whole
        // entries are read.
        std::string t = toc + std::string(100, '\0');
        put16(t, 102, 6);
        errors = 0;
        got = walk(copyIn(tmp, t, mbx), tmp.path().string(), &errors, &rc);
        EXPECT_EQ(rc, EUDORA_OK);
        EXPECT_EQ(got.size(), 5u);
        EXPECT_EQ(errors, 1);
    }
    {  // Entries pointing past the data file or claiming 2 GB: errors for those only.
        std::string t = toc;
        put32(t, 104 + 218 * 1, 0xfffffff0u);
        put32(t, 104 + 218 * 3 + 4, 0x80000000u);
        errors = 0;
        auto got = walk(copyIn(tmp, t, mbx), tmp.path().string(), &errors, &rc);
        EXPECT_EQ(rc, EUDORA_OK);
        EXPECT_EQ(errors, 2);
        EXPECT_EQ(got.size(), 3u);
    }
    {  // A truncated data file: the messages that still fit are read.
        errors = 0;
        auto got = walk(copyIn(tmp, toc, mbx.substr(0, 19947 + 100)), tmp.path().string(), &errors);
        EXPECT_EQ(got.size(), 3u);
        EXPECT_EQ(errors, 2);
    }
}

}  // namespace
