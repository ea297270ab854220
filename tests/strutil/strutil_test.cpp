#include "support/strutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Owned text from the library, released on scope exit.
struct Owned {
    char* p = nullptr;
    ~Owned() {
        if (p) memFree(p);
    }
    std::string str() const { return p ? std::string(p) : std::string("<null>"); }
};

std::string encode(const std::string& bytes, int lineBreaks) {
    Owned o{strBase64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int32_t>(bytes.size()), lineBreaks)};
    return o.str();
}

}  // namespace

TEST(CopyBounded, TerminatesInsideTheBoundAndNeverOverreads) {
    char dst[8];
    std::memset(dst, 'x', sizeof dst);
    strCopyBounded(dst, "abcdefghijk", 5);
    EXPECT_STREQ(dst, "abcd");
    EXPECT_EQ(dst[5], 'x');  // nothing written past n bytes

    // A source shorter than n is not read beyond its terminator (ASan checks the heap
    // copy) and the rest of the bound is zero.
    char* shortSrc = memStrDup("ab");
    std::memset(dst, 'x', sizeof dst);
    strCopyBounded(dst, shortSrc, 8);
    EXPECT_STREQ(dst, "ab");
    for (int i = 2; i < 8; ++i) EXPECT_EQ(dst[i], '\0');
    memFree(shortSrc);

    std::memset(dst, 'x', sizeof dst);
    strCopyBounded(dst, "abc", 0);
    EXPECT_EQ(dst[0], 'x');  // n = 0 writes nothing
    strCopyBounded(dst, nullptr, 3);
    EXPECT_STREQ(dst, "");
}

TEST(Search, CaseBlindFindsAtTheRightPlace) {
    const char* hay = "The Quick brown FOX";
    EXPECT_EQ(strFindCaseBlind(hay, "quick"), hay + 4);
    EXPECT_EQ(strFindCaseBlind(hay, "fox"), hay + 16);
    EXPECT_EQ(strFindCaseBlind(hay, "foxes"), nullptr);
    EXPECT_EQ(strFindCaseBlind(hay, ""), hay);
    EXPECT_EQ(strFindCaseBlind(hay + 17, "OXEN"), nullptr);  // runs out of haystack
    const char* rep = "aaab";
    EXPECT_EQ(strFindCaseBlind(rep, "AAB"), rep + 1);
    EXPECT_EQ(strFindCaseBlind(nullptr, "a"), nullptr);
    EXPECT_EQ(strFindCaseBlind(hay, nullptr), nullptr);
}

TEST(Trim, BothEndsOneEndAndAllBlank) {
    char a[] = " \t\r\nword  two\n\r ";
    EXPECT_STREQ(strTrim(a), "word  two");
    char b[] = "  lead  ";
    EXPECT_STREQ(strTrimEnd(b), "  lead");
    char c[] = "  lead  ";
    char* r = strTrimStart(c);
    EXPECT_EQ(r, c);  // moved in place: the pointer still owns the block
    EXPECT_STREQ(c, "lead  ");
    char d[] = " \t\n ";
    EXPECT_STREQ(strTrim(d), "");
    EXPECT_EQ(strTrim(nullptr), nullptr);
}

