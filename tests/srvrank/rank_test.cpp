// Direct scoring of flat OR queries: it must rank, weigh and cut off exactly like
// Xapian's matcher on the same index, and see every commit.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "server/dispatch.h"
#include "server/store.h"
#include "tests/common/tempdir.h"

using namespace ixoserver;

namespace {

// Made-up words that the word filter keeps as they are (no stop words, nothing stemmed).
std::string word(size_t i) {
    std::string w = "zq";
    for (size_t n = i + 1; n; n /= 20) w += static_cast<char>('b' + n % 20);
    return w + "x";
}

class RankTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config.home = dir.path().string();
        store = std::make_unique<Store>(config.dataPath(), 10000);
        std::string error;
        ASSERT_TRUE(store->open(error)) << error;
        // Documents of very different lengths over a skewed vocabulary, so that term
        // frequencies, document lengths and repeated words all vary.
        std::mt19937 rng(4242);
        std::vector<IdxDocument> docs;
        for (int d = 0; d < 700; ++d) {
            IdxDocument doc;
            doc.reference = "doc" + std::to_string(d);
            doc.title = word(rng() % 50) + " " + word(rng() % 400);
            const int length = 3 + static_cast<int>(rng() % (d % 7 == 0 ? 600 : 120));
            for (int w = 0; w < length; ++w) {
                const double u = std::uniform_real_distribution<double>(0, 1)(rng);
                doc.content += word(static_cast<size_t>(std::pow(u, 2.5) * 400)) + " ";
            }
            docs.push_back(doc);
        }
        store->addDocuments(docs, "", false);
        store->commit();
    }

    void add(const std::string& ref, const std::string& content) {
        IdxDocument doc;
        doc.reference = ref;
        doc.title = ref;
        doc.content = content;
        store->addDocuments({doc}, "", false);
        store->commit();
    }

    std::string ask(const std::string& target) {
        HttpRequestData req;
        req.method = "GET";
        req.target = target;
        return Dispatcher(*store, config).handle(PortKind::Query, req, true).reply.body;
    }

    testing_support::TempDir dir;
    ServerConfig config;
    std::unique_ptr<Store> store;
};

TEST_F(RankTest, RanksWeighsAndCutsOffLikeXapiansMatcher) {
    std::mt19937 rng(99);
    store->withReader([&](Xapian::Database& db) {
        auto lengths = store->docLengths(db);
        ASSERT_TRUE(lengths);
        for (int round = 0; round < 120; ++round) {
            // Distinct terms, common and rare, some scaled, sometimes one absent term.
            std::set<size_t> picked;
            const size_t n = 1 + rng() % 40;
            while (picked.size() < n) picked.insert(rng() % 420);
            std::vector<std::pair<std::string, double>> terms;
            std::vector<Xapian::Query> parts;
            for (size_t i : picked) {
                const double factor = rng() % 3 == 0 ? 0.25 + (rng() % 12) * 0.25 : 1.0;
                terms.emplace_back(i >= 410 ? "absentterm" + std::to_string(i) : word(i), factor);
                Xapian::Query q(terms.back().first);
                if (factor != 1.0) q = Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, q, factor);
                parts.push_back(q);
            }
            const size_t first = round % 4 == 0 ? rng() % 5 : 0;
            const size_t count = 1 + rng() % 12;
            const int cutoff = round % 3 == 0 ? static_cast<int>(rng() % 60) : 0;

            Xapian::Enquire enquire(db);
            enquire.set_query(Xapian::Query(Xapian::Query::OP_OR, parts.begin(), parts.end()));
            enquire.set_cutoff(cutoff);
            Xapian::MSet mset = enquire.get_mset(static_cast<Xapian::doccount>(first),
                                                 static_cast<Xapian::doccount>(count));
            Xapian::doccount matching = 0;
            // Half the rounds count every match, the others may give up documents early.
            const bool counted = round % 2 == 0;
            auto hits = rankAnyTerm(db, *lengths, terms, first, count, cutoff,
                                    counted ? &matching : nullptr);

            ASSERT_EQ(hits.size(), mset.size()) << "round " << round;
            if (counted) {
                EXPECT_GE(matching, mset.size());
            }
            size_t k = 0;
            for (auto it = mset.begin(); it != mset.end(); ++it, ++k) {
                const auto& h = hits[k];
                EXPECT_NEAR(h.weight, it.get_weight(), 1e-9) << "round " << round << " rank " << k;
                EXPECT_EQ(h.percent, it.get_percent()) << "round " << round << " rank " << k;
                // Documents of equal weight may be summed in another order and swap.
                const bool tied =
                    (k > 0 && std::fabs(hits[k - 1].weight - h.weight) < 1e-9) ||
                    (k + 1 < hits.size() && std::fabs(hits[k + 1].weight - h.weight) < 1e-9);
                if (!tied) {
                    EXPECT_EQ(h.id, *it) << "round " << round << " rank " << k;
                }
                std::set<std::string> expected(enquire.get_matching_terms_begin(h.id),
                                               enquire.get_matching_terms_end(h.id));
                std::set<std::string> got;
                for (size_t i = 0; i < terms.size(); ++i)
                    if (h.matched >> i & 1) got.insert(terms[i].first);
                EXPECT_EQ(got, expected) << "round " << round << " rank " << k;
            }
        }
    });
}

