// The HTML scanner: token rules, character references, counters, malformed markup and
// the deadline.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "import/htmlparse.h"
#include "memutil.h"

namespace {

HtmlParseRecord parse(const std::string& html, int flags = kHtmlDecodeReferences) {
    HtmlParseRecord record;
    EXPECT_EQ(htmlParse(html, flags, record), kHtmlParseOk);
    return record;
}

TEST(HtmlScanner, FillsTitleHeadingsBodyMetaAndAnchors) {
    const std::string page =
        "<!DOCTYPE html><html><head>\n"
        "<TITLE>The  Page\nTitle</TITLE>\n"
        "<meta name=\"description\" content=\"What it is\">\n"
        "<meta content=\"a, b\" name=\"keywords\">\n"
        "<meta name='single' content='quoted'>\n"
        "<style>p { color: red }</style><script type=\"x\">var a = '<p>';</script>\n"
        "</head><body>\n"
        "<h1 class=\"t\">First</h1><p>Intro text.</p>\n"
        "<a name=\"sec1\"></a><h2>Second <b>heading</b></h2>\n"
        "<h4>not a heading</h4><h3>Third</h3><h2>Fourth</h2><h1>Fifth</h1>\n"
        "<!-- a comment <p> with tags -->"
        "Some <b>bold</b>text<br>and<div>blocks</div>"
        "<a href=\"x.html\">link words</a> after.</body></html>";
    HtmlParseRecord r = parse(page);
    EXPECT_EQ(r.title, " The Page Title");
    EXPECT_TRUE(r.titleSeen);
    EXPECT_EQ(r.headingCount, 4);
    EXPECT_EQ(r.headings[0], "First");
    EXPECT_EQ(r.headings[1], "Second heading");
    EXPECT_EQ(r.headings[2], "Third");
    EXPECT_EQ(r.headings[3], "Fourth");
    ASSERT_EQ(r.metaNames.size(), 2u);  // only double-quoted values, in either order
    EXPECT_EQ(r.metaNames[0], "description");
    EXPECT_EQ(r.metaValues[0], "What it is");
    EXPECT_EQ(r.metaNames[1], "keywords");
    EXPECT_EQ(r.metaValues[1], "a, b");
    ASSERT_EQ(r.anchors.size(), 1u);
    EXPECT_EQ(r.anchors[0].name, "sec1");
    EXPECT_EQ(r.anchors[0].heading, "Second heading");
    EXPECT_EQ(r.body.substr(r.anchors[0].offset, 6), "Second");
    EXPECT_EQ(r.body.find("color"), std::string::npos);
    EXPECT_EQ(r.body.find("var a"), std::string::npos);
    EXPECT_EQ(r.body.find("comment"), std::string::npos);
    EXPECT_NE(r.body.find("First\nIntro text.\n"), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("not a heading Third"), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("Some boldtext and blocks link words after."), std::string::npos)
        << r.body;
    ASSERT_EQ(r.links.size(), 1u);
    EXPECT_EQ(r.links[0], "x.html");
    EXPECT_EQ(r.bodyLength, static_cast<long>(r.body.size()));
    EXPECT_EQ(r.titleLength, static_cast<long>(r.title.size()));
    EXPECT_EQ(r.linkLength, 9);  // "link" and "words"
    EXPECT_EQ(r.metaLength, 11 + 10 + 8 + 4);
}

TEST(HtmlScanner, TitleEndsAtTheBodyWhenItsEndTagIsMissing) {
    HtmlParseRecord r = parse("<title>Lost end<body>Body text<title>Second</title>more");
    EXPECT_EQ(r.title, " Lost end");
    EXPECT_EQ(r.body, "Body text more");
}

TEST(HtmlScanner, ReferencesDecodedOnlyWhenCompleteAndValid) {
    HtmlParseRecord r = parse(
        "caf&eacute; &amp; &lt;b&gt; &#233;&#xE9; &#8364; &#x2014; &#150; &#x142;&oacute;d&#378; "
        "&#x4E2D;|&amp|&bogus;|&#;|&#0;|&#xD800;|&#99999999999;|&eacute&#65");
    EXPECT_EQ(r.body,
              "caf\xE9 & <b> \xE9\xE9 \x80 \x97 \x96 l\xF3"
              "dz ?|&amp|&bogus;|&#;|&#0;|&#xD800;|"
              "&#99999999999;|&eacute&#65");
    EXPECT_EQ(parse("a&nbsp;b&amp;c", 0).body, "a&nbsp;b&amp;c");
    EXPECT_EQ(parse("a&nbsp;&nbsp;b").body, "a b");
    EXPECT_EQ(parse("<title>A &amp; B</title>").title, " A & B");
    std::string out;
    EXPECT_EQ(htmlDecodeReference("&quot;rest", out), 6u);
    EXPECT_EQ(htmlDecodeReference("&", out), 0u);
    EXPECT_EQ(htmlDecodeReference("&#x", out), 0u);
    EXPECT_EQ(out, "\"");
}

TEST(HtmlScanner, MalformedMarkupNeverLosesTheRestOfThePage) {
    // A stray quote inside a tag does not swallow the page.
    EXPECT_EQ(parse("<p class=\"x>text</p> more").body, "text\nmore");
    // A lone "<" and a "<" that starts no tag are text.
    EXPECT_EQ(parse("a < b <3 c<").body, "a < b <3 c<");
    EXPECT_EQ(parse("x</ y").body, "x</ y");
    // Unterminated constructs end the page quietly, keeping what came before.
    EXPECT_EQ(parse("kept<!-- never closed <p>lost").body, "kept");
    EXPECT_EQ(parse("kept<a href=\"never closed").body, "kept");
    EXPECT_EQ(parse("kept<script>never closed").body, "kept");
    EXPECT_EQ(parse("<title>never closed").title, " never closed");
    EXPECT_EQ(parse("kept<a href=x").links.size(), 1u);
    // NUL bytes are white space.
    EXPECT_EQ(parse(std::string("a\0b\0\0c", 6)).body, "a b c");
    // A short comment form and an end tag with attributes.
    EXPECT_EQ(parse("a<!-->b<!--->c</p foo=\"1\">d").body, "abc\nd");
    // An unknown tag with an overlong name is still a tag.
    EXPECT_EQ(parse("a<averyveryverylongtagname x=1>b").body, "a b");
}

TEST(HtmlScanner, HugeSingleTokensStayLinear) {
    const std::string big(10 * 1024 * 1024, 'x');
    EXPECT_EQ(parse(big).bodyLength, static_cast<long>(big.size()));
    HtmlParseRecord r = parse("<a href=\"" + big);
    EXPECT_EQ(r.bodyLength, 0);
    // Quotes in many tags: each pairs with the next one (swallowing every second tag,
    // as browsers do); one left without a partner is searched for only once.
    std::string quotes = "<p a='b>w";
    for (int i = 0; i < 200000; ++i) quotes += "<p a=\"b>w";
    r = parse(quotes);
    EXPECT_EQ(r.bodyLength, 2 * 100000 + 1);
    std::string metas = "<meta name=\"n\" content=\"" + big + "\">";
    r = parse(metas);
    ASSERT_EQ(r.metaValues.size(), 1u);
    EXPECT_EQ(r.metaValues[0].size(), kHtmlMaxAttributeText);
}

TEST(HtmlScanner, StopsAtItsDeadlineKeepingWhatItRead) {
    std::string page;
    for (int i = 0; i < 100000; ++i) page += "<p>word ";
    HtmlParseOptions options;
    options.timeLimit = std::chrono::seconds(0);
    HtmlParseRecord r;
    ASSERT_EQ(htmlParse(page, options, r), kHtmlParseOk);
    EXPECT_TRUE(r.timedOut);
    EXPECT_GT(r.bodyLength, 0);
    EXPECT_LT(r.bodyLength, 100000L * 5);
    EXPECT_EQ(r.bodyLength, static_cast<long>(r.body.size()));
    EXPECT_FALSE(parse(page).timedOut);
}

TEST(HtmlToText, FoldsOrKeepsLines) {
    const char* html = "<p>One &amp; two</p><p>Three<br>four</p>\n\n<div>five</div>";
    char* plain = htmlToText(html, kHtmlDecodeReferences);
    ASSERT_NE(plain, nullptr);
    EXPECT_STREQ(plain, "One & two Three four five");
    memFree(plain);
    EXPECT_EQ(htmlToTextString(html, kHtmlDecodeReferences | kHtmlKeepLines),
              "One & two\nThree\nfour\nfive");
    EXPECT_EQ(htmlToTextString(html, 0), "One &amp; two Three four five");
    EXPECT_EQ(htmlToText(nullptr, 64), nullptr);
    char* empty = htmlToText("<p></p>", 64);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    memFree(empty);
}

TEST(HtmlScanner, RunsFromSeveralThreadsGiveTheirOwnResults) {
    std::vector<std::thread> threads;
    std::vector<std::string> titles(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &titles] {
            for (int i = 0; i < 50; ++i) {
                HtmlParseRecord r;
                htmlParse("<title>T" + std::to_string(t) + "</title><p>body", 64, r);
                titles[t] = r.title;
            }
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(titles[t], " T" + std::to_string(t));
}

}  // namespace