TEST(Tokenize, SkipsLeadingAndRepeatedSeparators) {
    char text[] = ",,;alpha,;beta;;gamma,,";
    char* save = nullptr;
    std::vector<std::string> got;
    for (char* t = strTokenize(text, ",;", &save); t; t = strTokenize(nullptr, ",;", &save))
        got.emplace_back(t);
    EXPECT_EQ(got, (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(strTokenize(nullptr, ",;", &save), nullptr);  // stays at the end

    char onlySeps[] = ";;;";
    save = nullptr;
    EXPECT_EQ(strTokenize(onlySeps, ";", &save), nullptr);

    // Two tokenisers interleaved keep their own positions.
    char x[] = "a b", y[] = "1 2";
    char *sx = nullptr, *sy = nullptr;
    EXPECT_STREQ(strTokenize(x, " ", &sx), "a");
    EXPECT_STREQ(strTokenize(y, " ", &sy), "1");
    EXPECT_STREQ(strTokenize(nullptr, " ", &sx), "b");
    EXPECT_STREQ(strTokenize(nullptr, " ", &sy), "2");
}

TEST(Split, KeepsEmptyPiecesAndGrowsPastFour) {
    int32_t count = -1;
    char** pieces = strSplit("a::b::::c::", "::", &count);
    ASSERT_NE(pieces, nullptr);
    std::vector<std::string> got(pieces, pieces + count);
    EXPECT_EQ(got, (std::vector<std::string>{"a", "b", "", "c", ""}));
    EXPECT_EQ(pieces[count], nullptr);
    strFreeSplit(&pieces, count);
    EXPECT_EQ(pieces, nullptr);

    std::string many;
    for (int i = 0; i < 40; ++i) many += std::to_string(i) + ",";
    pieces = strSplit(many.c_str(), ",", &count);
    ASSERT_EQ(count, 41);
    EXPECT_STREQ(pieces[0], "0");
    EXPECT_STREQ(pieces[39], "39");
    EXPECT_STREQ(pieces[40], "");
    strFreeSplit(&pieces, count);

    pieces = strSplit("whole", "", &count);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(pieces[0], "whole");
    strFreeSplit(&pieces, count);

    EXPECT_EQ(strSplit(nullptr, ",", &count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(Wildcard, StarsQuestionMarksAndBacktracking) {
    EXPECT_TRUE(strWildcardMatch("a*c", "abbbc"));
    EXPECT_TRUE(strWildcardMatch("a*c", "ac"));
    EXPECT_FALSE(strWildcardMatch("a*c", "ab"));
    EXPECT_FALSE(strWildcardMatch("a*c", "abcd"));
    EXPECT_TRUE(strWildcardMatch("a**?c", "abc"));
    EXPECT_FALSE(strWildcardMatch("a**?c", "ac"));
    EXPECT_TRUE(strWildcardMatch("*.txt", "notes.txt.txt"));
    EXPECT_TRUE(strWildcardMatch("*ab*ab", "xabyabab"));  // needs a second try of the star
    EXPECT_TRUE(strWildcardMatch("*", ""));
    EXPECT_FALSE(strWildcardMatch("?", ""));
    EXPECT_FALSE(strWildcardMatch("A*C", "abc"));  // case counts here
    EXPECT_FALSE(strWildcardMatch(nullptr, "x"));
    // A long star-heavy pattern against a long text neither recurses nor stalls.
    std::string pattern(2000, '*'), text(5000, 'a');
    pattern += "b";
    EXPECT_FALSE(strWildcardMatch(pattern.c_str(), text.c_str()));
}

TEST(Wildcard, PatternListsWithAndParts) {
    EXPECT_TRUE(strPatternListMatch("*.htm,*.txt", ",", "readme.txt"));
    EXPECT_FALSE(strPatternListMatch("*.htm,*.txt", ",", "readme.doc"));
    EXPECT_TRUE(strPatternListMatch("*.doc AND a*", ",;", "abc.doc"));
    EXPECT_FALSE(strPatternListMatch("*.doc AND a*", ",;", "bcd.doc"));
    EXPECT_TRUE(strPatternListMatch("x*;*.doc AND a* AND *c.*", ";", "abc.doc"));
    EXPECT_FALSE(strPatternListMatch("*.TXT", ",", "readme.txt"));
    EXPECT_TRUE(strPatternListMatchCaseBlind("*.TXT", ",", "readme.txt"));
    EXPECT_TRUE(strPatternListMatchCaseBlind("*.doc AND A*", ",", "ABC.DOC"));
    EXPECT_FALSE(strPatternListMatch(",,", ",", "x"));  // empty patterns match nothing
    EXPECT_FALSE(strPatternListMatch(nullptr, ",", "x"));
}

TEST(Words, CountTruncateAndCollapse) {
    EXPECT_EQ(strWordCount("one, two;three  4five", 100), 4);
    EXPECT_EQ(strWordCount("one two three", 5), 2);  // only the first n characters
    EXPECT_EQ(strWordCount("", 10), 0);

    char a[64] = "one two three four";
    EXPECT_STREQ(strTruncateAtWord(a, 2), "one two...");
    char b[64] = "one two, three";  // the word ends at punctuation: cut at the blank
    EXPECT_STREQ(strTruncateAtWord(b, 2), "one...");
    char c[64] = "one,two,three";  // no blank before the end: "..." after the word
    EXPECT_STREQ(strTruncateAtWord(c, 2), "one,two...");
    char d[64] = "one two three";  // nothing after the third word
    EXPECT_STREQ(strTruncateAtWord(d, 3), "one two three");
    char e[64] = "a b c";  // under six characters
    EXPECT_STREQ(strTruncateAtWord(e, 1), "a b c");
    // Exactly three spare bytes suffice (ASan checks the heap block).
    const char* src = "alpha beta gamma";
    auto* f = static_cast<char*>(memAlloc(std::strlen(src) + 3));
    std::memcpy(f, src, std::strlen(src));
    EXPECT_STREQ(strTruncateAtWord(f, 2), "alpha beta...");
    memFree(f);

    char g[] = " \t lots \r\n of   space\t";
    EXPECT_STREQ(strCollapseWhitespace(g), "lots of space ");
}

TEST(Summary, CutsAtSeparatorLimitOrSentenceEnd) {
    Owned whole{strCutSummary("  short text here  ", 10, 1)};
    EXPECT_EQ(whole.str(), "short text here");  // under the limit: kept whole, trimmed

    Owned cut{strCutSummary("w1 w2 w3 w4 w5 w6 w7", 4, 1)};
    EXPECT_EQ(cut.str(), "w1 w2 w3 w4...");
    Owned noDots{strCutSummary("w1 w2 w3 w4 w5 w6 w7", 4, 0)};
    EXPECT_EQ(noDots.str(), "w1 w2 w3 w4");

    // A sentence end past half the limit is the preferred cut; one before is not.
    Owned sentence{strCutSummary("a b c d e. f g h i j k", 6, 1)};
    EXPECT_EQ(sentence.str(), "a b c d e.");
    Owned early{strCutSummary("a. b c d e f g h i", 6, 1)};
    EXPECT_EQ(early.str(), "a. b c d e f...");

    Owned separators{strCutSummary("http://xorg/a&b c", 5, 0)};
    EXPECT_EQ(separators.str(), "http://xorg/a");  // ':', '/', '/', '/', '&' reach it

    Owned tiny{strCutSummary("ab", 5, 1)};
    EXPECT_EQ(tiny.p, nullptr);
    std::string big(20000, 'x');  // only the first 8192 characters are looked at
    Owned capped{strCutSummary(big.c_str(), 5, 1)};
    ASSERT_NE(capped.p, nullptr);
    EXPECT_EQ(std::strlen(capped.p), 8192u);
}

TEST(Small, DelimiterHashAndEntities) {
    for (char c : std::string("\n\r \t\"='.,;:!-{}()")) EXPECT_TRUE(strIsDelimiter(c)) << c;
    for (char c : std::string("aZ09_/&?[]<>")) EXPECT_FALSE(strIsDelimiter(c)) << c;

    uint32_t h = 0;
    for (const char* p = "Ab\xe9"; *p; ++p)
        h = h * 131u + static_cast<uint32_t>(static_cast<int>(static_cast<signed char>(*p)));
    EXPECT_EQ(strHash("Ab\xe9", 1000003u), h % 1000003u);
    EXPECT_EQ(strHash("\xe9", 0), static_cast<uint32_t>(-23));  // signed byte, no division
    EXPECT_EQ(strHash("", 7), 0u);

    char buf[2];
    EXPECT_STREQ(strEntityEscape('"', buf), "&quot;");
    EXPECT_STREQ(strEntityEscape('&', buf), "&amp;");
    EXPECT_STREQ(strEntityEscape('\'', buf), "&apos;");
    EXPECT_STREQ(strEntityEscape('<', buf), "&lt;");
    EXPECT_STREQ(strEntityEscape('>', buf), "&gt;");
    EXPECT_STREQ(strEntityEscape('q', buf), "q");
}

TEST(Base64, GroupsPaddingAndLineBlocks) {
    EXPECT_EQ(encode("abc", 0), "YWJj");
    EXPECT_EQ(encode("a", 0), "YQ==");
    EXPECT_EQ(encode("ab", 0), "YWI=");
    EXPECT_EQ(encode("user:", 0), "dXNlcjo=");
    EXPECT_EQ(encode("", 0), "<null>");

    std::string b52(52, '\xff');
    std::string lines = encode(b52, 1);
    ASSERT_EQ(lines.size(), 68u + 1 + 4 + 1);
    EXPECT_EQ(lines.substr(0, 68), std::string(68, '/'));
    EXPECT_EQ(lines[68], '\n');
    EXPECT_EQ(lines.substr(69), "/w==\n");
    EXPECT_EQ(encode(b52, 0), std::string(68, '/') + "/w==");  // one line without the flag
    EXPECT_EQ(encode(std::string(51, 'A'), 1).size(), 69u);    // a full block: one line

    // The buffer is 4 * length + 1024 zeroed bytes.
    char* p = strBase64Encode(reinterpret_cast<const unsigned char*>("x"), 1, 0);
    for (int i = 4; i < 4 + 1024; ++i) ASSERT_EQ(p[i], '\0');
    memFree(p);
}

TEST(Base64, DecoderRoundTripsAndRejectsBadText) {
    std::mt19937 rng(7);
    for (int len = 1; len < 300; len += (len < 60 ? 1 : 37)) {
        std::string bytes(static_cast<size_t>(len), '\0');
        for (auto& b : bytes) b = static_cast<char>(rng());
        for (int lb = 0; lb < 2; ++lb) {
            std::string text = encode(bytes, lb);
            int32_t n = 0;
            unsigned char* back = strBase64Decode(text.c_str(), &n);
            ASSERT_NE(back, nullptr) << len;
            ASSERT_EQ(n, len);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(back), n), bytes);
            EXPECT_EQ(back[n], 0);
            memFree(back);
        }
    }
    int32_t n = 0;
    unsigned char* d = strBase64Decode(" YW\r\nJj ", &n);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d), n), "abc");
    memFree(d);
    d = strBase64Decode("YWI", &n);  // padding left out
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d), n), "ab");
    memFree(d);

    for (const char* bad : {"Y", "YWJjY", "YQ==YQ==", "YWJj=", "YQ===", "Y!Jj", "YW\x80j"}) {
        EXPECT_EQ(strBase64Decode(bad, &n), nullptr) << bad;
        EXPECT_EQ(n, -1) << bad;
    }
    EXPECT_EQ(strBase64Decode("", &n), nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(strBase64Decode(nullptr, &n), nullptr);
}
