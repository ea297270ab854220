// The interest profile: updates, the 0.9 factor and the 700 cap, the file form.
#include <gtest/gtest.h>

#include <cmath>

#include "agent/profiling.h"
#include "agent/texttoquery.h"
#include "agent_test_support.h"
#include "ixo_text.h"
#include "support/fileutil.h"
#include "tests/common/tempdir.h"

using namespace agent;

namespace {

std::string stem(std::string word) {
    ixoStem(word.data());
    return word.c_str();
}

std::unique_ptr<TermWeightTable> table(const std::map<std::string, uint8_t>& weights) {
    std::string bytes = agent_test::buildWeightFile(weights);
    return TermWeightTable::parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

const ProfileTerm* find(const ProfileCategory& c, const std::string& term) {
    for (const auto& t : c.terms)
        if (t.term == term) return &t;
    return nullptr;
}

}  // namespace

TEST(Profile, ExtractCutsTermsToElevenCharactersAndScoresThem) {
    auto t = table({{stem("ORCHARD"), 40}});
    auto terms = profileExtractTerms("orchard Orchard don't internationalisation 42", t.get());
    // "don't" is split at the apostrophe here: DON and T (one character, skipped).
    ASSERT_EQ(terms.size(), 3u);
    EXPECT_EQ(terms[0].score, 255);
    for (const auto& term : terms) EXPECT_LE(term.term.size(), 11u);
    EXPECT_EQ(find(ProfileCategory{0, terms}, stem("ORCHARD"))->score,
              static_cast<int>(40 * std::sqrt(2.0)));
}

TEST(Profile, MergesIntoTheOverlappingCategoryWithFactorAndCap) {
    const std::string alpha = stem("ALPHA");
    auto t = table({{alpha, 250}, {stem("BETA"), 20}});
    UserProfile p = profileCreate(3, 200, 100);
    p.categories[1].terms = {{500, alpha}, {30, "OLDTERM"}};
    p.categories[1].total = 530;
    // ALPHA four times scores 250 * 2 = 500; with the stored 500 it is 1000, then 900
    // after the factor, then 700 after the cap. OLDTERM 30 becomes 27.
    EXPECT_EQ(profileUpdate("alpha alpha alpha alpha beta", p, t.get()), 1);
    const auto& c = p.categories[1];
    EXPECT_EQ(find(c, alpha)->score, 700);
    EXPECT_EQ(find(c, "OLDTERM")->score, 27);
    EXPECT_EQ(find(c, stem("BETA"))->score, 18);
    EXPECT_EQ(c.total, 700 + 27 + 18);
    EXPECT_EQ(c.terms.front().term, alpha);  // highest score first
}

TEST(Profile, WithoutOverlapTheWeakestCategoryIsEmptiedAndChosen) {
    auto t = table({{"UNUSED", 1}});
    UserProfile p = profileCreate(3, 200, 1500);
    p.categories[0] = ProfileCategory{50, {{50, "KEEPME"}}};
    p.categories[1] = ProfileCategory{10, {{10, "DROPME"}}};
    p.categories[2] = ProfileCategory{10, {{10, "ALSO"}}};
    EXPECT_EQ(profileUpdate("zebra giraffe", p, t.get()), 1);
    EXPECT_FALSE(find(p.categories[1], "DROPME"));
    EXPECT_TRUE(find(p.categories[0], "KEEPME"));
    EXPECT_TRUE(find(p.categories[2], "ALSO"));
    EXPECT_EQ(p.categories[1].terms.size(), 2u);

    // A full category keeps the alphabetically first terms, not the best scored.
    UserProfile small = profileCreate(1, 2, 1500);
    profileUpdate("zebra zebra zebra apple mango", small, t.get());
    ASSERT_EQ(small.categories[0].terms.size(), 2u);
    EXPECT_FALSE(find(small.categories[0], stem("ZEBRA")));

    UserProfile none = profileCreate(0, 200, 1500);
    EXPECT_EQ(profileUpdate("zebra", none, t.get()), -1);
}

TEST(Profile, SavesMarkedAndReadsMarkedAndPlainFiles) {
    testing_support::TempDir dir;
    UserProfile p = profileCreate(2, 5, 1500);
    p.categories[0] = ProfileCategory{750, {{700, "APPLE"}, {50, "PEAR"}}};
    ASSERT_TRUE(profileSave(dir.file("profile.dat"), p));
    std::string raw = testing_support::readWholeFile(dir.file("profile.dat"));
    ASSERT_GE(raw.size(), 15u);
    EXPECT_EQ(raw.substr(0, 15), std::string("HALVORANFILEX1\0", 15));

    std::string text = profileFormat(p);
    EXPECT_EQ(text, "00002\n00005\n01500\n00002\n00700 APPLE\n00050 PEAR\n00000\n");
    testing_support::writeWholeFile(dir.file("plain.dat"), text);
    for (const char* name : {"profile.dat", "plain.dat"}) {
        auto loaded = profileLoad(dir.file(name));
        ASSERT_TRUE(loaded) << name;
        EXPECT_EQ(profileFormat(*loaded), text) << name;
        EXPECT_EQ(loaded->categories[0].total, 750);
    }

    auto bad = [](const std::string& s) { return !profileParse(s.data(), s.size()); };
    EXPECT_TRUE(bad(""));
    EXPECT_TRUE(bad("00001\n00001\n01500\n00002\n00010 A\n00010 B\n"));  // more than allowed
    EXPECT_TRUE(bad("00001\n00005\n01500\n00002\n00010 A\n"));           // cut short
    EXPECT_TRUE(bad("-0001\n00005\n01500\n"));
    EXPECT_TRUE(bad("99999\n00005\n01500\n"));
    EXPECT_TRUE(bad("00001\n00005\n01500\n00001\n00010 TWELVELETTER\n"));
    EXPECT_TRUE(bad("00001\n00005\n01500\n00001\n0001xAPPLE\n"));
    EXPECT_FALSE(profileLoad(dir.file("missing.dat")));
}

TEST(Profile, QueryTextAndPeopleDocument) {
    UserProfile p = profileCreate(3, 200, 1500);
    p.categories[0].terms = {{700, "APPLE"}, {11, "PEAR"}, {10, "PLUM"}, {90, "LATE"}};
    p.categories[1].terms = {{10, "LOW"}, {3, "LOWER"}};
    EXPECT_EQ(profileQueryText(p, 0, 10), "APPLE~[700]+PEAR~[11]+LATE~[90]");
    EXPECT_EQ(profileQueryText(p, 0, 1), "APPLE~[700]");
    EXPECT_EQ(profileQueryText(p, 1, 10), "");
    EXPECT_EQ(profileQueryText(p, 7, 10), "");

    EXPECT_EQ(profileDocument(p, 0, "ref1", "Title", "me@x", "People"),
              "#IXOREFERENCE ref1\n#IXOTITLE Title\n#IXOSTORECONTENT y\n"
              "#IXOFIELD ContactRef=\"me@x\"\n#IXOFIELD DOCTYPE=\"People\"\n#IXODBNAME People\n"
              "#IXOSECTION 0\n#IXOTYPE AGENT\n#IXOCONTENT\nAPPLE~[700]\nPEAR~[11]\n#IXOENDDOC\n");
    std::string low = profileDocument(p, 1, "r", "t", "c", "d");
    EXPECT_NE(low.find("#IXOCONTENT\n#IXOENDDOC\n"), std::string::npos);
    EXPECT_EQ(profileDocument(p, 2, "r", "t", "c", "d"), "");
    EXPECT_EQ(profileDocument(p, -1, "r", "t", "c", "d"), "");
}
