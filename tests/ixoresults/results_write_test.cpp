// Writing results text back, copying results, the simple output filters, and the
// term-list and document-id-list replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ixo_results.h"
#include "tests/common/tempdir.h"

namespace {

struct Field {
    std::string name, value;
};
struct Record {
    std::string name, title, links;
    int32_t docId = 0, weight = 0, database = 0;
    std::vector<Field> fields;
};

// Texts without line feeds that still hold awkward bytes: '=' signs, blanks at the
// ends, characters above 127, pieces of the keys themselves.
std::string awkwardText(std::mt19937& rng, bool mayBeEmpty) {
    static const std::vector<std::string> pieces = {
        "a",  "=",     " ",       "Doc_id=", "URL_title", "\xe9", "+", "&", "numhits",
        "\t", "links", "dbase=7", "~",       "0",         "x y",  "%", "\r"};
    std::uniform_int_distribution<size_t> length(mayBeEmpty ? 0 : 1, 12);
    std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
    std::string s;
    for (size_t n = length(rng); n > 0; --n) s += pieces[pick(rng)];
    if (!mayBeEmpty && s.empty()) s = "v";
    return s;
}

std::vector<Record> generate(std::mt19937& rng, size_t count) {
    std::uniform_int_distribution<int32_t> number(INT32_MIN, INT32_MAX);
    std::uniform_int_distribution<size_t> fieldCount(0, 30);
    std::vector<Record> out(count);
    for (Record& r : out) {
        r.name = "http://host.example/" + awkwardText(rng, true);
        r.title = awkwardText(rng, true);
        r.links = awkwardText(rng, true);
        r.docId = number(rng);
        r.weight = number(rng);
        r.database = number(rng);
        for (size_t i = fieldCount(rng); i > 0; --i) {
            std::string name = awkwardText(rng, false);
            name.erase(std::remove(name.begin(), name.end(), '='), name.end());
            if (name.empty()) name = "F";
            r.fields.push_back({name, awkwardText(rng, false)});
        }
    }
    return out;
}

// Record views over the generated strings, as ixoWriteResultsArrayToBuffer takes them.
struct Views {
    std::vector<IxoResultRecord> records;
    std::vector<std::vector<IxoResultField>> fields;
    explicit Views(std::vector<Record>& recs) : records(recs.size()), fields(recs.size()) {
        for (size_t i = 0; i < recs.size(); ++i) {
            for (Field& f : recs[i].fields) fields[i].push_back({f.name.data(), f.value.data()});
            IxoResultRecord& v = records[i];
            v.name = recs[i].name.data();
            v.title = recs[i].title.data();
            v.links = recs[i].links.data();
            v.docId = recs[i].docId;
            v.weight = recs[i].weight;
            v.database = recs[i].database;
            v.fieldCount = static_cast<int32_t>(fields[i].size());
            v.fields = fields[i].empty() ? nullptr : fields[i].data();
        }
    }
};

void expectEqual(const std::vector<Record>& want, const IxoQueryResult& got) {
    ASSERT_EQ(got.hitCount, static_cast<int32_t>(want.size()));
    for (size_t i = 0; i < want.size(); ++i) {
        const IxoResultRecord& r = got.records[i];
        EXPECT_EQ(r.name, want[i].name) << i;
        EXPECT_EQ(r.title, want[i].title) << i;
        EXPECT_EQ(r.links, want[i].links) << i;
        EXPECT_EQ(r.docId, want[i].docId) << i;
        EXPECT_EQ(r.weight, want[i].weight) << i;
        EXPECT_EQ(r.database, want[i].database) << i;
        ASSERT_EQ(r.fieldCount, static_cast<int32_t>(want[i].fields.size())) << i;
        for (size_t j = 0; j < want[i].fields.size(); ++j) {
            EXPECT_EQ(r.fields[j].name, want[i].fields[j].name) << i << "/" << j;
            EXPECT_EQ(r.fields[j].value, want[i].fields[j].value) << i << "/" << j;
        }
    }
}

TEST(ResultsWrite, RoundTripAndCopyOfGeneratedResults) {
    std::mt19937 rng(20240611);
    for (size_t count : {1u, 2u, 17u, 100u}) {
        std::vector<Record> recs = generate(rng, count);
        Views views(recs);
        char* text = nullptr;
        ASSERT_EQ(
            ixoWriteResultsArrayToBuffer(static_cast<int32_t>(count), views.records.data(), &text),
            1);
        IxoQueryResult parsed;
        ASSERT_EQ(ixoGetResultsFromBuffer(&parsed, text, 1), 1);
        expectEqual(recs, parsed);

        IxoQueryResult copy;
        ASSERT_EQ(ixoCopyQueryResult(&copy, &parsed), 1);
        ixoDestroyQueryResult(&parsed);  // the copy owns its own text
        expectEqual(recs, copy);
        ixoDestroyQueryResult(&copy);
    }
}

TEST(ResultsWrite, ExactTextAndEmptyCases) {
    IxoResultField f[] = {{const_cast<char*>("K"), const_cast<char*>("v=w")}};
    IxoResultRecord r{};
    r.name = const_cast<char*>("n");
    r.title = nullptr;  // written empty
    r.docId = 3;
    r.weight = 50;
    r.database = 1;
    r.fieldCount = 1;
    r.fields = f;
    char* text = nullptr;
    ASSERT_EQ(ixoWriteResultsArrayToBuffer(1, &r, &text), 1);
    EXPECT_STREQ(text,
                 "numhits=1\nDoc_name=n\nURL_title=\nDoc_id=3\nDoc_weight=50\nlinks=\ndbase=1\n"
                 "K=v=w\n");
    memFree(text);

    ASSERT_EQ(ixoWriteResultsArrayToBuffer(0, nullptr, &text), 1);
    EXPECT_STREQ(text, "numhits=0\n");
    memFree(text);
    EXPECT_EQ(ixoWriteResultsArrayToBuffer(2, nullptr, &text), -5);
    EXPECT_EQ(ixoWriteResultsArrayToBuffer(1, &r, nullptr), -5);

    // Copying an empty result gives an empty result and leaks nothing.
    IxoQueryResult empty{}, target;
    EXPECT_EQ(ixoCopyQueryResult(&target, &empty), 1);
    EXPECT_EQ(target.hitCount, 0);
    EXPECT_EQ(target.text, nullptr);
}

const char* kFullReply =
    "numhits=1\ntotalhits=9\nDoc_name=a\nURL_title=A\nDoc_id=4\nDoc_weight=80\nlinks=X\n"
    "dbase=0\nAuthor=me\n";
const char* kFiltered = "numhits=1\nDoc_name=a\nURL_title=A\nDoc_weight=80\n";

TEST(SimpleOutputFilter, TextBufferAndFile) {
    std::string text = kFullReply;
    EXPECT_EQ(ixoSimpleOutputFilterText(text.data()), static_cast<int32_t>(strlen(kFiltered)));
    EXPECT_STREQ(text.c_str(), kFiltered);

    // A buffer that holds no terminator: its last byte makes room for one, nothing
    // beyond the size is read or written.
    std::vector<char> buffer(std::strlen(kFullReply) + 8, '#');
    std::memcpy(buffer.data(), kFullReply, std::strlen(kFullReply));
    int32_t size = static_cast<int32_t>(std::strlen(kFullReply));
    int32_t n = ixoSimpleOutputFilterBuffer(buffer.data(), size);
    EXPECT_STREQ(buffer.data(), kFiltered);
    EXPECT_EQ(n, static_cast<int32_t>(std::strlen(kFiltered)));
    EXPECT_EQ(buffer[static_cast<size_t>(size)], '#');
    EXPECT_EQ(ixoSimpleOutputFilterBuffer(buffer.data(), 0), -5);

    // A title longer than any fixed line buffer stays whole, and the line after it
    // keeps its own line feed.
    std::string longTitle(5000, 't');
    std::string reply =
        std::string("numhits=1\nDoc_name=a\nURL_title=") + longTitle + "\nDoc_id=1\nDoc_weight=5\n";
    testing_support::TempDir dir;
    std::string path = dir.file("reply.txt");
    testing_support::writeWholeFile(path, reply);
    EXPECT_EQ(ixoSimpleOutputFilterFile(path.c_str()), 1);
    EXPECT_EQ(testing_support::readWholeFile(path),
              "numhits=1\nDoc_name=a\nURL_title=" + longTitle + "\nDoc_weight=5\n");
    EXPECT_EQ(ixoSimpleOutputFilterFile(dir.file("missing").c_str()), -6);
}

TEST(TermList, WeightsPlainAndShortReplies) {
    IxoTermList list;
    ASSERT_EQ(
        ixoParseTermList(&list, memStrDup("Number of hits: 3\nAPPLE+12\nC++ +7\r\nPEAR+x\n"), 1),
        1);
    ASSERT_EQ(list.count, 3);
    EXPECT_STREQ(list.terms[0].term, "APPLE");
    EXPECT_EQ(list.terms[0].weight, 12);
    EXPECT_STREQ(list.terms[1].term, "C++ ");  // the last '+' separates the weight
    EXPECT_EQ(list.terms[1].weight, 7);
    EXPECT_EQ(list.terms[2].weight, 0);
    ixoDestroyTermList(&list);

    // Without weights the whole line is the term; fewer lines than announced.
    ASSERT_EQ(ixoParseTermList(&list, memStrDup("Number of hits: 99999999999\nA+1\nB"), 0), 1);
    ASSERT_EQ(list.count, 2);
    EXPECT_STREQ(list.terms[0].term, "A+1");
    EXPECT_EQ(list.terms[0].weight, -1);
    EXPECT_STREQ(list.terms[1].term, "B");
    ixoDestroyTermList(&list);

    for (const char* bad : {"no header\nA+1\n", "Number of hits: 2", "Number of hits: 2\n",
                            "Number of hits: 0\nA\n"}) {
        char* reply = memStrDup(bad);
        EXPECT_EQ(ixoParseTermList(&list, reply, 1), -6) << bad;
        EXPECT_EQ(list.text, nullptr);
        memFree(reply);
    }
}

TEST(DocIdList, EntriesIdsAndGrowth) {
    IxoDocIdList list;
    ASSERT_EQ(ixoParseDocIdList(&list, memStrDup("APPLE : 3 , 10 20 30 \nbroken line\n"
                                                 "PEAR : x , \r\nFIG : y , 7 99999999999 \n")),
              1);
    ASSERT_EQ(list.count, 3);
    EXPECT_STREQ(list.entries[0].term, "APPLE");
    EXPECT_STREQ(list.entries[0].text, "3");
    ASSERT_EQ(list.entries[0].idCount, 3);
    EXPECT_EQ(list.entries[0].ids[2], 30);
    EXPECT_EQ(list.entries[1].idCount, 0);
    ASSERT_EQ(list.entries[2].idCount, 2);
    EXPECT_EQ(list.entries[2].ids[1], INT32_MAX);
    ixoDestroyDocIdList(&list);

    // More entries than one growth step; doubled blanks count as empty ids.
    std::string many;
    for (int i = 0; i < 250; ++i)
        many += "T" + std::to_string(i) + " : s , " + std::to_string(i) + "  \n";
    ASSERT_EQ(ixoParseDocIdList(&list, memStrDup(many.c_str())), 1);
    ASSERT_EQ(list.count, 250);
    EXPECT_STREQ(list.entries[249].term, "T249");
    ASSERT_EQ(list.entries[249].idCount, 2);
    EXPECT_EQ(list.entries[249].ids[0], 249);
    EXPECT_EQ(list.entries[249].ids[1], 0);
    ixoDestroyDocIdList(&list);

    EXPECT_EQ(ixoParseDocIdList(&list, nullptr), -5);
    ASSERT_EQ(ixoParseDocIdList(&list, memStrDup("")), 1);
    EXPECT_EQ(list.count, 0);
    ixoDestroyDocIdList(&list);
}

}  // namespace
