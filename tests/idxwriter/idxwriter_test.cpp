// The IDX writer: exact bytes of both forms, field escaping and remapping, the
// structure writers, and the breaking of long content into section documents.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "contentrecord.h"
#include "imex_idx.h"
#include "import/idxreader.h"
#include "import/srcfile_spec.h"
#include "tests/common/tempdir.h"

namespace {

std::string build(const SrcFileSpec& spec, const IdxBreakOptions* breaking = nullptr) {
    std::string out;
    EXPECT_TRUE(srcFileSpecBuildText(&spec, out, breaking));
    return out;
}

SrcFileSpec smallDocument() {
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "file:///docs/a.txt");
    srcFileSpecSetTitle(&s, "  A   small\tdocument\r\n");
    srcFileSpecSetSection(&s, 2);
    srcFileSpecSetType(&s, "TEXT");
    srcFileSpecSetDate(&s, "1020304050");
    srcFileSpecSetDbname(&s, "Database1");
    srcFileSpecSetFilename(&s, "a.txt");
    srcFileSpecSetStorecontent(&s, "yes");
    srcFileSpecSetField(&s, "Author", "Ann");
    srcFileSpecSetField(&s, "Pages", "3");
    srcFileSpecSetContent(&s, "Line one.\nLine two.");
    return s;
}

// Splits a text of several documents and reads each with the client reader.
struct Doc {
    std::string reference, title, content;
    int section = -1;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string field(const std::string& name) const {
        for (const auto& f : fields)
            if (f.first == name) return f.second;
        return "<none>";
    }
};

std::vector<Doc> readDocuments(const std::string& text) {
    std::vector<Doc> docs;
    const std::string end = "#IXOENDDOC\n";
    size_t start = 0, pos;
    while ((pos = text.find(end, start)) != std::string::npos) {
        std::string one = text.substr(start, pos + end.size() - start);
        start = pos + end.size();
        ContentRecord* r = nullptr;
        EXPECT_EQ(ixoContentTextToRecord(one.data(), one.size(), &r), 1);
        if (!r) break;
        Doc d;
        d.reference = r->reference ? r->reference : "";
        d.title = r->title ? r->title : "";
        d.content = r->content ? r->content : "";
        d.section = r->section;
        for (int i = 0; i < r->fieldCount; ++i)
            d.fields.emplace_back(r->fieldNames[i], r->fieldValues[i]);
        ixoDestroyContentRecord(r);
        docs.push_back(d);
    }
    EXPECT_EQ(start, text.size()) << "text after the last document";
    return docs;
}

// n words, each sentence of sentenceWords words ending with ". " (0: no sentence ends).
std::string words(int n, int sentenceWords, const std::string& stem = "w") {
    std::string out;
    for (int i = 1; i <= n; ++i) {
        out += stem + std::to_string(i);
        out += (sentenceWords > 0 && i % sentenceWords == 0) ? ". " : " ";
    }
    return out;
}

TEST(SrcFileSpecText, SmallDocumentExactBytes) {
    SrcFileSpec s = smallDocument();
    EXPECT_EQ(build(s),
              "#IXOREFERENCE file:///docs/a.txt\n"
              "#IXOTITLE\n"
              "A small document \n"
              "#IXOSECTION 2\n"
              "#IXOTYPE TEXT\n"
              "#IXODATE 1020304050\n"
              "#IXODBNAME Database1\n"
              "#IXOFILENAME a.txt\n"
              "#IXOSTORECONTENT yes\n"
              "#IXOFIELD Author=\"Ann\"\n"
              "#IXOFIELD Pages=\"3\"\n"
              "#IXOCONTENT\n"
              "Line one.\n"
              "Line two.\n"
              "#IXOENDDOC\n");

    char* text = srcFileSpecBuildText(&s);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), build(s));
    memFree(text);
}

