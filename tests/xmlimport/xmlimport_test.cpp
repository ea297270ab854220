// The XML and delimited importers: rules and markers to IDX documents through the
// per-document flow, and the record and field splitting on its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/delimitedparse.h"
#include "import/importctrl.h"
#include "import/xmlparser.h"
#include "tests/common/tempdir.h"

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

class ImporterTest : public ::testing::Test {
  protected:
    TempDir dir;
    ImportContext* context = nullptr;
    ImportArgs args;
    void SetUp() override {
        imexInit();
        context = imexCreate();
        ASSERT_NE(context, nullptr);
        ASSERT_EQ(imexRegisterExtension(context, "xml", importXmlHandler, nullptr), 0);
        ASSERT_EQ(imexRegisterExtension(context, "dlm", importDelimitedHandler, nullptr), 0);
        args.tempDirectory = dir.path().string() + "/";
        args.outputFilename = dir.file("out.idx");
    }
    void TearDown() override { imexDestroy(context); }
    int import(const std::string& file) {
        args.inputs = {file};
        int32_t result = 99;
        imexImport(context, &args, &result);
        return result;
    }
    static ImportXmlRule rule(std::string field, std::vector<std::string> tags, int strip = 0,
                              int entry = 0, const char* attribute = nullptr) {
        ImportXmlRule r;
        r.field = std::move(field);
        r.tags = std::move(tags);
        r.stripTags = strip;
        r.entryOnly = entry;
        if (attribute) r.attribute = attribute;
        return r;
    }
};

TEST_F(ImporterTest, XmlRulesFillTheIxoNamesAndFields) {
    std::string file = dir.file("item.xml");
    writeWholeFile(file,
                   "<item id=\"42\"><head><Title>Tide <b>tables</b></Title>"
                   "<link href=\"http://example.invalid/tides\"/></head>"
                   "<body><p>High water at noon.</p><p>Low water at six.</p></body>"
                   "<sec>3</sec></item>");
    args.xmlRules = {rule("IXOTITLE", {"head", "title"}, 1, 1),
                     rule("IXOREFERENCE", {"link"}, 0, 0, "href"),
                     rule("IXOCONTENT", {"body"}, 1, 1),
                     rule("IXOSECTION", {"sec"}, 1, 1),
                     rule("RAW", {"body", "p"}),
                     rule("ITEMID", {}, 0, 0, "id"),
                     rule("MISSING", {"nowhere"})};
    EXPECT_EQ(import(file), 0);
    std::string idx = readWholeFile(args.outputFilename);
    EXPECT_NE(idx.find("#IXOREFERENCE http://example.invalid/tides\n"), std::string::npos) << idx;
    EXPECT_NE(idx.find("#IXOTITLE\nTide tables\n"), std::string::npos) << idx;
    EXPECT_NE(idx.find("High water at noon."), std::string::npos) << idx;
    EXPECT_NE(idx.find("<p>High water at noon.</p>"), std::string::npos) << idx;
    EXPECT_NE(idx.find("ITEMID"), std::string::npos) << idx;
    EXPECT_NE(idx.find("42"), std::string::npos) << idx;
    // The temporary document is gone.
    EXPECT_FALSE(std::filesystem::exists(dir.file("tempndx0.ndx")));

    // A file that is not XML is refused and nothing is written.
    std::string bad = dir.file("bad.xml");
    writeWholeFile(bad, "<item><unclosed></item>");
    std::filesystem::remove(args.outputFilename);
    EXPECT_EQ(import(bad), -1);
    EXPECT_FALSE(std::filesystem::exists(args.outputFilename));
}

