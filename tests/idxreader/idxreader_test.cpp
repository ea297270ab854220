// The two IDX readers: the import reader (single documents, numbered title and content
// fields, files of several documents) and the client's reader into a ContentRecord;
// written documents read back with the same values, and input of any shape is read
// without running past its end.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "contentrecord.h"
#include "import/idxreader.h"
#include "import/srcfile_spec.h"
#include "tests/common/tempdir.h"

namespace {

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

struct RecordPtr {
    ContentRecord* r = nullptr;
    ~RecordPtr() {
        if (r) ixoDestroyContentRecord(r);
    }
};

int readRecord(const std::string& text, RecordPtr& out) {
    // An exactly-sized copy so that reading past the end shows under the sanitizers.
    std::vector<char> bytes(text.begin(), text.end());
    return ixoContentTextToRecord(bytes.empty() ? "" : bytes.data(), bytes.size(), &out.r);
}

SrcFileSpec manyFields(int n) {
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "file:///many.txt");
    srcFileSpecSetTitle(&s, "Many fields");
    srcFileSpecSetType(&s, "TEXT");
    srcFileSpecSetDate(&s, "12345 Mon Jan 1");
    srcFileSpecSetDbname(&s, "Database1");
    srcFileSpecSetFilename(&s, "many.txt");
    srcFileSpecSetStorecontent(&s, "no");
    srcFileSpecSetSection(&s, 7);
    for (int i = 0; i < n; ++i) {
        std::string value = "value " + std::to_string(i);
        if (i % 3 == 0) value += " with \"quotes\"\tand\r\nline ends";
        if (i % 5 == 0) value += " = and #IXOFIELD x=\"y\"";
        srcFileSpecSetField(&s, ("F" + std::to_string(i)).c_str(), value.c_str());
    }
    srcFileSpecSetContent(&s, "First line.\n#IXOTITLE not a tag\nLast line.");
    return s;
}

TEST(IdxRoundTrip, BothReadersReadBackWhatWasWritten) {
    for (int n : {0, 1, 1000}) {
        SrcFileSpec s = manyFields(n);
        std::string text;
        ASSERT_TRUE(srcFileSpecBuildText(&s, text));
        SrcFileSpec back;
        ASSERT_EQ(idxReadDocument(&back, text), 0);
        EXPECT_EQ(back.reference, s.reference);
        EXPECT_EQ(back.title, s.title);
        EXPECT_EQ(back.type, s.type);
        EXPECT_EQ(back.date, s.date);
        EXPECT_EQ(back.dbname, s.dbname);
        EXPECT_EQ(back.filename, s.filename);
        EXPECT_EQ(back.storecontent, s.storecontent);
        EXPECT_EQ(back.section, 7);
        EXPECT_EQ(back.fieldNames, s.fieldNames);
        EXPECT_EQ(back.fieldValues, s.fieldValues);
        EXPECT_EQ(*back.content, "First line.\n IXOTITLE not a tag\nLast line.");
        // Written again, the document is the same text.
        std::string again;
        ASSERT_TRUE(srcFileSpecBuildText(&back, again));
        EXPECT_EQ(again, text);

        RecordPtr rec;
        ASSERT_EQ(readRecord(text, rec), 1);
        ContentRecord* r = rec.r;
        EXPECT_STREQ(r->reference, "file:///many.txt");
        EXPECT_STREQ(r->title, "Many fields");
        EXPECT_STREQ(r->date, "12345 Mon Jan 1");
        EXPECT_STREQ(r->filename, "many.txt");
        EXPECT_EQ(r->storecontent, 0);
        EXPECT_EQ(r->section, 7);
        EXPECT_STREQ(r->content, "\nFirst line.\n IXOTITLE not a tag\nLast line.");
        ASSERT_EQ(r->fieldCount, n);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(r->fieldNames[i], s.fieldNames[i]);
            EXPECT_EQ(r->fieldValues[i], s.fieldValues[i]);
        }
    }
}

TEST(IdxRoundTrip, EmptyContentAndSectionZero) {
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "r");
    srcFileSpecSetSection(&s, 0);
    std::string text;
    ASSERT_TRUE(srcFileSpecBuildText(&s, text));
    SrcFileSpec back;
    ASSERT_EQ(idxReadDocument(&back, text), 0);
    EXPECT_EQ(back.content, std::optional<std::string>(""));
    EXPECT_EQ(back.section, 0);
    RecordPtr rec;
    ASSERT_EQ(readRecord(text, rec), 1);
    EXPECT_STREQ(rec.r->content, "\n");
    EXPECT_EQ(rec.r->section, 0);
}