TEST(SrcFileSpecText, XmlFormExactBytes) {
    SrcFileSpec s = smallDocument();
    srcFileSpecSetOutputForm(&s, 1);
    EXPECT_EQ(build(s),
              "<IXODOC>\n"
              "<IXOREFERENCE>file:///docs/a.txt</IXOREFERENCE>\n"
              "<IXOTITLE>\nA small document </IXOTITLE>\n"
              "<IXOSECTION> 2</IXOSECTION>\n"
              "<IXOTYPE>TEXT</IXOTYPE>\n"
              "<IXODATE>1020304050</IXODATE>\n"
              "<IXODBNAME>Database1</IXODBNAME>\n"
              "<IXOFILENAME>a.txt</IXOFILENAME>\n"
              "<IXOSTORECONTENT>yes</IXOSTORECONTENT>\n"
              "<IXOFIELD NAME=Author>Ann</IXOFIELD>\n"
              "<IXOFIELD NAME=Pages>3</IXOFIELD>\n"
              "<IXOCONTENT>\nLine one.\nLine two.</IXOCONTENT>\n"
              "</IXODOC>\n");

    // Without a reference the document element still opens before it closes.
    SrcFileSpec bare;
    srcFileSpecSetOutputForm(&bare, 1);
    EXPECT_EQ(build(bare), "<IXODOC>\n<IXOCONTENT>\n</IXOCONTENT>\n</IXODOC>\n");
}

TEST(SrcFileSpecText, MinimalDocumentsAndSectionLine) {
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "r1");
    srcFileSpecSetContent(&s, "body");
    EXPECT_EQ(build(s), "#IXOREFERENCE r1\n#IXOCONTENT\nbody\n#IXOENDDOC\n");

    srcFileSpecSetSection(&s, 0);
    EXPECT_EQ(build(s), "#IXOREFERENCE r1\n#IXOSECTION 0\n#IXOCONTENT\nbody\n#IXOENDDOC\n");
    srcFileSpecSetSection(&s, -1);
    EXPECT_EQ(build(s), "#IXOREFERENCE r1\n#IXOCONTENT\nbody\n#IXOENDDOC\n");

    // No content at all still gives an empty content block.
    SrcFileSpec empty;
    EXPECT_EQ(build(empty), "#IXOCONTENT\n\n#IXOENDDOC\n");

    // Clearing a value removes its line.
    srcFileSpecSetReference(&s, nullptr);
    EXPECT_EQ(build(s), "#IXOCONTENT\nbody\n#IXOENDDOC\n");
}

TEST(SrcFileSpecText, ValuesCannotBreakTheLineFormat) {
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "ref\n#IXOTYPE injected");
    srcFileSpecSetType(&s, "a\r\nb");
    srcFileSpecSetContent(&s, "#IXOENDDOC\nsee\n#IXOREFERENCE other\nkeep #IXO inside");
    std::string text = build(s);
    EXPECT_EQ(text,
              "#IXOREFERENCE ref #IXOTYPE injected\n"
              "#IXOTYPE a  b\n"
              "#IXOCONTENT\n"
              " IXOENDDOC\nsee\n IXOREFERENCE other\nkeep #IXO inside\n"
              "#IXOENDDOC\n");
    auto docs = readDocuments(text);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].reference, "ref #IXOTYPE injected");
}

