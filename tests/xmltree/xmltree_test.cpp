// The XML tree: building (text-node rules, errors), searching by tag sequence,
// printing in its three forms, and very deep or real-world documents.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/importlog.h"
#include "tests/common/tempdir.h"
#include "xmltree.h"

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

// Owns a tree and its printouts for one test.
struct Tree {
    XmlNode* root = nullptr;
    int rc = -1;
    explicit Tree(const std::string& file) { rc = xmlMakeTree(&root, file.c_str()); }
    ~Tree() { xmlDestroyTree(root); }
};

std::string print(XmlNode* n, int textOnly = 0, int contentOnly = 0, const char* attr = nullptr) {
    char* s = xmlPrintNodetoString(n, textOnly, contentOnly, attr);
    EXPECT_NE(s, nullptr);
    std::string out = s ? s : "";
    if (s) memFree(s);
    return out;
}

XmlNode* find(XmlNode* from, std::vector<std::string> tags) {
    std::vector<char*> ptrs;
    for (auto& t : tags) ptrs.push_back(t.data());
    return xmlGetNodewithTagSequence(from, ptrs.data(), static_cast<int>(ptrs.size()));
}

class XmlTreeTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string write(const std::string& xml, const std::string& name = "t.xml") {
        std::string f = dir.file(name);
        writeWholeFile(f, xml);
        return f;
    }
};

TEST_F(XmlTreeTest, BuildsTextNodesAndPrintsMarkup) {
    Tree t(write("<doc id=\"7\" Lang='en'><a>   \n\t </a><b/><c>x<d k=\"v\">y</d></c></doc>"));
    ASSERT_EQ(t.rc, 0);
    ASSERT_NE(t.root, nullptr);
    EXPECT_STREQ(t.root->tagName, "doc");
    EXPECT_EQ(t.root->parent, nullptr);
    // Whitespace-only text becomes one blank node.
    XmlNode* a = t.root->firstChild;
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->firstChild, nullptr);
    EXPECT_STREQ(a->firstChild->text, " ");
    EXPECT_EQ(a->firstChild->nextSibling, nullptr);
    EXPECT_EQ(print(a), "<a> </a>");
    // Empty element: self-closing form; the node alone, not its siblings.
    EXPECT_EQ(print(a->nextSibling), "<b/>");
    EXPECT_EQ(print(t.root),
              "<doc id=\"7\" Lang=\"en\"><a> </a><b/><c>x<d k=\"v\">y</d></c></doc>");
    // Content only: the children (with their siblings), not the node's own markup.
    EXPECT_EQ(print(t.root, 0, 1), "<a> </a><b/><c>x<d k=\"v\">y</d></c>");
    // Text only: elements print blanks around their children, one blank when empty.
    EXPECT_EQ(print(t.root, 1), "      x y   ");
    EXPECT_EQ(print(t.root, 1, 1), "     x y  ");
    EXPECT_EQ(print(nullptr), "");
}

TEST_F(XmlTreeTest, CharacterDataAndCommentsInsideTheRoot) {
    Tree t(
        write("<?xml version=\"1.0\"?>\n<!-- before -->\n<r>one &amp; two<!--c--></r>\n"
              "<!-- after -->\n"));
    ASSERT_EQ(t.rc, 0);
    // Text outside the root is dropped; comments inside it are kept as they are.
    EXPECT_EQ(print(t.root, 0, 1), "one & two<!--c-->");
    EXPECT_EQ(print(t.root), "<r>one & two<!--c--></r>");
}

TEST_F(XmlTreeTest, AttributeLookup) {
    Tree t(write("<r><i n=\"1\" N=\"x\"/><i/><i m=\"0\" N=\"3\"/></r>"));
    ASSERT_EQ(t.rc, 0);
    XmlNode* first = t.root->firstChild;
    // First matching attribute of each node, case-blind, over the following siblings.
    EXPECT_EQ(print(first, 0, 0, "n"), "13");
    EXPECT_EQ(print(first, 0, 0, "missing"), "");
    EXPECT_EQ(print(first->nextSibling, 0, 0, "m"), "0");
    // An empty attribute name prints the node.
    EXPECT_EQ(print(first->nextSibling, 0, 0, ""), "<i/>");
}

