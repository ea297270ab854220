// Query building: the term weight file, front end A's ranking, the capitalised phrases
// of front end B, stripping, the user stop list and the term count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "agent/profiling.h"
#include "agent/texttoquery.h"
#include "agent_test_support.h"
#include "ixo_text.h"
#include "support/fileutil.h"
#include "support/phrases.h"
#include "tests/common/tempdir.h"

using namespace agent;

namespace {

std::string stem(std::string word) {
    ixoStem(word.data());
    return word.c_str();
}

std::unique_ptr<TermWeightTable> table(const std::map<std::string, uint8_t>& weights,
                                       uint32_t buckets = 7) {
    std::string bytes = agent_test::buildWeightFile(weights, buckets);
    return TermWeightTable::parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

int terms(const std::string& query) {
    return static_cast<int>(std::count(query.begin(), query.end(), '+'));
}

}  // namespace

TEST(TermWeights, LooksTermsUpAndRejectsMalformedFiles) {
    auto t = table({{"APPLE", 10}, {"PEAR", 200}, {"INTERNATIO", 33}}, 1);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->weight("APPLE"), 10);
    EXPECT_EQ(t->weight("PEAR"), 200);
    EXPECT_EQ(t->weight("PLUM"), 255);
    EXPECT_EQ(t->weight("APPL"), 255);
    // Only the first 10 characters are compared.
    EXPECT_EQ(t->weight("INTERNATIONALLY"), 33);

