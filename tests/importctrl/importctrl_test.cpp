// Import control: registry, error texts, checksum and binary filter, and the
// per-document flow over a real folder tree of text and source files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imex.h"
#include "import/importctrl.h"
#include "import/importlog.h"
#include "tests/common/tempdir.h"

namespace {

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

struct Context {
    ImportContext* c;
    Context() : c(imexCreate()) {
        imexInit();
        EXPECT_NE(c, nullptr);
    }
    ~Context() { imexDestroy(c); }
};
struct Args {
    ImportArgs* a = imargsCreate();
    ~Args() { imargsDestroy(a); }
};

std::vector<std::string> documents(const std::string& idx) {
    std::vector<std::string> docs;
    size_t pos = 0;
    // A document ends with the line "#IXOENDDOC" (the tag may occur inside a line).
    for (size_t end; (end = idx.find("\n#IXOENDDOC\n", pos)) != std::string::npos; pos = end + 12)
        docs.push_back(idx.substr(pos, end + 12 - pos));
    EXPECT_EQ(pos, idx.size()) << "trailing bytes after the last document";
    return docs;
}

std::string referenceOf(const std::string& doc) {
    size_t p = doc.find("#IXOREFERENCE ");
    if (p == std::string::npos) return {};
    p += 14;
    return doc.substr(p, doc.find('\n', p) - p);
}

std::string contentOf(const std::string& doc) {
    size_t p = doc.find("#IXOCONTENT\n");
    if (p == std::string::npos) return {};
    p += 12;
    return doc.substr(p, doc.rfind("\n#IXOENDDOC") - p);
}

bool hasError(ImportContext* c, const std::string& message) {
    for (int32_t i = 0; i < imexGetErrorCount(c); ++i) {
        ImexError e{};
        if (imexGetErrorEntry(c, i, &e) == 0 && message == e.message) return true;
    }
    return false;
}

// Log lines without their time stamp ("day/month/year  hh:mm:ss:").
std::vector<std::string> logLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        size_t colon = line.find(':', line.find(':', line.find(':') + 1) + 1);
        lines.push_back(colon == std::string::npos ? line : line.substr(colon + 1));
    }
    return lines;
}

int dummyHandler(ImportContext*, ImportArgs*, char*, size_t, const char*, SrcFileSpec*,
                 ImportEntry*) {
    return 0;
}

TEST(ImportErrors, TextsOfTheCodes) {
    EXPECT_STREQ(imexGetError(0), "No error.");
    EXPECT_STREQ(imexGetError(-5), "Unknown error.");
    EXPECT_STREQ(imexGetError(2), "Default content.");
    EXPECT_STREQ(imexGetError(-32), "Parsed file not found.");
    EXPECT_STREQ(imexGetError(-10), "Extension registry");
}

TEST(ImportRegistry, RegisterReplaceAndUnregister) {
    Context ctx;
    const uint32_t before = hashTableCount(ctx.c->registry);
    for (const char* ext : {"/", "\\", "_globbing", "html", "txt", "cpp", "ndx", "_default"})
        EXPECT_NE(importFindEntry(ctx.c, ext), nullptr) << ext;
    int user = 7;
    EXPECT_EQ(imexRegisterExtension(ctx.c, "HTML", dummyHandler, &user), 0);
    EXPECT_EQ(hashTableCount(ctx.c->registry), before);
    ImexError e{};
    ASSERT_EQ(imexGetErrorEntry(ctx.c, imexGetErrorCount(ctx.c) - 1, &e), 0);
    EXPECT_STREQ(e.message, "Registering import type extension: Re-registering extension");
    EXPECT_EQ(e.code, -11);
    EXPECT_EQ(e.severity, -1);
    EXPECT_EQ(e.module, 1);
    EXPECT_EQ(importFindEntry(ctx.c, "html")->handler, dummyHandler);

    EXPECT_EQ(imexRegisterExtension(ctx.c, "xyz", nullptr, nullptr), -1);
    EXPECT_TRUE(hasError(ctx.c, "Registering import type extension: Illegal Argument"));
    void* back = nullptr;
    EXPECT_EQ(imexUnregisterExtension(ctx.c, "Html", &back), 0);
    EXPECT_EQ(back, &user);
    EXPECT_EQ(imexUnregisterExtension(ctx.c, "html", nullptr), -4);
    EXPECT_EQ(imexUnregisterExtension(ctx.c, nullptr, nullptr), -1);
}

