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
    "AFFERO~+ANCILLARI~+ANTI~+CIRCUMVENTION~+CONVEI~+CONVEY~+COPYLEFT~+COPYRIGHTABL~+"
    "COPYRIGHT~+CORRESPOND~+COUNTERCLAIM~+DECEMB~+DENOMINAT~+FSF~+GNU~+GPL~+GRATI~+GUI~+"
    "HTML~+HTTP~+INDEMNIFIC~+INFRING~+JUNE~+LGPL~+LICENSE~+LICENSOR~+LICENS~+"
    "MERCHANTABILITI~+NON~+ORG~+PATEN~+PERMISSIV~+PROPAGAT~+PROPAG~+RELICENS~+SUBLICENS~+"
    "WARRANTI~+WWW~+";
const char kApacheQuery[] =
    "ADDENDUM~+ANNOT~+APACH~+APPROPRIATENESS~+ATTRIBUTION~+AUTHORSHIP~+BOILERPLAT~+"
    "COMPLIANC~+CONSPICUOUS~+CONTRIBUTOR~+COPYRIGHT~+COUNTERCLAIM~+DERIVATIV~+HTTP~+III~+"
    "II~+INDEMNIFI~+INDEMNITI~+IRREVOCABL~+JANUARI~+LIABILITI~+LICENSABL~+LICENSOR~+"
    "LICENS~+LITIG~+MERCHANTABILITI~+MODIFIC~+NON~+ORG~+PATEN~+PERTAIN~+REDISTRIBUT~+"
    "SEPARABL~+SUBLICENS~+TORT~+TRADEMARK~+WARRANTI~+WORK~+WWW~+YYYY~+";
const char kMplQuery[] =
    "AFFERO~+COMPLIANC~+COMPLIAN~+COMP~+CONSTRU~+CONTRIBUTOR~+CONVEY~+DECLARATORI~+"
    "DISTRIBUTOR~+ENFORCEABL~+EXECUTABL~+GNU~+HEREOF~+HTTP~+II~+INDEMNIFI~+INDEMNITI~+"
    "INFRING~+JURISDICTION~+LIABILITI~+LICENSABL~+LICENS~+LITIG~+MERCHANTABL~+MODIFIC~+"
    "MOZILLA~+MPL~+NEGLIGENC~+NON~+ORG~+PATEN~+RECIPIEN~+RESELL~+STATUT~+STEWARD~+"
    "SUBLICENS~+TORT~+TRADEMARK~+UNENFORCEABL~+WARRANTI~+";
const char kLgplQuery[] =
    "ACCESSOR~+AGGREG~+APRIL~+BOSTON~+COON~+COPYRIGHT~+DERIVATIV~+DE~+EXECUTABL~+FACTO~+"
    "FEBRUARI~+FRANKLIN~+FROB~+GNU~+GPL~+GRATI~+HEREINAFT~+INC~+INLIN~+JAME~+LIBRARI~+"
    "LICENSE~+LICENSOR~+LICENS~+LINUX~+MACRO~+MERCHANTABILITI~+MODIFIC~+NON~+"
    "REDISTRIBUT~+RELINK~+STATICAL~+SUBLICENS~+UNCOMBIN~+UNENFORCEABL~+USA~+WARRANTI~+"
    "YOYODYN~+";
// Both texts at once; front end A's order before stripping sorts the terms.
const char kBothQuery[] =
    "AFFERO~+ANCILLARI~+ANTI~+APACH~+APPROPRIATENESS~+ATTRIBUTION~+BOILERPLAT~+"
    "CIRCUMVENTION~+CONTRIBUTOR~+CONVEI~+CONVEY~+COPYRIGHT~+CORRESPOND~+COUNTERCLAIM~+"
    "DERIVATIV~+GNU~+GPL~+GRATI~+HTTP~+INFRING~+LICENSE~+LICENSOR~+LICENS~+"
    "MERCHANTABILITI~+NON~+ORG~+PATEN~+PERMISSIV~+PROPAGAT~+PROPAG~+REDISTRIBUT~+"
    "RELICENS~+SEPARABL~+SUBLICENS~+TRADEMARK~+WARRANTI~+WORK~+WWW~+";
const char kGpl3Ranked[] =
    "LICENS~+GPL~+GNU~+CONVEY~+HTTP~+LICENSOR~+ORG~+AFFERO~+LICENSE~+WWW~+PROPAGAT~+NON~+"
    "GRATI~+MERCHANTABILITI~+RELICENS~+SUBLICENS~+COPYRIGHT~+PATEN~+CONVEI~+CORRESPOND~+"
    "CIRCUMVENTION~+INFRING~+WARRANTI~+PERMISSIV~+PROPAG~+6B~+6D~+ANCILLARI~+ANTI~+"
    "COPYLEFT~+COPYRIGHTABL~+COUNTERCLAIM~+DECEMB~+DENOMINAT~+FSF~+GUI~+HTML~+"
    "INDEMNIFIC~+JUNE~+LGPL~+";