TEST_F(ImporterTest, DelimitedFileWithThreeRecordsGivesThreeDocuments) {
    std::string file = dir.file("list.dlm");
    writeWholeFile(file,
                   "junk before\n"
                   "<REC>T:First|R:http://a.invalid/1|B:alpha text\n</REC>\n"
                   "<REC>T:Second|R:http://a.invalid/2|B:bravo text\n</REC>\n"
                   "<REC>T:Third|B:charlie text\n</REC>\n");
    ImportDelimited d;
    d.docStart = "<REC>";
    d.docEnd = "</REC>";
    d.names = {"IXOTITLE", "IXOREFERENCE", "IXOCONTENT"};
    d.starts = {"T:", "R:", "B:"};
    d.ends = {"|", "|", "\n"};
    args.delimited = d;
    EXPECT_EQ(import(file), 0);
    std::string idx = readWholeFile(args.outputFilename);
    size_t docs = 0;
    for (size_t p = idx.find("#IXOENDDOC"); p != std::string::npos;
         p = idx.find("#IXOENDDOC", p + 1))
        ++docs;
    EXPECT_EQ(docs, 3u) << idx;
    for (const char* text : {"alpha text", "bravo text", "charlie text", "#IXOTITLE\nSecond\n",
                             "#IXOREFERENCE http://a.invalid/2"})
        EXPECT_NE(idx.find(text), std::string::npos) << text << "\n" << idx;
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(std::filesystem::exists(dir.file("tempndx" + std::to_string(i) + ".ndx")));
}

TEST(NamedValues, IxoNamesSetTheDocumentOthersBecomeFields) {
    SrcFileSpec spec;
    importSetNamedValue(&spec, "IXOSECTION", "3");
    importSetNamedValue(&spec, "IXODATE", "946684800");
    importSetNamedValue(&spec, "IXOTYPE", "NOTE");
    importSetNamedValue(&spec, "IXOSTORECONTENT", "no");
    importSetNamedValue(&spec, "ixotitle", "lower case is a field");
    importSetNamedValue(&spec, "EMPTY", "");
    EXPECT_EQ(spec.section, 3);
    EXPECT_EQ(spec.date.value_or(""), "946684800");
    EXPECT_EQ(spec.type.value_or(""), "NOTE");
    EXPECT_EQ(spec.storecontent.value_or(""), "no");
    EXPECT_FALSE(spec.title.has_value());
    ASSERT_NE(srcFileSpecGetField(&spec, "ixotitle"), nullptr);
    ASSERT_NE(srcFileSpecGetField(&spec, "EMPTY"), nullptr);
    EXPECT_STREQ(srcFileSpecGetField(&spec, "EMPTY"), "");
}

TEST(DelimitedSplit, MarkersSkipsAndMissingPieces) {
    ImportDelimited d;
    d.docEnd = "\n";
    d.names = {"A", "B", "C"};
    d.starts = {"[", ","};  // fewer markers than fields: the last one repeats
    d.ends = {"]"};
    d.skips = {1};
    auto recs = delimitedSplit("[xa],b],c]\n[yq]\nno markers here\n\n", d);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0], (std::vector<std::string>{"a", "b", "c"}));  // skip 1 drops "x"
    EXPECT_EQ(recs[1], (std::vector<std::string>{"q", "", ""}));
    EXPECT_EQ(recs[2], (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(recs[3], (std::vector<std::string>{"", "", ""}));

    // A skip past the record's end and a last record without its end marker.
    ImportDelimited e;
    e.docStart = "<";
    e.docEnd = ">";
    e.names = {"V"};
    e.starts = {"="};
    e.skips = {100};
    auto tail = delimitedSplit("<v=1><v=2", e);
    ASSERT_EQ(tail.size(), 2u);
    EXPECT_EQ(tail[0][0], "");
    EXPECT_EQ(tail[1][0], "");
    e.skips = {0};
    tail = delimitedSplit("<v=1><v=2", e);
    EXPECT_EQ(tail[1][0], "2");
    // No markers at all: the whole text is one record.
    ImportDelimited whole;
    whole.names = {"IXOCONTENT"};
    auto one = delimitedSplit("all of it", whole);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0][0], "all of it");
    EXPECT_TRUE(delimitedSplit("", e).empty());
}

}  // namespace
