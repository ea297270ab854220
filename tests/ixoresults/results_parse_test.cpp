// Parsing the results text: complete and incomplete blocks, both forms, malformed
// numbers, truncated replies, and ownership of the reply.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ixo_results.h"

namespace {

// A reply copied into an exactly sized allocator block, as the transport hands it over.
char* ownedReply(const std::string& text) {
    return memStrNDup(text.data(), text.size());
}

const std::string kTwoBlocks =
    "numhits=2\n"
    "totalhits=57\n"
    "Doc_name=http://a.example/one\n"
    "URL_title=First = best\n"
    "Doc_id=11\n"
    "Doc_weight=93\n"
    "links=APPLE PEAR\n"
    "dbase=2\n"
    "Author=Ann=Bee\n"
    "\n"
    "Size=1234\n"
    "Doc_name=file:///b.txt\n"
    "URL_title=\n"
    "Doc_id=12\n"
    "Doc_weight=40\n"
    "links=\n"
    "dbase=0\n";

TEST(ResultsParse, FullFormRecordsAndFields) {
    IxoQueryResult r;
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(kTwoBlocks), 1), 1);
    ASSERT_EQ(r.hitCount, 2);
    EXPECT_EQ(r.textLength, static_cast<int32_t>(kTwoBlocks.size()));

    const IxoResultRecord& a = r.records[0];
    EXPECT_STREQ(a.name, "http://a.example/one");
    EXPECT_STREQ(a.title, "First = best");
    EXPECT_EQ(a.docId, 11);
    EXPECT_EQ(a.weight, 93);
    EXPECT_STREQ(a.links, "APPLE PEAR");
    EXPECT_EQ(a.database, 2);
    ASSERT_EQ(a.fieldCount, 2);
    // A value keeps everything after the first '=' of its line; the empty line is skipped.
    EXPECT_STREQ(a.fields[0].name, "Author");
    EXPECT_STREQ(a.fields[0].value, "Ann=Bee");
    EXPECT_STREQ(a.fields[1].name, "Size");
    EXPECT_STREQ(a.fields[1].value, "1234");

    const IxoResultRecord& b = r.records[1];
    EXPECT_STREQ(b.name, "file:///b.txt");
    EXPECT_STREQ(b.title, "");
    EXPECT_EQ(b.docId, 12);
    EXPECT_STREQ(b.links, "");
    EXPECT_EQ(b.fieldCount, 0);

    IxoResultField* f = nullptr;
    EXPECT_EQ(ixoGetFieldFromResultsRecord(&a, "Size", &f), 1);
    EXPECT_STREQ(f->value, "1234");
    EXPECT_EQ(ixoGetFieldFromResultsRecord(&a, "size", &f), -9);
    EXPECT_EQ(ixoGetFieldFromResultsRecord(&b, "Size", &f), -9);

    int32_t count = 0;
    int32_t* ids = nullptr;
    ASSERT_EQ(ixoResultsToArray(&r, &count, &ids), 1);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(ids[0], 11);
    EXPECT_EQ(ids[1], 12);
    memFree(ids);

    EXPECT_EQ(ixoDestroyQueryResult(&r), 1);
    EXPECT_EQ(r.text, nullptr);
    EXPECT_EQ(r.records, nullptr);
    EXPECT_EQ(ixoResultsToArray(&r, &count, &ids), -5);
}

TEST(ResultsParse, ShortFormAndFullTextReadShort) {
    const std::string shortForm =
        "numhits=2\nDoc_name=x\nURL_title=X\nDoc_weight=7\nDoc_name=y\nURL_title=Y\nDoc_weight=5";
    IxoQueryResult r;
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(shortForm), 0), 1);
    ASSERT_EQ(r.hitCount, 2);
    EXPECT_EQ(r.records[0].docId, 0);
    EXPECT_EQ(r.records[0].links, nullptr);
    EXPECT_EQ(r.records[1].weight, 5);  // last line without a line feed still counts
    ixoDestroyQueryResult(&r);

    // The full text read in the short form skips id, links, database and fields.
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(kTwoBlocks), 0), 1);
    ASSERT_EQ(r.hitCount, 2);
    EXPECT_EQ(r.records[0].weight, 93);
    EXPECT_EQ(r.records[0].fieldCount, 0);
    ixoDestroyQueryResult(&r);

    // A short-form text read in the full form has no complete block.
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(shortForm), 1), 1);
    EXPECT_EQ(r.hitCount, 0);
    ixoDestroyQueryResult(&r);  // the reply is released although there are no hits
}

TEST(ResultsParse, PromisedBlocksMissingOrIncomplete) {
    // "numhits" says 3, two blocks are complete, the third lacks its weight.
    std::string text = kTwoBlocks;
    text.replace(0, 10, "numhits=3\n");
    text += "Doc_name=c\nURL_title=C\nDoc_id=3\n";
    IxoQueryResult r;
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(text), 1), 1);
    EXPECT_EQ(r.hitCount, 2);
    // The second block's fields stop at the incomplete third block.
    EXPECT_EQ(r.records[1].fieldCount, 0);
    ixoDestroyQueryResult(&r);

    // A number far beyond the blocks present takes no more room than the reply allows.
    text.replace(0, 10, "numhits=2000000000\n");
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(text), 1), 1);
    EXPECT_EQ(r.hitCount, 2);
    ixoDestroyQueryResult(&r);

    // Overflowing numbers saturate instead of wrapping.
    text.replace(0, text.find('\n'), "numhits=99999999999999999999");
    ASSERT_EQ(ixoGetResultsNumber(text.c_str()), INT32_MAX);
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(text), 1), 1);
    EXPECT_EQ(r.hitCount, 2);
    ixoDestroyQueryResult(&r);
}

