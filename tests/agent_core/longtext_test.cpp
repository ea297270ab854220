// Query building on long real texts (the licence texts Debian installs) with the
// shipped term weights and stop list: the exact queries, the profile the texts build
// and the capitalised phrases, so that any change of output in ranking, merging,
// weighting, stripping or the profile update shows up here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "agent/profiling.h"
#include "agent/texttoquery.h"
#include "support/lang2util.h"
#include "tests/common/tempdir.h"

using namespace agent;

namespace {

std::string dataFile(const char* name) {
    return std::string(SAPIOLUX_SOURCE_DIR) + "/agent/data/" + name;
}

// Empty when the system does not have the text.
std::string licence(const char* name) {
    std::ifstream in(std::string("/usr/share/common-licenses/") + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// FNV-1a over the bytes, with the length, as text: long outputs are pinned by this.
std::string digest(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%zu:%016llx", s.size(), static_cast<unsigned long long>(h));
    return buf;
}

class LongTexts : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        lang2LoadStoplist(dataFile("english.dat").c_str());
        weights_ = TermWeightTable::load(dataFile("enc.dat")).release();
    }
    static void TearDownTestSuite() {
        delete weights_;
        weights_ = nullptr;
        lang2ResetStoplist();
    }
    void SetUp() override {
        ASSERT_TRUE(weights_);
        ASSERT_FALSE(lang2BuiltinStoplistActive());
        gpl3_ = licence("GPL-3");
        apache_ = licence("Apache-2.0");
        mpl_ = licence("MPL-2.0");
        lgpl_ = licence("LGPL-2.1");
        if (gpl3_.empty() || apache_.empty() || mpl_.empty() || lgpl_.empty())
            GTEST_SKIP() << "licence texts not installed";
    }
    static const TermWeightTable* weights_;
    std::string gpl3_, apache_, mpl_, lgpl_;
};

const TermWeightTable* LongTexts::weights_ = nullptr;

const char kGpl3Query[] =
    "ADDITIONAL~+AFFERO~+APPLICABL~+CIRCUMVENTION~+CODE~+CONTRIBUTOR~+CONVEI~+CONVEY~+"
    "COPI~+COPYRIGHT~+COPY~+CORRESPOND~+COVER~+GENERAL~+GNU~+INTERFAC~+LIABILITI~+"
    "LICENSOR~+LICENS~+MODIFIC~+MODIFI~+NON~+NOTIC~+OBJECT~+PARTI~+PATEN~+PERMISSION~+"
    "PRODUCT~+PROGRAM~+PROPAGAT~+PUBLIC~+RECIPIEN~+SECTION~+SOFTWAR~+SOURC~+TERM~+USER~+"
    "VERSION~+WARRANTI~+WORK~+";
const char kApacheQuery[] =
    "ADDITIONAL~+APACH~+APPLICABL~+ATTRIBUTION~+AUTHORSHIP~+BEHALF~+CONDITION~+"
    "CONTRIBUTION~+CONTRIBUTOR~+COPYRIGHT~+DERIVATIV~+DISTRIBUT~+ENTITI~+FILE~+GRAN~+"
    "INCLUD~+IRREVOCABL~+LIABILITI~+LICENSOR~+LICENS~+LIMIT~+LITIG~+MEAN~+MODIFIC~+NON~+"
    "NOTIC~+OWN~+PATEN~+PERMISSION~+REDISTRIBUT~+REPRODUCTION~+SOURC~+SUBLICENS~+"
    "SUBMITT~+TERM~+THEREOF~+TRADEMARK~+WARRANTI~+WORK~+YYYY~+";
const char kMplQuery[] =
    "CLAIM~+CODE~+COMPLIANC~+COMP~+CONTRIBUTION~+CONTRIBUTOR~+COVER~+DISCLAIM~+"
    "DISTRIBUT~+ENTITI~+EXECUTABL~+FORM~+GRANT~+GRAN~+INCOMPATIBL~+INDEMNITI~+INFRING~+"
    "JURISDICTION~+LIABILITI~+LICENSABL~+LICENS~+LIMIT~+LITIG~+MEAN~+MODIFIC~+MOZILLA~+"
    "NON~+NOTIC~+PATEN~+RECIPIEN~+RIGHT~+SECONDARI~+SECTION~+SOFTWAR~+SOURC~+STEWARD~+"
    "TERMIN~+TERM~+VERSION~+WARRANTI~+";
const char kLgplQuery[] =
    "BAS~+CODE~+COPI~+COPYRIGHT~+COPY~+DERIVATIV~+DISTRIBUTION~+DISTRIBUT~+EXECUTABL~+"
    "FREEDOM~+FREE~+GENERAL~+GNU~+LESS~+LIBRARI~+LICENSE~+LICENS~+LINK~+MODIFIC~+MODIFI~+"
    "NON~+NOTIC~+ORDINARI~+PATEN~+PORTION~+PROGRAM~+PUBLIC~+RECIPIEN~+REDISTRIBUT~+"
    "SECTION~+SOFTWAR~+SOURC~+SUBLICENS~+TERM~+USA~+USER~+USE~+VERSION~+WARRANTI~+WORK~+";
// Both texts at once; front end A's order before stripping sorts the terms.
const char kBothQuery[] =
    "ADDITIONAL~+AFFERO~+APACH~+APPLICABL~+CODE~+CONDITION~+CONTRIBUTOR~+CONVEI~+CONVEY~+"
    "COPYRIGHT~+COPY~+CORRESPOND~+COVER~+DERIVATIV~+GNU~+INCLUD~+INTERFAC~+LIABILITI~+"
    "LICENSOR~+LICENS~+MODIFIC~+MODIFI~+NON~+NOTIC~+OBJECT~+PATEN~+PERMISSION~+PRODUCT~+"
    "PROGRAM~+PROPAGAT~+PUBLIC~+RECIPIEN~+SOFTWAR~+SOURC~+SUBLICENS~+TERM~+USER~+"
    "VERSION~+WARRANTI~+WORK~+";
const char kGpl3Ranked[] =
    "LICENS~+COPYRIGHT~+GNU~+PATEN~+VERSION~+CONVEI~+PROGRAM~+WORK~+CODE~+CONVEY~+"
    "WARRANTI~+COVER~+COPY~+USER~+CORRESPOND~+MODIFI~+SOURC~+PERMISSION~+SOFTWAR~+"
    "CONTRIBUTOR~+RECIPIEN~+TERM~+LICENSOR~+PROPAGAT~+NOTIC~+MODIFIC~+APPLICABL~+"
    "PRODUCT~+AFFERO~+INTERFAC~+PUBLIC~+ADDITIONAL~+CIRCUMVENTION~+NON~+COPI~+SECTION~+"
    "GENERAL~+OBJECT~+PARTI~+LIABILITI~+";
// 64 KB of the GPL and Apache texts repeated.
const char kWindowQuery[] =
    "ADDITIONAL~+APPLICABL~+CIRCUMVENTION~+CODE~+CONTRIBUTOR~+CONVEI~+CONVEY~+COPI~+"
    "COPYRIGHT~+COPY~+CORRESPOND~+COVER~+DERIVATIV~+GNU~+INCLUD~+INSTALL~+INTERFAC~+"
    "LIABILITI~+LICENSOR~+LICENS~+MODIFIC~+MODIFI~+NON~+NOTIC~+OBJECT~+PATEN~+"
    "PERMISSION~+PRODUCT~+PROGRAM~+PROPAGAT~+PUBLIC~+RECIPIEN~+SECTION~+SOFTWAR~+SOURC~+"
    "TERM~+USER~+VERSION~+WARRANTI~+WORK~+";
const char kMplPhrases[] =
    "AFFERO+CLAIMS+CODE+CONDITIONS+CONTRIBUTION+CONTRIBUTIONS+CONTRIBUTOR+COVERED+DATE+EACH+"
    "EFFECTIVE+EXECUTABLE+EXHIBIT+FORM+GENERAL+GNU+GRANT+GRANTS+INCOMPATIBLE+LARGER+LESSER+"
    "LICENSABLE+LICENSE+LICENSES+MODIFICATIONS+MOZILLA+PATENT+PUBLIC+SCOPE+SECONDARY+SECTION+"
    "SOFTWARE+SOURCE+VERSION+WITH+WORK+YOU+YOUR+";

}  // namespace