TEST_F(XmlTreeTest, TagSequenceSearch) {
    Tree t(
        write("<root><x><a><y><B>1</B></y></a></x><b>2</b>"
              "<p><q>3</q></p><p><r>4</r></p></root>"));
    ASSERT_EQ(t.rc, 0);
    // Case-blind, below the first hit.
    EXPECT_EQ(print(find(t.root, {"A", "b"}), 1, 1), "1");
    EXPECT_EQ(print(find(t.root, {"ROOT", "x", "b"}), 1, 1), "1");
    // A miss under the first "p" goes on from the next sibling of its parent.
    EXPECT_EQ(print(find(t.root, {"p", "r"}), 1, 1), "4");
    // Count below 1: the node itself; nothing found: null.
    EXPECT_EQ(find(t.root, {}), t.root);
    EXPECT_EQ(find(t.root, {"nothing"}), nullptr);
    EXPECT_EQ(print(find(t.root, {"q", "r"}), 1, 1), "4");
    EXPECT_EQ(find(t.root, {"q", "zz"}), nullptr);
    EXPECT_EQ(find(nullptr, {"a"}), nullptr);
    // From an inner node the search climbs only through the parents' next siblings.
    XmlNode* x = t.root->firstChild;
    EXPECT_EQ(print(find(x->firstChild->firstChild, {"b"}), 1, 1), "1");
    EXPECT_EQ(print(find(x->firstChild, {"p"}), 1, 1), " 3 ");
    EXPECT_EQ(find(t.root->lastChild, {"x"}), nullptr);
}

TEST_F(XmlTreeTest, ParseErrorsAreLoggedAndTheTreeIsHandedBack) {
    std::string log = dir.file("import.log");
    ASSERT_EQ(importLogSetFile(log.c_str(), 0), 0);
    importLogSetLevel(2);
    {
        // Broken deep inside: the pointer still comes back at the root.
        Tree t(write("<a>\n<b><c>text</b>\n</a>", "bad.xml"));
        EXPECT_EQ(t.rc, 1);
        ASSERT_NE(t.root, nullptr);
        EXPECT_STREQ(t.root->tagName, "a");
    }
    {
        Tree missing(dir.file("none.xml"));
        EXPECT_EQ(missing.rc, 1);
        EXPECT_EQ(missing.root, nullptr);
    }
    {
        Tree empty(write("", "empty.xml"));
        EXPECT_EQ(empty.rc, 1);
    }
    importLogSetFile(nullptr, 0);
    std::string text = readWholeFile(log);
    EXPECT_NE(
        text.find(" XML ERROR in file:" + dir.file("bad.xml") + " - mismatched tag at line 2\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find(" XML ERROR in file:" + dir.file("none.xml") + " - "), std::string::npos);

    // Arguments that cannot work are refused without touching the pointer.
    XmlNode sentinel{};
    XmlNode* busy = &sentinel;
    EXPECT_EQ(xmlMakeTree(&busy, write("<a/>").c_str()), 1);
    EXPECT_EQ(busy, &sentinel);
    EXPECT_EQ(xmlMakeTree(nullptr, "x"), 1);
    EXPECT_EQ(xmlDestroyTree(nullptr), 0);
}

TEST_F(XmlTreeTest, VeryDeepTreeIsBuiltSearchedPrintedAndFreed) {
    constexpr int kDepth = 100000;
    std::string xml;
    xml.reserve(kDepth * 8);
    for (int i = 0; i < kDepth; ++i) xml += "<e>";
    xml += "<leaf>z</leaf>";
    for (int i = 0; i < kDepth; ++i) xml += "</e>";
    Tree t(write(xml));
    ASSERT_EQ(t.rc, 0);
    XmlNode* leaf = find(t.root, {"leaf"});
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(print(leaf, 1, 1), "z");
    std::string all = print(t.root);
    EXPECT_EQ(all.size(), xml.size());
    EXPECT_EQ(all, xml);
    std::string text = print(t.root, 1);
    EXPECT_EQ(text.size(), size_t{2} * kDepth + 3);
}

TEST_F(XmlTreeTest, RealConfigurationFileFromThePackages) {
    const std::string file = "/etc/fonts/fonts.conf";  // fontconfig-config
    if (readWholeFile(file).empty()) GTEST_SKIP() << file << " is not installed";
    Tree t(file);
    ASSERT_EQ(t.rc, 0);
    EXPECT_STREQ(t.root->tagName, "fontconfig");
    XmlNode* dirNode = find(t.root, {"fontconfig", "dir"});
    ASSERT_NE(dirNode, nullptr);
    EXPECT_EQ(print(dirNode, 1, 1), "/usr/share/fonts");
    XmlNode* cache = find(t.root, {"cachedir"});
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(print(cache), "<cachedir>/var/cache/fontconfig</cachedir>");
}

}  // namespace