TEST(ResultsParse, BadNumbersInsideBlocks) {
    const std::string text =
        "numhits=1\nDoc_name=n\nURL_title=t\nDoc_id=-99999999999999\nDoc_weight=abc\n"
        "links=l\ndbase=+2147483648\n";
    IxoQueryResult r;
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(text), 1), 1);
    ASSERT_EQ(r.hitCount, 1);
    EXPECT_EQ(r.records[0].docId, INT32_MIN);
    EXPECT_EQ(r.records[0].weight, 0);
    EXPECT_EQ(r.records[0].database, INT32_MAX);
    ixoDestroyQueryResult(&r);
}

TEST(ResultsParse, NoHitsLeavesReplyWithCaller) {
    for (const char* text :
         {"numhits=0\n", "numhits=-4\nDoc_name=a\n", "<html>error</html>", "", "numhits"}) {
        IxoQueryResult r;
        char* reply = ownedReply(text);
        EXPECT_EQ(ixoGetResultsFromBuffer(&r, reply, 1), -5) << text;
        EXPECT_EQ(r.text, nullptr);
        EXPECT_EQ(r.hitCount, 0);
        EXPECT_EQ(r.records, nullptr);
        memFree(reply);  // still the caller's
    }
    IxoQueryResult r;
    EXPECT_EQ(ixoGetResultsFromBuffer(&r, nullptr, 1), -5);
    EXPECT_EQ(ixoGetResultsFromBuffer(nullptr, nullptr, 1), -5);
}

TEST(ResultsParse, ContinuationLinesJoinTheFieldBefore) {
    const std::string text =
        "numhits=1\nDoc_name=n\nURL_title=t\nDoc_id=1\nDoc_weight=2\nlinks=\ndbase=0\n"
        "Abstract=first line\nsecond line\nKeywords=a,b\n";
    IxoQueryResult r;
    ASSERT_EQ(ixoGetResultsFromBuffer(&r, ownedReply(text), 1), 1);
    ASSERT_EQ(r.records[0].fieldCount, 2);
    EXPECT_STREQ(r.records[0].fields[0].value, "first line\nsecond line");
    EXPECT_STREQ(r.records[0].fields[1].name, "Keywords");
    ixoDestroyQueryResult(&r);
}

// Every prefix of a reply parses without reading past its end, and never yields
// more records than the whole reply.
TEST(ResultsParse, EveryTruncationIsSafe) {
    for (int form = 0; form <= 1; ++form) {
        int32_t previous = 0;
        for (size_t n = 0; n <= kTwoBlocks.size(); ++n) {
            IxoQueryResult r;
            char* reply = ownedReply(kTwoBlocks.substr(0, n));
            int32_t rc = ixoGetResultsFromBuffer(&r, reply, form);
            if (rc != 1) {
                memFree(reply);
                continue;
            }
            EXPECT_LE(r.hitCount, 2);
            EXPECT_GE(r.hitCount, previous) << n;
            previous = r.hitCount;
            ixoDestroyQueryResult(&r);
        }
        EXPECT_EQ(previous, 2);
    }
}

TEST(ResultsText, NumberRecordAndFieldValue) {
    EXPECT_EQ(ixoGetResultsNumber("x\nnumhits=42\n"), 42);
    EXPECT_EQ(ixoGetResultsNumber("numhits"), 0);
    EXPECT_EQ(ixoGetResultsNumber("nothing"), 0);
    EXPECT_EQ(ixoGetResultsNumber(nullptr), 0);

    const char* one = "numhits=1\nDoc_name=a\nURL_title=A\n";
    char* block = ixoGetResultsRecord(one, 0, "Doc_name=");
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "Doc_name=a\nURL_title=A\n");
    memFree(block);
    EXPECT_EQ(ixoGetResultsRecord(one, 1, "Doc_name="), nullptr);
    EXPECT_EQ(ixoGetResultsRecord(one, 0, ""), nullptr);

    block = ixoGetResultsRecord(kTwoBlocks.c_str(), 1, "Doc_name=");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(block).rfind("Doc_name=file:///b.txt\n", 0), 0u);
    memFree(block);

    // A value followed by a blank line and another field loses its line breaks.
    char* v = ixoGetResultsFieldValue("Doc_name=a\nNote=  hello \n\nNext=1\n", "Note");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "hello");
    memFree(v);
    // A value may run over lines up to the line of the next "name=".
    v = ixoGetResultsFieldValue("Note=one\ntwo\nthree\nNext=1\n", "Note");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "one\ntwo\nthree");
    memFree(v);
    // The last field of a block keeps its own value.
    v = ixoGetResultsFieldValue("Doc_name=a\nlinks=APPLE\n", "links");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "APPLE");
    memFree(v);
    v = ixoGetResultsFieldValue("Doc_name=a\nlinks=\n", "links");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "");
    memFree(v);
    EXPECT_EQ(ixoGetResultsFieldValue("Note=no line feed", "Note"), nullptr);
    EXPECT_EQ(ixoGetResultsFieldValue("Note=x\n", "Missing"), nullptr);
    EXPECT_EQ(ixoGetResultsFieldValue("Note", "Note"), nullptr);
}

}  // namespace
