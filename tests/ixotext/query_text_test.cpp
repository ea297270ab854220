// Query texts: normalising, content-to-query conversion, the word list and query
// building, and the server's stop-list reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ixo_api.h"
#include "ixo_text.h"
#include "support/lang2util.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

namespace {

std::string queryText(const std::string& text, int32_t size = 4096) {
    std::vector<char> out(static_cast<size_t>(size) + 16, '#');
    EXPECT_EQ(ixoProcessQueryText(text.c_str(), out.data(), size), 1);
    // Nothing is written past the size given.
    for (size_t i = static_cast<size_t>(size); i < out.size(); ++i) EXPECT_EQ(out[i], '#');
    return out.data();
}

std::string content(const std::string& text) {
    char* out = nullptr;
    EXPECT_EQ(ixoProcessContentToQuery(text.c_str(), &out), 1);
    std::string s = out ? out : "<null>";
    memFree(out);
    return s;
}

TEST(ProcessQueryText, JoinsPiecesWithPlus) {
    EXPECT_EQ(queryText("  +apple pear=ripe"), "apple+pear+ripe");
    EXPECT_EQ(queryText("\r\n\t+ +fish&chips  salt;vinegar\tx"), "fishchips+salt+vinegar+x");
    EXPECT_EQ(queryText(""), "");
    char out[8];
    EXPECT_EQ(ixoProcessQueryText(nullptr, out, sizeof out), 0);
    EXPECT_EQ(ixoProcessQueryText("a", out, 0), 0);
}

TEST(ProcessQueryText, StopsNearTheLimitAndNeverOverruns) {
    std::string many;
    for (int i = 0; i < 1000; ++i) many += "word ";
    std::string q = queryText(many, 8192);
    // Pieces are added while the output with terminator holds at most 2048 bytes.
    EXPECT_GE(q.size() + 1, 2048u);
    EXPECT_LE(q.size(), 2048u + 5u);
    EXPECT_EQ(q.find("++"), std::string::npos);

    // A small buffer gets whole pieces only and stays terminated.
    EXPECT_EQ(queryText("alpha beta gamma", 12), "alpha+beta");
    EXPECT_EQ(queryText("alphabetical", 5), "");
}

TEST(ContentToQuery, WeightedTermsOnceEach) {
    lang2ResetStoplist();
    EXPECT_EQ(content("apple pear"), "APPL~+PEAR~+");
    EXPECT_EQ(content("Running running RUNNING"), "RUN~+");
    EXPECT_EQ(content("The cat [and] <the> #dog#\r\n\tof it"), "CAT~+DOG~+");
    // Accented letters meet their plain spelling; 0xD7 splits words.
    EXPECT_EQ(content("M\xfcller Mueller caf\xe9\xd7"
                      "bar"),
              "MUELL~+CAFE~+BAR~+");
    EXPECT_EQ(content("price~42 price"), "PRICE~+PRIC~+");
    EXPECT_EQ(content("... !!! the"), "");

    char* out = reinterpret_cast<char*>(1);
    EXPECT_EQ(ixoProcessContentToQuery("", &out), -5);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ixoProcessContentToQuery(nullptr, &out), -5);
    EXPECT_EQ(ixoProcessContentToQuery("x", nullptr), -5);
}

TEST(ContentToQuery, TwoHundredWordsAndWordLengths) {
    lang2ResetStoplist();
    std::string text;
    for (int i = 0; i < 201; ++i) text += "w" + std::to_string(i) + "x ";
    std::string q = content(text);
    EXPECT_NE(q.find("+W199X~+"), std::string::npos);
    EXPECT_EQ(q.find("W200X"), std::string::npos);

    char* out = nullptr;
    ASSERT_EQ(ixoProcessContentToQueryWithTruncate(text.c_str(), 3, &out), 1);
    std::string truncated = out;
    memFree(out);
    // Cut to three characters, duplicates after cutting go, no word limit.
    EXPECT_EQ(truncated.rfind("W0X~+W1X~+W2X~+", 0), 0u);
    EXPECT_NE(truncated.find("W10~+"), std::string::npos);
    EXPECT_EQ(truncated.find("W100"), std::string::npos);
    EXPECT_EQ(ixoProcessContentToQueryWithTruncate("abc", 0, &out), -5);

    std::string longWord(700, 'q');
    std::string q2 = content(longWord);
    EXPECT_EQ(q2, std::string(256, 'Q') + "~+");
}

TEST(ContentToQuery, LoadedStoplistReplacesBuiltIn) {
    testing_support::TempDir dir;
    std::string file = dir.file("english.dat");
    testing_support::writeWholeFile(file, "pear\n");
    ASSERT_EQ(lang2LoadStoplist(file.c_str()), 0);
    EXPECT_EQ(content("the pear apple"), "THE~+APPL~+");
    lang2ResetStoplist();
    EXPECT_EQ(content("the pear apple"), "PEAR~+APPL~+");
}