    std::string good = agent_test::buildWeightFile({{"APPLE", 10}, {"PEAR", 200}});
    auto parse = [](const std::string& b) {
        return TermWeightTable::parse(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    };
    EXPECT_TRUE(parse(good));
    EXPECT_FALSE(parse(good.substr(0, good.size() - 1)));  // last entry cut short
    EXPECT_FALSE(parse(good.substr(0, 11)));
    std::string zeroBuckets = good;
    zeroBuckets[0] = zeroBuckets[1] = zeroBuckets[2] = zeroBuckets[3] = 0;
    EXPECT_FALSE(parse(zeroBuckets));
    std::string badDescriptor = good;
    badDescriptor[12 + 4] = 3;  // first bucket claims three entries of two
    EXPECT_FALSE(parse(badDescriptor));
    std::string hugeCount = good;
    hugeCount[8] = hugeCount[9] = hugeCount[10] = hugeCount[11] = '\xff';
    EXPECT_FALSE(parse(hugeCount));
}

TEST(TermWeights, ComparesAsManyCharactersAsTheFileSays) {
    std::string bytes =
        agent_test::buildWeightFile({{"APPLE", 10}, {"APPLY", 20}, {"PEAR", 200}}, 1);
    auto withLength = [&bytes](uint8_t length) {
        std::string b = bytes;
        b[4] = static_cast<char>(length);
        return TermWeightTable::parse(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    };
    auto four = withLength(4);
    ASSERT_TRUE(four);
    // The first entry of the bucket that agrees in four characters wins.
    EXPECT_EQ(four->weight("APPLY"), 10);
    EXPECT_EQ(four->weight("APPL"), 10);
    EXPECT_EQ(four->weight("PEARS"), 200);
    EXPECT_EQ(four->weight("APP"), 255);
    auto twenty = withLength(20);
    ASSERT_TRUE(twenty);
    EXPECT_EQ(twenty->weight("APPLY"), 20);
    EXPECT_EQ(twenty->weight("APPLES"), 255);
    EXPECT_EQ(twenty->weight("APPL"), 255);
    // A term is read up to a zero byte, as the file's terms are.
    EXPECT_EQ(twenty->weight(std::string_view("PEAR\0XYZ", 8)), 200);
    auto none = withLength(0);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->weight("ZZZ"), 10);
}

TEST(TermWeights, LoadsMarkedAndPlainFiles) {
    testing_support::TempDir dir;
    std::string bytes = agent_test::buildWeightFile({{"APPLE", 10}, {"PEAR", 200}});
    testing_support::writeWholeFile(dir.file("plain.dat"), bytes);
    ASSERT_EQ(fileWriteMarked(bytes.data(), static_cast<int64_t>(bytes.size()),
                              dir.file("marked.dat").c_str()),
              1);
    for (const char* name : {"plain.dat", "marked.dat"}) {
        auto t = TermWeightTable::load(dir.file(name));
        ASSERT_TRUE(t) << name;
        EXPECT_EQ(t->weight("PEAR"), 200) << name;
    }
    EXPECT_FALSE(TermWeightTable::load(dir.file("missing.dat")));
}

TEST(TextToQuery, RanksMergedTermsByWeightTimesRootOfCount) {
    const std::string clock = stem("OCLOCK");
    auto t = table({{clock, 100}, {stem("PEAR"), 10}});
    // Apostrophes join the word; case does not matter: one term counted three times.
    auto ranked = rankTerms("o'clock oclock OCLOCK pear", t.get());
    ASSERT_EQ(ranked.size(), 2u);
    EXPECT_EQ(ranked[0].term, clock);
    EXPECT_EQ(ranked[0].value, static_cast<int>(100 * std::sqrt(3.0)));
    EXPECT_EQ(ranked[1].value, 10);
    // A term that is not in the table weighs 255 and comes first.
    EXPECT_EQ(textToQuery("oclock zebrafish", 40, t.get()),
              stem("ZEBRAFISH") + "~+" + clock + "~+");

    // Numbers and one-character words never become terms.
    EXPECT_EQ(textToQuery("123 456 7", 40, t.get()), "");
    EXPECT_EQ(textToQuery("a b c x y z", 40, t.get()), "");
    EXPECT_EQ(textToQuery("", 40, t.get()), "");

    DynString* out = dynStringCreate("old text");
    textToQuery("pear", 40, out, t.get());
    EXPECT_STREQ(out->text, (stem("PEAR") + "~+").c_str());
    dynStringDestroy(&out);
}

TEST(TextToQuery, WritesAtMostMaxTermsOfEqualScore) {
    std::string text;
    for (int i = 0; i < 41; ++i) {
        text += "zq";
        text += static_cast<char>('a' + i / 26);
        text += static_cast<char>('a' + i % 26);
        text += "x ";
    }
    auto t = table({{"UNUSED", 1}});
    EXPECT_EQ(rankTerms(text.c_str(), t.get()).size(), 41u);
    std::string q = textToQuery(text.c_str(), 40, t.get());
    EXPECT_EQ(terms(q), 40);
    EXPECT_EQ(std::count(q.begin(), q.end(), '~'), 40);
}

TEST(TextToQuery, CountsEveryOneOfManyDistinctWords) {
    // Thousands of distinct words, each one to three times, mixed through the text in
    // both cases: every word keeps its own count however large the counting grows.
    constexpr int kWords = 6000;
    std::string text;
    char word[16];
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < kWords; ++i) {
            if (i % 3 < round) continue;
            std::snprintf(word, sizeof word, round == 1 ? "zqzqzq%04d " : "ZQZQZQ%04d, ", i);
            text += word;
        }
    auto ranked = rankTerms(text.c_str(), nullptr);
    ASSERT_EQ(ranked.size(), static_cast<size_t>(kWords));
    int checked = 0;
    for (const auto& t : ranked) {
        int i = std::atoi(t.term.c_str() + 6);
        ASSERT_EQ(t.term, (std::snprintf(word, sizeof word, "ZQZQZQ%04d", i), std::string(word)));
        EXPECT_EQ(t.value, static_cast<int>(255 * std::sqrt(static_cast<double>(i % 3 + 1))))
            << t.term;
        ++checked;
    }
    EXPECT_EQ(checked, kWords);
    // Highest count first, then in term order (the terms share long beginnings).
    for (size_t k = 1; k < ranked.size(); ++k) {
        const QueryTerm &a = ranked[k - 1], &b = ranked[k];
        ASSERT_TRUE(a.value > b.value || (a.value == b.value && a.term < b.term)) << b.term;
    }
    EXPECT_EQ(ranked.front().term, "ZQZQZQ0002");
    EXPECT_EQ(ranked.back().term, "ZQZQZQ5997");
}

