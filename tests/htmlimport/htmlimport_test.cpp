// The HTML importer: quality score, title fallback, tag stripping, page cuts, the
// document it fills, character sets, real pages from the Debian documentation and the
// whole import of a folder through imexImport.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imex.h"
#include "import/htmlimport.h"
#include "import/importargs.h"
#include "tests/common/tempdir.h"

namespace {

using testing_support::TempDir;

struct Args {
    ImportArgs* args = imargsCreate();
    ~Args() { imargsDestroy(args); }
};

std::string field(const SrcFileSpec& spec, const char* name) {
    const char* v = srcFileSpecGetField(&spec, name);
    return v ? v : "<none>";
}

TEST(HtmlQuality, FormulaOnChosenCounters) {
    EXPECT_EQ(htmlQuality(0, 0, 0, 0, 0), 93);
    EXPECT_EQ(htmlQuality(1000, 100, 0, 0, 0), 105);
    EXPECT_EQ(htmlQuality(1000, 0, 0, 0, 0), 114);              // link length counts as at least 1
    EXPECT_EQ(htmlQuality(5000, 4999, 1000000000, 0, 0), 120);  // B / L is an integer division
    EXPECT_EQ(htmlQuality(10, 10, 3, 1000000000, 1000000000), 90);
    EXPECT_EQ(htmlQuality(1000000, 1, 1000000000000L, 0, 0), 157);  // a and c at their caps
    // Negative spider values count as 0 instead of making the score meaningless.
    EXPECT_EQ(htmlQuality(0, 0, -5, -5, -5), 93);
}

TEST(HtmlTitle, FallsBackToTheFirstHeadingInWholeWords) {
    HtmlParseRecord r;
    r.title = "  Page\n title ";
    r.headings[0] = "Heading";
    EXPECT_EQ(htmlTitleOf(r), "Page title");
    r.title = " ";
    EXPECT_EQ(htmlTitleOf(r), "Heading");
    std::string words;
    while (words.size() < 120) words += "abcdefghi ";  // 10-character steps
    r.headings[0] = words;
    EXPECT_EQ(htmlTitleOf(r), words.substr(0, 89));  // 9 whole words
    std::string exact(98, 'x');
    exact[50] = ' ';
    r.headings[0] = exact;
    EXPECT_EQ(htmlTitleOf(r), exact);  // exactly 98 characters: nothing cut
    r.headings[0] = exact + " more";
    EXPECT_EQ(htmlTitleOf(r), exact);  // the cut falls on a blank
    r.headings[0] = std::string(150, 'y');
    EXPECT_EQ(htmlTitleOf(r), std::string(98, 'y'));  // one long word: cut at 98
    EXPECT_EQ(htmlSkipTitleWords("Site: Section - Real title", 2), "Real title");
    EXPECT_EQ(htmlSkipTitleWords("One two", 3), "");
}

TEST(HtmlStripTags, BlanksElementsWithinTheWindow) {
    std::string page = "a<script type=x>code</SCRIPT>b<scripts>c</scripts>d<Script>e";
    htmlStripTags(page, {"<script"});
    EXPECT_EQ(page, "a" + std::string(28, ' ') + "b<scripts>c</scripts>d<Script>e");

    const std::string open = "x<div>in</div";
    std::string near = open + std::string(1023, ' ') + ">y";
    std::string far = open + std::string(1024, ' ') + ">y";
    std::string nearCopy = near, farCopy = far;
    htmlStripTags(nearCopy, {"<DIV"});
    htmlStripTags(farCopy, {"<div"});
    EXPECT_EQ(nearCopy, "x" + std::string(near.size() - 2, ' ') + "y");
    EXPECT_EQ(farCopy, far);
}

TEST(HtmlCutPage, StartAndEndDefinitionsAndTheKeptComment) {
    const std::string page = "<!-- Halvoran Dirudo keep me -->head START body END tail END2";
    EXPECT_EQ(htmlCutPage(page, {"NOPE", "START"}, {"END2", "END"}),
              "<!-- Halvoran Dirudo keep me --> body END tail ");
    EXPECT_EQ(htmlCutPage("head START body", {"START"}, {"END"}), " body");
    EXPECT_EQ(htmlCutPage("no start here END x", {"START"}, {"END"}), "no start here ");
    EXPECT_EQ(htmlCutPage(page, {}, {}), page);
}

class HtmlImportFile : public ::testing::Test {
  protected:
    TempDir dir;
    Args args;
    SrcFileSpec spec;
    int import(const std::string& name, const std::string& html) {
        std::string path = dir.file(name);
        testing_support::writeWholeFile(path, html);
        return htmlImportFile(nullptr, args.args, path.c_str(), path.c_str(), &spec);
    }
};

TEST_F(HtmlImportFile, FillsTheDocument) {
    const std::string page =
        "<html><head><title>Widgets &amp; more</title>"
        "<meta name=\"description\" content=\"All about widgets\"></head>"
        "<body><h1>Widgets</h1><p>Widgets are small.</p>"
        "<a name=\"sizes\"></a><h2>Sizes</h2><p>Three sizes.</p>"
        "<a href=\"more.html\">More</a></body></html>";
    std::string path = dir.file("page.html");
    testing_support::writeWholeFile(path + ".idx",
                                    "#IXOREFERENCE http://example.com/page.html\n"
                                    "#IXOFIELD SPIDERPAGEDEPTH=\"3\"\n");
    ASSERT_EQ(import("page.html", page), 0);
    EXPECT_EQ(*spec.title, "Widgets & more");
    EXPECT_EQ(*spec.content, "Widgets\nWidgets are small.\nSizes\nThree sizes.\nMore");
    EXPECT_EQ(field(spec, "description"), "All about widgets");
    EXPECT_EQ(field(spec, "IMPORTBODYLEN"), std::to_string(spec.content->size()));
    EXPECT_EQ(field(spec, "IMPORTLINKLEN"), "4");
    EXPECT_EQ(field(spec, "IMPORTMETALEN"), "28");
    EXPECT_EQ(field(spec, "IMPORTTITLELEN"), "15");
    // The side file's spider depth counts: (15 ln(50/4+1) + 7 ln 51 + 6 ln 4) / 7 + 93.
    EXPECT_EQ(field(spec, "IMPORTQUALITY"), "103");
    EXPECT_EQ(*spec.reference, "http://example.com/page.html");
    EXPECT_EQ(*spec.filename, path);
    ASSERT_TRUE(spec.date.has_value());
    EXPECT_GT(std::stol(*spec.date), 1000000000L);
    ASSERT_EQ(spec.sections.size(), 1u);
    EXPECT_EQ(spec.sections[0].anchor, "sizes");
    EXPECT_EQ(spec.sections[0].heading, "Sizes");
    ASSERT_EQ(spec.htmlLinks.size(), 1u);
}

TEST_F(HtmlImportFile, FailuresAndConfiguredRules) {
    EXPECT_EQ(import("empty.html", ""), kHtmlImportBadFile);
    EXPECT_EQ(htmlImportFile(nullptr, args.args, dir.file("missing.html").c_str(), nullptr, &spec),
              kHtmlImportBadFile);
    EXPECT_EQ(htmlImportFile(nullptr, args.args, "", nullptr, &spec), kHtmlImportBadFile);

    const char* tags[] = {"nav"};
    ASSERT_EQ(imargsTagStripping(args.args, 1, tags), 0);
    args.args->htmlFieldNames = {"PRICE", "MISSING"};
    args.args->htmlFieldStarts = {"<b>Price:", "<nothing>"};
    args.args->htmlFieldStops = {"</b>", "</nothing>"};
    args.args->titleStartSkipWords = 1;
    ASSERT_EQ(import("rules.htm",
                     "<h1>Shop - Blue widget</h1><nav>menu words</nav><b>Price: 12</b>"
                     "<meta name=\"single\" content='quoted'>"),
              0);
    EXPECT_EQ(*spec.title, "Blue widget");
    EXPECT_EQ(spec.content->find("menu"), std::string::npos);
    EXPECT_EQ(field(spec, "PRICE"), " 12");
    EXPECT_EQ(field(spec, "MISSING"), "");
    EXPECT_EQ(field(spec, "single"), "<none>");
    EXPECT_EQ(*spec.reference, dir.file("rules.htm"));
}

TEST_F(HtmlImportFile, SameWordsInThreeCharacterSetsImportAlike) {
    const std::string body =
        "<p>Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
        "e \xC3\xA0 Z\xC3\xBCrich</p>";
    const std::string latin =
        "<p>Caf\xE9 cr\xE8me br\xFBl\xE9"
        "e \xE0 Z\xFCrich</p>";
    std::vector<std::string> contents;
    ASSERT_EQ(import("u.html", "<meta charset=\"utf-8\"><title>Men\xC3\xBC</title>" + body), 0);
    contents.push_back(*spec.title + "|" + *spec.content);
    ASSERT_EQ(import("u2.html", "<title>Men\xC3\xBC</title>" + body), 0);  // undeclared
    contents.push_back(*spec.title + "|" + *spec.content);
    ASSERT_EQ(import("l.html",
                     "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">"
                     "<title>Men\xFC</title>" +
                         latin),
              0);
    contents.push_back(*spec.title + "|" + *spec.content);
    ASSERT_EQ(import("w.html", "<title>Men\xFC</title>" + latin), 0);
    contents.push_back(*spec.title + "|" + *spec.content);
    ASSERT_EQ(import("r.html",
                     "<title>Men&uuml;</title><p>Caf&eacute; cr&#232;me br&#xFB;l&eacute;e "
                     "&agrave; Z&uuml;rich</p>"),
              0);
    contents.push_back(*spec.title + "|" + *spec.content);
    for (const std::string& c : contents)
        EXPECT_EQ(c,
                  "Men\xFC|Caf\xE9 cr\xE8me br\xFBl\xE9"
                  "e \xE0 Z\xFCrich");
}

// Real pages installed by Debian packages (see README.md beside this file).
std::string docPage(const char* relative) {
    std::string path = std::string("/usr/share/doc/") + relative;
    return std::filesystem::exists(path) ? path : std::string();
}

TEST(HtmlRealPages, HandWrittenExpectations) {
    std::string users = docPage("base-passwd/users-and-groups.html");
    std::string ffi = docPage("libffi8/html/Introduction.html");
    std::string zlib = docPage("zlib1g-dev/examples/zlib_how.html");
    if (users.empty() || ffi.empty() || zlib.empty()) GTEST_SKIP() << "documentation not installed";
    Args args;
    {
        SrcFileSpec spec;
        ASSERT_EQ(htmlImportFile(nullptr, args.args, users.c_str(), nullptr, &spec), 0);
        EXPECT_EQ(*spec.title, "Users and Groups in the Debian System");
        EXPECT_EQ(field(spec, "GENERATOR"), "Modular DocBook HTML Stylesheet Version 1.79");
        EXPECT_NE(spec.content->find("Copyright \xA9 2001, 2002 Joey Hess"), std::string::npos);
        ASSERT_GE(spec.sections.size(), 3u);
        EXPECT_EQ(spec.sections[0].anchor, "USERS-AND-GROUPS");
        EXPECT_EQ(spec.sections[0].heading, "Users and Groups in the Debian System");
        EXPECT_EQ(spec.content->find("CLASS="), std::string::npos);
        EXPECT_NE(spec.content->find("mail to < base-passwd@packages.debian.org >"),
                  std::string::npos);
    }
    {
        SrcFileSpec spec;
        ASSERT_EQ(htmlImportFile(nullptr, args.args, ffi.c_str(), nullptr, &spec), 0);
        EXPECT_EQ(*spec.title,
                  "Introduction (libffi: the portable foreign function interface library)");
        EXPECT_EQ(spec.content->find("Permission is hereby granted"), std::string::npos);
        EXPECT_NE(spec.content->find("foreign function interface"), std::string::npos);
        EXPECT_NE(field(spec, "IMPORTLINKLEN"), "0");
    }
    {
        SrcFileSpec spec;
        ASSERT_EQ(htmlImportFile(nullptr, args.args, zlib.c_str(), nullptr, &spec), 0);
        EXPECT_EQ(*spec.title, "zlib Usage Example");
        EXPECT_EQ(spec.content->find("&lt;"), std::string::npos);
        EXPECT_NE(spec.content->find("#include <stdio.h>"), std::string::npos);
    }
}

TEST(HtmlRealPages, EveryInstalledPageImports) {
    std::vector<std::string> pages;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator("/usr/share/doc", ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().extension() == ".html" && it->is_regular_file(ec))
            pages.push_back(it->path().string());
    }
    if (pages.size() < 10) GTEST_SKIP() << "too few HTML pages installed";
    Args args;
    size_t withText = 0;
    for (const std::string& page : pages) {
        SrcFileSpec spec;
        int rc = htmlImportFile(nullptr, args.args, page.c_str(), nullptr, &spec);
        EXPECT_TRUE(rc == 0 || rc == kHtmlImportBadFile) << page;
        if (rc == 0 && spec.content && !spec.content->empty()) ++withText;
    }
    EXPECT_GT(withText, pages.size() * 9 / 10);
}