TEST(ImportRules, ChecksumAndBinaryFilter) {
    EXPECT_EQ(importChecksum("", 0), 0u);
    EXPECT_EQ(importChecksum("a", 1), 677422u);
    EXPECT_EQ(importChecksum("hello world", 11), 890084u);
    EXPECT_EQ(importChecksum("\xe9t\xe9", 3), 573851u);  // bytes are signed
    std::string stepped;
    for (int i = 0; i < 1200; ++i) stepped += static_cast<char>((i * 7) % 256);
    EXPECT_EQ(importChecksum(stepped.data(), stepped.size()), 821850u);

    ImportBinaryFilter f;  // 0..175, 3 per hundred, average word length 25
    const std::string prose = "An ordinary sentence with plain words in it.";
    EXPECT_FALSE(importIsBinary(prose.data(), prose.size(), f));
    std::string high = prose;
    for (int i = 0; i < 10; ++i) high[static_cast<size_t>(i) * 4] = '\xc3';
    EXPECT_TRUE(importIsBinary(high.data(), high.size(), f));
    const std::string longWord(60, 'x');
    EXPECT_TRUE(importIsBinary(longWord.data(), longWord.size(), f));
}

// A folder of real text and source files with the cases the flow must tell apart.
struct Tree {
    TempDir dir;
    std::string root = dir.file("docs");
    Tree() {
        std::filesystem::create_directories(root + "/sub");
        writeWholeFile(root + "/a.txt", "Alpha text about kangaroos.\n");
        writeWholeFile(root + "/a.txt.idx",
                       "#IXOREFERENCE http://example/a\n#IXOFIELD Author=\"Kim\"\n");
        writeWholeFile(root + "/b.c", "int main(void) { return 0; }\n");
        writeWholeFile(root + "/notes.xyz", "Unknown kind of file.\n");
        writeWholeFile(root + "/orphan.idx",
                       "#IXOREFERENCE orphan\n#IXOCONTENT\norphan body\n#IXOENDDOC\n");
        writeWholeFile(root + "/empty.txt", "");
        writeWholeFile(root + "/blanks.txt", "   ");
        writeWholeFile(root + "/sub/deep.h", "#define DEEP 1\n");
        writeWholeFile(root + "/sub/d\xc3\xa9j\xc3\xa0.txt", "Named in UTF-8.\n");
    }
};