TEST(IdxRoundTrip, XmlFormCarriesEveryField) {
    SrcFileSpec s = manyFields(200);
    srcFileSpecSetOutputForm(&s, 1);
    std::string xml, tail;
    ASSERT_TRUE(srcFileSpecBuildText(&s, xml));
    for (size_t i = 0; i < s.fieldNames.size(); ++i)
        tail += "<IXOFIELD NAME=" + s.fieldNames[i] + ">" + s.fieldValues[i] + "</IXOFIELD>\n";
    tail += "<IXOCONTENT>\n" + *s.content + "</IXOCONTENT>\n</IXODOC>\n";
    ASSERT_GT(xml.size(), tail.size());
    EXPECT_EQ(xml.substr(xml.size() - tail.size()), tail);
}

TEST(IdxClientReader, TagLayoutsAndValues) {
    RecordPtr a, b;
    ASSERT_EQ(readRecord("#IXOTITLE\nSame title\n#IXOENDDOC\n", a), 1);
    ASSERT_EQ(readRecord("#IXOTITLE Same title\n#IXOENDDOC\n", b), 1);
    EXPECT_STREQ(a.r->title, "Same title");
    EXPECT_STREQ(b.r->title, "Same title");

    std::map<std::string, int> store = {{"yes", 1}, {"YES", 1},   {"Yes", 1},
                                        {"no", 0},  {"yesno", 0}, {"", 0}};
    for (const auto& [word, expected] : store) {
        RecordPtr r;
        ASSERT_EQ(readRecord("#IXOSTORECONTENT " + word + "\r\n#IXOENDDOC\n", r), 1);
        EXPECT_EQ(r.r->storecontent, expected) << word;
    }

    // Every content block is joined; "\n\r#IXO" starts a tag too; reading ends at the
    // end line; DOCID and SECTION are numbers.
    RecordPtr c;
    ASSERT_EQ(readRecord("junk #IXOREFERENCE r1\r\n#IXODOCID 42\n#IXOCONTENT\npart one\n"
                         "#IXOSECTION 3\n\r#IXOCONTENT\npart two\n#IXOFIELD k=\"v\" tail\n"
                         "#IXOENDDOC\n#IXOREFERENCE second\n",
                         c),
              1);
    EXPECT_STREQ(c.r->reference, "r1");
    EXPECT_EQ(c.r->docid, 42);
    EXPECT_EQ(c.r->section, 3);
    EXPECT_STREQ(c.r->content, "\npart one\npart two");
    ASSERT_EQ(c.r->fieldCount, 1);
    EXPECT_STREQ(c.r->fieldNames[0], "k");
    EXPECT_STREQ(c.r->fieldValues[0], "v");

    // Text without any tag gives an empty record.
    RecordPtr d;
    ASSERT_EQ(readRecord("no tags here", d), 1);
    EXPECT_EQ(d.r->content, nullptr);
    EXPECT_EQ(d.r->section, -1);
    EXPECT_EQ(d.r->fieldCount, 0);
    EXPECT_EQ(d.r->fieldNames, nullptr);

    ContentRecord* none = reinterpret_cast<ContentRecord*>(1);
    EXPECT_EQ(ixoContentTextToRecord(nullptr, 0, &none), -1);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ixoContentTextToRecord("x", 1, nullptr), -1);
    EXPECT_EQ(ixoDestroyContentRecord(nullptr), -5);
}

TEST(IdxClientReader, ShortAndTruncatedInput) {
    const char* inputs[] = {"#IXO",
                            "#IXOCONTENT",
                            "#IXOREFERENCE",
                            "#IXOTITLE",
                            "#IXOFIELD",
                            "#IXOFIELD a=",
                            "#IXOFIELD a=\"",
                            "#IXOFIELD a=\"unterminated value",
                            "#IXOFIELD a=\"x\nb\"",
                            "#IXODOCID",
                            "#IXODOCID 99999999999999999999",
                            "#IXOSECTION -",
                            "#IXOREFERENCE r\n#IXOCONTENT"};
    for (const char* in : inputs) {
        RecordPtr r;
        EXPECT_EQ(readRecord(in, r), 1) << in;
    }
    RecordPtr r;
    ASSERT_EQ(readRecord("#IXOREFERENCE r\n#IXOCONTENT", r), 1);
    EXPECT_STREQ(r.r->content, "");
    RecordPtr f;
    ASSERT_EQ(readRecord("#IXOFIELD a=\"unterminated value", f), 1);
    ASSERT_EQ(f.r->fieldCount, 1);
    EXPECT_STREQ(f.r->fieldValues[0], "unterminated value");
    RecordPtr big;
    ASSERT_EQ(readRecord("#IXODOCID 99999999999999999999", big), 1);
    EXPECT_EQ(big.r->docid, INT32_MAX);

    // Ten thousand fields.
    std::string many;
    for (int i = 0; i < 10000; ++i) many += "#IXOFIELD n" + std::to_string(i) + "=\"v\"\n";
    RecordPtr m;
    ASSERT_EQ(readRecord(many, m), 1);
    EXPECT_EQ(m.r->fieldCount, 10000);
    EXPECT_STREQ(m.r->fieldNames[9999], "n9999");
}