TEST(Stripping, DuplicatesNumbersSingleLettersAndStopList) {
    QueryOptions on;
    EXPECT_EQ(stripWords("2000+3D+0+X2+", on), "X2+");  // 0 is a single character too
    QueryOptions keepSingles;
    keepSingles.removeSingleLetters = false;
    EXPECT_EQ(stripWords("2000+3D+0+X2+", keepSingles), "0+X2+");
    QueryOptions keepNumbers = keepSingles;
    keepNumbers.removeNumbers = false;
    EXPECT_EQ(stripWords("2000+3D+0+X2+", keepNumbers), "0+2000+3D+X2+");
    EXPECT_EQ(stripWords("WORD WORD", on), "WORD+");
    QueryOptions keepDuplicates;
    keepDuplicates.removeDuplicates = false;
    EXPECT_EQ(stripWords("WORD, WORD", keepDuplicates), "WORD+WORD+");
    EXPECT_EQ(stripWords("A+BB+C", on), "BB+");
    // "~" is no separator: a weighted term stays one word; punctuation-only words go.
    EXPECT_EQ(stripWords("APPLE~+PEAR~+--+", on), "APPLE~+PEAR~+");

    EXPECT_EQ(applyUserStoplist("THE+THE~+PLUM+", {"THE"}), "THE~+PLUM+");
    EXPECT_EQ(applyUserStoplist("the,Plum+", {"THE", "PL"}), "Plum+");
}

TEST(Phrases, CapitalisedRunsWithoutSentenceOpenersOrStopWords) {
    auto phrases = [](const char* text, const char* stop) {
        char* p = strCapitalisedPhrases(text, stop);
        std::string s = p ? p : "(null)";
        if (p) memFree(p);
        return s;
    };
    EXPECT_EQ(phrases("I met John Smith in New York. Apples are red.", ""),
              "John Smith, New York, ");
    EXPECT_EQ(phrases("Then the Rolling Stones played", "then,"), "Rolling Stones, ");
    EXPECT_EQ(phrases("see John Smith", "smith,"), "John, ");
    EXPECT_EQ(phrases("Berlin, Paris.\n\nLondon calling", nullptr), "Paris, ");
    EXPECT_EQ(phrases("", ""), "");
    EXPECT_EQ(phrases(nullptr, ""), "(null)");
}

TEST(QueryBuilder, FrontEndBStripsAndCountsTerms) {
    QueryOptions options;
    QueryBuilder b(nullptr, {});
    BuiltQuery q = b.build("I met John Smith in New York. Apples are red.", options);
    EXPECT_EQ(q.text, "JOHN+NEW+SMITH+YORK+");
    EXPECT_EQ(q.terms, 4);
    // One term is too few for the default minimum of two.
    q = b.build("we went to Paris", options);
    EXPECT_EQ(q.text, "");
    EXPECT_EQ(q.terms, 1);
    options.minWordsForQuery = 1;
    EXPECT_EQ(b.build("we went to Paris", options).text, "PARIS+");
    // Ampersands go first, so AT&T is one word.
    EXPECT_EQ(b.build("we called AT&T today", options).text, "ATT+");

    // The user stop list reaches front end B and the stop-list step.
    QueryBuilder withStop(nullptr, {"york", "John"});
    options.minWordsForQuery = 2;
    EXPECT_EQ(withStop.build("I met John Smith in New York today", options).text, "NEW+SMITH+");
}

