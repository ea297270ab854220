// The mail and news importers: document values, side files, attachments written safely
// and imported as linked documents, the real messages of the shared test data, and
// the news article parser.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "imex.h"
#include "import/emlimport.h"
#include "import/importargs.h"
#include "import/nntpparse.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

const std::string kMailDir = std::string(SAPIOLUX_SHARED_DIR) + "/testdata/mail/eml/";

SrcFileSpec details(const std::string& raw, const ImportArgs* args = nullptr) {
    SrcFileSpec spec;
    EmlMessage m = emlParseMessage(raw);
    emlSetImportDetails(args, m, raw, &spec, nullptr);
    return spec;
}

std::string field(const SrcFileSpec& spec, const char* name) {
    const char* v = srcFileSpecGetField(&spec, name);
    return v ? v : "<none>";
}

// An import context with the mail and news handlers, and an arguments record.
struct Importer {
    ImportContext* context = nullptr;
    ImportArgs* args = nullptr;
    Importer() {
        imexInit();
        context = imexCreate();
        args = imargsCreate();
        imexRegisterExtension(context, "eml", emlImportHandler, nullptr);
        imexRegisterExtension(context, "nntp", nntpImportHandler, nullptr);
    }
    ~Importer() {
        imargsDestroy(args);
        imexDestroy(context);
    }
    // Imports the inputs into output and returns the documents written, split at
    // "#IXOENDDOC".
    std::vector<std::string> run(const std::vector<std::string>& inputs,
                                 const std::string& output) {
        std::vector<const char*> names;
        for (const std::string& i : inputs) names.push_back(i.c_str());
        imargsSetInputs(args, static_cast<int32_t>(names.size()), names.data());
        imargsSetOutputFilename(args, output.c_str());
        imexImport(context, args, nullptr);
        std::vector<std::string> docs;
        if (!fs::exists(output)) return docs;
        std::string all = readWholeFile(output);
        size_t pos = 0, end;
        while ((end = all.find("#IXOENDDOC", pos)) != std::string::npos) {
            docs.push_back(all.substr(pos, end - pos));
            pos = end + 10;
        }
        return docs;
    }
};

TEST(EmlDetails, HeaderFieldsRecipientsAndDate) {
    const std::string raw =
        "To: Ann <ann@x>, bob@y;\r\n carl@z\r\n"
        "Cc: =?utf-8?Q?Zo=C3=AB?= <zoe@x>\r\n"
        "From: =?iso-8859-1?Q?Andr=E9?= <andre@x>\r\n"
        "Subject:   =?utf-8?B?w6l0w6k=?= report  \r\n"
        "Message-ID:  <id-1@x> \r\n"
        "Date: Thu, 18 Oct 2012 22:48:39 -0700\r\n"
        "X-Mailer: Tester 1.0\r\n"
        "\r\n"
        "Body line\r\n";
    SrcFileSpec spec = details(raw);
    EXPECT_EQ(field(spec, "To"), "Ann <ann@x>");
    EXPECT_EQ(field(spec, "To-0"), "Ann <ann@x>");
    EXPECT_EQ(field(spec, "To-1"), "bob@y");
    EXPECT_EQ(field(spec, "To-2"), "carl@z");
    EXPECT_EQ(field(spec, "To-3"), "<none>");
    EXPECT_EQ(field(spec, "Cc"), "Zo\xEB <zoe@x>");
    EXPECT_EQ(field(spec, "From"), "Andr\xE9 <andre@x>");
    EXPECT_EQ(field(spec, "Subject"), "\xE9t\xE9 report");
    EXPECT_EQ(field(spec, "Mailer"), "Tester 1.0");
    EXPECT_EQ(field(spec, "ShortDate"), "Thu, 18 Oct 2012 22:48:39 -0700");
    ASSERT_TRUE(spec.title && spec.reference && spec.date && spec.content);
    EXPECT_EQ(*spec.title, "\xE9t\xE9 report");
    EXPECT_EQ(*spec.reference, "<id-1@x>");
    EXPECT_GT(std::stol(*spec.date), 1350000000L);
    EXPECT_EQ(*spec.content, "Body line\n");

    // Without a Date header the date is now; an unreadable one leaves it unset.
    SrcFileSpec noDate = details("Subject: a\n\nb\n");
    ASSERT_TRUE(noDate.date.has_value());
    EXPECT_NEAR(std::stol(*noDate.date), static_cast<long>(std::time(nullptr)), 5);
    SrcFileSpec badDate = details("Subject: a\nDate: someday\n\nb\n");
    EXPECT_FALSE(badDate.date.has_value());
    EXPECT_EQ(field(badDate, "ShortDate"), "<none>");

    // No header block: nothing is set.
    SrcFileSpec none;
    EmlMessage m = emlParseMessage("\n\nonly body");
    EXPECT_FALSE(emlSetImportDetails(nullptr, m, "\n\nonly body", &none, nullptr));
    EXPECT_FALSE(none.content.has_value());
}