TEST_F(RankTest, SuggestionRepliesEqualThoseOfTheGeneralQueryPath) {
    // A database restriction that every document passes sends the same query through
    // Xapian's matcher; apart from the hit estimate the replies must be the same.
    auto withoutTotal = [](std::string s) {
        const size_t p = s.find("totalhits=");
        if (p != std::string::npos) s.erase(p, s.find('\n', p) - p + 1);
        return s;
    };
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        std::string text;
        for (int i = 0; i < 40; ++i) {
            text += word(rng() % 400) + "~";
            if (i % 5 == 0) text += "[" + std::to_string(50 + rng() % 200) + "]";
            text += "+";
        }
        const std::string options = round % 2 ? "&xoptions=inchitcount+withsummary" : "";
        const std::string common = "/qmethod=E&querytext=" + text +
                                   "&qnum=" + std::to_string(1 + round % 9) +
                                   "&idnum=" + std::to_string(round % 4 * 15) + options;
        const std::string fast = ask(common + "&attachto=-1");
        ASSERT_NE(fast.find("Doc_name="), std::string::npos) << fast;
        EXPECT_EQ(withoutTotal(fast), withoutTotal(ask(common + "&attachto=0")))
            << "round " << round;
    }
}

TEST_F(RankTest, QueriesSeeEachCommitAndNotDeletedDocuments) {
    const std::string q = "/qmethod=E&querytext=zqfreshwordx~+zqotherwordx~&qnum=6&idnum=0";
    EXPECT_EQ(ask(q), "numhits=0\n");
    add("fresh", "zqfreshwordx zqfreshwordx zqotherwordx");
    std::string reply = ask(q);
    EXPECT_NE(reply.find("Doc_name=fresh\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Doc_weight=100\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find("links=ZQFRESHWORDX+ZQOTHERWORDX\n"), std::string::npos) << reply;

    // A longer document with the same words, added later, ranks below the short one.
    add("fresh2", "zqfreshwordx zqotherwordx " + std::string(2000, 'a'));
    reply = ask(q);
    EXPECT_LT(reply.find("Doc_name=fresh\n"), reply.find("Doc_name=fresh2\n")) << reply;

    ASSERT_EQ(store->deleteReferences({"fresh"}, -1), 1);
    store->commit();
    reply = ask(q);
    EXPECT_EQ(reply.find("Doc_name=fresh\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Doc_name=fresh2\n"), std::string::npos) << reply;
}

}  // namespace
