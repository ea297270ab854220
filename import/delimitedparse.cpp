#include "import/delimitedparse.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "import/importlog.h"
#include "import/readfile.h"
#include "import/xmlparser.h"

namespace {

const std::string& markerAt(const std::vector<std::string>& markers, size_t i) {
    static const std::string none;
    if (markers.empty()) return none;
    return markers[std::min(i, markers.size() - 1)];
}

std::vector<std::string> splitRecord(std::string_view record, const ImportDelimited& d) {
    std::vector<std::string> values;
    size_t cursor = 0;
    for (size_t i = 0; i < d.names.size(); ++i) {
        const std::string& start = markerAt(d.starts, i);
        const std::string& end = markerAt(d.ends, i);
        size_t at = record.find(start, cursor);
        if (at == std::string_view::npos) {
            values.emplace_back();
            continue;
        }
        size_t skip = i < d.skips.size() && d.skips[i] > 0 ? static_cast<size_t>(d.skips[i]) : 0;
        size_t from = std::min(record.size(), at + start.size());
        from = std::min(record.size(), from + skip);
        size_t to = end.empty() ? std::string_view::npos : record.find(end, from);
        if (to == std::string_view::npos) to = record.size();
        values.emplace_back(record.substr(from, to - from));
        cursor = to;
    }
    return values;
}

}  // namespace

std::vector<std::vector<std::string>> delimitedSplit(std::string_view text,
                                                     const ImportDelimited& d) {
    std::vector<std::vector<std::string>> records;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t begin;
        if (d.docStart.empty()) {
            begin = pos;
        } else {
            size_t at = text.find(d.docStart, pos);
            if (at == std::string_view::npos) break;
            begin = at + d.docStart.size();
        }
        size_t finish, next;
        size_t at = d.docEnd.empty() ? std::string_view::npos : text.find(d.docEnd, begin);
        if (at != std::string_view::npos) {
            finish = at;
            next = at + d.docEnd.size();
        } else {
            // No end marker: up to the next start marker, else the file end.
            size_t nextStart =
                d.docStart.empty() ? std::string_view::npos : text.find(d.docStart, begin);
            finish = nextStart == std::string_view::npos ? text.size() : nextStart;
            next = finish;
        }
        std::string_view record = text.substr(begin, finish - begin);
        // Without a start marker, what follows the last end marker is a record only when
        // it holds something besides line ends and blanks.
        if (d.docStart.empty() && at == std::string_view::npos &&
            record.find_first_not_of(" \t\r\n") == std::string_view::npos)
            break;
        records.push_back(splitRecord(record, d));
        if (next <= pos) break;  // no progress: the end of what can be split
        pos = next;
        if (d.docStart.empty() && d.docEnd.empty()) break;
    }
    return records;
}

int importDelimitedHandler(ImportContext* context, ImportArgs* args, char*, size_t,
                           const char* name, SrcFileSpec* spec, ImportEntry*) {
    if (!args || !name || !spec) return -1;
    if (!args->delimited) return 0;
    try {
        std::string text;
        if (!importReadWholeFile(name, text)) {
            importAddError(context, -6, -3, "Delimited parser: Couldn't read file", name);
            return -6;
        }
        const ImportDelimited& d = *args->delimited;
        // Each record is a document; one that names no reference gets the file's with
        // its record number (from 1), so records of different files never share one.
        int number = 0;
        for (const auto& values : delimitedSplit(text, d)) {
            SrcFileSpec document;
            for (size_t i = 0; i < d.names.size() && i < values.size(); ++i)
                importSetNamedValue(&document, d.names[i], values[i]);
            const std::string reference = std::string(name) + "#" + std::to_string(++number);
            if (!importImportDocument(context, args, name, document, reference))
                importAddError(context, -3, -3, "Delimited parser: Out of memory", name);
        }
        return 0;
    } catch (...) {
        return -3;
    }
}