TEST_F(LongTexts, FrontEndAGivesTheSameQueries) {
    QueryBuilder builder(weights_, {});
    QueryOptions options;
    EXPECT_EQ(builder.build(gpl3_, options).text, kGpl3Query);
    EXPECT_EQ(builder.build(apache_, options).text, kApacheQuery);
    EXPECT_EQ(builder.build(mpl_, options).text, kMplQuery);
    EXPECT_EQ(builder.build(lgpl_, options).text, kLgplQuery);
    BuiltQuery q = builder.build(gpl3_ + apache_, options);
    // Section numbers (6B, 6D) look like noise and rank low.
    EXPECT_EQ(q.terms, 40);
    EXPECT_EQ(q.text, kBothQuery);

    // Without stripping the terms keep front end A's order, numbers included; the user
    // stop list removes terms only with their marker.
    QueryOptions off;
    off.removeDuplicates = off.removeNumbers = off.removeSingleLetters = false;
    off.removeAmpersands = false;
    EXPECT_EQ(builder.build(gpl3_, off).text, kGpl3Ranked);
    QueryBuilder stopping(weights_, {"gnu~", "Affero~", "LICENS"});
    std::string withoutStopped = kGpl3Query;
    for (std::string gone : {"AFFERO~+", "GNU~+"})
        withoutStopped.erase(withoutStopped.find(gone), gone.size());
    EXPECT_EQ(stopping.build(gpl3_, options).text, withoutStopped);
}

