// Attachments that no handler imports are named but not written: the names they get,
// the refusals reported under those names, and the files left behind, must be what
// writing them would have given.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imex.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

// Parts 1 and 2 have no importer for their type; part 2's name is the numbered name
// part 1 ends up with when "photo.jpg" already exists. Part 3 is imported.
const char* kMixed =
    "Message-ID: <mixed@x>\n"
    "Subject: Pictures and notes\n"
    "Date: Thu, 18 Oct 2012 22:48:39 -0700\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"B\"\n"
    "\n"
    "--B\n"
    "Content-Type: text/plain\n"
    "\n"
    "Body text\n"
    "--B\n"
    "Content-Type: image/jpeg\n"
    "Content-Disposition: attachment; filename=\"photo.jpg\"\n"
    "\n"
    "not really a picture\n"
    "--B\n"
    "Content-Type: image/jpeg\n"
    "Content-Disposition: attachment; filename=\"2photo.jpg\"\n"
    "\n"
    "another one\n"
    "--B\n"
    "Content-Type: text/plain\n"
    "Content-Disposition: attachment; filename=\"photo.txt\"\n"
    "\n"
    "notes about the pictures\n"
    "--B--\n";

struct Outcome {
    std::vector<std::string> refused;  // details of "Unhandled file extension" errors
    std::string idx;
};

Outcome importMessage(const std::string& message, const std::string& tmp, const std::string& out,
                      const char* keepDir = nullptr) {
    imexInit();
    ImportContext* context = imexCreate();
    ImportArgs* args = imargsCreate();
    const char* inputs[] = {message.c_str()};
    imargsSetInputs(args, 1, inputs);
    imargsSetOutputFilename(args, out.c_str());
    imargsSetTempDirectory(args, tmp.c_str());
    if (keepDir) imargsSetEmailAttachments(args, keepDir, 1, 1);
    imexImport(context, args, nullptr);
    Outcome run;
    for (int32_t i = 0; i < imexGetErrorCount(context); ++i) {
        ImexError e{};
        if (imexGetErrorEntry(context, i, &e) == 0 && e.code == -2 && e.detail &&
            std::string(e.message) == "Applying Import filter: Unhandled file extension")
            run.refused.push_back(e.detail);
    }
    imargsDestroy(args);
    imexDestroy(context);
    if (fs::exists(out)) run.idx = readWholeFile(out);
    return run;
}

TEST(EmlAttachmentNames, UnimportedTypesAreNamedAsIfWrittenAndLeaveNothing) {
    TempDir dir;
    const std::string tmp = dir.file("tmp/");
    fs::create_directories(tmp);
    writeWholeFile(tmp + "photo.jpg", "the user's own file");
    writeWholeFile(dir.file("m.eml"), kMixed);

    Outcome run = importMessage(dir.file("m.eml"), tmp, dir.file("out.idx"));
    // Part 1 steps past the existing file to "2photo.jpg"; part 2, named just that,
    // must step past the name part 1 holds although nothing was created under it.
    ASSERT_EQ(run.refused.size(), 2u);
    EXPECT_EQ(run.refused[0], tmp + "2photo.jpg");
    EXPECT_EQ(run.refused[1], tmp + "32photo.jpg");
    // The imported attachment and the message are written; nothing is left behind but
    // the file that was there.
    EXPECT_NE(run.idx.find("#IXOREFERENCE <mixed@x>-3-photo.txt\n"), std::string::npos);
    EXPECT_NE(run.idx.find("notes about the pictures"), std::string::npos);
    EXPECT_NE(run.idx.find("#IXOREFERENCE <mixed@x>\n"), std::string::npos);
    EXPECT_EQ(run.idx.find("NUMATTACH"), std::string::npos);  // none kept, none listed
    EXPECT_EQ(readWholeFile(tmp + "photo.jpg"), "the user's own file");
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp), fs::directory_iterator()), 1);

    // The names are free again for the next message.
    fs::remove(tmp + "photo.jpg");
    Outcome again = importMessage(dir.file("m.eml"), tmp, dir.file("out2.idx"));
    ASSERT_EQ(again.refused.size(), 2u);
    EXPECT_EQ(again.refused[0], tmp + "photo.jpg");
    EXPECT_EQ(again.refused[1], tmp + "2photo.jpg");
    EXPECT_TRUE(fs::is_empty(tmp));
}

// Kept attachments are written whatever their type, under the same names.
TEST(EmlAttachmentNames, KeptAttachmentsOfEveryTypeAreWritten) {
    TempDir dir;
    const std::string keep = dir.file("keep/");
    fs::create_directories(keep);
    writeWholeFile(keep + "photo.jpg", "the user's own file");
    writeWholeFile(dir.file("m.eml"), kMixed);
    Outcome run =
        importMessage(dir.file("m.eml"), dir.file("tmp/"), dir.file("out.idx"), keep.c_str());
    ASSERT_EQ(run.refused.size(), 2u);
    EXPECT_EQ(run.refused[0], keep + "2photo.jpg");
    EXPECT_EQ(run.refused[1], keep + "32photo.jpg");
    EXPECT_EQ(readWholeFile(keep + "photo.jpg"), "the user's own file");
    EXPECT_EQ(readWholeFile(keep + "2photo.jpg"), "not really a picture");
    EXPECT_EQ(readWholeFile(keep + "32photo.jpg"), "another one");
    EXPECT_TRUE(fs::exists(keep + "photo.txt"));
    EXPECT_NE(run.idx.find("NUMATTACH=\"3\""), std::string::npos);
}

// An existing file under an attachment's side-file name moves the attachment to the
// next name, as an existing attachment name does, and is neither read nor removed.
TEST(EmlAttachmentNames, ExistingSideFileNameIsSteppedOverAndKept) {
    TempDir dir;
    const std::string tmp = dir.file("tmp/");
    fs::create_directories(tmp);
    const std::string foreign = "#IXOREFERENCE foreign\n#IXOFIELD Planted=\"yes\"\n";
    writeWholeFile(tmp + "photo.txt.idx", foreign);
    writeWholeFile(dir.file("m.eml"), kMixed);
    Outcome run = importMessage(dir.file("m.eml"), tmp, dir.file("out.idx"));
    EXPECT_NE(run.idx.find("#IXOREFERENCE <mixed@x>-3-photo.txt\n"), std::string::npos);
    EXPECT_NE(run.idx.find("#IXOFILENAME " + tmp + "4photo.txt\n"), std::string::npos);
    EXPECT_NE(run.idx.find("ParentDocument=\"<mixed@x>\""), std::string::npos);
    EXPECT_EQ(run.idx.find("Planted"), std::string::npos);
    EXPECT_EQ(run.idx.find("foreign"), std::string::npos);
    EXPECT_EQ(readWholeFile(tmp + "photo.txt.idx"), foreign);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp), fs::directory_iterator()), 1);
}

}  // namespace
