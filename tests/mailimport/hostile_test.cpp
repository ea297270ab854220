// Messages written by a hostile or careless sender: attachments that are IDX, XML or
// delimited files must not add documents of their own choosing, temporary attachment
// files never go to the working folder, and the header block ends at its first blank
// line whatever the line ends, so later body lines never hide the parts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "imex.h"
#include "import/emlimport.h"
#include "import/emlparse.h"
#include "import/importargs.h"
#include "import/importctrl.h"
#include "import/xmlparser.h"
#include "memutil.h"
#include "support/strutil.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

std::string base64(const std::string& in) {
    char* b = strBase64Encode(reinterpret_cast<const unsigned char*>(in.data()),
                              static_cast<int32_t>(in.size()), 0);
    std::string out = b ? b : "";
    memFree(b);
    return out;
}

// A message with one text part and one attachment of the given name and bytes.
std::string messageWith(const std::string& name, const std::string& bytes) {
    return "Message-ID: <victim@x>\n"
           "Subject: Quarterly figures\n"
           "Date: Thu, 18 Oct 2012 22:48:39 -0700\n"
           "MIME-Version: 1.0\n"
           "Content-Type: multipart/mixed; boundary=\"B\"\n"
           "\n"
           "--B\n"
           "Content-Type: text/plain\n"
           "\n"
           "See the attachment.\n"
           "--B\n"
           "Content-Type: application/octet-stream\n"
           "Content-Disposition: attachment; filename=\"" +
           name +
           "\"\n"
           "Content-Transfer-Encoding: base64\n"
           "\n" +
           base64(bytes) + "\n--B--\n";
}

// The documents of an IDX file.
std::vector<std::string> documents(const std::string& file) {
    std::vector<std::string> docs;
    if (!fs::exists(file)) return docs;
    const std::string all = readWholeFile(file);
    size_t pos = 0, end;
    // A document ends with the line "#IXOENDDOC" (the tag may stand inside a line).
    while ((end = all.find("\n#IXOENDDOC\n", pos)) != std::string::npos) {
        docs.push_back(all.substr(pos, end + 1 - pos));
        pos = end + 12;
    }
    return docs;
}

struct Importer {
    ImportContext* context = nullptr;
    ImportArgs* args = nullptr;
    Importer() {
        imexInit();
        context = imexCreate();
        args = imargsCreate();
    }
    ~Importer() {
        imargsDestroy(args);
        imexDestroy(context);
    }
    std::vector<std::string> run(const std::string& input, const std::string& output) {
        const char* names[] = {input.c_str()};
        imargsSetInputs(args, 1, names);
        imargsSetOutputFilename(args, output.c_str());
        imexImport(context, args, nullptr);
        return documents(output);
    }
};

const char* kForeignIdx =
    "#IXOREFERENCE http://spoofed/\n#IXOTITLE\nSpoofed\n#IXOCONTENT\nplanted text\n"
    "#IXOENDDOC\n"
    "#IXOREFERENCE http://spoofed/two\n#IXOCONTENT\nsecond planted text\n#IXOENDDOC\n";