TEST_F(LongTexts, ProfileBuiltFromTheTexts) {
    testing_support::TempDir dir;
    UserProfile profile = profileCreate();
    QueryBuilder builder(weights_, {}, &profile, dir.file("profile.dat"));
    QueryOptions options;
    // The profile does not change the queries.
    EXPECT_EQ(builder.build(gpl3_, options).text, kGpl3Query);
    EXPECT_EQ(builder.build(apache_, options).text, kApacheQuery);
    EXPECT_EQ(builder.build(lgpl_, options).text, kLgplQuery);
    EXPECT_EQ(builder.build(gpl3_, options).text, kGpl3Query);
    EXPECT_EQ(builder.build(mpl_, options).text, kMplQuery);

    EXPECT_EQ(digest(profileFormat(profile)), "2814:ba2922f5b87b72fd");
    // The texts overlap enough to land in one category.
    std::string sizes;
    for (const auto& c : profile.categories) sizes += std::to_string(c.terms.size()) + " ";
    EXPECT_EQ(sizes, "200 0 0 0 0 0 0 0 0 0 ");
    EXPECT_EQ(profileQueryText(profile, 0, 12),
              "LICENS~[700]+CONTRIBUTOR~[700]+SOFTWAR~[700]+COVER~[700]+VERSION~[700]+CODE~[700]+"
              "PATEN~[700]+RECIPIEN~[700]+WARRANTI~[700]+LIABILITI~[700]+NOTIC~[700]+"
              "EXECUTABL~[700]");
    auto saved = profileLoad(dir.file("profile.dat"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(profileFormat(*saved), profileFormat(profile));

    // A threshold no overlap reaches: every text empties the weakest category.
    UserProfile cycling = profileCreate(4, 50, 1000000);
    std::vector<int> chosen;
    for (const std::string* t : {&gpl3_, &apache_, &lgpl_, &gpl3_, &mpl_})
        chosen.push_back(profileUpdate(t->c_str(), cycling, weights_));
    EXPECT_EQ(chosen, (std::vector<int>{0, 1, 2, 3, 1}));
    EXPECT_EQ(digest(profileFormat(cycling)), "2766:d925d948b9fa6132");

    auto terms = profileExtractTerms(apache_.c_str(), weights_);
    std::string top;
    for (size_t i = 0; i < 12 && i < terms.size(); ++i)
        top += terms[i].term + "=" + std::to_string(terms[i].score) + " ";
    EXPECT_EQ(terms.size(), 308u);
    EXPECT_EQ(top,
              "LICENS=861 LICENSOR=806 DERIVATIV=632 CONTRIBUTOR=573 COPYRIGHT=530 APACH=514 "
              "WORK=465 NOTIC=445 CONTRIBUTIO=404 WARRANTI=399 ENTITI=397 MODIFIC=382 ");
}

TEST_F(LongTexts, RepeatedWindowSizedText) {
    // 64 KB of the two texts, repeated, three times into the same profile.
    std::string source = gpl3_ + apache_, text;
    while (text.size() < 64 * 1024) text += source;
    text.resize(64 * 1024);
    UserProfile profile = profileCreate();
    QueryBuilder builder(weights_, {}, &profile);
    QueryOptions options;
    std::string first = builder.build(text, options).text;
    EXPECT_EQ(first, kWindowQuery);
    EXPECT_EQ(builder.build(text, options).text, first);
    EXPECT_EQ(builder.build(text, options).text, first);
    EXPECT_EQ(digest(profileFormat(profile)), "2872:87d90d11e3da6f5e");

    auto ranked = rankTerms(text.c_str(), weights_);
    std::string scores;
    for (size_t i = 0; i < 8 && i < ranked.size(); ++i)
        scores += ranked[i].term + "=" + std::to_string(ranked[i].value) + " ";
    EXPECT_EQ(ranked.size(), 772u);
    EXPECT_EQ(scores,
              "LICENS=1912 COPYRIGHT=1138 WORK=981 CODE=960 LICENSOR=954 GNU=920 CONVEI=912 "
              "PATEN=910 ");
}

TEST_F(LongTexts, FrontEndBPhrases) {
    // Front end B keeps the first 40 distinct words of the phrases, so a long text sends
    // as bounded a query as front end A.
    QueryBuilder builder(nullptr, {});
    QueryOptions options;
    EXPECT_EQ(digest(builder.build(gpl3_, options).text), "289:499668f70319a60d");
    EXPECT_EQ(digest(builder.build(apache_, options).text), "296:d9b6b9220b7ee3b4");
    EXPECT_EQ(builder.build(mpl_, options).text, kMplPhrases);
    QueryOptions keep;
    keep.removeDuplicates = keep.removeNumbers = keep.removeSingleLetters = false;
    EXPECT_EQ(digest(builder.build(gpl3_, keep).text), "254:f5b0de8718458402");
    QueryBuilder stopping(nullptr, {"foundation", "GNU"});
    EXPECT_EQ(digest(stopping.build(gpl3_, options).text), "292:b2a065034c322c0e");
}
