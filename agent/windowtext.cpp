#include "agent/windowtext.h"

#include <cctype>
#include <cstring>

#include "agent/SuggestionRequest.h"

namespace agent {
namespace {

// The value of the record's first field of that name (exact comparison), or null.
const char* fieldValue(const IxoResultRecord& record, const char* name) {
    for (int32_t i = 0; i < record.fieldCount; ++i) {
        const IxoResultField& f = record.fields[i];
        if (f.name && std::strcmp(f.name, name) == 0) return f.value ? f.value : "";
    }
    return nullptr;
}

std::string trimBlanks(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

}  // namespace

int docTypeIcon(const IxoResultRecord& record) {
    static const struct {
        const char* type;
        int icon;
    } kIcons[] = {{"Archive", 1},      {"Email", 2}, {"Excel", 3},
                  {"People", 4},       {"PPT", 5},   {"RTF", 6},
                  {"Word", 7},         {"PDF", 8},   {"SimpleMAPIEmail", 9},
                  {"ENCYCLOPEDIA", 1}, {"BOOK", 11}, {"PRODUCT", 12}};
    const char* value = fieldValue(record, "DocType");
    if (!value || !*value) return 0;
    for (const auto& entry : kIcons)
        if (std::strcmp(value, entry.type) == 0) return entry.icon;
    return 0;
}

std::string lineText(const IxoQueryResult& result, const std::string& titleField, int32_t index,
                     bool showSimilarity) {
    if (index < 0 || index >= result.hitCount || !result.records) return {};
    return suggestionLine(result.records[index], titleField, showSimilarity);
}

std::string tipText(const IxoQueryResult& result, const std::string& titleField, int32_t index,
                    bool showSimilarity) {
    if (index < 0 || index >= result.hitCount || !result.records) return {};
    const IxoResultRecord& record = result.records[index];
    std::string line = lineText(result, titleField, index, showSimilarity);
    const char* docType = fieldValue(record, "DOCTYPE");
    if (docType && std::strcmp(docType, "PRODUCT") == 0) {
        std::string price =
            trimBlanks(fieldValue(record, "PRICE") ? fieldValue(record, "PRICE") : "");
        size_t start = 0;
        while (start < price.size() && !std::isdigit(static_cast<unsigned char>(price[start])))
            ++start;
        size_t end = start;
        while (end < price.size() && std::isdigit(static_cast<unsigned char>(price[end]))) ++end;
        std::string digits = price.substr(start, end - start);
        const char* currency = fieldValue(record, "CURRENCY");
        std::string sign = (currency && *currency) ? currency : "$";
        if (!digits.empty())
            line = sign + digits + "   " + lineText(result, titleField, index, false);
    }
    replaceAll(line, "&amp;", "&");
    return line;
}

std::string windowTitle(const std::string& brand, const std::string& product,
                        const std::string& suffix, bool showSources,
                        const std::string& selectedNames) {
    std::string title = brand + " " + product + suffix;
    if (showSources) {
        std::string names = selectedNames.empty() ? std::string("All") : selectedNames;
        if (!names.empty() && names.back() == ',') names.pop_back();
        title += "     Sources: " + names;
    }
    return title;
}

std::string shortenToFit(const std::string& text,
                         const std::function<bool(const std::string&)>& fits) {
    if (fits(text)) return text;
    std::string cut = text.substr(0, 243);
    while (cut.size() > 1 && !fits(cut + "...")) cut.pop_back();
    return cut + "...";
}

}  // namespace agent
