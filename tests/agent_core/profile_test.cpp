// The interest profile: updates, the 0.9 factor and the 700 cap, the file form.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

#include "agent/profiling.h"
#include "agent/texttoquery.h"
#include "agent_test_support.h"
#include "import/idxreader.h"
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

    // A full category keeps its strongest terms, equal scores in term order: ZEBRA
    // (three times) and APPLE (before MANGO), whatever their place in the alphabet.
    UserProfile small = profileCreate(1, 2, 0);
    profileUpdate("zebra zebra zebra mango apple", small, t.get());
    ASSERT_EQ(small.categories[0].terms.size(), 2u);
    EXPECT_EQ(small.categories[0].terms[0].term, stem("ZEBRA"));
    EXPECT_EQ(small.categories[0].terms[1].term, stem("APPLE"));
    // A later, stronger term displaces the weakest kept one.
    profileUpdate("zeppelin zeppelin zeppelin zeppelin zeppelin zeppelin zebra", small, t.get());
    EXPECT_TRUE(find(small.categories[0], stem("ZEPPELIN")));
    EXPECT_TRUE(find(small.categories[0], stem("ZEBRA")));
    EXPECT_FALSE(find(small.categories[0], stem("APPLE")));

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

TEST(Profile, LongTermsAreWeighedWholeThenCut) {
    // The table is bucketed by the hash of the whole term: a term over eleven
    // characters weighs in the profile what it weighs in a query.
    const std::string longTerm = stem("INTERNATIONALISATION");
    ASSERT_GT(longTerm.size(), kProfileTermLength);
    auto t = table({{longTerm, 24}, {stem("ORCHARD"), 40}});
    ASSERT_EQ(rankTerms("internationalisation", t.get())[0].value, 24);
    const std::string cut = longTerm.substr(0, kProfileTermLength);
    auto terms = profileExtractTerms("internationalisation orchard", t.get());
    ASSERT_EQ(terms.size(), 2u);
    EXPECT_EQ(find(ProfileCategory{0, terms}, stem("ORCHARD"))->score, 40);
    ASSERT_TRUE(find(ProfileCategory{0, terms}, cut));
    EXPECT_EQ(find(ProfileCategory{0, terms}, cut)->score, 24);
    // Terms equal after the cut are one profile term: counts add up, the weight is the
    // most frequent one's.
    const std::string other = longTerm.substr(0, kProfileTermLength) + "XQ";
    ASSERT_EQ(stem(other), other);
    terms = profileExtractTerms(
        ("internationalisation internationalisation " + other + " orchard").c_str(), t.get());
    ASSERT_EQ(terms.size(), 2u);
    EXPECT_EQ(terms[0].term, cut);
    EXPECT_EQ(terms[0].score, static_cast<int>(24 * std::sqrt(3.0)));
}

TEST(Profile, ReadingCapsScoresAndLeavesOutTermsAFileCannotHold) {
    auto read = [](const std::string& s) { return profileParse(s.data(), s.size()); };
    auto p = read("00001\n00005\n01500\n00002\n2147483647 APPLE\n00701 PEAR\n");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->categories[0].terms[0].score, 700);
    EXPECT_EQ(p->categories[0].terms[1].score, 700);
    EXPECT_EQ(p->categories[0].total, 1400);

    // A term of a carriage return, or cut by a zero byte, would not read back as it
    // was: it is left out, the rest of the profile stays.
    const std::string fuzzInput("1\n5\n0\n1\n0 \r\0", 12);
    p = read(fuzzInput);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->categories[0].terms.empty());
    const char kControlBytes[] = "00001\n00005\n01500\n00003\n00010 A\0B\n00020 \x01\n00030 PLUM\n";
    p = read(std::string(kControlBytes, sizeof kControlBytes - 1));
    ASSERT_TRUE(p);
    ASSERT_EQ(p->categories[0].terms.size(), 1u);
    EXPECT_EQ(p->categories[0].terms[0].term, "PLUM");
}

