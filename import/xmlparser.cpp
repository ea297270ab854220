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

bool importWriteTempDocument(const SrcFileSpec& spec, const std::string& file) {
    std::FILE* f = std::fopen(file.c_str(), "w");
    if (!f) return false;
    int64_t written = srcFileSpecWrite(&spec, f);
    bool closed = std::fclose(f) == 0;
    return written > 0 && closed;
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

        const std::string temp = idxTempFileName(args->tempDirectory.c_str(), 0);
        if (!importWriteTempDocument(document, temp)) {
            std::remove(temp.c_str());
            importAddError(context, -6, -3, "XML parser: Couldn't write temporary file", name);
            return -6;
        }
        importProcessInput(context, args, temp.c_str());
        std::remove(temp.c_str());
        return 0;
    } catch (...) {
        return -3;
    }
}
