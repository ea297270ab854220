// Summaries and titles: the summary rule, the title rule with and without the cross-page
// memory, and the exported imexGetSummary.
#include <gtest/gtest.h>

#include <string>

#include "imex_summary.h"
#include "import/summary.h"

namespace {

std::string words(int n, const char* word = "w") {
    std::string out;
    for (int i = 0; i < n; ++i) out += std::string(i ? " " : "") + word + std::to_string(i);
    return out;
}

std::string exported(const char* text, int sentences, int limit) {
    char* s = imexGetSummary(text, sentences, limit);
    if (s == nullptr) return "<null>";
    std::string out = s;
    memFree(s);
    return out;
}

TEST(Summary, SentencesOrWords) {
    EXPECT_EQ(exported("One two.  Three four.\nFive six.", 2, 50), "One two. Three four");
    EXPECT_EQ(exported("One two. Three four.", 5, 50), "One two. Three four.");
    // No sentence end: the first 48 words.
    EXPECT_EQ(exported(words(60).c_str(), 2, 50), words(48));
    EXPECT_EQ(exported(words(10).c_str(), 2, 50), words(10));
    // A first sentence above the word limit switches to words even with sentences asked.
    std::string longFirst = words(51) + ". Short one.";
    EXPECT_EQ(exported(longFirst.c_str(), 2, 50), words(48));
    std::string fiftyFirst = words(50) + ". Short one. Third.";
    EXPECT_EQ(exported(fiftyFirst.c_str(), 2, 50), words(50) + ". Short one");
    // Every sentence-end character counts; a leading one is passed over.
    EXPECT_EQ(exported("Note: this; that? yes! no.", 3, 50), "Note: this; that");
    EXPECT_EQ(exported(". starts with an end. second.", 1, 50), ". starts with an end");
}

TEST(Summary, RefusesWhatWouldHaveStoppedTheProcess) {
    EXPECT_EQ(exported("Some text.", 0, 50), "<null>");
    EXPECT_EQ(exported("Some text.", 2, 7), "<null>");
    EXPECT_EQ(exported(nullptr, 2, 50), "<null>");
    EXPECT_EQ(exported(" \t\n", 2, 50), "<null>");
}

TEST(TitleRule, KeepsOwnTitleOrMakesOneFromText) {
    TitleRuleSettings plain;
    SrcFileSpec doc;
    srcFileSpecSetTitle(&doc, "  Own   title ");
    summaryApplyTitleRule(plain, &doc, "Text words here.", 10);
    EXPECT_EQ(*doc.title, "Own title");

    SrcFileSpec untitled;
    summaryApplyTitleRule(plain, &untitled, "  Hello -- world: a [test] of ===  runs.", 10);
    // Each run becomes its last character: " [" is "[", "] " is " ".
    EXPECT_EQ(*untitled.title, "Hello world a[test of runs.");

    SrcFileSpec trailing;
    summaryApplyTitleRule(plain, &trailing, "Chapter one - - - ", 10);
    EXPECT_EQ(*trailing.title, "Chapter one");

    SrcFileSpec longText;
    summaryApplyTitleRule(plain, &longText, words(30).c_str(), 10);
    EXPECT_EQ(*longText.title, words(10) + "...");

    // A title no longer than the minimum gives way to the text.
    TitleRuleSettings minimum;
    minimum.minTitleChars = 3;
    SrcFileSpec shortTitle;
    srcFileSpecSetTitle(&shortTitle, "abc");
    summaryApplyTitleRule(minimum, &shortTitle, "Real words", 10);
    EXPECT_EQ(*shortTitle.title, "Real words");
}

// Three pages of one site: the same title and header on each, their own headings.
TEST(TitleRule, IntelligentModeSkipsWhatEveryPageRepeats) {
    SummaryMemory memory;
    TitleRuleSettings settings;
    settings.memory = &memory;
    settings.minTitleChars = 3;
    const std::string header = "Example Site Home | Products | About us. ";
    const char* headings[3] = {"Welcome", "Our products", "Who we are"};
    const char* bodies[3] = {"We make widgets of every kind. Since 1990.",
                             "Widgets come in three sizes. Order now.",
                             "A small team in a small town. Write to us."};
    std::string titles[3], summaries[3];
    for (int i = 0; i < 3; ++i) {
        SrcFileSpec doc;
        HtmlParseRecord record;
        record.title = " Example Site";
        record.headings[0] = headings[i];
        srcFileSpecSetTitle(&doc, "Example Site");
        std::string text = header + headings[i] + " " + bodies[i];
        memory.currentPage = record.heads();
        memory.currentOwner = &doc;
        summaryAddToDocument(settings, &doc, text.c_str(), 1, 50);
        summaryApplyTitleRule(settings, &doc, text.c_str(), 10);
        titles[i] = *doc.title;
        summaries[i] = srcFileSpecGetField(&doc, "summary");
    }
    EXPECT_EQ(titles[0], "Example Site");
    EXPECT_EQ(titles[1], "Our products");
    EXPECT_EQ(titles[2], "Who we are");
    // The first two pages cannot know the header yet; the third skips it.
    EXPECT_EQ(summaries[0], "Example Site Home | Products | About us");
    EXPECT_EQ(summaries[2], "Who we are A small team in a small town");
    ASSERT_TRUE(memory.sharedOpening.has_value());
    EXPECT_EQ(*memory.sharedOpening, header);
    EXPECT_EQ(memory.previousTitle, "Who we are");
}

TEST(TitleRule, IntelligentModeWithoutHeadingsTakesTextAfterTheSharedOpening) {
    SummaryMemory memory;
    memory.sharedOpening = "Site header text here. ";
    memory.previousTitle = "Site";
    memory.previousPage = HtmlPageHeads{"Site", {}};
    TitleRuleSettings settings;
    settings.memory = &memory;
    SrcFileSpec doc;
    srcFileSpecSetTitle(&doc, "Site");
    HtmlParseRecord record;
    record.title = "Site";
    memory.currentPage = record.heads();
    memory.currentOwner = &doc;
    summaryApplyTitleRule(settings, &doc, "Site header text here. Distinct page words", 10);
    EXPECT_EQ(*doc.title, "Distinct page words");
    // A candidate of a field TITLE wins over the text.
    SrcFileSpec fielded;
    srcFileSpecSetTitle(&fielded, "Distinct page words");
    srcFileSpecSetField(&fielded, "title", "From the field");
    memory.currentPage = record.heads();
    memory.currentOwner = &fielded;
    summaryApplyTitleRule(settings, &fielded, "anything", 10);
    EXPECT_EQ(*fielded.title, "From the field");
    // The remembered title loses a trailing "...".
    SrcFileSpec cut;
    summaryApplyTitleRule(settings, &cut, words(20).c_str(), 10);
    EXPECT_EQ(memory.previousTitle, words(10));
}

TEST(TitleRule, HeadingsOfASkippedPageAreNotLentToTheNextDocument) {
    SummaryMemory memory;
    TitleRuleSettings settings;
    settings.memory = &memory;
    SrcFileSpec skipped;
    memory.currentPage = HtmlPageHeads{"", {"Skipped heading", "", "", ""}};
    memory.currentOwner = &skipped;
    SrcFileSpec next;
    srcFileSpecSetTitle(&next, "Next title");
    summaryApplyTitleRule(settings, &next, "Text", 10);
    EXPECT_EQ(*next.title, "Next title");
}

}  // namespace