TEST(SrcFileSpecFields, EscapingOrderAndLookup) {
    SrcFileSpec s;
    char value[] = "a\tb\nc\"d\re";
    EXPECT_EQ(srcFileSpecSetField(&s, "Note", value), 0);
    EXPECT_STREQ(value, "a\tb\nc\"d\re") << "the caller's text is left alone";
    EXPECT_STREQ(srcFileSpecGetField(&s, "Note"), "a b c d e");

    srcFileSpecSetField(&s, "Second", "2");
    srcFileSpecSetField(&s, "Note", "again");
    ASSERT_EQ(s.fieldNames.size(), 2u);
    EXPECT_EQ(s.fieldNames[0], "Note");
    EXPECT_EQ(s.fieldValues[0], "again");
    EXPECT_EQ(srcFileSpecGetField(&s, "note"), nullptr) << "names are case-sensitive";
    EXPECT_EQ(srcFileSpecGetField(&s, "Missing"), nullptr);

    // A name holding '=' or a line end is written so that it reads back as one name.
    srcFileSpecSetField(&s, "a=b\nc", "v");
    EXPECT_STREQ(srcFileSpecGetField(&s, "a=b\nc"), "v");
    EXPECT_NE(build(s).find("#IXOFIELD a b c=\"v\"\n"), std::string::npos);

    EXPECT_EQ(srcFileSpecSetField(nullptr, "n", "v"), -1);
    EXPECT_EQ(srcFileSpecSetField(&s, nullptr, "v"), -1);
}

TEST(SrcFileSpecFields, Remapping) {
    const char* from[] = {"AUTHOR", "SUBJECT", "AUTHOR"};
    const char* to[] = {"Creator", "Title2", "Writer"};
    IdxRemapTable table{3, from, to};
    SrcFileSpec s;
    EXPECT_EQ(srcFileSpecSetFieldRemapped(&table, &s, "author", "Ann"), 0);
    EXPECT_EQ(srcFileSpecSetFieldRemapped(&table, &s, "Other", "x"), 0);
    EXPECT_EQ(srcFileSpecSetFieldRemapped(nullptr, &s, "author", "raw"), 0);
    EXPECT_STREQ(srcFileSpecGetField(&s, "Writer"), "Ann") << "the last matching row wins";
    EXPECT_EQ(srcFileSpecGetField(&s, "Creator"), nullptr);
    EXPECT_STREQ(srcFileSpecGetField(&s, "Other"), "x");
    EXPECT_STREQ(srcFileSpecGetField(&s, "author"), "raw");
    EXPECT_EQ(srcFileSpecSetFieldRemapped(&table, &s, "author", nullptr), -1);
    EXPECT_EQ(srcFileSpecSetFieldRemapped(&table, &s, nullptr, "v"), -1);
}

TEST(SrcFileSpecWrite, CountsBytesAndReportsFailure) {
    testing_support::TempDir dir;
    SrcFileSpec s = smallDocument();
    std::string path = dir.file("out.idx");

    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    int64_t n = srcFileSpecWrite(&s, f);
    std::fclose(f);
    EXPECT_EQ(n, static_cast<int64_t>(build(s).size()));
    EXPECT_EQ(testing_support::readWholeFile(path), build(s));

    struct Seen {
        int code = 0;
        std::string message, detail;
    } seen;
    IdxErrorSink sink;
    sink.user = &seen;
    sink.report = [](void* user, int code, int, const char* message, const char* detail) {
        auto* s = static_cast<Seen*>(user);
        s->code = code;
        s->message = message;
        s->detail = detail ? detail : "";
    };
    std::FILE* readOnly = std::fopen(path.c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(srcFileSpecWrite(&s, readOnly, nullptr, &sink), 0);
    std::fclose(readOnly);
    EXPECT_EQ(seen.code, -6);
    EXPECT_EQ(seen.message, "IDX file writer: Couldn't write to IDX file");
    EXPECT_EQ(seen.detail, "file:///docs/a.txt");
}

TEST(SrcFileSpecWrite, SaveAppendsEachDocument) {
    testing_support::TempDir dir;
    std::string path = dir.file("default.idx");
    SrcFileSpec a, b;
    srcFileSpecSetReference(&a, "a");
    srcFileSpecSetReference(&b, "b");
    ASSERT_EQ(srcFileSpecSaveToFile(&a, path.c_str()), 0);
    ASSERT_EQ(srcFileSpecSaveToFile(&b, path.c_str()), 0);
    EXPECT_EQ(testing_support::readWholeFile(path),
              "#IXOREFERENCE a\n#IXOCONTENT\n\n#IXOENDDOC\n"
              "#IXOREFERENCE b\n#IXOCONTENT\n\n#IXOENDDOC\n");

    std::vector<std::string> messages;
    IdxErrorSink sink;
    sink.user = &messages;
    sink.report = [](void* user, int code, int, const char* message, const char*) {
        static_cast<std::vector<std::string>*>(user)->push_back(std::to_string(code) + " " +
                                                                message);
    };
    EXPECT_EQ(srcFileSpecSaveToFile(&a, dir.file("missing/x.idx").c_str(), nullptr, &sink), -6);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "-6 Saving Document to IDX file: Couldn't save document");
    EXPECT_EQ(srcFileSpecSaveToFile(nullptr, path.c_str()), -1);
}

