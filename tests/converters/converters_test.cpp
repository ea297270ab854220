// Converter handlers with real converter programs on documents made here (PDF, RTF,
// OpenDocument, Word 2007 archives written byte by byte), their fallbacks when a
// converter cannot be started, and a converter that hangs or crashes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "import/importctrl.h"
#include "import/parsers.h"
#include "tests/common/pdfmaker.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

// A one-page PDF showing text, with its title in the information dictionary.
std::string makePdf(const std::string& title, const std::string& text) {
    return testing_support::onePagePdf("BT /F1 14 Tf 72 720 Td (" + text + ") Tj ET", title);
}

void put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}
void putZeros16(std::string& s, int count) {
    for (int i = 0; i < count; ++i) put16(s, 0);
}

// The entries of a folder.
size_t countEntries(const fs::path& folder) {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// A zip archive with stored (uncompressed) members, in the given order.
std::string makeZip(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string zip, central;
    for (const auto& [name, data] : members) {
        uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        uint32_t offset = static_cast<uint32_t>(zip.size());
        put32(zip, 0x04034b50);
        put16(zip, 20);
        putZeros16(zip, 3);  // flags, method (stored), time
        put16(zip, 0x21);
        put32(zip, crc);
        put32(zip, static_cast<uint32_t>(data.size()));
        put32(zip, static_cast<uint32_t>(data.size()));
        put16(zip, static_cast<uint32_t>(name.size()));
        put16(zip, 0);
        zip += name + data;
        put32(central, 0x02014b50);
        put16(central, 20);
        put16(central, 20);
        putZeros16(central, 3);
        put16(central, 0x21);
        put32(central, crc);
        put32(central, static_cast<uint32_t>(data.size()));
        put32(central, static_cast<uint32_t>(data.size()));
        put16(central, static_cast<uint32_t>(name.size()));
        putZeros16(central, 4);  // extra, comment, disk, internal attributes
        put32(central, 0);
        put32(central, offset);
        central += name;
    }
    uint32_t centralOffset = static_cast<uint32_t>(zip.size());
    zip += central;
    put32(zip, 0x06054b50);
    putZeros16(zip, 2);
    put16(zip, static_cast<uint32_t>(members.size()));
    put16(zip, static_cast<uint32_t>(members.size()));
    put32(zip, static_cast<uint32_t>(central.size()));
    put32(zip, centralOffset);
    put16(zip, 0);
    return zip;
}

std::string makeOdt(const std::string& title, const std::string& text) {
    const char* ns =
        " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
        " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
        " xmlns:dc=\"http://purl.org/dc/elements/1.1/\" office:version=\"1.2\"";
    return makeZip({
        {"mimetype", "application/vnd.oasis.opendocument.text"},
        {"META-INF/manifest.xml",
         "<?xml version=\"1.0\"?><manifest:manifest "
         "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
         "<manifest:file-entry manifest:full-path=\"/\" "
         "manifest:media-type=\"application/vnd.oasis.opendocument.text\"/>"
         "<manifest:file-entry manifest:full-path=\"content.xml\" "
         "manifest:media-type=\"text/xml\"/>"
         "<manifest:file-entry manifest:full-path=\"meta.xml\" manifest:media-type=\"text/xml\"/>"
         "</manifest:manifest>"},
        {"content.xml", std::string("<?xml version=\"1.0\"?><office:document-content") + ns +
                            "><office:body><office:text><text:p>" + text +
                            "</text:p></office:text></office:body></office:document-content>"},
        {"meta.xml", std::string("<?xml version=\"1.0\"?><office:document-meta") + ns +
                         "><office:meta><dc:title>" + title +
                         "</dc:title></office:meta></office:document-meta>"},
    });
}

std::string makeDocx(const std::string& title, const std::string& text) {
    return makeZip({
        {"[Content_Types].xml",
         "<?xml version=\"1.0\"?><Types "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
         "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
        {"word/document.xml",
         "<?xml version=\"1.0\"?><w:document "
         "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>"
         "<w:p><w:r><w:t>" +
             text + "</w:t></w:r></w:p></w:body></w:document>"},
        {"docProps/core.xml",
         "<?xml version=\"1.0\"?><cp:coreProperties "
         "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>" +
             title + "</dc:title></cp:coreProperties>"},
    });
}

std::string makeRtf(const std::string& title, const std::string& text) {
    return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}{\\info{\\title " + title + "}}\\pard " +
           text + "\\par}\n";
}

struct Error {
    int32_t code, severity;
    std::string message, detail;
};

class ConvertersTest : public ::testing::Test {
  protected:
    TempDir dir;
    ImportContext* context = nullptr;
    ImportArgs args;

    void SetUp() override {
        imexInit();
        context = imexCreate();
        ASSERT_NE(context, nullptr);
        args.tempDirectory = dir.file("tmp");
        args.slaveTimeout = 20;
        importSetConverterDirectory("");
    }
    void TearDown() override {
        {
            std::lock_guard guard(importSlaveLock());
            importStopConverterSlaves();
        }
        imexDestroy(context);
        importSetConverterDirectory("");
    }

    // Runs a handler on file, the document filled into spec.
    int run(ImportHandler handler, const std::string& file, SrcFileSpec& spec) {
        std::vector<char> copy(file.size() + 256, '\0');
        std::copy(file.begin(), file.end(), copy.begin());
        return handler(context, &args, copy.data(), copy.size(), file.c_str(), &spec, nullptr);
    }

    std::vector<Error> errors() {
        std::vector<Error> out;
        for (int32_t i = 0; i < imexGetErrorCount(context); ++i) {
            ImexError e{};
            if (imexGetErrorEntry(context, i, &e) == 0)
                out.push_back(
                    {e.code, e.severity, e.message ? e.message : "", e.detail ? e.detail : ""});
        }
        return out;
    }
    int countErrors(const std::string& message) {
        int n = 0;
        for (const Error& e : errors()) n += e.message == message;
        return n;
    }
    // Nothing converted is left behind in the temporary folder.
    void expectNoLeftovers() {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir.file("tmp"), ec))
            ADD_FAILURE() << "left behind: " << e.path();
    }
};