TEST(QueryBuilder, FrontEndAUpdatesAndSavesTheProfile) {
    testing_support::TempDir dir;
    auto t = table({{stem("ORCHARD"), 50}});
    UserProfile profile = profileCreate();
    QueryBuilder b(t.get(), {stem("PEAR") + "~"}, &profile, dir.file("profile.dat"));
    BuiltQuery q = b.build("apples pears orchard harvest & cider", QueryOptions{});
    EXPECT_EQ(q.text, stem("APPLES") + "~+" + stem("CIDER") + "~+" + stem("HARVEST") + "~+" +
                          stem("ORCHARD") + "~+");
    EXPECT_EQ(q.terms, 4);
    auto saved = profileLoad(dir.file("profile.dat"));
    ASSERT_TRUE(saved);
    size_t stored = 0;
    for (const auto& c : saved->categories) stored += c.terms.size();
    EXPECT_EQ(stored, 5u);
}

TEST(QueryBuilder, FrontEndBIsBoundedLikeFrontEndA) {
    // 5 MB of capitalised names, hardly any twice: the query keeps the first 40 distinct
    // words, in text order, before stripping sorts them.
    std::string text;
    std::vector<std::string> names;
    for (int i = 0; text.size() < 5 * 1024 * 1024; ++i) {
        std::string name = "Q";
        for (int n = i; n > 0 || name.size() < 4; n /= 26) name += static_cast<char>('a' + n % 26);
        if (names.size() < 41) names.push_back(name);
        text += "we met " + name + " Stone and " + name + " Stone there. ";
    }
    QueryBuilder b(nullptr, {});
    QueryOptions options;
    BuiltQuery q = b.build(text, options);
    EXPECT_EQ(q.terms, 40);
    EXPECT_NE(q.text.find("STONE+"), std::string::npos);
    EXPECT_NE(q.text.find(upper(names[0]) + "+"), std::string::npos) << q.text;
    EXPECT_EQ(q.text.find(upper(names[40]) + "+"), std::string::npos) << q.text;
    // Without duplicate removal too.
    options.removeDuplicates = false;
    q = b.build(text, options);
    EXPECT_EQ(q.terms, 40);

    EXPECT_EQ(firstWords("Ab, cd. AB ab -- Ef", 3, true), "Ab cd Ef");
    EXPECT_EQ(firstWords("Ab, cd. AB ab -- Ef", 3, false), "Ab cd AB");
    EXPECT_EQ(firstTerms("A+B+C+", 2), "A+B+");
    EXPECT_EQ(firstTerms("A+B+", 5), "A+B+");
}

TEST(TextToQuery, MarkupAndNoiseWeighLow) {
    EXPECT_TRUE(looksLikeNoise("HTTP"));  // no vowel
    EXPECT_TRUE(looksLikeNoise("WWW"));
    EXPECT_TRUE(looksLikeNoise("X11"));     // letters and digits
    EXPECT_TRUE(looksLikeNoise("ASDFQW"));  // FQ is in no English word
    EXPECT_TRUE(looksLikeNoise("ABCDEFGHIJKLMNOPQRS"));
    EXPECT_FALSE(looksLikeNoise("QUARK"));
    EXPECT_FALSE(looksLikeNoise("RHYTHM"));
    EXPECT_FALSE(looksLikeNoise("PHOTOSYNTHESI"));
    // Absent from the table, a typo and markup rank below a real rare word, however
    // often they occur; without a table every term weighs 255.
    auto t = table({{"UNUSED", 1}});
    auto ranked = rankTerms("asdfqw asdfqw http http http quark x11", t.get());
    ASSERT_EQ(ranked.size(), 4u);
    EXPECT_EQ(ranked[0].term, stem("QUARK"));
    EXPECT_EQ(ranked[0].value, 255);
    EXPECT_EQ(termWeight(t.get(), "HTTP"), kNoiseWeight);
    EXPECT_EQ(termWeight(nullptr, "HTTP"), 255);
    EXPECT_EQ(rankTerms("http", nullptr)[0].value, 255);
}