TEST(HtmlImportFlow, FolderToIdxWithSummariesAndTitles) {
    imexInit();
    TempDir dir;
    const std::string header = "<p>Example Site Home | Products | About us.</p>";
    const char* pages[3][2] = {{"a.html", "<h1>Welcome</h1><p>We make widgets. Since 1990.</p>"},
                               {"b.htm", "<h1>Our products</h1><p>Three sizes. Order now.</p>"},
                               {"c.shtml", "<h1>Who we are</h1><p>A small team. Write to us.</p>"}};
    for (auto& p : pages)
        testing_support::writeWholeFile(dir.file(p[0]),
                                        "<title>Example Site</title>" + header + p[1]);
    ImportContext* context = imexCreate();
    ASSERT_NE(context, nullptr);
    Args args;
    std::string out = dir.file("out.idx");
    std::vector<std::string> names;
    for (auto& p : pages) names.push_back(dir.file(p[0]));
    const char* inputs[3] = {names[0].c_str(), names[1].c_str(), names[2].c_str()};
    ASSERT_EQ(imargsSetInputs(args.args, 3, inputs), 0);
    ASSERT_EQ(imargsSetOutputFilename(args.args, out.c_str()), 0);
    ASSERT_EQ(imargsSetSummaries(args.args, 1), 0);
    ASSERT_EQ(imargsSetIntelligentTitleAndSummary(args.args, 1), 0);
    EXPECT_EQ(imexImport(context, args.args, nullptr), 3);
    imexDestroy(context);
    std::string idx = testing_support::readWholeFile(out);
    EXPECT_NE(idx.find("#IXOTITLE\nExample Site\n"), std::string::npos) << idx;
    EXPECT_NE(idx.find("#IXOTITLE\nOur products\n"), std::string::npos) << idx;
    EXPECT_NE(idx.find("#IXOTITLE\nWho we are\n"), std::string::npos) << idx;
    EXPECT_NE(idx.find("summary=\"Who we are A small team\""), std::string::npos) << idx;
    EXPECT_NE(idx.find("IMPORTQUALITY=\""), std::string::npos);
}

}  // namespace
