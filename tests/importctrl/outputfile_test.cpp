// The output file of an import: kept open for the whole import yet appended document by
// document, cut back to the last whole document when a write fails part way, and shared
// correctly between nested imports and saves made outside any import.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imex.h"
#include "import/importctrl.h"
#include "import/srcfile_spec.h"
#include "tests/common/tempdir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

struct Import {
    ImportContext* context = imexCreate();
    ImportArgs* args = imargsCreate();
    Import() { imexInit(); }
    ~Import() {
        imargsDestroy(args);
        imexDestroy(context);
    }
    int run(const std::vector<std::string>& inputs, int32_t* results) {
        std::vector<const char*> names;
        for (const std::string& i : inputs) names.push_back(i.c_str());
        imargsSetInputs(args, static_cast<int32_t>(names.size()), names.data());
        return imexImport(context, args, results);
    }
};

size_t countDocuments(const std::string& idx) {
    size_t n = 0;
    for (size_t pos = 0; (pos = idx.find("\n#IXOENDDOC\n", pos)) != std::string::npos; ++pos) ++n;
    return n;
}

// What the probe handler saw of the output file when it was called, one entry a call.
std::vector<std::string> gSeen;
std::string gOutput;

int probeHandler(ImportContext*, ImportArgs*, char*, size_t, const char* name, SrcFileSpec* spec,
                 ImportEntry*) {
    gSeen.push_back(fs::exists(gOutput) ? readWholeFile(gOutput) : std::string("<none>"));
    srcFileSpecSetContent(spec, std::string("probe words from ") + name);
    return 0;
}

// Lowers the file-size limit of the process for the life of the object; writes past
// it fail (EFBIG) instead of raising SIGXFSZ.
struct FileSizeLimit {
    rlimit saved{};
    sighandler_t handler;
    explicit FileSizeLimit(rlim_t bytes) {
        handler = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit lower = saved;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, handler);
    }
};

TEST(ImportOutput, EveryDocumentIsOnDiskBeforeTheNextOneStarts) {
    TempDir dir;
    gOutput = dir.file("out.idx");
    gSeen.clear();
    const std::string kept = "#IXOREFERENCE earlier\n#IXOCONTENT\nold\n#IXOENDDOC\n";
    writeWholeFile(gOutput, kept);
    Import imp;
    ASSERT_EQ(imexRegisterExtension(imp.context, "probe", probeHandler, nullptr), 0);
    imargsSetOutputFilename(imp.args, gOutput.c_str());
    std::vector<std::string> inputs;
    for (int i = 0; i < 3; ++i) {
        inputs.push_back(dir.file("p" + std::to_string(i) + ".probe"));
        writeWholeFile(inputs.back(), "x");
    }
    int32_t results[3];
    EXPECT_EQ(imp.run(inputs, results), 3);

    // The handler of document k saw the earlier content and the k documents before it.
    ASSERT_EQ(gSeen.size(), 3u);
    for (size_t k = 0; k < gSeen.size(); ++k) {
        EXPECT_EQ(gSeen[k].compare(0, kept.size(), kept), 0);
        EXPECT_EQ(countDocuments(gSeen[k]), k + 1);
    }
    const std::string out = readWholeFile(gOutput);
    EXPECT_EQ(countDocuments(out), 4u);
    EXPECT_NE(out.find("probe words from " + inputs[2]), std::string::npos);
    // The file is closed once the import returns: another import appends after it.
    EXPECT_EQ(imp.run({inputs[0]}, results), 1);
    EXPECT_EQ(countDocuments(readWholeFile(gOutput)), 5u);
}

TEST(ImportOutput, FailedWriteIsCutBackAndLaterDocumentsStillSaved) {
    TempDir dir;
    const std::string out = dir.file("out.idx");
    const std::string a = dir.file("a.txt"), big = dir.file("big.txt"), c = dir.file("c.txt");
    writeWholeFile(a, "first small document");
    std::string words;
    while (words.size() < 20000) words += "lots of words in a big document ";
    writeWholeFile(big, words);
    writeWholeFile(c, "third small document");
    Import imp;
    imargsSetOutputFilename(imp.args, out.c_str());
    int32_t results[3] = {1, 1, 1};
    {
        // Room for the small documents, not for the big one: its write stops part way.
        FileSizeLimit limit(8192);
        EXPECT_EQ(imp.run({a, big, c}, results), 2);
    }
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], -6);
    EXPECT_EQ(results[2], 0);
    const std::string text = readWholeFile(out);
    EXPECT_EQ(countDocuments(text), 2u);
    EXPECT_EQ(text.find("lots of words"), std::string::npos);
    EXPECT_NE(text.find("first small document"), std::string::npos);
    EXPECT_NE(text.find("third small document"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 12), "\n#IXOENDDOC\n");

    // The same failure for a document saved outside an import.
    {
        FileSizeLimit limit(8192);
        EXPECT_EQ(importProcessInput(imp.context, imp.args, big.c_str()), -6);
    }
    EXPECT_EQ(readWholeFile(out), text);
}

TEST(ImportOutput, NestedScopesAndSavesOutsideAnImport) {
    TempDir dir;
    const std::string out = dir.file("out.idx");
    const std::string a = dir.file("a.txt");
    writeWholeFile(a, "some words to import");
    Import imp;
    imargsSetOutputFilename(imp.args, out.c_str());
    {
        const ImportOutputScope outer(imp.context, imp.args);
        ImportOutputFile* file = imp.context->output.get();
        ASSERT_NE(file, nullptr);
        {
            const ImportOutputScope inner(imp.context, imp.args);
            EXPECT_EQ(imp.context->output.get(), file);
        }
        EXPECT_EQ(imp.context->output.get(), file);
        // Nothing saved yet: no file is made.
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(importProcessInput(imp.context, imp.args, a.c_str()), 0);
        // A save for another output file does not go into the open one.
        const std::string other = dir.file("other.idx");
        imargsSetOutputFilename(imp.args, other.c_str());
        EXPECT_EQ(importProcessInput(imp.context, imp.args, a.c_str()), 0);
        EXPECT_EQ(countDocuments(readWholeFile(other)), 1u);
        imargsSetOutputFilename(imp.args, out.c_str());
    }
    EXPECT_EQ(imp.context->output, nullptr);
    EXPECT_EQ(importProcessInput(imp.context, imp.args, a.c_str()), 0);
    EXPECT_EQ(countDocuments(readWholeFile(out)), 2u);

    // An output that cannot be made fails every time without leaving anything behind.
    ImportOutputFile missing(dir.file("no/such/folder/out.idx"));
    EXPECT_FALSE(missing.append("doc"));
    EXPECT_FALSE(missing.append("doc"));
    EXPECT_FALSE(fs::exists(dir.file("no")));
}

}  // namespace
