#include "import/xmlparser.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "import/htmlparse.h"
#include "import/importlog.h"
#include "xmltree.h"

namespace {

// Option of the HTML-to-text conversion applied to stripped XML values.
constexpr int kStripOptions = 64;

std::string htmlText(const std::string& html) {
    if (auto convert = importDocumentHooks().htmlToText) {
        char* text = convert(html.c_str(), kStripOptions);
        std::string out = text ? text : "";
        if (text) memFree(text);
        return out;
    }
    return htmlToTextString(html, kStripOptions);
}

// Frees the tree when the import ends, however it ends.
struct TreeOwner {
    XmlNode* root = nullptr;
    ~TreeOwner() { xmlDestroyTree(root); }
};

}  // namespace

void importSetNamedValue(SrcFileSpec* spec, const std::string& name, const std::string& value) {
    const char* v = value.c_str();
    if (name == "IXOREFERENCE")
        srcFileSpecSetReference(spec, v);
    else if (name == "IXOTITLE")
        srcFileSpecSetTitle(spec, v);
    else if (name == "IXOCONTENT")
        srcFileSpecSetContent(spec, v);
    else if (name == "IXODATE")
        srcFileSpecSetDate(spec, v);
    else if (name == "IXODBNAME")
        srcFileSpecSetDbname(spec, v);
    else if (name == "IXOFILENAME")
        srcFileSpecSetFilename(spec, v);
    else if (name == "IXOSTORECONTENT")
        srcFileSpecSetStorecontent(spec, v);
    else if (name == "IXOTYPE")
        srcFileSpecSetType(spec, v);
    else if (name == "IXOSECTION")
        srcFileSpecSetSection(spec, static_cast<int32_t>(std::strtol(v, nullptr, 10)));
    else
        srcFileSpecSetField(spec, name.c_str(), v);
}

bool importImportDocument(ImportContext* context, ImportArgs* args, const char* source,
                          const SrcFileSpec& document, const std::string& reference) {
    std::string text;
    if (!srcFileSpecBuildText(&document, text)) return false;
    importProcessIdxText(context, args, source, text, reference);
    return true;
}

int importXmlHandler(ImportContext* context, ImportArgs* args, char*, size_t, const char* name,
                     SrcFileSpec* spec, ImportEntry*) {
    if (!args || !name || !spec) return -1;
    try {
        TreeOwner tree;
        if (xmlMakeTree(&tree.root, name) != 0) return -1;

        SrcFileSpec document;
        for (size_t i = 0; i < args->xmlRules.size(); ++i) {
            const ImportXmlRule& rule = args->xmlRules[i];
            std::vector<char*> tags;
            std::vector<std::string> tagCopies(rule.tags);
            for (std::string& t : tagCopies) tags.push_back(t.data());
            XmlNode* node =
                xmlGetNodewithTagSequence(tree.root, tags.data(), static_cast<int>(tags.size()));
            // A rule whose tags are not found still sets its field, empty.
            std::string value;
            if (node || tags.empty()) {
                char* printed =
                    xmlPrintNodetoString(node, rule.stripTags, rule.entryOnly,
                                         rule.attribute ? rule.attribute->c_str() : nullptr);
                if (printed) {
                    value = printed;
                    memFree(printed);
                }
            }
            if (i == 0 && rule.stripTags && !value.empty()) value = htmlText(htmlText(value));
            importSetNamedValue(&document, rule.field, value);
        }

        // The file holds one document: without a reference rule it is the file's.
        if (!importImportDocument(context, args, name, document, name)) return -3;
        return 0;
    } catch (...) {
        return -3;
    }
}
