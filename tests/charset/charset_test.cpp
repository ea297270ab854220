// Character-set decisions and conversion to Windows-1252.
#include <gtest/gtest.h>

#include <string>

#include "import/charset.h"

namespace {

TEST(CharsetDeclaration, FoundInEitherMetaFormOnlyNearTheTop) {
    EXPECT_EQ(charsetFromHtml("<html><head><meta charset=\"UTF-8\"></head>"), "utf-8");
    EXPECT_EQ(charsetFromHtml("<META HTTP-EQUIV='Content-Type' "
                              "CONTENT='text/html; charset=ISO-8859-1'>"),
              "iso-8859-1");
    EXPECT_EQ(charsetFromHtml("<meta name=\"charset\" content=\"x\"><p>charset=koi8-r"), "");
    EXPECT_EQ(charsetFromHtml("<meta charset="), "");
    std::string late(9000, ' ');
    late += "<meta charset=\"utf-8\">";
    EXPECT_EQ(charsetFromHtml(late), "");
    EXPECT_EQ(charsetFromContentType("text/plain; format=flowed; charset=\"Windows-1252\""),
              "windows-1252");
    EXPECT_EQ(charsetFromContentType("text/plain"), "");
}

TEST(CharsetDecision, MarkThenDeclarationThenValidityThenWindows1252) {
    EXPECT_EQ(charsetDecide("", "\xEF\xBB\xBFplain"), "utf-8");
    EXPECT_EQ(charsetDecide("windows-1252", "\xFF\xFEx\0"), "utf-16le");
    EXPECT_EQ(charsetDecide("ISO-8859-1", "caf\xC3\xA9"), "windows-1252");
    EXPECT_EQ(charsetDecide("iso-8859-15", "x"), "iso-8859-15");
    // An unknown or impossible declaration falls back to looking at the bytes.
    EXPECT_EQ(charsetDecide("no-such-set", "caf\xC3\xA9"), "utf-8");
    EXPECT_EQ(charsetDecide("utf-16", "caf\xC3\xA9"), "utf-8");
    EXPECT_EQ(charsetDecide("", "caf\xE9"), "windows-1252");
    EXPECT_EQ(charsetDecide("", "plain ascii"), "windows-1252");
    // Overlong forms and surrogates are not UTF-8.
    EXPECT_FALSE(charsetIsUtf8("\xC0\xAF"));
    EXPECT_FALSE(charsetIsUtf8("\xED\xA0\x80"));
    EXPECT_FALSE(charsetIsUtf8("\xE2\x82"));
    EXPECT_TRUE(charsetIsUtf8("\xF0\x9F\x98\x80 ok"));
}

TEST(CharsetConversion, SameWordsInThreeSetsGiveTheSameText) {
    const std::string expected = "caf\xE9 na\xEFve Z\xFCrich";
    EXPECT_EQ(
        charsetHtmlToWindows1252("<meta charset=utf-8>caf\xC3\xA9 na\xC3\xAFve Z\xC3\xBCrich"),
        "<meta charset=utf-8>" + expected);
    EXPECT_EQ(charsetHtmlToWindows1252("<meta charset=iso-8859-1>" + expected),
              "<meta charset=iso-8859-1>" + expected);
    EXPECT_EQ(charsetHtmlToWindows1252(expected), expected);
    // Undeclared UTF-8 is recognised; curly quotes and the euro sign keep one byte each.
    EXPECT_EQ(charsetHtmlToWindows1252("\xE2\x80\x9Cq\xE2\x80\x9D \xE2\x82\xAC"), "\x93q\x94 \x80");
    // ISO-8859-15 puts the euro sign where Latin-1 has the currency sign.
    EXPECT_EQ(charsetToWindows1252("\xA4", "iso-8859-15"), "\x80");
    EXPECT_EQ(charsetToWindows1252(std::string("\xFF\xFE"
                                               "a\0\xE9\0",
                                               6),
                                   "utf-16le"),
              "a\xE9");
}

TEST(CharsetConversion, NothingIsLostOrTurnedIntoNoise) {
    // Bytes that are not UTF-8 in a page declared UTF-8 are kept as they are.
    EXPECT_EQ(charsetToWindows1252("caf\xE9 \xC3\xA9", "utf-8"), "caf\xE9 \xE9");
    EXPECT_EQ(charsetToWindows1252("end\xE2\x82", "utf-8"), "end\xE2\x82");
    // Letters outside the set lose their accents; what has no plain form becomes "?".
    EXPECT_EQ(charsetToWindows1252("\xC5\x81\xC3\xB3"
                                   "d\xC5\xBA",
                                   "utf-8"),
              "L\xF3"
              "dz");
    EXPECT_EQ(charsetToWindows1252("\xE4\xB8\xAD", "utf-8"), "?");
    EXPECT_EQ(charsetToWindows1252("a\xE2\x86\x92"
                                   "b",
                                   "utf-8"),
              "a->b");
    EXPECT_EQ(charsetToWindows1252("as is\x81", "no-such-set"), "as is\x81");
    std::string out;
    EXPECT_FALSE(charsetAppendCodePoint(out, 0));
    EXPECT_FALSE(charsetAppendCodePoint(out, 0xDC00));
    EXPECT_FALSE(charsetAppendCodePoint(out, 0x110000));
    EXPECT_TRUE(charsetAppendCodePoint(out, 0x96));
    EXPECT_TRUE(charsetAppendCodePoint(out, 0x2014));
    EXPECT_EQ(out, "\x96\x97");
}

}  // namespace

namespace {

// Conversions in a stateful character set start from its initial state every time,
// however the text before ended (here in the middle of a two-byte run).
TEST(CharsetConversion, EveryTextStartsInTheInitialState) {
    const std::string shiftedNoReturn = "ab\x1b$B";  // switches to two-byte codes, no way back
    const std::string plain = "plain words";
    for (int round = 0; round < 3; ++round) {
        charsetToWindows1252(shiftedNoReturn, "iso-2022-jp");
        EXPECT_EQ(charsetToWindows1252(plain, "iso-2022-jp"), plain) << round;
        EXPECT_EQ(charsetDocumentToWindows1252(plain, "ISO-2022-JP"), plain) << round;
    }
    // Unknown names stay unknown however often they are asked for.
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(charsetDecide("x-no-such-set", "caf\xc3\xa9"), "utf-8");
        EXPECT_EQ(charsetToWindows1252("abc", "x-no-such-set"), "abc");
    }
}

}  // namespace
