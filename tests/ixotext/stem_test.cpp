// The English stemmer and the word filter: the rules one by one, and a golden file of
// real English words so that any change of behaviour shows up.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "ixo_text.h"
#include "support/lang2util.h"

namespace {

std::string stem(std::string word) {
    EXPECT_EQ(ixoStem(word.data()), 1);
    return word.c_str();
}

// Kept word, or "-" when the filter rejects it.
std::string filter(std::string word) {
    return ixoWordFilter(word.data()) ? std::string(word.c_str()) : std::string("-");
}

TEST(Stem, SuffixRules) {
    EXPECT_EQ(stem("RUNNING"), "RUN");        // ING, then the doubled N goes
    EXPECT_EQ(stem("BALLING"), "BALL");       // a doubled L stays
    EXPECT_EQ(stem("HAPPY"), "HAPPI");        // no suffix: Y becomes I
    EXPECT_EQ(stem("CATS"), "CAT");           // plural S
    EXPECT_EQ(stem("GLASS"), "GLASS");        // SS keeps its S
    EXPECT_EQ(stem("BOXES"), "BOXE");         // S goes, four letters left: done
    EXPECT_EQ(stem("ARGUMENT"), "ARGU");      // MENT
    EXPECT_EQ(stem("WALKED"), "WALK");        // ED
    EXPECT_EQ(stem("FASTEST"), "FAST");       // EST
    EXPECT_EQ(stem("FOOLISH"), "FOOL");       // ISH
    EXPECT_EQ(stem("QUICKLY"), "QUICK");      // LY before Y-to-I
    EXPECT_EQ(stem("NATIONAL"), "NATIONAL");  // IAL is not an ending of NATIONAL
    EXPECT_EQ(stem("MARTIAL"), "MART");       // IAL
    EXPECT_EQ(stem("CREATION"), "CRE");       // ATION
    EXPECT_EQ(stem("PRESENT"), "PRESEN");     // NT becomes N
    EXPECT_EQ(stem("CAKES"), "CAKE");         // four letters after the S: done
    EXPECT_EQ(stem("TABLES"), "TABL");        // E is tried before LE
    EXPECT_EQ(stem("WORKINGS"), "WORK");      // S, then ING
}

TEST(Stem, ShortOddAndMixedWords) {
    EXPECT_EQ(stem("AS"), "AS");
    EXPECT_EQ(stem("ITS"), "ITS");  // shorter than four: the S stays
    EXPECT_EQ(stem("1234"), "1234");
    EXPECT_EQ(stem("12.50%%"), "12.50");  // no letter: only trailing marks go
    EXPECT_EQ(stem("DOG-FOOD"), "DOG");   // cut at the first other character
    EXPECT_EQ(stem("MP3S"), "MP3");
    EXPECT_EQ(stem(""), "");
    EXPECT_EQ(ixoStem(nullptr), -5);
}

TEST(WordFilter, StopWordsTildesAndCleaning) {
    lang2ResetStoplist();
    EXPECT_EQ(filter("THE"), "-");
    EXPECT_EQ(filter("YOURE"), "-");
    EXPECT_EQ(filter("YOU'RE"), "-");  // the apostrophe goes first
    EXPECT_EQ(filter("..."), "-");
    EXPECT_EQ(filter(""), "-");
    EXPECT_EQ(filter("RUNNING!"), "RUN");
    EXPECT_EQ(filter("RUNNING~12"), "RUNNING");  // cut at '~', not stemmed
    EXPECT_EQ(filter("THE~"), "THE");            // the stop list sees the whole word
    EXPECT_EQ(filter("~RUN"), "-");              // nothing before the '~'
    EXPECT_EQ(filter("the"), "the");             // stop words are upper case
    EXPECT_EQ(ixoWordFilter(nullptr), 0);
}

// tests/ixotext/data/stem_golden.txt holds every 160th all-lower-case word of
// /usr/share/dict/words from Debian's wamerican package (2020.12.07-2), upper-cased,
// with its stem and its word-filter result ("-" for rejected).
TEST(Stem, GoldenEnglishWords) {
    lang2ResetStoplist();
    std::ifstream in(std::string(SAPIOLUX_SOURCE_DIR) + "/tests/ixotext/data/stem_golden.txt");
    ASSERT_TRUE(in) << "golden file missing";
    std::string line;
    int checked = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string word, wantStem, wantFilter;
        fields >> word >> wantStem >> wantFilter;
        EXPECT_EQ(stem(word), wantStem) << word;
        EXPECT_EQ(filter(word), wantFilter) << word;
        ++checked;
    }
    EXPECT_GT(checked, 300);
}

}  // namespace
