// XML tree builder, search and printer: the input is written to a file and built into
// a tree, which is then searched for tags taken from the tree itself and printed in
// every form.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "xmltree.h"

namespace {

void printAll(XmlNode* n) {
    for (int textOnly = 0; textOnly < 2; ++textOnly) {
        for (int contentOnly = 0; contentOnly < 2; ++contentOnly) {
            char* s = xmlPrintNodetoString(n, textOnly, contentOnly, nullptr);
            if (s) memFree(s);
        }
    }
    char* a = xmlPrintNodetoString(n, 0, 0, "id");
    if (a) memFree(a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = "/tmp/fuzz_xml_tree." + std::to_string(getpid()) + ".xml";
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    XmlNode* root = nullptr;
    xmlMakeTree(&root, file.c_str());
    std::remove(file.c_str());
    if (!root) return 0;
    printAll(root);
    // Tag sequences made of the names of the first few elements, in a shuffled order.
    std::vector<std::string> names;
    for (XmlNode* n = root; n && names.size() < 4;
         n = n->firstChild ? n->firstChild : n->nextSibling)
        if (n->tagName) names.emplace_back(n->tagName);
    names.emplace_back("none");
    std::vector<char*> tags;
    for (size_t i = 0; i < names.size(); ++i)
        tags.push_back(names[(i + size) % names.size()].data());
    for (int count = 0; count <= static_cast<int>(tags.size()); ++count) {
        XmlNode* hit = xmlGetNodewithTagSequence(root, tags.data(), count);
        if (hit) printAll(hit);
    }
    xmlDestroyTree(root);
    return 0;
}