TEST(SrcFileSpecNames, IdxFileNamesAndWords) {
    EXPECT_EQ(idxSideFileName("mail/a.eml"), "mail/a.eml.idx");
    EXPECT_EQ(idxNormalizeWhitespace("  a \t\r\n b  "), "a b ");
    EXPECT_EQ(idxWordCount("it's 3.5 x_y"), 6);
}

TEST(ImexStructure, WritersAndRoundTrip) {
    ContentRecord* r = ixoCreateContentRecord();
    ASSERT_NE(r, nullptr);
    r->title = memStrDup("Title");
    r->reference = memStrDup("ref://1");
    r->content = memStrDup("text");
    r->section = 4;
    r->fieldCount = 2;
    r->fieldNames = static_cast<char**>(memAlloc(2 * sizeof(char*)));
    r->fieldValues = static_cast<char**>(memAlloc(2 * sizeof(char*)));
    r->fieldNames[0] = memStrDup("A");
    r->fieldValues[0] = memStrDup("has \"quotes\"");
    r->fieldNames[1] = memStrDup("B");
    r->fieldValues[1] = memStrDup("2");

    char* text = nullptr;
    ASSERT_EQ(imexImportStructureToBuffer(r, &text), 0);
    EXPECT_STREQ(text,
                 "#IXOREFERENCE ref://1\n#IXOTITLE\nTitle\n#IXOSECTION 4\n"
                 "#IXOFIELD A=\"has  quotes \"\n#IXOFIELD B=\"2\"\n"
                 "#IXOCONTENT\ntext\n#IXOENDDOC\n");
    EXPECT_STREQ(r->fieldValues[0], "has \"quotes\"") << "the record is not changed";
    memFree(text);

    testing_support::TempDir dir;
    std::string path = dir.file("s.idx");
    ASSERT_EQ(imexImportStructureToFile(r, path.c_str()), 0);
    std::string written = testing_support::readWholeFile(path);
    EXPECT_NE(written.find("#IXOSTORECONTENT no\n"), std::string::npos);

    r->storecontent = 1;
    ASSERT_EQ(imexImportStructureToBuffer(r, &text), 0);
    EXPECT_NE(std::string(text).find("#IXOSTORECONTENT yes\n"), std::string::npos);

    ContentRecord* back = nullptr;
    ASSERT_EQ(ixoContentTextToRecord(text, std::string(text).size(), &back), 1);
    memFree(text);
    EXPECT_STREQ(back->reference, "ref://1");
    EXPECT_STREQ(back->title, "Title");
    EXPECT_STREQ(back->content, "\ntext");
    EXPECT_EQ(back->section, 4);
    EXPECT_EQ(back->storecontent, 1);
    ASSERT_EQ(back->fieldCount, 2);
    EXPECT_STREQ(back->fieldValues[0], "has  quotes ");
    EXPECT_EQ(imexDestroyStructure(back), 0);

    EXPECT_EQ(imexImportStructureToFile(r, nullptr), -6);
    EXPECT_EQ(imexImportStructureToFile(r, (path + "/no/such/dir").c_str()), -6);
    EXPECT_EQ(ixoDestroyContentRecord(r), 1);
}

