// The single-file store reader on the real stores and on damaged copies of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import/oe5parse.h"
#include "mailtestutil.h"
#include "tests/common/tempdir.h"

namespace {

using mailtest::get32;
using mailtest::put32;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

struct Walked {
    uint32_t info;
    std::string subject;
    int64_t time;
    std::string body;  // empty when the copy failed
    int copyResult;
};

// Walks a whole mailbox, copying every message; results that are not 0 or 5 are counted.
std::vector<Walked> walk(const std::string& folder, const std::string& tmp, int* errors = nullptr,
                         int* openResult = nullptr) {
    std::vector<Walked> out;
    Oe5Mailbox* box = nullptr;
    int rc = oe5Open(folder.c_str(), &box);
    if (openResult) *openResult = rc;
    if (rc != OE5_OK) return out;
    int steps = 0;
    while ((rc = oe5NextMessage(box)) != OE5_END) {
        if (++steps > 100000) ADD_FAILURE() << "walk does not end";
        if (steps > 100000) break;
        if (rc != OE5_OK) {
            if (errors) ++*errors;
            continue;
        }
        const Oe5Message* m = oe5CurrentMessage(box);
        Walked w{m->infoPosition, m->subject, m->time, "", 0};
        std::string file = tmp + "/copy.eml";
        w.copyResult = oe5CopyMessage(box, file.c_str());
        if (std::filesystem::exists(file)) w.body = readWholeFile(file);
        std::filesystem::remove(file);
        out.push_back(w);
    }
    EXPECT_EQ(oe5CurrentMessage(box), nullptr);
    oe5Close(&box);
    EXPECT_EQ(box, nullptr);
    return out;
}

std::string storePath(const std::string& name) {
    return mailtest::sharedMail("dbx/" + name);
}

// A writable copy of a real store, as folder (path without extension).
std::string copyStore(const TempDir& dir, const std::string& name, const std::string& bytes) {
    writeWholeFile(dir.file(name + ".dbx"), bytes);
    return dir.file(name);
}

TEST(Oe5Reader, RealStoresGiveTheExpectedMessagesInOrder) {
    auto rows = mailtest::readTsv(storePath("expected_messages.tsv"));
    ASSERT_EQ(rows.size(), 30u);
    TempDir tmp;
    for (std::string file : {"dbxconvert_fixtures_test.dbx", "iped_test_OutlookDBX.dbx"}) {
        std::string folder = storePath(file.substr(0, file.size() - 4));
        std::vector<Walked> got = walk(folder, tmp.path().string());
        std::vector<std::vector<std::string>> want;
        for (auto& r : rows)
            if (r[0] == file) want.push_back(r);
        ASSERT_EQ(got.size(), want.size()) << file;
        for (size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(file + " message " + std::to_string(i));
            EXPECT_EQ(got[i].info, std::stoul(want[i][2], nullptr, 16));
            EXPECT_EQ(got[i].copyResult, OE5_OK);
            EXPECT_EQ(got[i].body.size(), std::stoul(want[i][3]));
            EXPECT_EQ(mailtest::sha256Hex(got[i].body), want[i][6]);
            // The stored subject is the one without a "Fw: " prefix; the table's header
            // subject is cut at 60 characters and may be encoded. A plain one, without
            // its prefix, must begin the stored subject.
            std::string subject = want[i].size() > 7 ? want[i][7] : "";
            if (subject.rfind("Fw: ", 0) == 0) subject.erase(0, 4);
            if (subject.rfind("=?", 0) != 0) {
                EXPECT_EQ(got[i].subject.rfind(subject, 0), 0u);
            }
            EXPECT_GT(got[i].time, 946684800);  // after 2000
        }
    }
}

TEST(Oe5Reader, ReferencesFindTheirMessage) {
    TempDir tmp;
    std::string folder = storePath("iped_test_OutlookDBX");
    Oe5Mailbox* box = nullptr;
    ASSERT_EQ(oe5Open(folder.c_str(), &box), OE5_OK);
    EXPECT_EQ(oe5MessageReference(box), nullptr);
    ASSERT_EQ(oe5NextMessage(box), OE5_OK);
    ASSERT_EQ(oe5NextMessage(box), OE5_OK);
    char* ref = oe5MessageReference(box);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(std::string(ref).rfind("email://oe5&", 0), 0u);
    EXPECT_NE(std::string(ref).find("&Mensagem+teste&"), std::string::npos);
    std::string direct = tmp.file("direct.eml");
    ASSERT_EQ(oe5CopyMessage(box, direct.c_str()), OE5_OK);
    oe5Close(&box);

    std::string found = tmp.file("found.eml");
    ASSERT_EQ(oe5FindAndCopy(ref, found.c_str()), OE5_OK);
    EXPECT_EQ(readWholeFile(found), readWholeFile(direct));

    // Tags compare without regard to case.
    std::string upper(ref);
    upper.replace(8, 3, "OE5");
    ASSERT_EQ(oe5FindAndCopy(upper.c_str(), found.c_str()), OE5_OK);

    std::string other(ref);
    other.erase(6, 1);  // "email:/oe5&..."
    EXPECT_EQ(oe5FindAndCopy(other.c_str(), found.c_str()), OE5_NOT_REFERENCE);
    std::string eudora = "email://eudora" + std::string(ref).substr(11);
    EXPECT_EQ(oe5FindAndCopy(eudora.c_str(), found.c_str()), OE5_NOT_REFERENCE);
    std::string wrongTime(ref);
    wrongTime += "0";
    EXPECT_EQ(oe5FindAndCopy(wrongTime.c_str(), found.c_str()), OE5_NOT_FOUND);
    std::string missing = "email://oe5&" + tmp.file("nothing") + "&x&1";
    EXPECT_EQ(oe5FindAndCopy(missing.c_str(), found.c_str()), OE5_CANNOT_OPEN);
    memFree(ref);
}

TEST(Oe5Reader, ArgumentsListingAndWrongFiles) {
    Oe5Mailbox* box = nullptr;
    EXPECT_EQ(oe5Open(nullptr, &box), OE5_BAD_ARGUMENTS);
    EXPECT_EQ(oe5Open("x", nullptr), OE5_BAD_ARGUMENT);
    EXPECT_EQ(oe5NextMessage(nullptr), OE5_BAD_ARGUMENTS);
    oe5Close(nullptr);
    oe5Close(&box);

    int32_t count = -1;
    char** names = oe5ListMailboxes(mailtest::sharedMail("dbx").c_str(), &count);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(names[0], "dbxconvert_fixtures_test");
    EXPECT_STREQ(names[1], "iped_test_OutlookDBX");
    EXPECT_EQ(names[2], nullptr);
    mailrefFreeList(&names, count);
    EXPECT_EQ(names, nullptr);
    EXPECT_EQ(oe5ListMailboxes(mailtest::sharedMail("eudora").c_str(), &count), nullptr);
    EXPECT_EQ(count, 0);

    // Stores of other programs and layouts are refused at open.
    TempDir tmp;
    for (std::string other :
         {"wrong-format/eulcommon_oemac_Mail", "wrong-format/eulcommon_oemac_Index",
          "eudora/eudora2unix_win71/In.toc", "eudora/eulcommon_In.toc"}) {
        std::string folder = copyStore(tmp, "other", readWholeFile(mailtest::sharedMail(other)));
        EXPECT_EQ(oe5Open(folder.c_str(), &box), OE5_ERROR) << other;
        EXPECT_EQ(box, nullptr);
    }
    EXPECT_EQ(oe5Open(tmp.file("absent").c_str(), &box), OE5_CANNOT_OPEN);
}

// Builds a store whose single index node is replaced by a small tree: the first ten
// messages in a first-child node, the last eight in the child of the root's last entry.
// Loops and a node referenced twice are added; the walk must still give each message
// once, in the original order.
TEST(Oe5Reader, MultiLevelTreeWithLoopsKeepsOrder) {
    std::string bytes = readWholeFile(storePath("iped_test_OutlookDBX.dbx"));
    uint32_t root = get32(bytes, 0xE4);
    ASSERT_EQ(static_cast<unsigned char>(bytes[root + 17]), 28);
    std::vector<std::string> entries;
    for (int i = 0; i < 28; ++i) entries.push_back(bytes.substr(root + 24 + 12 * i, 12));

    auto appendNode = [&](uint32_t firstChild, uint32_t parent, size_t from, size_t to) {
        uint32_t at = static_cast<uint32_t>(bytes.size());
        std::string node(24, '\0');
        put32(node, 0, at);
        put32(node, 8, firstChild);
        put32(node, 12, parent);
        node[17] = static_cast<char>(to - from);
        for (size_t i = from; i < to; ++i) node += entries[i];
        bytes += node;
        return at;
    };
    uint32_t first = appendNode(0, root, 0, 10);
    uint32_t last = appendNode(root, root, 20, 28);  // first child loops back to the root
    bytes[root + 17] = 10;
    for (int i = 0; i < 10; ++i) bytes.replace(root + 24 + 12 * i, 12, entries[10 + i]);
    put32(bytes, root + 8, first);
    put32(bytes, root + 24 + 12 * 9 + 4, last);
    put32(bytes, root + 24 + 12 * 3 + 4, first);  // the same node a second time
    put32(bytes, root + 24 + 12 * 4 + 4, root);   // the root as its own grandchild

    TempDir tmp;
    std::string folder = copyStore(tmp, "tree", bytes);
    std::vector<Walked> got = walk(folder, tmp.path().string());
    auto rows = mailtest::readTsv(storePath("expected_messages.tsv"));
    std::vector<uint32_t> want;
    for (auto& r : rows)
        if (r[0] == "iped_test_OutlookDBX.dbx") want.push_back(std::stoul(r[2], nullptr, 16));
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].info, want[i]) << i;
}