TEST(ImportFlow, FolderTreeWithSideFilesDefaultsAndSkips) {
    Tree t;
    Context ctx;
    Args args;
    const std::string out = t.dir.file("out.idx");
    imargsSetOutputFilename(args.a, out.c_str());
    imargsRecursiveDirdo(args.a, 1);
    const std::string input = t.root + "/";
    const char* inputs[] = {input.c_str()};
    imargsSetInputs(args.a, 1, inputs);
    EXPECT_EQ(imexImport(ctx.c, args.a, nullptr), 1);

    std::vector<std::string> docs = documents(readWholeFile(out));
    std::vector<std::string> refs;
    for (const auto& d : docs) refs.push_back(referenceOf(d));
    // Name order; the side file renames a.txt; blanks are written, empty is not;
    // without a default extension notes.xyz and orphan.idx are refused.
    EXPECT_EQ(refs, (std::vector<std::string>{"http://example/a", t.root + "/b.c",
                                              t.root + "/blanks.txt", t.root + "/sub/deep.h",
                                              t.root + "/sub/d\xc3\xa9j\xc3\xa0.txt"}));
    EXPECT_NE(docs[0].find("#IXOFIELD Author=\"Kim\"\n"), std::string::npos);
    EXPECT_NE(docs[0].find("#IXOFILENAME " + t.root + "/a.txt\n"), std::string::npos);
    EXPECT_NE(docs[0].find("#IXODBNAME default\n"), std::string::npos);
    EXPECT_NE(docs[0].find("#IXOSTORECONTENT yes\n"), std::string::npos);
    EXPECT_EQ(contentOf(docs[0]), "Alpha text about kangaroos. ");  // white space folded
    EXPECT_TRUE(hasError(ctx.c, "Applying Import filter: Unhandled file extension"));

    // With a default extension the unknown file and the lone .idx file are imported,
    // the side file a.txt.idx still is not.
    std::filesystem::remove(out);
    imargsSetDefaultExtention(args.a, "TXT");
    int32_t results[1] = {-99};
    EXPECT_EQ(imexImport(ctx.c, args.a, results), 1);
    EXPECT_EQ(results[0], 0);
    refs.clear();
    for (const auto& d : documents(readWholeFile(out))) refs.push_back(referenceOf(d));
    EXPECT_EQ(refs.size(), 7u) << ::testing::PrintToString(refs);
    EXPECT_NE(std::find(refs.begin(), refs.end(), t.root + "/notes.xyz"), refs.end());
    EXPECT_NE(std::find(refs.begin(), refs.end(), t.root + "/orphan.idx"), refs.end());
    const std::string side = t.root + "/a.txt.idx";
    const char* sideInput[] = {side.c_str()};
    imargsSetInputs(args.a, 1, sideInput);
    EXPECT_EQ(imexImport(ctx.c, args.a, results), 0);
    EXPECT_EQ(results[0], -2);
}

TEST(ImportFlow, CriteriaChecksumBinaryAndSavingFailures) {
    TempDir dir;
    const std::string small = dir.file("small.txt"), binary = dir.file("bin.txt"),
                      good = dir.file("good.txt"), out = dir.file("out.idx");
    writeWholeFile(small, "ten bytes!");
    std::string bytes(400, '\x01');
    for (size_t i = 0; i < bytes.size(); i += 3) bytes[i] = '\xf0';
    writeWholeFile(binary, bytes);
    writeWholeFile(good, "hello world and more words to pass the length criteria");
    Context ctx;
    Args args;
    imargsSetOutputFilename(args.a, out.c_str());
    imargsSetContentCriteria(args.a, 20, 1000, 0, 100);
    imargsSetChecksum(args.a, 1);
    imargsFilterBinary(args.a, 1);
    const char* inputs[] = {small.c_str(), binary.c_str(), good.c_str()};
    imargsSetInputs(args.a, 3, inputs);
    int32_t results[3];
    EXPECT_EQ(imexImport(ctx.c, args.a, results), 3);  // skips still count as success
    EXPECT_TRUE(hasError(ctx.c, "Importing documents: Document doesn't meet length criteria"));
    EXPECT_TRUE(hasError(ctx.c, "Importing documents: Binary content detected in file"));
    std::vector<std::string> docs = documents(readWholeFile(out));
    ASSERT_EQ(docs.size(), 1u);
    const std::string text = "hello world and more words to pass the length criteria";
    EXPECT_NE(docs[0].find("#IXOFIELD CHECKSUM=\"" +
                           std::to_string(importChecksum(text.data(), text.size())) + "\"\n"),
              std::string::npos);

    // An output file that cannot be opened reports the failure instead of success.
    imargsSetOutputFilename(args.a, dir.file("missing/dir/out.idx").c_str());
    imargsSetInputs(args.a, 1, inputs + 2);
    EXPECT_EQ(imexImport(ctx.c, args.a, results), 0);
    EXPECT_EQ(results[0], -6);
    EXPECT_TRUE(hasError(ctx.c, "Saving Document to IDX file: Couldn't save document"));
}