TEST(SrcFileSpecBreaking, SplitsAtSentenceEndsPastTheLowerLimit) {
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "file:///long.txt");
    srcFileSpecSetTitle(&s, "Long");
    srcFileSpecSetField(&s, "Kind", "k");
    srcFileSpecSetContent(&s, words(100, 7));
    IdxBreakOptions opt;
    opt.lowerWords = 25;
    opt.upperWords = 40;
    opt.maxSections = 2048;
    auto docs = readDocuments(build(s, &opt));
    // Sentence ends after words 28 and 35 are past the lower limit; word 41 cuts after 35.
    ASSERT_EQ(docs.size(), 3u);
    EXPECT_EQ(idxWordCount(docs[0].content), 35);
    EXPECT_EQ(docs[0].content.substr(docs[0].content.size() - 5), " w35.");
    EXPECT_EQ(idxWordCount(docs[1].content), 35);
    EXPECT_EQ(idxWordCount(docs[2].content), 30);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(docs[i].section, i);
        EXPECT_EQ(docs[i].field("IXOSECTION"), std::to_string(i));
        EXPECT_EQ(docs[i].field("Kind"), "k");
        EXPECT_EQ(docs[i].title, "Long");
        EXPECT_EQ(docs[i].reference, "file:///long.txt");
        EXPECT_EQ(docs[i].field("IXOPAGE"), "<none>");
    }

    // Without sentence ends the cut falls at the word that passes the upper limit.
    srcFileSpecSetContent(&s, words(100, 0));
    docs = readDocuments(build(s, &opt));
    ASSERT_EQ(docs.size(), 3u);
    EXPECT_EQ(idxWordCount(docs[0].content), 40);
    EXPECT_EQ(idxWordCount(docs[1].content), 40);
    EXPECT_EQ(idxWordCount(docs[2].content), 20);

    // No section is added while the maximum is 0; the content is still normalised.
    opt.maxSections = 0;
    srcFileSpecSetContent(&s, "  one\n\ntwo  " + words(100, 0));
    docs = readDocuments(build(s, &opt));
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].content.substr(0, 9), "\none two ");
    EXPECT_EQ(docs[0].section, 0);

    // The maximum caps the number of sections.
    opt.maxSections = 2;
    docs = readDocuments(build(s, &opt));
    EXPECT_EQ(docs.size(), 2u);
}