TEST(HostileAttachments, IdxXmlAndDelimitedAttachmentsAreTextUnderTheMessage) {
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"evil.ndx", kForeignIdx},
        {"one.ndx", "#IXOREFERENCE http://spoofed/\n#IXOCONTENT\nplanted text\n#IXOENDDOC\n"},
        {"evil.xml", "<d><r>http://spoofed/</r><c>planted text</c></d>"},
        {"evil.dlm", "R:http://spoofed/|C:planted text\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string msg = dir.file("m.eml");
        writeWholeFile(msg, messageWith(c.name, c.bytes));
        Importer imp;
        imargsSetTempDirectory(imp.args, dir.file("tmp/").c_str());
        // XML and delimited files are imported by rules that take the reference from
        // the file; for an attachment they must not.
        imexRegisterExtension(imp.context, "xml", importXmlHandler, nullptr);
        imexRegisterExtension(imp.context, "dlm", gDelimitedImportHandler, nullptr);
        ImportXmlRule ref, content;
        ref.field = "IXOREFERENCE";
        ref.tags = {"r"};
        ref.stripTags = 1;
        ref.entryOnly = 1;
        content.field = "IXOCONTENT";
        content.tags = {"c"};
        content.stripTags = 1;
        content.entryOnly = 1;
        imp.args->xmlRules = {ref, content};
        ImportDelimited d;
        d.docEnd = "\n";
        d.names = {"IXOREFERENCE", "IXOCONTENT"};
        d.starts = {"R:", "C:"};
        d.ends = {"|", "\n"};
        imp.args->delimited = d;

        const auto docs = imp.run(msg, dir.file("out.idx"));
        ASSERT_EQ(docs.size(), 2u) << c.name;  // the attachment, then the message
        // No tag line names the sender's reference (inside a line it is only text).
        for (const std::string& doc : docs) {
            EXPECT_NE(doc.rfind("#IXOREFERENCE http://spoofed", 0), 0u) << c.name << "\n" << doc;
            EXPECT_EQ(doc.find("\n#IXOREFERENCE http://spoofed"), std::string::npos)
                << c.name << "\n"
                << doc;
        }
        const std::string reference = std::string("#IXOREFERENCE <victim@x>-1-") + c.name;
        EXPECT_EQ(docs[0].rfind(reference, 0), 0u) << c.name << "\n" << docs[0];
        EXPECT_NE(docs[0].find("ParentDocument=\"<victim@x>\""), std::string::npos) << docs[0];
        EXPECT_NE(docs[0].find("planted text"), std::string::npos) << docs[0];
        EXPECT_EQ(docs[1].rfind("#IXOREFERENCE <victim@x>\n", 0), 0u) << docs[1];
    }
}

TEST(HostileAttachments, PassingAttachmentsNeverGoToTheWorkingFolder) {
    TempDir dir;
    const std::string msg = dir.file("m.eml");
    writeWholeFile(msg, messageWith("notes.txt", "attached notes"));
    // A file of the attachment's name in the working folder is neither read, replaced
    // nor removed; nothing is left beside it.
    writeWholeFile(dir.file("notes.txt"), "the user's own notes");
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    std::vector<std::string> docs;
    {
        Importer imp;
        docs = imp.run("m.eml", "out.idx");
    }
    fs::current_path(before);
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_NE(docs[0].find("attached notes"), std::string::npos);
    EXPECT_EQ(readWholeFile(dir.file("notes.txt")), "the user's own notes");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"m.eml", "notes.txt", "out.idx"}));

    // Without a folder of the caller's, they go to a private folder of the process.
    Importer imp;
    const std::string folder = emlAttachmentDirectory(imp.args);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder, "./");
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(HeaderEnd, TheEarliestBlankLineOfAnyKind) {
    struct Case {
        std::string text;
        bool found;
        size_t header, body;
    } cases[] = {
        {"A: 1\nB: 2\n\nbody\r\n\r\nmore", true, 9, 11},  // LF first, CRLF later
        {"A: 1\r\n\nbody", true, 4, 7},
        {"A: 1\n\r\nbody", true, 4, 7},
        {"A: 1\r\n\rbody", true, 4, 7},
        {"\n\nbody", true, 0, 2},
        {"", false, 0, 0},
        {"\n", false, 0, 0},
    };
    for (const Case& c : cases) {
        const EmlHeaderEnd end = emlFindHeaderEnd(c.text);
        EXPECT_EQ(end.found, c.found) << c.text;
        if (!c.found) continue;
        EXPECT_EQ(end.headerLength, c.header) << c.text;
        EXPECT_EQ(end.bodyStart, c.body) << c.text;
    }
}

TEST(HeaderEnd, LfHeadersWithACrLfBlankLineInTheBodyKeepTheirParts) {
    // A CRLF blank line in the last part used to be taken for the header end, so the
    // parts before it were read as header lines and lost.
    std::string mime = messageWith("kept.txt", "kept attachment");
    mime.insert(mime.size() - 6,  // a last part, before the closing boundary
                "--B\nContent-Type: text/plain\n\nclosing words\r\n\r\nafter a blank line\n");
    const EmlMessage m = emlParseMessage(mime);
    bool found = false;
    for (const EmlPart& p : m.parts)
        if (p.fileName && *p.fileName == "kept.txt" && p.hasData) {
            found = true;
            EXPECT_EQ(p.text, "kept attachment");
        }
    EXPECT_TRUE(found);
    ASSERT_TRUE(m.body.has_value());
    EXPECT_NE(m.body->find("See the attachment."), std::string::npos);
}

}  // namespace