// 64 KB of the GPL and Apache texts repeated.
const char kWindowQuery[] =
    "AFFERO~+AGGREGAT~+ANTI~+APACH~+CIRCUMVENTION~+CONVEI~+CONVEY~+COPYLEFT~+"
    "COPYRIGHTABL~+COPYRIGHT~+CORRESPOND~+COUNTERCLAIM~+DECEMB~+FSF~+GNU~+GPL~+GRATI~+"
    "HTTP~+JUNE~+LICENSE~+LICENSOR~+LICENS~+MATERIAL~+MERCHANTABILITI~+NONCOMMERCIAL~+"
    "NON~+ORG~+PATEN~+PERPETUITI~+PROPAGAT~+RELICENS~+ROM~+SEPARABL~+SUBLICENS~+"
    "WARRANTI~+WIPO~+WORK~+WWW~+";
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
    // 6B and 6D (section numbers) read as numbers and are stripped.
    EXPECT_EQ(q.terms, 38);
    EXPECT_EQ(q.text, kBothQuery);

    // Without stripping the terms keep front end A's order, numbers included; the user
    // stop list removes terms only with their marker.
    QueryOptions off;
    off.removeDuplicates = off.removeNumbers = off.removeSingleLetters = false;
    off.removeAmpersands = false;
    EXPECT_EQ(builder.build(gpl3_, off).text, kGpl3Ranked);
    QueryBuilder stopping(weights_, {"gpl~", "Affero~", "LICENS"});
    std::string withoutStopped = kGpl3Query;
    for (std::string gone : {"AFFERO~+", "GPL~+"})
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

    EXPECT_EQ(digest(profileFormat(profile)), "2832:c5b50da075c85160");
    // The texts overlap enough to land in one category.
    std::string sizes;
    for (const auto& c : profile.categories) sizes += std::to_string(c.terms.size()) + " ";
    EXPECT_EQ(sizes, "200 0 0 0 0 0 0 0 0 0 ");
    EXPECT_EQ(profileQueryText(profile, 0, 12),
              "LICENS~[700]+NON~[700]+HTTP~[700]+ORG~[700]+SUBLICENS~[700]+AFFERO~[700]+GNU~[700]+"
              "PATEN~[700]+INFRING~[700]+WARRANTI~[700]+CONVEY~[700]+CONTRIBUTOR~[700]");
    auto saved = profileLoad(dir.file("profile.dat"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(profileFormat(*saved), profileFormat(profile));

    // A threshold no overlap reaches: every text empties the weakest category.
    UserProfile cycling = profileCreate(4, 50, 1000000);
    std::vector<int> chosen;
    for (const std::string* t : {&gpl3_, &apache_, &lgpl_, &gpl3_, &mpl_})
        chosen.push_back(profileUpdate(t->c_str(), cycling, weights_));
    EXPECT_EQ(chosen, (std::vector<int>{0, 1, 2, 3, 1}));
    EXPECT_EQ(digest(profileFormat(cycling)), "2771:724f04d1bfde87eb");

    auto terms = profileExtractTerms(apache_.c_str(), weights_);
    std::string top;
    for (size_t i = 0; i < 12 && i < terms.size(); ++i)
        top += terms[i].term + "=" + std::to_string(terms[i].score) + " ";
    EXPECT_EQ(terms.size(), 308u);
    EXPECT_EQ(top,
              "LICENSOR=806 APACH=624 LICENS=399 HTTP=360 ORG=360 WWW=360 DERIVATIV=271 "
              "ATTRIBUTION=256 APPROPRIATE=255 BOILERPLAT=255 COUNTERCLAI=255 II=255 ");
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
    EXPECT_EQ(digest(profileFormat(profile)), "2902:f4f78d599107d674");

    auto ranked = rankTerms(text.c_str(), weights_);
    std::string scores;
    for (size_t i = 0; i < 8 && i < ranked.size(); ++i)
        scores += ranked[i].term + "=" + std::to_string(ranked[i].value) + " ";
    EXPECT_EQ(ranked.size(), 772u);
    EXPECT_EQ(scores,
              "LICENSOR=954 GPL=919 LICENS=886 CONVEY=689 GNU=677 HTTP=674 ORG=674 APACH=624 ");
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