TEST(SrcFileSpecBreaking, AnchorsHeadingsAndTitles) {
    std::string p0 = words(5, 5, "intro");
    std::string pa = words(60, 7, "a");
    std::string pb = words(5, 0, "b");
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "HTTP://example.com/page.html");
    srcFileSpecSetTitle(&s, "Page");
    srcFileSpecSetContent(&s, p0 + pa + pb);
    ASSERT_EQ(srcFileSpecAddSection(&s, static_cast<int32_t>(p0.size()), "partA", "Heading A"), 0);
    ASSERT_EQ(srcFileSpecAddSection(&s, static_cast<int32_t>(p0.size() + pa.size()), "#partB",
                                    "Page overview"),
              0);

    struct Counts {
        int pages = 0, beats = 0;
    } counts;
    IdxBreakOptions opt;
    opt.lowerWords = 10;
    opt.upperWords = 40;
    opt.maxSections = 2048;
    opt.addAnchorNames = 1;
    opt.user = &counts;
    opt.heartbeat = [](void* u) { ++static_cast<Counts*>(u)->beats; };
    opt.pageStart = [](void* u, SrcFileSpec* doc) {
        ++static_cast<Counts*>(u)->pages;
        srcFileSpecSetField(doc, "summary", "first of page");
    };

    auto docs = readDocuments(build(s, &opt));
    ASSERT_EQ(docs.size(), 4u);
    EXPECT_EQ(counts.pages, 2);
    EXPECT_EQ(counts.beats, 2 + 4);

    EXPECT_EQ(docs[0].reference, "HTTP://example.com/page.html");
    EXPECT_EQ(docs[0].title, "Page");
    EXPECT_EQ(docs[0].section, 0);
    EXPECT_EQ(docs[0].field("IXOREFERENCE"), "<none>");
    EXPECT_EQ(idxWordCount(docs[0].content), 5);

    // The anchor page starts its own numbering and reference; its second piece inherits
    // the anchor and the heading.
    for (int i : {1, 2}) {
        EXPECT_EQ(docs[i].reference, "HTTP://example.com/page.html#partA");
        EXPECT_EQ(docs[i].field("IXOREFERENCE"), "HTTP://example.com/page.html#partA");
        EXPECT_EQ(docs[i].title, "Page - Heading A");
        EXPECT_EQ(docs[i].section, i - 1);
    }
    EXPECT_EQ(docs[1].field("summary"), "first of page");
    EXPECT_EQ(docs[2].field("summary"), "<none>");
    EXPECT_EQ(idxWordCount(docs[1].content), 35);
    EXPECT_EQ(idxWordCount(docs[2].content), 25);

    // An anchor that already begins with '#'; a heading that begins with the title.
    EXPECT_EQ(docs[3].reference, "HTTP://example.com/page.html#partB");
    EXPECT_EQ(docs[3].title, "Page overview");
    EXPECT_EQ(docs[3].section, 0);

    // Other references keep theirs, number straight through and name the page.
    srcFileSpecSetReference(&s, "file:///page.html");
    docs = readDocuments(build(s, &opt));
    ASSERT_EQ(docs.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(docs[i].reference, "file:///page.html");
        EXPECT_EQ(docs[i].section, i);
    }
    EXPECT_EQ(docs[0].field("IXOPAGE"), "<none>");
    EXPECT_EQ(docs[1].field("IXOPAGE"), "partA");
    EXPECT_EQ(docs[3].field("IXOPAGE"), "#partB");

    // The anchor-reference flag keeps http pages on their reference too.
    srcFileSpecSetReference(&s, "http://example.com/page.html");
    srcFileSpecSetAnchorReference(&s, 1);
    docs = readDocuments(build(s, &opt));
    ASSERT_EQ(docs.size(), 4u);
    EXPECT_EQ(docs[1].reference, "http://example.com/page.html");
    EXPECT_EQ(docs[3].section, 3);
}

TEST(SrcFileSpecBreaking, SmallSectionsJoinUntilTheFirstLimit) {
    SrcFileSpec s;
    std::string text;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(srcFileSpecAddSection(&s, static_cast<int32_t>(text.size()), nullptr,
                                        i == 0 ? nullptr : "H"),
                  0);
        text += words(4, 4, "s" + std::to_string(i) + "x");
    }
    srcFileSpecSetContent(&s, text);
    srcFileSpecSetOutputForm(&s, 1);
    IdxBreakOptions opt;
    opt.lowerWords = 10;
    opt.upperWords = 100;
    opt.maxSections = 2048;
    std::string xml = build(s, &opt);
    // 4 + 4 + 4 words pass 10 after three sections: two documents of three sections.
    size_t docsWritten = 0, pos = 0;
    while ((pos = xml.find("<IXODOC>", pos)) != std::string::npos) ++docsWritten, ++pos;
    EXPECT_EQ(docsWritten, 2u);
    EXPECT_NE(xml.find("<IXOSECTION> 1</IXOSECTION>\n<IXOFIELD NAME=IXOSECTION>1</IXOFIELD>"),
              std::string::npos);
    EXPECT_NE(xml.find("<IXOTITLE>\nH</IXOTITLE>"), std::string::npos);

    // Offsets beyond the content and a table that is full are handled.
    SrcFileSpec full;
    for (int i = 0; i < kIdxMaxSections; ++i)
        ASSERT_EQ(srcFileSpecAddSection(&full, 1000000, "x", nullptr), 0);
    EXPECT_EQ(srcFileSpecAddSection(&full, 0, nullptr, nullptr), -3);
    EXPECT_EQ(srcFileSpecAddSection(&full, -1, nullptr, nullptr), -1);
    srcFileSpecSetContent(&full, "short text");
    auto docs = readDocuments(build(full, &opt));
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].content, "\nshort text");
}