TEST(ImportFlow, FieldAndReferenceRules) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("site/pages"));
    const std::string page = dir.file("site/pages/p.txt");
    writeWholeFile(page, "Written on 03/04/2001 by somebody.");
    Context ctx;
    Args args;
    const std::string out = dir.file("out.idx");
    imargsSetOutputFilename(args.a, out.c_str());
    const char* fixedNames[] = {"Source"};
    const char* fixedValues[] = {"disk"};
    imargsSetFixedFields(args.a, 1, fixedNames, fixedValues);
    // Drop everything up to ".../site/", then map "pages" to "web", cut at the 1st ".".
    const int32_t parts = static_cast<int32_t>(std::count(page.begin(), page.end(), '/') - 1);
    imargsSetPathMapping(args.a, parts, "http://host/");
    const char* oldRefs[] = {"pages"};
    const char* newRefs[] = {"web"};
    imargsSetReferenceMapping(args.a, 1, oldRefs, newRefs);
    imargsSetPathTruncation(args.a, 1, ".");
    args.a->extractLength = 1;
    ImportDateRule rule;
    rule.from = 2;
    rule.formats = {"DD/MM/YYYY"};
    rule.toField = "WHEN";
    rule.toFormat = "YYYY-MM-DD";
    imargsSetDateRules(args.a, {rule});
    const char* inputs[] = {page.c_str()};
    imargsSetInputs(args.a, 1, inputs);
    EXPECT_EQ(imexImport(ctx.c, args.a, nullptr), 1);
    std::vector<std::string> docs = documents(readWholeFile(out));
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(referenceOf(docs[0]), "http://host/web/p");
    EXPECT_NE(docs[0].find("#IXOFIELD Source=\"disk\"\n"), std::string::npos);
    EXPECT_NE(docs[0].find("#IXOFIELD FILELENGTH=\"34\"\n"), std::string::npos);
    EXPECT_NE(docs[0].find("#IXOFIELD WHEN=\"2001-04-03\"\n"), std::string::npos);
}

TEST(ImportFlow, IdxFilesOfSeveralDocumentsAreSplit) {
    TempDir dir;
    const std::string ndx = dir.file("batch.ndx"), out = dir.file("out.idx");
    writeWholeFile(ndx,
                   "#IXOREFERENCE one\n#IXOTITLE\nFirst\n#IXOCONTENT\nbody one\n#IXOENDDOC\n"
                   "#IXOREFERENCE two\n#IXOCONTENT\nbody two\n#IXOENDDOC\n");
    Context ctx;
    Args args;
    imargsSetOutputFilename(args.a, out.c_str());
    imargsSetTempDirectory(args.a, dir.path().string().c_str());
    const char* inputs[] = {ndx.c_str()};
    imargsSetInputs(args.a, 1, inputs);
    EXPECT_EQ(imexImport(ctx.c, args.a, nullptr), 1);
    std::vector<std::string> docs = documents(readWholeFile(out));
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_EQ(referenceOf(docs[0]), "one");
    EXPECT_EQ(contentOf(docs[1]), "body two");
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find("tempndx"), std::string::npos);
}