TEST(Profile, EverySavedProfileLoadsAgain) {
    testing_support::TempDir dir;
    const std::string file = dir.file("profile.dat");
    // Terms a file cannot hold, and more terms than a category may hold, are not
    // written: the file still loads, with the good terms.
    UserProfile p = profileCreate(2, 2, 1500);
    p.categories[0].terms = {{600, "\r"},   {500, "A\nB"}, {400, std::string("C\0D", 3)},
                             {300, "PEAR"}, {200, "PLUM"}, {100, "FIG"}};
    p.categories[1].terms = {{900, "TWELVELETTER"}, {50, "KIWI"}};
    ASSERT_TRUE(profileSave(file, p));
    auto loaded = profileLoad(file);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(profileFormat(*loaded),
              "00002\n00002\n01500\n00002\n00300 PEAR\n00200 PLUM\n00001\n00050 KIWI\n");

    // A profile whose file would not load is not saved, and the old file stays.
    const std::string before = testing_support::readWholeFile(file);
    EXPECT_FALSE(profileSave(file, profileCreate(0, 200, 1500)));
    EXPECT_FALSE(profileSave(file, profileCreate(kMaxProfileCategories + 1, 200, 1500)));
    EXPECT_EQ(testing_support::readWholeFile(file), before);
}

TEST(Profile, AWriteCutShortLeavesTheOldFile) {
    testing_support::TempDir dir;
    const std::string file = dir.file("profile.dat");
    UserProfile small = profileCreate(10, 200, 1500);
    small.categories[0].terms = {{700, "APPLE"}, {50, "PEAR"}};
    ASSERT_TRUE(profileSave(file, small));
    const std::string before = testing_support::readWholeFile(file);

    UserProfile large = profileCreate(10, 200, 1500);
    for (auto& c : large.categories)
        for (int i = 0; i < 200; ++i) c.terms.push_back({100, "TERM" + std::to_string(i)});
    // The file size limit cuts the write short, as a full disk would.
    pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(profileSave(file, large) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the cut-short save reported success";
    EXPECT_EQ(testing_support::readWholeFile(file), before);
    auto loaded = profileLoad(file);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->categories[0].terms.size(), 2u);
    // Nothing but the profile is left in the folder.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(Profile, DocumentValuesCannotEndTheDocumentOrBreakAField) {
    UserProfile p = profileCreate(1, 200, 1500);
    p.categories[0].terms = {{700, "#IXOENDDOC"}, {600, "APPLE"}, {20, "X"}, {10, "Y"}};
    const std::string doc = profileDocument(p, 0, "ref\n#IXOENDDOC\r\n#IXOREFERENCE evil",
                                            "Title\nline", "me \"quoted\"\tx", "Peo\nple");
    // One document: every tag line is one the writer meant.
    size_t ends = 0, references = 0;
    for (size_t pos = 0; pos < doc.size();) {
        size_t nl = doc.find('\n', pos);
        std::string line = doc.substr(pos, nl - pos);
        ends += line.rfind("#IXOENDDOC", 0) == 0;
        references += line.rfind("#IXOREFERENCE", 0) == 0;
        pos = nl + 1;
    }
    EXPECT_EQ(ends, 1u) << doc;
    EXPECT_EQ(references, 1u) << doc;

    SrcFileSpec read;
    ASSERT_EQ(idxReadDocument(&read, std::string_view(doc)), 0);
    EXPECT_EQ(read.reference, "ref #IXOENDDOC  #IXOREFERENCE evil");
    EXPECT_EQ(read.title, "Title line");
    EXPECT_EQ(read.dbname, "Peo ple");
    ASSERT_EQ(read.fieldNames.size(), 2u);
    EXPECT_EQ(read.fieldNames[0], "ContactRef");
    EXPECT_EQ(read.fieldValues[0], "me  quoted  x");
    EXPECT_EQ(read.fieldValues[1], "People");
    ASSERT_TRUE(read.content);
    EXPECT_NE(read.content->find(" IXOENDDOC~[700]"), std::string::npos) << *read.content;
    EXPECT_NE(read.content->find("APPLE~[600]"), std::string::npos) << *read.content;
}