TEST(SrcFileSpecText, NulBytesAreDroppedBeforeEscaping) {
    SrcFileSpec s;
    srcFileSpecSetReference(&s, std::string("r\0ef", 4).c_str());
    static const char kContent[] = "one\0two\n\0#IXOREFERENCE planted\nend";
    std::string title("T\0itle", 6), content(kContent, sizeof kContent - 1);
    s.title = title;
    s.type = std::string("TE\0XT", 5);
    srcFileSpecSetContent(&s, content);
    s.fieldNames.push_back("F");
    s.fieldValues.push_back(std::string("v\0al", 4));
    const std::string text = build(s);
    // A NUL before "#IXO" at a line start must not bring the tag back.
    EXPECT_EQ(text,
              "#IXOREFERENCE r\n#IXOTITLE\nTitle\n#IXOTYPE TEXT\n#IXOFIELD F=\"val\"\n"
              "#IXOCONTENT\nonetwo\n IXOREFERENCE planted\nend\n#IXOENDDOC\n");
    s.outputForm = 1;
    EXPECT_EQ(build(s).find('\0'), std::string::npos);
}

TEST(SrcFileSpecText, ContentWithTagLinesRoundTripsReadably) {
    // Lines of content that begin "#IXO" are written with a blank for the '#': read
    // back (by the import reader and the client reader alike) they are content lines
    // still, every other byte as it was, and no tag of theirs takes effect.
    const std::string content =
        "Notes on the format:\n#IXOREFERENCE http://elsewhere/\n#IXOENDDOC\n"
        "#IXOFIELD a=\"b\"\nlast line #IXO stays";
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "doc");
    srcFileSpecSetContent(&s, content);
    const std::string text = build(s);
    const std::string expected =
        "Notes on the format:\n IXOREFERENCE http://elsewhere/\n IXOENDDOC\n"
        " IXOFIELD a=\"b\"\nlast line #IXO stays";
    auto docs = readDocuments(text);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].reference, "doc");
    EXPECT_EQ(docs[0].content, "\n" + expected);  // the client keeps the tag's line end
    EXPECT_TRUE(docs[0].fields.empty());
    SrcFileSpec back;
    ASSERT_EQ(idxReadDocument(&back, text), 0);
    EXPECT_EQ(back.reference.value_or(""), "doc");
    EXPECT_EQ(back.content.value_or(""), expected);
    EXPECT_TRUE(back.fieldNames.empty());
    // Written again, the text is stable.
    EXPECT_EQ(build(back), text);
}

TEST(SrcFileSpecBreaking, TheMaximumBoundsAnchorSectionsToo) {
    // A page with many anchors: with a maximum of 0 (a fresh arguments record) it is
    // one document, with 3 at most three.
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "page.html");
    std::string content;
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(srcFileSpecAddSection(&s, static_cast<int32_t>(content.size()),
                                        ("a" + std::to_string(i)).c_str(), nullptr),
                  0);
        content += words(30, 6, "s" + std::to_string(i) + "w");
    }
    srcFileSpecSetContent(&s, content);
    IdxBreakOptions opt;
    opt.lowerWords = 10;
    opt.upperWords = 3000;
    opt.maxSections = 0;
    auto one = readDocuments(build(s, &opt));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_NE(one[0].content.find("s49w30"), std::string::npos);
    opt.maxSections = 3;
    auto three = readDocuments(build(s, &opt));
    ASSERT_EQ(three.size(), 3u);
    EXPECT_NE(three[2].content.find("s49w30"), std::string::npos);
    opt.maxSections = 2048;
    EXPECT_EQ(readDocuments(build(s, &opt)).size(), 50u);
}

}  // namespace