TEST(Oe5Reader, DamagedStoresEndWithErrors) {
    const std::string original = readWholeFile(storePath("dbxconvert_fixtures_test.dbx"));
    TempDir tmp;
    const uint32_t info0 = 0x2b24;

    {  // Root pointer past the end: no messages.
        std::string b = original;
        put32(b, 0xE4, 0x7fffff00);
        int errors = 0;
        EXPECT_TRUE(walk(copyStore(tmp, "root", b), tmp.path().string(), &errors).empty());
    }
    {  // An information record claiming 2 GB: that message fails, the other is read.
        std::string b = original;
        put32(b, info0 + 4, 0x80000000u);
        int errors = 0;
        auto got = walk(copyStore(tmp, "info", b), tmp.path().string(), &errors);
        EXPECT_EQ(errors, 1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].info, 0x32d8u);
    }
    // The first message's text blocks, found through the reader itself.
    Oe5Mailbox* box = nullptr;
    ASSERT_EQ(oe5Open(storePath("dbxconvert_fixtures_test").c_str(), &box), OE5_OK);
    ASSERT_EQ(oe5NextMessage(box), OE5_OK);
    const uint32_t block0 = oe5CurrentMessage(box)->bodyPosition;
    oe5Close(&box);
    const uint32_t block1 = get32(original, block0 + 12);
    ASSERT_NE(block1, 0u);
    {  // A block chain that loops back: the copy ends, keeps what was read, and fails.
        std::string b = original;
        put32(b, block1 + 12, block0);
        auto got = walk(copyStore(tmp, "loop", b), tmp.path().string());
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].copyResult, OE5_ERROR);
        EXPECT_EQ(got[0].body.size(), get32(original, block0 + 8) + get32(original, block1 + 8));
        EXPECT_EQ(got[1].copyResult, OE5_OK);
    }
    {  // A block of 2 GB and a next block past the end.
        for (int which = 0; which < 2; ++which) {
            std::string b = original;
            if (which == 0)
                put32(b, block1 + 8, 0x7fffffffu);
            else
                put32(b, block1 + 12, static_cast<uint32_t>(b.size() - 4));
            auto got = walk(copyStore(tmp, "big", b), tmp.path().string());
            ASSERT_EQ(got.size(), 2u);
            EXPECT_EQ(got[0].copyResult, OE5_ERROR);
            EXPECT_EQ(got[0].body.size(),
                      get32(original, block0 + 8) + (which ? get32(original, block1 + 8) : 0));
        }
    }
    // Truncated copies at many lengths: every walk ends, nothing reads past the end.
    for (size_t length = 0; length < original.size(); length += 997) {
        std::string folder = copyStore(tmp, "cut", original.substr(0, length));
        int openResult = -1;
        auto got = walk(folder, tmp.path().string(), nullptr, &openResult);
        if (length < 0xE8) {
            EXPECT_EQ(openResult, OE5_ERROR) << length;
        }
        for (auto& w : got) {
            if (w.copyResult == OE5_OK) {
                EXPECT_LE(w.body.size(), length);
            }
        }
    }
}

}  // namespace