TEST(EmlImport, SideFileReplacesReferenceAndUnreadableFileFails) {
    TempDir dir;
    const std::string msg = dir.file("m.eml");
    writeWholeFile(msg, "Message-ID: <orig@x>\nSubject: S\n\ntext\n");
    writeWholeFile(msg + ".idx", "#IXOREFERENCE email://oe&Inbox&7&100\n#IXOFIELD Folder=Inbox\n");
    Importer imp;
    auto docs = imp.run({msg}, dir.file("out.idx"));
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_NE(docs[0].find("#IXOREFERENCE email://oe&Inbox&7&100"), std::string::npos);
    EXPECT_EQ(docs[0].find("orig@x"), std::string::npos);
    EXPECT_NE(docs[0].find("Folder=\"Inbox\""), std::string::npos);

    SrcFileSpec spec;
    std::string missing = dir.file("missing.eml");
    std::vector<char> copy(missing.begin(), missing.end());
    copy.resize(copy.size() + 256, '\0');
    for (bool exists : {false, true}) {  // missing, then empty
        if (exists) writeWholeFile(missing, "");
        EXPECT_EQ(emlImportHandler(imp.context, imp.args, copy.data(), copy.size(), missing.c_str(),
                                   &spec, nullptr),
                  -8);
    }
}

const char* kWithAttachments =
    "Message-ID: <parent@x>\n"
    "Subject: With files\n"
    "Date: Thu, 18 Oct 2012 22:48:39 -0700\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"B\"\n"
    "\n"
    "--B\n"
    "Content-Type: text/plain\n"
    "\n"
    "Parent text\n"
    "--B\n"
    "Content-Type: text/plain\n"
    "Content-Disposition: attachment; filename=\"../../notes.txt\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "YXR0YWNoZWQgbm90ZXMgYWJvdXQgemVicmFz\n"
    "--B--\n";

TEST(EmlImport, AttachmentsKeptNeverOutsideOrOverwritingAndLinked) {
    TempDir dir;
    const fs::path keep = dir.path() / "keep";
    fs::create_directories(keep);
    writeWholeFile((keep / "notes.txt").string(), "already here");
    const std::string msg = dir.file("m.eml");
    writeWholeFile(msg, kWithAttachments);
    Importer imp;
    imargsSetTempDirectory(imp.args, dir.file("tmp/").c_str());
    // The directory is given without its trailing separator on purpose.
    ASSERT_EQ(imargsSetEmailAttachments(imp.args, keep.string().c_str(), 1, 1), 0);
    auto docs = imp.run({msg}, dir.file("out.idx"));

    // The existing file is untouched; the attachment took the numbered name.
    EXPECT_EQ(readWholeFile((keep / "notes.txt").string()), "already here");
    const fs::path written = keep / "2notes.txt";
    ASSERT_TRUE(fs::exists(written));
    EXPECT_EQ(readWholeFile(written.string()), "attached notes about zebras");
    EXPECT_FALSE(fs::exists(dir.path() / "notes.txt"));
    EXPECT_FALSE(fs::exists(written.string() + ".idx"));  // side file removed
    EXPECT_EQ(std::distance(fs::directory_iterator(keep), fs::directory_iterator()), 2);

    ASSERT_EQ(docs.size(), 2u);  // the attachment, then the message
    EXPECT_NE(docs[0].find("#IXOREFERENCE <parent@x>-1-notes.txt"), std::string::npos);
    EXPECT_NE(docs[0].find("ParentDocument=\"<parent@x>\""), std::string::npos);
    EXPECT_NE(docs[0].find("zebras"), std::string::npos);
    EXPECT_NE(docs[1].find("#IXOREFERENCE <parent@x>"), std::string::npos);
    EXPECT_NE(docs[1].find("ATTACHMENT1=\"" + (keep / "2notes.txt").string()), std::string::npos)
        << docs[1];
    EXPECT_NE(docs[1].find("NUMATTACH=\"1\""), std::string::npos);
    EXPECT_EQ(docs[1].find("zebras"), std::string::npos);
}

// Settings without the keep flag: nothing is written, nothing imported. (Attachments
// imported through the temporary folder are covered by the attachment-name tests.)
TEST(EmlImport, AttachmentSettingsWithoutTheKeepFlagWriteNothing) {
    TempDir dir2;
    writeWholeFile(dir2.file("m.eml"), kWithAttachments);
    Importer imp2;
    imargsSetTempDirectory(imp2.args, dir2.file("").c_str());
    imargsSetEmailAttachments(imp2.args, dir2.file("").c_str(), 0, 1);
    auto docs2 = imp2.run({dir2.file("m.eml")}, dir2.file("out.idx"));
    ASSERT_EQ(docs2.size(), 1u);
    EXPECT_FALSE(fs::exists(dir2.file("notes.txt")));
}

