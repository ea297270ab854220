// The index-and-data store reader. No public sample of this store exists, so every
// ".idx"/".mbx" pair here is made by the tests from the documented layout.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import/importlog.h"
#include "import/outlookparse.h"
#include "mailtestutil.h"
#include "tests/common/tempdir.h"

namespace {

using mailtest::put32;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

struct Message {
    std::string key;
    int64_t time;
    std::string text;
    uint32_t entries = 1;
};

struct Store {
    std::string idx, mbx;
    std::vector<size_t> records;  // record positions in idx
};

uint64_t fileTime(int64_t unixTime) {
    return (unixTime + 11644473600LL) * 10000000ULL;
}

Store build(const std::vector<Message>& messages) {
    Store s;
    s.idx.assign(OE4_IDX_HEADER_SIZE, '\0');
    s.idx.replace(0, 4, "JMF9");
    put32(s.idx, 8, static_cast<uint32_t>(messages.size()));
    s.mbx.assign(OE4_MBX_HEADER_SIZE, '\0');
    s.mbx.replace(0, 4, "JMF6");
    for (const Message& m : messages) {
        size_t position = s.mbx.size();
        s.mbx += std::string(16, '\x01') + m.text;
        std::string r(OE4_RECORD_HEADER_SIZE + m.entries * OE4_ENTRY_SIZE, '\x02');
        put32(r, 20, static_cast<uint32_t>(position));
        put32(r, 42, static_cast<uint32_t>(m.text.size()));
        put32(r, 46, static_cast<uint32_t>(r.size() - 50));
        put32(r, 98, m.entries);
        std::string block(OE4_TIME_BLOCK_SIZE, '\0');
        uint64_t ft = fileTime(m.time);
        put32(block, 8, static_cast<uint32_t>(ft));
        put32(block, 12, static_cast<uint32_t>(ft >> 32));
        r += block;
        for (int i = 0; i < OE4_TEXT_ITEMS; ++i) {
            std::string item = i == 0 ? m.key : "item " + std::to_string(i);
            std::string len;
            put32(len, 0, static_cast<uint32_t>(item.size()));
            r += len + item;
        }
        put32(r, 16, static_cast<uint32_t>(r.size()));
        s.records.push_back(s.idx.size());
        s.idx += r;
    }
    return s;
}

const std::vector<Message> kMessages = {
    {"Hello & welcome", 1000000000, "Subject: Hello\r\n\r\nFirst.\r\n"},
    {"Second", 1100000000, "Subject: Second\r\n\r\nSecond body.\r\n", 3},
    {"Second", 1200000000, "Subject: Second\r\n\r\nSame key, later.\r\n", 0},
};

std::string save(const TempDir& dir, const Store& s, const std::string& name = "Inbox") {
    writeWholeFile(dir.file(name + ".idx"), s.idx);
    writeWholeFile(dir.file(name + ".mbx"), s.mbx);
    return dir.file(name);
}

// Walks a mailbox: the message texts read, and the number of failed records.
std::vector<std::string> walk(const std::string& folder, const TempDir& dir, int* errors) {
    std::vector<std::string> out;
    Oe4Mailbox* box = nullptr;
    if (oe4Open(folder.c_str(), nullptr, &box) != OE4_OK) return out;
    int rc, steps = 0;
    while ((rc = oe4NextMessage(box)) != OE4_END && ++steps < 1000) {
        if (rc != OE4_OK) {
            ++*errors;
            continue;
        }
        std::string file = dir.file("out.eml");
        EXPECT_EQ(oe4CopyMessage(box, file.c_str(), 0), OE4_OK);
        out.push_back(readWholeFile(file));
    }
    EXPECT_LT(steps, 1000);
    EXPECT_FALSE(oe4MoreMessages(box));
    oe4Close(&box);
    return out;
}

TEST(Oe4Reader, WalksCopiesAndFindsMessages) {
    TempDir dir;
    std::string folder = save(dir, build(kMessages));
    Oe4Mailbox* box = nullptr;
    ASSERT_EQ(oe4Open(folder.c_str(), nullptr, &box), OE4_OK);
    EXPECT_EQ(oe4MessageCount(box), 3);
    std::vector<std::string> refs;
    for (const Message& want : kMessages) {
        ASSERT_TRUE(oe4MoreMessages(box));
        ASSERT_EQ(oe4NextMessage(box), OE4_OK);
        const Oe4Message* m = oe4CurrentMessage(box);
        EXPECT_STREQ(m->items[0], want.key.c_str());
        EXPECT_EQ(m->itemCount, 7);
        EXPECT_STREQ(m->items[6], "item 6");
        EXPECT_EQ(m->time, want.time);
        EXPECT_EQ(m->entryCount, want.entries);
        std::string out = dir.file("copy.eml");
        ASSERT_EQ(oe4CopyMessage(box, out.c_str(), 0), OE4_OK);
        EXPECT_EQ(readWholeFile(out), want.text);
        char* ref = oe4MessageReference(box);
        refs.push_back(ref);
        memFree(ref);
    }
    EXPECT_FALSE(oe4MoreMessages(box));
    EXPECT_EQ(oe4NextMessage(box), OE4_END);
    EXPECT_EQ(oe4CurrentMessage(box), nullptr);
    oe4Close(&box);

    char* encodedFolder = mailrefUrlEncode(folder.c_str());
    EXPECT_EQ(refs[0].rfind("email://oe4&" + std::string(encodedFolder) + "&", 0), 0u) << refs[0];
    memFree(encodedFolder);
    EXPECT_NE(refs[0].find("&Hello+%26+welcome&1000000000"), std::string::npos) << refs[0];
    // Same key, different times: the time picks the message.
    std::string out = dir.file("found.eml");
    ASSERT_EQ(oe4FindAndCopy(refs[2].c_str(), out.c_str()), OE4_OK);
    EXPECT_EQ(readWholeFile(out), kMessages[2].text);
    ASSERT_EQ(oe4FindAndCopy(refs[1].c_str(), out.c_str()), OE4_OK);
    EXPECT_EQ(readWholeFile(out), kMessages[1].text);
    std::string unknown = refs[1].substr(0, refs[1].rfind('&')) + "&5";
    EXPECT_EQ(oe4FindAndCopy(unknown.c_str(), out.c_str()), OE4_END);
    EXPECT_EQ(oe4FindAndCopy("email://oe5&a&b&1", out.c_str()), OE4_NOT_REFERENCE);
    EXPECT_EQ(oe4FindAndCopy("email:/oe4&a&b&1", out.c_str()), OE4_NOT_REFERENCE);
    EXPECT_EQ(oe4FindAndCopy(nullptr, out.c_str()), OE4_BAD_ARGUMENTS);

    // The content criteria's maximum length skips longer messages without a file.
    ASSERT_EQ(oe4Open(folder.c_str(), nullptr, &box), OE4_OK);
    ASSERT_EQ(oe4NextMessage(box), OE4_OK);
    std::string skipped = dir.file("skipped.eml");
    EXPECT_EQ(oe4CopyMessage(box, skipped.c_str(), 10), OE4_SKIPPED);
    EXPECT_FALSE(std::filesystem::exists(skipped));
    EXPECT_EQ(oe4CopyMessage(box, skipped.c_str(), 1000), OE4_OK);
    oe4Close(&box);

    int32_t count = 0;
    save(dir, build({}), "Archive");
    char** names = oe4ListMailboxes(dir.path().c_str(), &count);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(names[0], "Archive");
    EXPECT_STREQ(names[1], "Inbox");
    mailrefFreeList(&names, count);
}

struct Reported {
    std::vector<std::string> messages;
    std::vector<int32_t> codes;
};

void collect(void* user, int32_t code, int32_t severity, const char* message, const char*) {
    auto* r = static_cast<Reported*>(user);
    r->messages.push_back(message);
    r->codes.push_back(code);
    EXPECT_EQ(severity, -2);
}

TEST(Oe4Reader, OpenFailuresAreReported) {
    TempDir dir;
    Store good = build(kMessages);
    Reported reported;
    MailErrorSink sink{collect, &reported};
    std::string logFile = dir.file("import.log");
    ASSERT_EQ(importLogSetFile(logFile.c_str(), 0), 0);
    importLogSetLevel(3);
    Oe4Mailbox* box = nullptr;

    EXPECT_EQ(oe4Open(dir.file("none").c_str(), &sink, &box), OE4_FILE_ERROR);
    writeWholeFile(dir.file("lone.idx"), good.idx);
    EXPECT_EQ(oe4Open(dir.file("lone").c_str(), &sink, &box), OE4_FILE_ERROR);
    // A bad index signature is refused even though the data file is valid.
    Store bad = good;
    bad.idx[3] = '8';
    EXPECT_EQ(oe4Open(save(dir, bad, "badidx").c_str(), &sink, &box), OE4_BAD_ARGUMENTS);
    bad = good;
    bad.mbx[0] = 'X';
    EXPECT_EQ(oe4Open(save(dir, bad, "badmbx").c_str(), &sink, &box), OE4_BAD_ARGUMENTS);
    bad = good;
    bad.idx.resize(79);
    EXPECT_EQ(oe4Open(save(dir, bad, "short").c_str(), &sink, &box), OE4_BAD_ARGUMENTS);
    EXPECT_EQ(box, nullptr);
    EXPECT_EQ(oe4Open(nullptr, &sink, &box), OE4_BAD_ARGUMENTS);

    std::vector<std::string> want = {
        "Parsing MBX file: no IDX file found", "Parsing MBX file: no file found",
        "Parsing MBX file: IDX file invalid", "Parsing MBX file: MBX file invalid",
        "Parsing MBX file: IDX file invalid"};
    EXPECT_EQ(reported.messages, want);
    EXPECT_EQ(reported.codes, (std::vector<int32_t>{-6, -6, -1, -1, -1}));
    std::string log = readWholeFile(logFile);
    importLogSetFile(nullptr, 0);
    EXPECT_NE(log.find("IDX file for \"" + dir.file("none") + "\" not found\n"), std::string::npos);
    EXPECT_NE(log.find("MBX file \"" + dir.file("lone.mbx") + "\" not found\n"), std::string::npos);
    EXPECT_NE(log.find("IDX file \"" + dir.file("badidx.idx") + "\" invalid\n"), std::string::npos);
    EXPECT_NE(log.find("MBX file \"" + dir.file("badmbx.mbx") + "\" invalid\n"), std::string::npos);
}

TEST(Oe4Reader, DamagedRecordsEndCleanly) {
    TempDir dir;
    const Store good = build(kMessages);
    int errors = 0;
    {  // A count larger than the records: the walk ends after the real ones.
        Store s = good;
        put32(s.idx, 8, 0xffffffffu);
        auto got = walk(save(dir, s), dir, &errors);
        EXPECT_EQ(got.size(), 3u);
        EXPECT_EQ(errors, 1);
    }
    {  // A record length of 0 (which would never advance) or past the end: the mailbox ends.
        for (uint32_t length : {0u, 185u, 0x7fffffffu}) {
            Store s = good;
            put32(s.idx, s.records[1] + 16, length);
            errors = 0;
            auto got = walk(save(dir, s), dir, &errors);
            EXPECT_EQ(got.size(), 1u) << length;
            EXPECT_EQ(errors, 1) << length;
        }
    }
    {  // Bad fields inside one record: that message fails, the next is still read.
        const size_t r = good.records[0];
        for (auto [at, value] : std::vector<std::pair<size_t, uint32_t>>{
                 {42, 0x80000000u},  // 2 GB message
                 {20, 0xfffffff0u},  // message past the end of the data file
                 {46, 0x7ffffff0u},  // time block past the end
                 {98, 0xffffffffu},  // more entries than the file holds
             }) {
            Store s = good;
            put32(s.idx, r + at, value);
            errors = 0;
            auto got = walk(save(dir, s), dir, &errors);
            EXPECT_EQ(errors, 1) << at;
            ASSERT_EQ(got.size(), 2u) << at;
            EXPECT_EQ(got[0], kMessages[1].text);
        }
    }
    {  // An item longer than 2048 bytes ends the item list.
        Store s = good;
        const size_t itemAt = s.records[0] + OE4_RECORD_HEADER_SIZE + OE4_ENTRY_SIZE +
                              OE4_TIME_BLOCK_SIZE + 4 + kMessages[0].key.size();
        put32(s.idx, itemAt, 2049);
        Oe4Mailbox* box = nullptr;
        ASSERT_EQ(oe4Open(save(dir, s).c_str(), nullptr, &box), OE4_OK);
        ASSERT_EQ(oe4NextMessage(box), OE4_OK);
        EXPECT_EQ(oe4CurrentMessage(box)->itemCount, 1);
        EXPECT_STREQ(oe4CurrentMessage(box)->items[1], "");
        ASSERT_EQ(oe4NextMessage(box), OE4_OK);
        EXPECT_EQ(oe4CurrentMessage(box)->itemCount, 7);
        oe4Close(&box);
    }
    // Truncated index files: every walk ends, and no more messages than records fit.
    for (size_t length = OE4_IDX_HEADER_SIZE; length <= good.idx.size(); length += 13) {
        Store s = good;
        s.idx.resize(length);
        errors = 0;
        auto got = walk(save(dir, s), dir, &errors);
        size_t complete = 0;
        for (size_t i = 0; i < s.records.size(); ++i)
            if (i + 1 < s.records.size() ? s.records[i + 1] <= length : good.idx.size() <= length)
                ++complete;
        EXPECT_EQ(got.size(), complete) << length;
    }
}

}  // namespace
