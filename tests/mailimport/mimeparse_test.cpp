// Mail parsing: header block and unfolding, encoded words, the MIME walk over built
// messages (both line-end styles), uudecode and attachment file names.
#include <gtest/gtest.h>

#include <string>

#include "import/emlparse.h"

namespace {

std::string toCrLf(const std::string& lf) {
    std::string out;
    for (char c : lf) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// Runs a test body on a message written with LF and again with CR LF.
template <typename Check>
void bothLineEnds(const std::string& lfMessage, Check check) {
    {
        SCOPED_TRACE("LF");
        check(emlParseMessage(lfMessage));
    }
    {
        SCOPED_TRACE("CR LF");
        check(emlParseMessage(toCrLf(lfMessage)));
    }
}

std::string withoutCr(std::string s) {
    std::erase(s, '\r');
    return s;
}

TEST(EmlHeaderBlock, EndMarkersInOrderAndUnfolding) {
    EmlHeaderEnd crlf = emlFindHeaderEnd("A: 1\r\nB: 2\r\n\r\nbody\n\nmore");
    ASSERT_TRUE(crlf.found);
    EXPECT_EQ(crlf.headerLength, 10u);
    EXPECT_EQ(crlf.bodyStart, 14u);
    EmlHeaderEnd lf = emlFindHeaderEnd("A: 1\nB: 2\n\nbody");
    ASSERT_TRUE(lf.found);
    EXPECT_EQ(lf.headerLength, 9u);
    EXPECT_EQ(lf.bodyStart, 11u);
    EXPECT_FALSE(emlFindHeaderEnd("A: 1\r\nB: 2\r\n").found);

    auto headers = emlParseHeaders("Subject: one\r\n  two\r\n\tthree\r\nTo:x@y\r\nbogus line");
    ASSERT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers[0].name, "Subject");
    EXPECT_EQ(headers[0].value, "one  two\tthree");
    EXPECT_EQ(headers[1].value, "x@y");
    EXPECT_EQ(headers[2].name, "");
    ASSERT_NE(emlFindHeader(headers, "SUBJECT"), nullptr);
    EXPECT_EQ(emlFindHeader(headers, "From"), nullptr);
}

TEST(EmlHeaderText, EncodedWordsDecodeToWindows1252) {
    EXPECT_EQ(emlDecodeHeaderText("=?utf-8?Q?Caf=C3=A9_au_lait?="), "Caf\xE9 au lait");
    EXPECT_EQ(emlDecodeHeaderText("=?iso-8859-1?B?Q2Fm6Q==?= ok"), "Caf\xE9 ok");
    // White space between two encoded words goes; around plain text it stays.
    EXPECT_EQ(emlDecodeHeaderText("=?UTF-8?Q?a?= =?UTF-8?Q?b?= c"), "ab c");
    EXPECT_EQ(emlDecodeHeaderText("x =?utf-8?q?y?="), "x y");
    // Raw UTF-8 in a header is read as UTF-8; malformed words stay as written.
    EXPECT_EQ(emlDecodeHeaderText("Andr\xC3\xA9"), "Andr\xE9");
    EXPECT_EQ(emlDecodeHeaderText("=?utf-8?X?abc?="), "=?utf-8?X?abc?=");
    EXPECT_EQ(emlDecodeHeaderText("=?broken"), "=?broken");
    EXPECT_EQ(emlDecodeHeaderText("=?utf-8?Q?=E2=82=AC5?="),
              "\x80"
              "5");
}

TEST(EmlParameters, QuotedUnquotedAndStandalone) {
    EXPECT_EQ(*emlParameter("multipart/mixed; boundary=\"a b;c\"", "BOUNDARY"), "a b;c");
    EXPECT_EQ(*emlParameter("multipart/mixed;\tBoundary=xyz; charset=x", "boundary"), "xyz");
    EXPECT_EQ(*emlParameter("attachment; filename=\"unterminated", "FILENAME"), "unterminated");
    // "name=" inside "filename=" is not the name parameter.
    EXPECT_FALSE(emlParameter("attachment; filename=a.txt", "NAME").has_value());
    EXPECT_EQ(emlMediaType("  text/Plain; charset=x"), "TEXT/PLAIN");
}

const char* kMixed =
    "From: a@b\n"
    "Subject: s\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"XX\"\n"
    "\n"
    "preamble\n"
    "--XX\n"
    "Content-Type: text/plain\n"
    "\n"
    "Hello there\n"
    "--XX\n"
    "Content-Type: application/octet-stream\n"
    "Content-Transfer-Encoding: base64\n"
    "Content-Disposition: attachment\n"
    "\n"
    "AAEC/w==\n"
    "--XX\n"
    "Content-Type: text/plain\n"
    "Content-Disposition: form-data; name=\"field\"\n"
    "\n"
    "dropped text\n"
    "--XX--\n"
    "epilogue\n";

TEST(EmlMimeWalk, MixedTextUnnamedAttachmentAndDroppedPart) {
    bothLineEnds(kMixed, [](const EmlMessage& m) {
        ASSERT_TRUE(m.body.has_value());
        EXPECT_EQ(withoutCr(*m.body), "Hello there");
        ASSERT_EQ(m.parts.size(), 3u);
        ASSERT_TRUE(m.parts[1].fileName.has_value());
        EXPECT_EQ(*m.parts[1].fileName, "email1.eml");
        EXPECT_TRUE(m.parts[1].hasData);
        EXPECT_EQ(m.parts[1].text, std::string("\x00\x01\x02\xFF", 4));
        EXPECT_FALSE(m.parts[2].fileName.has_value());  // form data dropped
        EXPECT_FALSE(m.parts[2].hasData);
    });
}

TEST(EmlMimeWalk, QuotedPrintableHtmlArrivesAsPlainText) {
    const std::string msg =
        "MIME-Version: 1.0\n"
        "Content-Type: text/html; charset=iso-8859-1\n"
        "Content-Transfer-Encoding: quoted-printable\n"
        "\n"
        "<html><body><p>Caf=E9 <b>cr=\n"
        "=E8me</b></p></body></html>\n";
    bothLineEnds(msg, [](const EmlMessage& m) {
        ASSERT_TRUE(m.body.has_value());
        EXPECT_EQ(*m.body, "Caf\xE9 cr\xE8me");
        EXPECT_EQ(m.body->find('<'), std::string::npos);
    });
}

TEST(EmlMimeWalk, AlternativeNestedInRelatedFindsPlainText) {
    const std::string msg =
        "MIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"M\"\n"
        "\n"
        "--M\n"
        "Content-Type: multipart/related; boundary=\"R\"\n"
        "\n"
        "--R\n"
        "Content-Type: multipart/alternative; boundary=\"A\"\n"
        "\n"
        "--A\n"
        "Content-Type: text/html\n"
        "\n"
        "<p>html</p>\n"
        "--A\n"
        "Content-Type: text/plain; charset=utf-8\n"
        "Content-Transfer-Encoding: base64\n"
        "\n"
        "cGxhaW4gw6k=\n"
        "--A--\n"
        "--R--\n"
        "--M--\n";
    bothLineEnds(msg, [](const EmlMessage& m) {
        ASSERT_TRUE(m.body.has_value());
        EXPECT_EQ(*m.body, "plain \xE9");
    });
}

TEST(EmlMimeWalk, BrokenStructuresKeepWhatCanBeRead) {
    // No closing delimiter: the last part runs to the end and is still an attachment.
    const std::string unclosed =
        "MIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=B\n"
        "\n"
        "--B\n"
        "\n"
        "first\n"
        "--B\n"
        "Content-Disposition: attachment; filename=\"../../x.txt\"\n"
        "Content-Transfer-Encoding: base64\n"
        "\n"
        "aGVsbG8gd29y";  // truncated base64
    bothLineEnds(unclosed, [](const EmlMessage& m) {
        ASSERT_TRUE(m.body.has_value());
        EXPECT_EQ(withoutCr(*m.body), "first");
        ASSERT_EQ(m.parts.size(), 2u);
        EXPECT_EQ(*m.parts[1].fileName, "../../x.txt");
        EXPECT_EQ(m.parts[1].text, "hello wor");
    });
    // A boundary that is a prefix of another does not split the other's parts.
    const std::string similar =
        "MIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"B\"\n"
        "\n"
        "--B\n"
        "Content-Type: multipart/alternative; boundary=\"B_alt\"\n"
        "\n"
        "--B_alt\n"
        "Content-Type: text/plain\n"
        "\n"
        "inner text\n"
        "--B_alt--\n"
        "--B--\n";
    bothLineEnds(similar, [](const EmlMessage& m) {
        ASSERT_TRUE(m.body.has_value());
        EXPECT_EQ(withoutCr(*m.body), "inner text");
    });
    // Header only, no blank line, and garbage.
    EmlMessage headerOnly = emlParseMessage("Subject: only\r\nFrom: a@b\r\n");
    EXPECT_TRUE(headerOnly.headerEnd.found);
    EXPECT_EQ(headerOnly.headers.size(), 2u);
    EmlMessage garbage = emlParseMessage(std::string("\x00\xFF\n\n--", 6));
    EXPECT_TRUE(garbage.parts.empty());
}

TEST(EmlMimeWalk, TopLevelAlternativeUsesItsPlainText) {
    const std::string msg =
        "MIME-Version: 1.0\n"
        "Content-Type: multipart/alternative; boundary=\"A\"\n"
        "\n"
        "This is MIME\n"
        "--A\n"
        "Content-Type: text/plain\n"
        "Content-Transfer-Encoding: quoted-printable\n"
        "\n"
        "soft=\n"
        "break\n"
        "--A\n"
        "Content-Type: text/html\n"
        "\n"
        "<b>x</b>\n"
        "--A--\n";
    bothLineEnds(msg, [](const EmlMessage& m) {
        ASSERT_TRUE(m.body.has_value());
        EXPECT_EQ(withoutCr(*m.body), "softbreak");
        EXPECT_TRUE(m.parts.empty());
    });
}

TEST(EmlUudecode, LinesAndTurnpikeSections) {
    std::string out;
    EXPECT_TRUE(emlUudecode("#0V%T\n`\n", out));
    EXPECT_EQ(out, "Cat");
    out.clear();
    EXPECT_FALSE(emlUudecode("M86)C\n", out));  // says 45 bytes, holds far fewer

    const std::string msg =
        "From: a@b\n"
        "X-Mailer: Turnpike Version 3.05\n"
        "\n"
        "See the file.\n"
        "[ Section: 1/1 File: cat.txt ]\n"
        "begin 644 cat.txt\n"
        "#0V%T\n"
        "`\n"
        "end\n"
        "begin 644 bad.bin\n"
        "M86)C\n"
        "`\n"
        "end\n";
    bothLineEnds(msg, [](const EmlMessage& m) {
        ASSERT_TRUE(m.body.has_value());
        EXPECT_EQ(withoutCr(*m.body), "See the file.\n");
        ASSERT_EQ(m.parts.size(), 2u);
        EXPECT_EQ(*m.parts[0].fileName, "cat.txt");
        EXPECT_EQ(m.parts[0].text, "Cat");
        EXPECT_TRUE(m.parts[0].hasData);
        EXPECT_FALSE(m.parts[1].hasData);  // the broken block gives no file
    });
}

TEST(EmlSafeFileName, StripsDirectoriesAndUnsafeCharacters) {
    EXPECT_EQ(emlSafeFileName("../../etc/passwd"), "passwd");
    EXPECT_EQ(emlSafeFileName("C:\\Windows\\evil.exe"), "evil.exe");
    EXPECT_EQ(emlSafeFileName("a\x01"
                              "b:c?.txt"),
              "a_b_c_.txt");
    EXPECT_EQ(emlSafeFileName(".."), "");
    EXPECT_EQ(emlSafeFileName("dir/"), "");
    EXPECT_EQ(emlSafeFileName(" .hidden. "), "hidden");
    std::string longName(400, 'x');
    std::string cut = emlSafeFileName(longName + ".pdf");
    EXPECT_LE(cut.size(), 150u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".pdf");
}

}  // namespace