TEST(IdxImportReader, TagsAndNumberedFields) {
    SrcFileSpec s;
    const char* text =
        "#IXOREFERENCE  spaced ref \r\n"
        "#IXOTITLE Base\n"
        "#IXOFIELD title__1=\"one\"\n"
        "#IXOFIELD title__0=\"zero\"\n"
        "#IXOFIELD title__2=\"\"\n"
        "#IXOFIELD content__0=\"c0\"\n"
        "#IXOFIELD content__5=\"c5\"\n"
        "#IXOFIELD quoted=\"say \"hi\" there\" \n"
        "#IXOFIELD bare=plain\n"
        "#IXOFIELD nothing\n"
        "#IXOUNKNOWN ignored\n"
        "#IXODATE 1000 Thu\n"
        "#IXOSTORECONTENT yes\n"
        "#IXOENDDOC\n"
        "#IXOTYPE after end\n";
    ASSERT_EQ(idxReadDocument(&s, text, std::strlen(text)), 0);
    EXPECT_EQ(s.reference, std::optional<std::string>(" spaced ref "));
    EXPECT_EQ(s.title, std::optional<std::string>("Base zero one"));
    EXPECT_EQ(s.content, std::optional<std::string>("c0 c5"));
    EXPECT_STREQ(srcFileSpecGetField(&s, "quoted"), "say  hi  there");
    EXPECT_STREQ(srcFileSpecGetField(&s, "bare"), "plain");
    EXPECT_EQ(srcFileSpecGetField(&s, "nothing"), nullptr);
    EXPECT_EQ(s.date, std::optional<std::string>("1000 Thu"));
    EXPECT_EQ(s.storecontent, std::optional<std::string>("yes"));
    EXPECT_FALSE(s.type.has_value());

    // A content tag appends numbered content after its own text; "#IXO" inside a line
    // is text, not a tag.
    SrcFileSpec t;
    const char* mapi =
        "#IXOTITLE Subject line\n#IXOREFERENCE email://smapi&1\n#IXOCONTENT\nBody with #IXODATE "
        "inside\n\nsecond paragraph\n\n#IXOFIELD content__0=\"more\"\n#IXODATE Tue\n#IXOENDDOC\n";
    ASSERT_EQ(idxReadDocument(&t, mapi, std::strlen(mapi)), 0);
    EXPECT_EQ(t.title, std::optional<std::string>("Subject line"));
    EXPECT_EQ(t.content,
              std::optional<std::string>("Body with #IXODATE inside\n\nsecond paragraph more"));
    EXPECT_EQ(t.date, std::optional<std::string>("Tue"));

    // Remapping and HTML conversion hooks.
    const char* from[] = {"AUTHOR"};
    const char* to[] = {"Creator"};
    IdxRemapTable table{1, from, to};
    IdxReadOptions opt;
    opt.remap = &table;
    opt.htmlToText = [](void*, const char* in) {
        return memStrDup(("plain:" + std::string(in)).c_str());
    };
    SrcFileSpec u;
    const char* withAuthor = "#IXOFIELD author=\"Ann\"\n#IXOCONTENT\na &amp; b\n";
    ASSERT_EQ(idxReadDocument(&u, withAuthor, std::strlen(withAuthor), &opt), 0);
    EXPECT_STREQ(srcFileSpecGetField(&u, "Creator"), "Ann");
    EXPECT_EQ(u.content, std::optional<std::string>("plain:a &amp; b"));

    EXPECT_EQ(idxReadDocument(nullptr, "x", 1), -1);
    EXPECT_EQ(idxReadDocument(&u, nullptr, 0), -1);
}

TEST(IdxImportReader, ShortAndTruncatedInput) {
    const char* inputs[] = {
        "#IXO",        "#IXOCONTENT",     "#IXOCONTENT\r", "#IXOFIELD ",
        "#IXOFIELD =", "#IXOFIELD a=\"",  "#IXOSECTION ",  "#IXOSECTION -99999999999",
        "#IXOTITLE",   "\n#IXOREFERENCE "};
    for (const char* in : inputs) {
        std::vector<char> bytes(in, in + std::strlen(in));
        SrcFileSpec s;
        EXPECT_EQ(idxReadDocument(&s, bytes.data(), bytes.size()), 0) << in;
    }
    SrcFileSpec s;
    const char* q = "#IXOFIELD a=\"open";
    ASSERT_EQ(idxReadDocument(&s, q, std::strlen(q)), 0);
    EXPECT_STREQ(srcFileSpecGetField(&s, "a"), "open");

    std::string many;
    for (int i = 0; i < 10000; ++i) many += "#IXOFIELD n" + std::to_string(i) + "=\"v\"\n";
    SrcFileSpec m;
    ASSERT_EQ(idxReadDocument(&m, many), 0);
    EXPECT_EQ(m.fieldNames.size(), 10000u);
}