TEST(WordList, AddSortAndBuild) {
    WordList* list = ixoWordListCreate();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->capacity, 1024);
    EXPECT_EQ(list->poolCapacity, 16384);
    ASSERT_EQ(
        ixoWordListAddText(list, "pear, apple; 42 0 x -- apple pear7 (b)", ixoSuggestSeparators()),
        1);
    EXPECT_EQ(list->count, 8);  // "--" holds no letter or digit

    auto build = [&](int32_t flags) {
        char* q = ixoWordListBuildQuery(list, "+", flags);
        std::string s = q ? q : "<null>";
        memFree(q);
        return s;
    };
    EXPECT_EQ(build(0), "pear+apple+42+0+x+apple+pear7+b+");
    EXPECT_EQ(build(IXO_WORDS_SORT_UNIQUE), "0+42+apple+b+pear+pear7+x+");
    EXPECT_EQ(list->sorted, 1);
    EXPECT_EQ(build(IXO_WORDS_SORT_UNIQUE | IXO_WORDS_NO_SINGLE), "42+apple+pear+pear7+");
    EXPECT_EQ(build(IXO_WORDS_NO_NUMBERS), "0+apple+apple+b+pear+pear7+x+");
    EXPECT_EQ(build(IXO_WORDS_NO_DIGITS), "apple+apple+b+pear+x+");
    // With numbers removed, the digit rule is not applied.
    EXPECT_EQ(build(IXO_WORDS_NO_NUMBERS | IXO_WORDS_NO_DIGITS), "0+apple+apple+b+pear+pear7+x+");
    ixoWordListDestroy(&list);
    EXPECT_EQ(list, nullptr);
    ixoWordListDestroy(&list);
}

TEST(WordList, GrowsPoolAndSlotsKeepingWords) {
    WordList* list = ixoWordListCreate();
    ASSERT_NE(list, nullptr);
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "longerword" + std::to_string(i) + " ";
    ASSERT_EQ(ixoWordListAddText(list, text.c_str(), " "), 1);
    std::string huge(40000, 'h');  // bigger than one growth step of the pool
    ASSERT_EQ(ixoWordListAddWord(list, huge.c_str()), 1);
    ASSERT_EQ(list->count, 3001);
    EXPECT_GE(list->capacity, 3001);
    EXPECT_STREQ(list->words[0], "longerword0");
    EXPECT_STREQ(list->words[2999], "longerword2999");
    EXPECT_EQ(list->words[3000], huge);

    // The first 20 characters decide duplicates.
    WordList* dup = ixoWordListCreate();
    ixoWordListAddText(dup, "abcdefghijklmnopqrstONE abcdefghijklmnopqrstTWO abc", " ");
    char* q = ixoWordListBuildQuery(dup, ":", IXO_WORDS_SORT_UNIQUE);
    EXPECT_STREQ(q, "abc:abcdefghijklmnopqrstONE:");
    memFree(q);
    ixoWordListDestroy(&dup);
    ixoWordListDestroy(&list);
}

TEST(Stoplist, ParseReply) {
    int32_t count = -1;
    char** words = nullptr;
    ASSERT_EQ(ixoParseStoplist("3\nTHE\r\nAND\nOF\nEXTRA\n", &count, &words), 1);
    ASSERT_EQ(count, 3);
    EXPECT_STREQ(words[0], "THE");
    EXPECT_STREQ(words[2], "OF");
    ixoFreeStoplist(&words, count);
    EXPECT_EQ(words, nullptr);

    ASSERT_EQ(ixoParseStoplist("5\nA\nB", &count, &words), 1);  // fewer than announced
    EXPECT_EQ(count, 2);
    ixoFreeStoplist(&words, count);

    EXPECT_EQ(ixoParseStoplist("4\n\n", &count, &words), -9);
    EXPECT_EQ(words, nullptr);
    EXPECT_EQ(ixoParseStoplist("0\n", &count, &words), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(ixoParseStoplist(nullptr, &count, &words), -5);
}

TEST(Stoplist, FromServer) {
    testing_support::LoopbackServer server;
    server.setReply(testing_support::LoopbackServer::httpReply("2\nTHE\nAND\n"));
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", nullptr, server.port(), server.port()), 1);
    int32_t count = 0;
    char** words = nullptr;
    ASSERT_EQ(ixoGetStoplist(&ixo, &count, &words), 1);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(words[1], "AND");
    ixoFreeStoplist(&words, count);
    EXPECT_NE(server.lastRequest().find("GET /qmethod=n "), std::string::npos);

    server.setMode(testing_support::LoopbackServer::Mode::CloseAtOnce);
    EXPECT_EQ(ixoGetStoplist(&ixo, &count, &words), -3);
    EXPECT_EQ(ixoGetStoplist(nullptr, &count, &words), -5);
    ixoDestroyIxo(&ixo);
}

}  // namespace