TEST_F(ConvertersTest, RealDocumentsBecomeTheirText) {
    struct Case {
        std::string name, bytes, text, title;
        ImportHandler handler;
    } cases[] = {
        {"report.pdf", makePdf("Orchard Report", "Quarterly harvest of the orchard"),
         "Quarterly harvest of the orchard", "Orchard Report", importPdfConverter},
        {"letter.rtf", makeRtf("Letter Title", "Dear neighbour, the fence is mended."),
         "the fence is mended", "Letter Title", importDocumentConverter},
        // Many ".doc" files are RTF inside: the actual type decides the converter.
        {"memo.doc", makeRtf("Memo", "Meeting moved to Thursday afternoon."),
         "Meeting moved to Thursday", "", importDocumentConverter},
        {"notes.odt", makeOdt("Field Notes", "Heron seen at the lake shore."),
         "Heron seen at the lake shore.", "Field Notes", importDocumentConverter},
        {"plan.docx", makeDocx("Garden Plan", "Plant tomatoes after the last frost."),
         "Plant tomatoes after the last frost.", "Garden Plan", importDocumentConverter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = dir.file(c.name);
        writeWholeFile(file, c.bytes);
        SrcFileSpec spec;
        ASSERT_EQ(run(c.handler, file, spec), 0)
            << (errors().empty() ? "" : errors().back().message);
        ASSERT_TRUE(spec.content.has_value());
        EXPECT_NE(spec.content->find(c.text), std::string::npos) << *spec.content;
        if (!c.title.empty()) {
            ASSERT_TRUE(spec.title.has_value());
            EXPECT_NE(spec.title->find(c.title), std::string::npos) << *spec.title;
        }
        EXPECT_EQ(spec.filename.value_or(""), file);
        EXPECT_EQ(spec.anchorReference, 1);
    }
    expectNoLeftovers();
}

TEST_F(ConvertersTest, SideFileIsMergedAndCorruptDocumentsAreReported) {
    std::string file = dir.file("annual.pdf");
    writeWholeFile(file, makePdf("Annual", "Revenue grew in the north"));
    writeWholeFile(file + ".idx", "#IXOREFERENCE http://example.invalid/annual\n#IXOENDDOC\n");
    SrcFileSpec spec;
    ASSERT_EQ(run(importPdfConverter, file, spec), 0);
    EXPECT_EQ(spec.reference.value_or(""), "http://example.invalid/annual");

    // Not a PDF at all, a PDF cut short and a ".doc" of no known type: conversion
    // failures, nothing imported.
    std::string bad = dir.file("broken.pdf");
    writeWholeFile(bad, "%PDF-1.4\nthis is not really a PDF\n");
    std::string cut = dir.file("cut.pdf");
    const std::string whole = makePdf("Cut", "Only the first half arrived");
    writeWholeFile(cut, whole.substr(0, whole.size() / 2));
    std::string junk = dir.file("junk.doc");
    writeWholeFile(junk, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    SrcFileSpec s1, s2, s4;
    EXPECT_EQ(run(importPdfConverter, bad, s1), -9);
    EXPECT_EQ(run(importPdfConverter, cut, s4), -9);
    EXPECT_EQ(run(importDocumentConverter, junk, s2), -9);
    EXPECT_FALSE(s1.content.has_value());
    EXPECT_FALSE(s4.content.has_value());
    EXPECT_EQ(countErrors("Plugin parser: Conversion failed"), 3);

    // Empty files are reported as such and never reach a converter.
    for (ImportHandler handler : {importPdfConverter, importDocumentConverter}) {
        std::string empty = dir.file("empty.pdf");
        writeWholeFile(empty, "");
        SrcFileSpec s;
        EXPECT_EQ(run(handler, empty, s), -8);
    }
    EXPECT_EQ(countErrors("Plugin parser: Zero length file"), 2);
    EXPECT_EQ(countErrors("Plugin parser: Conversion failed"), 3);

    // Flash files are never converted.
    std::string swf = dir.file("movie.swf");
    writeWholeFile(swf, "FWS\x0a some flash bytes");
    SrcFileSpec s3;
    EXPECT_EQ(run(importFlashConverter, swf, s3), -9);
    EXPECT_EQ(countErrors("Plugin parser: Conversion failed"), 4);
    expectNoLeftovers();
}

TEST_F(ConvertersTest, MissingConvertersAndFallbacks) {
    // No converter at all: each attempt reports the spawn failure and the file is skipped
    // as a plugin error (not as an empty file).
    TempDir empty;
    importSetConverterDirectory(empty.path().string());
    std::string file = dir.file("old.doc");
    writeWholeFile(file, "plain words in an old document file");
    SrcFileSpec spec;
    EXPECT_EQ(run(importDocumentConverter, file, spec), -9);
    std::vector<Error> errs = errors();
    ASSERT_GE(errs.size(), 2u);
    EXPECT_EQ(errs[0].message, "Plugin parser: Couldn't spawn slave");
    EXPECT_EQ(errs[0].code, -9);
    EXPECT_EQ(errs[0].severity, -3);
    EXPECT_EQ(errs[0].detail, "Keyview");
    EXPECT_EQ(countErrors("Plugin parser: Plugin not found"), 2);  // keyview, then binslave
    SrcFileSpec again;
    EXPECT_EQ(run(importDocumentConverter, file, again), -9);
    EXPECT_EQ(countErrors("Plugin parser: Couldn't spawn slave"), 4);
    std::string pdf = dir.file("lost.pdf");
    writeWholeFile(pdf, makePdf("Lost", "No converter for this one"));
    SrcFileSpec third;
    EXPECT_EQ(run(importPdfConverter, pdf, third), -9);
    EXPECT_EQ(countErrors("Plugin parser: Couldn't spawn slave"), 6);

    // Only the fallback converter present: the ".doc" goes through binslave.
    TempDir onlyBinary;
    fs::create_symlink(fs::path(SAPIOLUX_BIN_DIR) / "binslave", onlyBinary.path() / "binslave");
    {
        std::lock_guard guard(importSlaveLock());
        importStopConverterSlaves();
    }
    importSetConverterDirectory(onlyBinary.path().string());
    std::string binary = dir.file("data.doc");
    writeWholeFile(binary, std::string("\x00\x01header\x00\x02", 10) +
                               "Readable words survive extraction" + std::string("\x00\xff", 2));
    SrcFileSpec fromBinary;
    EXPECT_EQ(run(importDocumentConverter, binary, fromBinary), 0);
    EXPECT_NE(fromBinary.content.value_or("").find("Readable words survive extraction"),
              std::string::npos);
    expectNoLeftovers();
}

TEST_F(ConvertersTest, HangingOrCrashingConverterIsRestarted) {
    importSetConverterDirectory(TEST_CONVERTER_DIR);
    args.slaveTimeout = 1;
    std::string ok = dir.file("fine.doc"), hang = dir.file("hang.doc"),
                crash = dir.file("crash.doc");
    for (const auto& f : {ok, hang, crash}) writeWholeFile(f, "x");

    SrcFileSpec first;
    ASSERT_EQ(run(importDocumentConverter, ok, first), 0);
    std::string firstText = first.content.value_or("");
    EXPECT_NE(firstText.find("converted by process"), std::string::npos);

    auto started = std::chrono::steady_clock::now();
    SrcFileSpec hung;
    EXPECT_EQ(run(importDocumentConverter, hang, hung), -9);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::seconds(10));

    SrcFileSpec afterHang;
    ASSERT_EQ(run(importDocumentConverter, ok, afterHang), 0);
    EXPECT_NE(afterHang.content.value_or(""), firstText);  // a new process converted it

    SrcFileSpec crashed, afterCrash;
    EXPECT_EQ(run(importDocumentConverter, crash, crashed), -9);
    ASSERT_EQ(run(importDocumentConverter, ok, afterCrash), 0);
    EXPECT_NE(afterCrash.content.value_or(""), afterHang.content.value_or(""));
    EXPECT_EQ(countErrors("Plugin parser: Conversion failed"), 2);
    expectNoLeftovers();
}

TEST_F(ConvertersTest, ImportThroughTheRegistryWritesTheDocument) {
    ASSERT_EQ(imexRegisterExtension(context, "pdf", importPdfConverter, nullptr), 0);
    ASSERT_EQ(imexRegisterExtension(context, "odt", importDocumentConverter, nullptr), 0);
    std::string pdf = dir.file("a.pdf"), odt = dir.file("b.odt");
    writeWholeFile(pdf, makePdf("First", "Alpha bravo charlie"));
    writeWholeFile(odt, makeOdt("Second", "Delta echo foxtrot"));
    args.inputs = {pdf, odt};
    args.outputFilename = dir.file("out.idx");
    int32_t results[2] = {1, 1};
    EXPECT_EQ(imexImport(context, &args, results), 2);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    std::string idx = readWholeFile(args.outputFilename);
    EXPECT_NE(idx.find("Alpha bravo charlie"), std::string::npos) << idx;
    EXPECT_NE(idx.find("Delta echo foxtrot"), std::string::npos) << idx;
    EXPECT_NE(idx.find("#IXOREFERENCE " + pdf), std::string::npos) << idx;
}

TEST_F(ConvertersTest, ConvertedPagesNeverReplaceFilesOfTheirName) {
    // The user's own "report.rtf.htm", in the temporary folder and beside the document,
    // and a symbolic link planted under the same name: all left as they were.
    fs::create_directories(dir.file("tmp"));
    writeWholeFile(dir.file("tmp/report.rtf.htm"), "the user's page");
    writeWholeFile(dir.file("report.rtf.htm"), "the user's other page");
    writeWholeFile(dir.file("target"), "linked file");
    fs::create_symlink(dir.file("target"), dir.file("tmp/report.rtf-.htm"));
    const std::string file = dir.file("report.rtf");
    writeWholeFile(file, makeRtf("Report", "Figures for the spring quarter."));
    SrcFileSpec spec;
    ASSERT_EQ(run(importDocumentConverter, file, spec), 0);
    EXPECT_NE(spec.content.value_or("").find("spring quarter"), std::string::npos);
    EXPECT_EQ(readWholeFile(dir.file("tmp/report.rtf.htm")), "the user's page");
    EXPECT_EQ(readWholeFile(dir.file("report.rtf.htm")), "the user's other page");
    EXPECT_EQ(readWholeFile(dir.file("target")), "linked file");
    EXPECT_TRUE(fs::is_symlink(dir.file("tmp/report.rtf-.htm")));
    // Only what the conversion made is gone again.
    EXPECT_EQ(countEntries(dir.file("tmp")), 2u);

    // Without a temporary folder of the caller's, the page is made in the private
    // folder of the process, not beside the document or in the working folder.
    args.tempDirectory.clear();
    SrcFileSpec again;
    ASSERT_EQ(run(importDocumentConverter, file, again), 0);
    EXPECT_EQ(readWholeFile(dir.file("report.rtf.htm")), "the user's other page");
}

TEST_F(ConvertersTest, RenderedPageIsKeptOnceUnderTheDocumentsName) {
    const std::string file = dir.file("report.rtf");
    writeWholeFile(file, makeRtf("Report", "Figures for the autumn quarter."));
    args.renderedMoveTo = dir.file("rendered");
    args.renderedFieldName = "RENDERED";
    SrcFileSpec spec;
    ASSERT_EQ(run(importDocumentConverter, file, spec), 0);
    const std::string kept = dir.file("rendered/report.rtf.htm");
    EXPECT_STREQ(srcFileSpecGetField(&spec, "RENDERED"), kept.c_str());
    EXPECT_NE(readWholeFile(kept).find("autumn quarter"), std::string::npos);
    EXPECT_EQ(countEntries(dir.file("rendered")), 1u);
    expectNoLeftovers();
}

}  // namespace