struct Imported {
    std::vector<int> numbers;
    std::vector<std::string> texts;
};

int collect(void* user, std::string_view document, int number) {
    auto* seen = static_cast<Imported*>(user);
    seen->numbers.push_back(number);
    seen->texts.emplace_back(document);
    return 0;
}

TEST(IdxImportFile, OneOrSeveralDocuments) {
    TempDir dir;
    std::string one = "#IXOREFERENCE a\n#IXOCONTENT\ntext a\n#IXOENDDOC\n";
    std::string two = "#IXOREFERENCE b\n#IXOCONTENT\ntext b\n#IXOENDDOC\n";
    writeWholeFile(dir.file("single.ndx"), one);
    writeWholeFile(dir.file("double.ndx"), one + two + "#IXOENDDATA\n");

    EXPECT_EQ(idxFileHoldsSeveralDocuments(dir.file("single.ndx").c_str()), 0);
    EXPECT_EQ(idxFileHoldsSeveralDocuments(dir.file("double.ndx").c_str()), 1);
    EXPECT_EQ(idxFileHoldsSeveralDocuments(dir.file("missing.ndx").c_str()), -6);
    EXPECT_EQ(idxFileHoldsSeveralDocuments(nullptr), -1);

    Imported seen;
    SrcFileSpec s;
    ASSERT_EQ(idxImportFile(&s, dir.file("single.ndx").c_str(), nullptr, collect, &seen), 0);
    EXPECT_TRUE(seen.texts.empty());
    EXPECT_EQ(s.reference, std::optional<std::string>("a"));
    EXPECT_EQ(s.content, std::optional<std::string>("text a"));

    SrcFileSpec unused;
    ASSERT_EQ(idxImportFile(&unused, dir.file("double.ndx").c_str(), nullptr, collect, &seen), 0);
    ASSERT_EQ(seen.texts.size(), 2u);
    EXPECT_EQ(seen.numbers, (std::vector<int>{1, 2}));
    EXPECT_EQ(seen.texts[0], one);
    EXPECT_EQ(seen.texts[1], two);
    EXPECT_FALSE(unused.reference.has_value());
    // The documents are handed over in memory: nothing is written beside the file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              2);
}

TEST(IdxImportFile, SplittingLongLinesAndUnfinishedDocuments) {
    TempDir dir;
    // A line longer than any fixed buffer whose text reaches "#IXOENDDOC" only past its
    // 2047th byte is still one line of content.
    std::string longLine(2047, 'x');
    longLine += "#IXOENDDOC inside a long line";
    std::string first = "#IXOREFERENCE a\n#IXOCONTENT\n" + longLine + "\n#IXOENDDOC\n";
    std::string second = "#IXOREFERENCE b\n#IXOCONTENT\nb\n#IXOENDDOC\n";
    std::string third = "#IXOREFERENCE c\n#IXOCONTENT\nunfinished\n";
    // A file named like the temporary files of old is left alone.
    writeWholeFile(dir.file("tempndx0.ndx"), "keep");
    writeWholeFile(dir.file("all.ndx"), "preamble\n" + first + second + third);

    Imported seen;
    EXPECT_EQ(idxSplitDocuments(dir.file("all.ndx").c_str(), collect, &seen), 3);
    ASSERT_EQ(seen.texts.size(), 3u);
    EXPECT_EQ(seen.texts[0], first);
    EXPECT_EQ(seen.texts[1], second);
    EXPECT_EQ(seen.texts[2], third);
    EXPECT_EQ(readWholeFile(dir.file("tempndx0.ndx")), "keep");

    EXPECT_EQ(idxSplitDocuments(dir.file("none.ndx").c_str(), collect, &seen), -6);
    EXPECT_EQ(idxSplitDocuments(nullptr, collect, &seen), -1);

    SrcFileSpec s;
    EXPECT_EQ(idxReadDocumentFile(&s, dir.file("none.ndx").c_str()), -6);
    ASSERT_EQ(idxReadDocumentFile(&s, dir.file("all.ndx").c_str()), 0);
    EXPECT_EQ(s.reference, std::optional<std::string>("a"));
    EXPECT_EQ(s.content, std::optional<std::string>(longLine));
}

}  // namespace