// Every real message, in the line-end style it was stored in and in the other style,
// gives the same document.
TEST(EmlRealMessages, CrLfAndLfGiveTheSameDocument) {
    int compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(kMailDir)) {
        if (!entry.is_regular_file()) continue;
        std::string raw = readWholeFile(entry.path().string());
        std::string lf, crlf;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
            lf += raw[i];
        }
        for (char c : lf) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        SrcFileSpec a = details(lf), b = details(crlf);
        a.date.reset();  // "now" for messages without a date
        b.date.reset();
        std::string ta, tb;
        srcFileSpecBuildText(&a, ta);
        srcFileSpecBuildText(&b, tb);
        EXPECT_EQ(ta, tb) << entry.path();
        ++compared;
    }
    EXPECT_GT(compared, 100);
}

TEST(EmlRealMessages, AllImportAndChosenOnesGiveExpectedDocuments) {
    TempDir dir;
    std::vector<std::string> inputs;
    std::map<std::string, std::string> copies;  // file name -> copy with ".eml"
    int n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(kMailDir)) {
        if (!entry.is_regular_file()) continue;
        const std::string copy =
            dir.file(std::to_string(n++) + "-" + entry.path().stem().string() + ".eml");
        fs::copy_file(entry.path(), copy);
        copies[entry.path().parent_path().filename().string() + "/" +
               entry.path().filename().string()] = copy;
        inputs.push_back(copy);
    }
    fs::create_directories(dir.file("tmp"));
    Importer imp;
    imargsSetTempDirectory(imp.args, dir.file("tmp/").c_str());
    auto docs = imp.run(inputs, dir.file("out.idx"));
    EXPECT_GT(docs.size(), 90u);
    EXPECT_TRUE(fs::is_empty(dir.file("tmp")));

    struct Expect {
        const char* file;
        const char* title;
        const char* fieldName;
        const char* fieldValue;
        const char* content;  // an excerpt
        std::vector<std::pair<const char*, size_t>> attachments;
    };
    const Expect expects[] = {
        {"mail/attachment.raw",
         "Attachment",
         "To",
         "greg@inbucket",
         "A text section",
         {{"test.html", 7}}},
        {"mail/attachment-octet.raw",
         "In One Ear",
         "From",
         "me@here.com",
         "A text section",
         {{"email1.eml", 61}}},
        {"mail/attachment-only-inline-quoted-printable.raw",
         "Text body only with disposition inline",
         "To",
         "<info@stuff.com>",
         "Just some html content",
         {}},
        {"mail/attachment-only.raw", "Test", "From", "alice@test.com", "", {{"favicon.jpg", 687}}},
        {"mail/mime-mixed-related.raw",
         "Multipart Mixed",
         "To",
         "greg@inbucket.com",
         "html1\nhtml2",
         {}},
        {"mail/mime-signed.raw", "Multipart Signed", "To", "greg@inbucket.com", "Section one", {}},
        {"mail/qp-utf8-header.raw",
         "MIME UTF8 Test \xA2 More Text",
         "To",
         "Miroslaw Marczak <marczak@inbucket.com>",
         "Lorem ipsum dolor sit amet",
         {}},
        {"mail/inlinemultipart.raw",
         "Test",
         "To",
         "alice@intern",
         "Simple text.\nText attachment.",
         {{"test.pdf", 524}}},
        {"mail/other-multi-related.raw", "MIME test 1", "To", "greg@nobody.com", "Plain text.", {}},
        {"hyperkitty/attachment-2.txt",
         "[MM3-users]New Mailman 3 users list",
         "To",
         "mailman-users@mailman3.org",
         "I'm happy to announce a new list",
         {{"signature.asc", 181}}},
        {"hyperkitty/bad-subject-header.txt",
         "(et en plus, en local\x85)",
         "To",
         "user@example.net",
         "Bonjour,",
         {}},
        {"hyperkitty/non-ascii-headers.txt",
         "[Fedora-packaging] RPM macros",
         "From",
         "vondruch at redhat.com (V\xEDt Ondruch)",
         "revised haskell guidelines",
         {}},
        {"spamassassin/sample-nonspam.txt",
         "TBTF ping for 2001-04-20: Reviving",
         "ShortDate",
         "Fri, 20 Apr 2001 16:59:58 -0400",
         "T a s t y   B i t s",
         {}},
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.file);
        ASSERT_TRUE(copies.count(e.file));
        const std::string raw = readWholeFile(copies[e.file]);
        EmlMessage m = emlParseMessage(raw);
        SrcFileSpec spec;
        ASSERT_TRUE(emlSetImportDetails(nullptr, m, raw, &spec, nullptr));
        ASSERT_TRUE(spec.title.has_value());
        EXPECT_EQ(*spec.title, e.title);
        EXPECT_EQ(field(spec, e.fieldName), e.fieldValue);
        ASSERT_TRUE(spec.content.has_value());
        EXPECT_NE(spec.content->find(e.content), std::string::npos) << *spec.content;
        std::vector<std::pair<std::string, size_t>> got;
        for (const EmlPart& p : m.parts)
            if (p.fileName && p.hasData) got.emplace_back(*p.fileName, p.text.size());
        ASSERT_EQ(got.size(), e.attachments.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].first, e.attachments[i].first);
            EXPECT_EQ(got[i].second, e.attachments[i].second);
        }
    }
}