TEST(ImportLogLevels, ExactLinesAtEachLevel) {
    TempDir dir;
    const std::string good = dir.file("g.txt"), missing = dir.file("none.txt"),
                      odd = dir.file("x.zzz"), log = dir.file("import.log"),
                      out = dir.file("out.idx");
    writeWholeFile(good, "some words");
    writeWholeFile(odd, "odd");
    Context ctx;
    Args args;
    imargsSetOutputFilename(args.a, out.c_str());
    imargsSetOutputDatabase(args.a, "Db");
    const char* inputs[] = {good.c_str(), missing.c_str(), odd.c_str()};
    imargsSetInputs(args.a, 3, inputs);

    ASSERT_EQ(imexSetLogFile(log.c_str(), 0), 0);
    imexSetLogLevel(3);
    imexImport(ctx.c, args.a, nullptr);
    std::vector<std::string> expected = {
        "Starting Import ",
        "=====================",
        "",
        "Number of files/directories = 3",
        "\t" + good,
        "\t" + missing,
        "\t" + odd,
        "Output file = " + out,
        "Fields:",
        "Database = Db",
        "Default Extension = (null)",
        "Store Content = yes",
        "Importing document \"" + good + "\"",
        "Done with document \"" + good + "\"",
        "Success",
        "Importing document \"" + missing + "\"",
        "Warning: File '" + missing + "' does not exist - nothign to do",
        "Importing document \"" + odd + "\"",
        "Warning: Unknown file type for file \"" + odd + "\"",
    };
    EXPECT_EQ(logLines(log), expected);

    ASSERT_EQ(imexSetLogFile(log.c_str(), 0), 0);
    imexSetLogLevel(2);
    imexImport(ctx.c, args.a, nullptr);
    EXPECT_EQ(logLines(log), (std::vector<std::string>{
                                 "Warning: File '" + missing + "' does not exist - nothign to do",
                                 "Warning: Unknown file type for file \"" + odd + "\""}));

    ASSERT_EQ(imexSetLogFile(log.c_str(), 0), 0);
    imexSetLogLevel(1);
    imexImport(ctx.c, args.a, nullptr);
    EXPECT_TRUE(logLines(log).empty());
    imexSetLogFile(nullptr, 0);
    imexSetLogLevel(2);
}

TEST(ImportEntryPoints, SimpleImportAndStructure) {
    TempDir dir;
    const std::string file = dir.file("note.txt"), out = dir.file("out.idx");
    writeWholeFile(file, "A note about penguins.");
    const char* inputs[] = {file.c_str()};
    EXPECT_EQ(imexSimpleImport(nullptr, "Db", 1, inputs), -1);
    EXPECT_EQ(imexSimpleImport(out.c_str(), "Db", 0, inputs), -1);  // refused by the setter
    EXPECT_EQ(imexSimpleImport(out.c_str(), "Db", 1, inputs), 1);
    EXPECT_NE(readWholeFile(out).find("#IXODBNAME Db\n"), std::string::npos);

    ContentRecord* record = nullptr;
    EXPECT_EQ(imexImportFileToStructureWithConfig(nullptr, &record, nullptr, nullptr), -6);
    ASSERT_EQ(imexImportFileToStructureWithConfig(file.c_str(), &record, nullptr, nullptr), 0);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->reference, file.c_str());
    EXPECT_STREQ(record->dbname, "Database1");
    imexDestroyStructure(record);

    // With a configuration: an extra extension for the text importer, a fixed field.
    const std::string odd = dir.file("note.memo"), cfg = dir.file("import.ini");
    writeWholeFile(odd, "Memo text.");
    writeWholeFile(cfg,
                   "[S]\nTextImportExtns=memo\nFixedFieldName0=Kind\nFixedFieldValue0=memo\n"
                   "ImportTempDir=" +
                       dir.path().string() + "\n");
    record = nullptr;
    ASSERT_EQ(imexImportFileToStructureWithConfig(odd.c_str(), &record, cfg.c_str(), "S"), 0);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->content, "\nMemo text.");  // the reader keeps the tag's line end
    ASSERT_EQ(record->fieldCount, 2);               // Kind and the section number
    EXPECT_STREQ(record->fieldNames[0], "Kind");
    imexDestroyStructure(record);
}

TEST(ImportEntryPoints, ImportSlaveRunsTheImport) {
    const std::string slave = std::string(SAPIOLUX_BIN_DIR) + "/importslave";
    if (!std::filesystem::exists(slave)) GTEST_SKIP() << "importslave not built";
    setenv("IMPORTSLAVE", slave.c_str(), 1);
    TempDir dir;
    const std::string file = dir.file("n.txt"), out = dir.file("out.idx");
    writeWholeFile(file, "Imported by the slave.");
    const char* inputs[] = {file.c_str()};
    EXPECT_EQ(imexSimpleImportWithSlave(out.c_str(), "SlaveDb", 1, inputs), 1);
    std::vector<std::string> docs = documents(readWholeFile(out));
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_NE(docs[0].find("#IXODBNAME SlaveDb\n"), std::string::npos);
    unsetenv("IMPORTSLAVE");
}

}  // namespace
