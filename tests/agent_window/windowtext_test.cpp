// Line texts, tips, icons and titles of the suggestions window, from replies parsed by
// the client library as the worker gets them.
#include "agent/windowtext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ixo.h"

namespace {

// A parsed full-form reply holding the given record blocks.
class Reply {
  public:
    explicit Reply(const std::string& blocks, int hits) {
        std::string text = "numhits=" + std::to_string(hits) + "\n" + blocks;
        char* buffer = static_cast<char*>(memAlloc(text.size() + 1));
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        EXPECT_EQ(ixoGetResultsFromBuffer(&result, buffer, 1), 1);
    }
    ~Reply() { ixoDestroyQueryResult(&result); }
    IxoQueryResult result{};
};

std::string record(const std::string& title, int weight, const std::string& fields = "") {
    return "Doc_name=http://example/" + std::to_string(weight) + "\nURL_title=" + title +
           "\nDoc_id=1\nDoc_weight=" + std::to_string(weight) + "\nlinks=\ndbase=0\n" + fields;
}

TEST(LineText, SimilarityTrimmingAndLength) {
    std::string longTitle(300, 'T');
    Reply reply(record("  Apples ", 87) + record(longTitle, 50), 2);
    ASSERT_EQ(reply.result.hitCount, 2);
    EXPECT_EQ(agent::lineText(reply.result, "", 0, true), "87%   Apples");
    EXPECT_EQ(agent::lineText(reply.result, "", 0, false), "Apples");
    EXPECT_EQ(agent::lineText(reply.result, "", 1, false), std::string(256, 'T'));
    EXPECT_EQ(agent::lineText(reply.result, "", 1, true), "50%   " + std::string(256, 'T'));
    // Outside the result: nothing, not a crash.
    EXPECT_EQ(agent::lineText(reply.result, "", 2, true), "");
    EXPECT_EQ(agent::lineText(reply.result, "", -1, true), "");
}

TEST(LineText, TitleFieldAndTipOfProducts) {
    Reply reply(record("Widget &amp; Co", 40, "DOCTYPE=PRODUCT\nPRICE= USD 12.50\nCURRENCY=\n") +
                    record("Gadget", 30, "DOCTYPE=PRODUCT\nPRICE=none\n") +
                    record("Plain &amp; simple", 20, "Headline=Other title\n"),
                3);
    ASSERT_EQ(reply.result.hitCount, 3);
    // A product's tip shows the price instead of the similarity, "&amp;" as "&".
    EXPECT_EQ(agent::tipText(reply.result, "", 0, true), "$12   Widget & Co");
    // No digits in the price: the ordinary line.
    EXPECT_EQ(agent::tipText(reply.result, "", 1, true), "30%   Gadget");
    EXPECT_EQ(agent::tipText(reply.result, "", 2, true), "20%   Plain & simple");
    EXPECT_EQ(agent::lineText(reply.result, "Headline", 2, false), "Other title");
}

TEST(DocTypeIcon, ExactValuesOnly) {
    Reply reply(record("a", 1, "DocType=Email\n") + record("b", 1, "DocType=email\n") +
                    record("c", 1, "DocType=PRODUCT\n") + record("d", 1, "DocType=\n") +
                    record("e", 1, "DocType=BOOK\nDocType=Word\n") + record("f", 1),
                6);
    ASSERT_EQ(reply.result.hitCount, 6);
    EXPECT_EQ(agent::docTypeIcon(reply.result.records[0]), 2);
    EXPECT_EQ(agent::docTypeIcon(reply.result.records[1]), 0);  // case matters
    EXPECT_EQ(agent::docTypeIcon(reply.result.records[2]), 12);
    EXPECT_EQ(agent::docTypeIcon(reply.result.records[3]), 0);
    EXPECT_EQ(agent::docTypeIcon(reply.result.records[4]), 11);  // the first field counts
    EXPECT_EQ(agent::docTypeIcon(reply.result.records[5]), 0);
}

TEST(WindowTitle, SuffixesAndSources) {
    EXPECT_EQ(agent::windowTitle("Halvoran", "Vantri", "", false, "x"), "Halvoran Vantri");
    EXPECT_EQ(agent::windowTitle("Halvoran", "Vantri", agent::kSuffixNotConnected, false, ""),
              "Halvoran Vantri [not connected]");
    EXPECT_EQ(agent::windowTitle("H", "V", " .", true, ""), "H V .     Sources: All");
    EXPECT_EQ(agent::windowTitle("H", "V", "", true, "Web,News,"), "H V     Sources: Web,News");
}

TEST(ShortenToFit, CutsToTheCell) {
    auto fitsIn = [](size_t n) { return [n](const std::string& s) { return s.size() <= n; }; };
    EXPECT_EQ(agent::shortenToFit("short", fitsIn(10)), "short");
    EXPECT_EQ(agent::shortenToFit("abcdefghijkl", fitsIn(8)), "abcde...");
    // Never less than one character before the dots.
    EXPECT_EQ(agent::shortenToFit("abcdef", fitsIn(0)), "a...");
    // Long texts are first cut to 243 characters.
    std::string seen;
    agent::shortenToFit(std::string(400, 'x'), [&](const std::string& s) {
        if (seen.empty() && s.size() != 400) seen = s;
        return s.size() <= 100;
    });
    EXPECT_EQ(seen.size(), 246u);  // 243 characters and the dots
}

}  // namespace
