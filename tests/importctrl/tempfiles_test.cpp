// Temporary files of the import library: made exclusively, never in the working folder
// unless asked, never through a planted symbolic link, and only its own removed;
// imports of XML, delimited and IDX files of several documents leave a user's files of
// the old temporary names alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "imex.h"
#include "import/delimitedparse.h"
#include "import/importctrl.h"
#include "import/tempfiles.h"
#include "import/xmlparser.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

TEST(ImportTempFile, ExclusiveNeverThroughALinkAndOnlyItsOwnRemoved) {
    TempDir dir;
    const std::string folder = dir.path().string();
    writeWholeFile(dir.file("victim"), "precious");
    fs::create_symlink(dir.file("victim"), dir.file("planted"));
    // Creation refuses whatever stands under the name, a link above all.
    EXPECT_LT(importCreateExclusive(dir.file("planted")), 0);
    EXPECT_EQ(importCreateExclusiveFile(dir.file("victim")), nullptr);
    EXPECT_EQ(readWholeFile(dir.file("victim")), "precious");

    std::string made;
    {
        ImportTempFile t;
        ASSERT_TRUE(t.create(folder, "x-", ".tmp"));
        made = t.path();
        struct stat st {};
        ASSERT_EQ(::stat(made.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ImportTempFile other;
        ASSERT_TRUE(other.create(folder, "x-", ".tmp"));
        EXPECT_NE(other.path(), made);
    }
    EXPECT_FALSE(fs::exists(made));

    // Something put under the name after creation (here a link) is not removed.
    ImportTempFile swapped;
    ASSERT_TRUE(swapped.create(folder, "y-", ".tmp"));
    fs::remove(swapped.path());
    fs::create_symlink(dir.file("victim"), swapped.path());
    const std::string link = swapped.path();
    swapped.remove();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readWholeFile(dir.file("victim")), "precious");

    // A kept file stays.
    ImportTempFile kept;
    ASSERT_TRUE(kept.create(folder, "z-", ".tmp"));
    const std::string keptName = kept.release();
    kept.remove();
    EXPECT_TRUE(fs::exists(keptName));
    EXPECT_FALSE(kept.create("", "a", "b"));

    // The private folder of the process: under TMPDIR, the user's only.
    const std::string run = importRunTempFolder();
    ASSERT_FALSE(run.empty());
    EXPECT_EQ(fs::status(run).permissions() & fs::perms::all, fs::perms::owner_all);
    ImportArgs args;
    EXPECT_EQ(importTempFolder(&args), run);
    args.tempDirectory = folder;
    EXPECT_EQ(importTempFolder(&args), folder + "/");
}

TEST(ImportTempFile, XmlDelimitedAndIdxImportsLeaveFilesOfTheOldTemporaryNames) {
    TempDir dir;
    // The user's own files, named as the importers' temporary files used to be, in the
    // working folder (the temporary folder when none is set).
    for (int i = 0; i < 3; ++i)
        writeWholeFile(dir.file("tempndx" + std::to_string(i) + ".ndx"),
                       "user file " + std::to_string(i));
    writeWholeFile(dir.file("item.xml"), "<item><body>Tide tables for May</body></item>");
    writeWholeFile(dir.file("list.dlm"), "B:alpha\nB:bravo\nB:charlie\n");
    writeWholeFile(dir.file("batch.ndx"),
                   "#IXOREFERENCE \n#IXOCONTENT\nfirst of batch\n#IXOENDDOC\n"
                   "#IXOREFERENCE \n#IXOCONTENT\nsecond of batch\n#IXOENDDOC\n");
    imexInit();
    ImportContext* context = imexCreate();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(imexRegisterExtension(context, "xml", importXmlHandler, nullptr), 0);
    ASSERT_EQ(imexRegisterExtension(context, "dlm", importDelimitedHandler, nullptr), 0);
    ImportArgs args;
    args.outputFilename = "out.idx";
    ImportXmlRule body;
    body.field = "IXOCONTENT";
    body.tags = {"body"};
    body.stripTags = 1;
    body.entryOnly = 1;
    args.xmlRules = {body};
    ImportDelimited d;
    d.docEnd = "\n";
    d.names = {"IXOCONTENT"};
    d.starts = {"B:"};
    d.ends = {"\n"};
    args.delimited = d;
    args.inputs = {"item.xml", "list.dlm", "batch.ndx"};
    std::vector<int32_t> results(3, 99);
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(imexImport(context, &args, results.data()), 3);
    fs::current_path(before);
    imexDestroy(context);
    EXPECT_EQ(results, (std::vector<int32_t>{0, 0, 0}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(readWholeFile(dir.file("tempndx" + std::to_string(i) + ".ndx")),
                  "user file " + std::to_string(i));

    // Every document has a reference of its own: the file's, with its position.
    const std::string idx = readWholeFile(dir.file("out.idx"));
    for (const char* line : {"#IXOREFERENCE item.xml\n", "#IXOREFERENCE list.dlm#1\n",
                             "#IXOREFERENCE list.dlm#2\n", "#IXOREFERENCE list.dlm#3\n",
                             "#IXOREFERENCE batch.ndx#1\n", "#IXOREFERENCE batch.ndx#2\n"})
        EXPECT_NE(idx.find(line), std::string::npos) << line << idx;
    EXPECT_EQ(idx.find("tempndx"), std::string::npos) << idx;
    // Nothing else appeared in the working folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 7);
}

}  // namespace