const char* kArticle =
    "Path: news.example!not-for-mail\n"
    "From: Reader <r@example.org>\n"
    "Newsgroups: comp.lang.c\n"
    "Subject: Pointers again\n"
    "NNTP-Posting-Date: Tue, 02 Jan 2001 00:00:00 GMT\n"
    "Date: Mon, 01 Jan 2001 10:00:00 GMT\n"
    "Organization: None\n"
    "Lines: 2\n"
    "Message-ID: <art1@example.org>\n"
    "NNTP-Posting-Host: host.example\n"
    "x-from: lower case is another header\n"
    "\n"
    "Body line one\n"
    "Path: not a header here\n"
    ".\n"
    "trailing\n";

TEST(NntpParse, HeadersBodyMarkersAndLineEnds) {
    for (bool crlf : {false, true}) {
        SCOPED_TRACE(crlf ? "CR LF" : "LF");
        std::string text;
        for (const char* p = kArticle; *p; ++p) {
            if (*p == '\n' && crlf) text += '\r';
            text += *p;
        }
        NntpArticle a = nntpParseArticle(text);
        ASSERT_TRUE(a.date && a.from && a.path && a.body && a.postingHost);
        EXPECT_EQ(*a.date, "Mon, 01 Jan 2001 10:00:00 GMT");
        EXPECT_EQ(*a.from, "Reader <r@example.org>");
        EXPECT_EQ(*a.path, "news.example!not-for-mail");
        EXPECT_EQ(*a.postingHost, "host.example");
        EXPECT_EQ(*a.messageId, "<art1@example.org>");
        EXPECT_FALSE(a.references.has_value());
        EXPECT_EQ(*a.body, "Body line one\nPath: not a header here");
    }
    // Without the end marker there is no body; header names are case-sensitive.
    NntpArticle open = nntpParseArticle("subject: lower\r\nSubject: Upper\r\n\r\nno end\r\n");
    EXPECT_FALSE(open.body.has_value());
    EXPECT_EQ(*open.subject, "Upper");
    EXPECT_FALSE(nntpParseArticle("garbage").body.has_value());
    NntpArticle empty = nntpParseArticle("Subject: e\r\n\r\n.\r\n");
    ASSERT_TRUE(empty.body.has_value());
    EXPECT_EQ(*empty.body, "");
}

TEST(NntpImport, FieldsSideFileAndArticleWithoutEnd) {
    TempDir dir;
    writeWholeFile(dir.file("a.nntp"), kArticle);
    writeWholeFile(dir.file("a.nntp.idx"), "#IXOFIELD Score=5\n");
    writeWholeFile(dir.file("b.nntp"), "Subject: open\r\nMessage-ID: <b@x>\r\n\r\nno end\r\n");
    Importer imp;
    auto docs = imp.run({dir.file("a.nntp"), dir.file("b.nntp")}, dir.file("out.idx"));
    ASSERT_EQ(docs.size(), 1u);
    const std::string& d = docs[0];
    EXPECT_NE(d.find("#IXOREFERENCE <art1@example.org>"), std::string::npos);
    EXPECT_NE(d.find("#IXODATE Mon, 01 Jan 2001 10:00:00 GMT"), std::string::npos);
    for (const char* f : {"FROM=", "NEWSGROUPS=\"comp.lang.c\"", "SUBJECT=\"Pointers again\"",
                          "ORGANIZATION=\"None\"", "LINES=\"2\"",
                          "MESSAGE_ID=", "NNTP_POSTING_HOST=", "PATH=", "Score=\"5\""})
        EXPECT_NE(d.find(f), std::string::npos) << f;
    EXPECT_EQ(d.find("REFERENCES="), std::string::npos);
    EXPECT_EQ(d.find("trailing"), std::string::npos);
}

}  // namespace
