#include "server/idxdoc.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace ixoserver {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::strchr(" \t\r\n", s.front())) s.remove_prefix(1);
    while (!s.empty() && std::strchr(" \t\r\n", s.back())) s.remove_suffix(1);
    return s;
}

std::string_view firstLine(std::string_view s) {
    size_t e = s.find_first_of("\r\n");
    return trim(s.substr(0, e));
}

bool startsWithCaseBlind(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

bool hasContent(const IdxDocument& d) {
    return !d.reference.empty() || !d.title.empty() || !d.content.empty();
}

// Applies one tag of the line form ("#IXO" already removed) to doc. Returns false at
// "ENDDOC".
void applyTag(std::string_view tag, IdxDocument& doc, bool& contentSeen) {
    auto word = [&](std::string_view w) { return tag.substr(0, w.size()) == w; };
    auto after = [&](std::string_view w) { return tag.substr(std::min(tag.size(), w.size())); };
    if (word("REFERENCE")) {
        doc.reference = std::string(firstLine(after("REFERENCE")));
    } else if (word("TITLE")) {
        doc.title = std::string(trim(after("TITLE")));
    } else if (word("CONTENT")) {
        std::string_view v = after("CONTENT");
        // The block starts on the line after the tag word.
        size_t eol = v.find('\n');
        std::string_view rest =
            eol == std::string_view::npos ? std::string_view() : v.substr(eol + 1);
        std::string_view sameLine = trim(v.substr(0, eol));
        if (contentSeen) doc.content += '\n';
        if (!sameLine.empty()) {
            doc.content += sameLine;
            if (!rest.empty()) doc.content += '\n';
        }
        doc.content += rest;
        contentSeen = true;
    } else if (word("DBNAME")) {
        doc.dbname = std::string(firstLine(after("DBNAME")));
    } else if (word("DOCID")) {
        doc.docid = std::strtoll(std::string(firstLine(after("DOCID"))).c_str(), nullptr, 10);
    } else if (word("SECTION")) {
        std::string v(firstLine(after("SECTION")));
        if (!v.empty()) doc.section = std::atoi(v.c_str());
    } else if (word("TYPE")) {
        doc.type = std::string(firstLine(after("TYPE")));
    } else if (word("DATE")) {
        doc.date = std::string(firstLine(after("DATE")));
    } else if (word("FIELD")) {
        std::string_view v = firstLine(after("FIELD"));
        size_t eq = v.find('=');
        if (eq == std::string_view::npos) return;
        std::string_view name = trim(v.substr(0, eq));
        std::string_view value = v.substr(eq + 1);
        if (!value.empty() && value.front() == '"') value.remove_prefix(1);
        if (!value.empty() && value.back() == '"') value.remove_suffix(1);
        if (!name.empty()) doc.fields.emplace_back(std::string(name), std::string(value));
    } else if (word("STORECONTENT")) {
        doc.storeContent = startsWithCaseBlind(firstLine(after("STORECONTENT")), "YES") &&
                           firstLine(after("STORECONTENT")).size() == 3;
    } else if (word("FILENAME")) {
        doc.filename = std::string(firstLine(after("FILENAME")));
    }
}

// The XML form: elements named IXO..., values between the tags, no escaping.
std::vector<IdxDocument> parseIdxXml(std::string_view text) {
    std::vector<IdxDocument> docs;
    size_t pos = 0;
    while ((pos = text.find("<IXODOC>", pos)) != std::string_view::npos) {
        size_t end = text.find("</IXODOC>", pos);
        std::string_view body = text.substr(
            pos + 8, end == std::string_view::npos ? std::string_view::npos : end - pos - 8);
        pos = end == std::string_view::npos ? text.size() : end + 9;
        IdxDocument doc;
        size_t p = 0;
        while ((p = body.find("<IXO", p)) != std::string_view::npos) {
            size_t close = body.find('>', p);
            if (close == std::string_view::npos) break;
            std::string_view open = body.substr(p + 1, close - p - 1);
            std::string_view name = open.substr(0, open.find(' '));
            std::string closing = "</" + std::string(name) + ">";
            size_t vend = body.find(closing, close + 1);
            if (vend == std::string_view::npos) break;
            std::string_view value = body.substr(close + 1, vend - close - 1);
            p = vend + closing.size();
            if (name == "IXOFIELD") {
                size_t eq = open.find("NAME=");
                if (eq != std::string_view::npos) {
                    std::string_view fname = trim(open.substr(eq + 5));
                    if (!fname.empty() && fname.front() == '"') fname.remove_prefix(1);
                    if (!fname.empty() && fname.back() == '"') fname.remove_suffix(1);
                    if (!fname.empty())
                        doc.fields.emplace_back(std::string(fname), std::string(trim(value)));
                }
                continue;
            }
            std::string tag = std::string(name.substr(3)) + " " + std::string(value);
            if (name == "IXOCONTENT") {
                // The writer puts a line feed after the opening tag.
                if (!value.empty() && value.front() == '\n') value.remove_prefix(1);
                tag = "CONTENT\n" + std::string(value);
            }
            bool seen = !doc.content.empty();
            applyTag(tag, doc, seen);
        }
        if (hasContent(doc)) docs.push_back(std::move(doc));
    }
    return docs;
}

}  // namespace

std::vector<IdxDocument> parseIdxText(std::string_view text) {
    size_t firstTag = text.find("#IXO");
    size_t firstXml = text.find("<IXODOC>");
    if (firstXml != std::string_view::npos &&
        (firstTag == std::string_view::npos || firstXml < firstTag))
        return parseIdxXml(text);

    std::vector<IdxDocument> docs;
    IdxDocument doc;
    bool contentSeen = false;
    auto finish = [&] {
        if (hasContent(doc)) docs.push_back(std::move(doc));
        doc = IdxDocument{};
        contentSeen = false;
    };
    // Tags begin a line; a tag's text runs to the line feed before the next tag.
    size_t pos = firstTag;
    while (pos != std::string_view::npos && pos < text.size()) {
        if (pos > 0 && text[pos - 1] != '\n') {
            pos = text.find("\n#IXO", pos);
            if (pos != std::string_view::npos) ++pos;
            continue;
        }
        size_t next = text.find("\n#IXO", pos + 4);
        std::string_view tag = text.substr(
            pos + 4, next == std::string_view::npos ? std::string_view::npos : next - pos - 4);
        if (!tag.empty() && tag.back() == '\r') tag.remove_suffix(1);
        if (tag.substr(0, 7) == "ENDDATA") break;
        if (tag.substr(0, 6) == "ENDDOC") {
            finish();
        } else {
            // A new reference without an end line before it starts a new document.
            if (tag.substr(0, 9) == "REFERENCE" && !doc.reference.empty()) finish();
            applyTag(tag, doc, contentSeen);
        }
        pos = next == std::string_view::npos ? next : next + 1;
    }
    finish();
    return docs;
}

std::string writeIdxText(const IdxDocument& doc) {
    std::string out;
    out.reserve(doc.content.size() + 256);
    if (!doc.reference.empty()) out += "#IXOREFERENCE " + doc.reference + "\n";
    if (doc.docid != 0) out += "#IXODOCID " + std::to_string(doc.docid) + "\n";
    if (!doc.title.empty()) out += "#IXOTITLE\n" + doc.title + "\n";
    if (doc.section != -1) out += "#IXOSECTION " + std::to_string(doc.section) + "\n";
    if (!doc.type.empty()) out += "#IXOTYPE " + doc.type + "\n";
    if (!doc.date.empty()) out += "#IXODATE " + doc.date + "\n";
    if (!doc.dbname.empty()) out += "#IXODBNAME " + doc.dbname + "\n";
    if (!doc.filename.empty()) out += "#IXOFILENAME " + doc.filename + "\n";
    out += doc.storeContent ? "#IXOSTORECONTENT yes\n" : "#IXOSTORECONTENT no\n";
    for (const auto& [n, v] : doc.fields) out += "#IXOFIELD " + n + "=\"" + v + "\"\n";
    out += "#IXOCONTENT\n" + doc.content + "\n#IXOENDDOC\n";
    return out;
}

int64_t parseIdxDate(std::string_view text) {
    std::string t(trim(text));
    if (t.empty()) return -1;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    std::tm tm{};
    bool ok = false;
    if (std::sscanf(t.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) >= 3 ||
        std::sscanf(t.c_str(), "%d/%d/%d", &y, &mo, &d) == 3) {
        if (y < 100 && d > 1000) std::swap(y, d);  // DD/MM/YYYY
        ok = y >= 1900 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h >= 0 && h < 24 && mi >= 0 &&
             mi < 60 && s >= 0 && s < 62;
    }
    if (ok && t.find_first_of("-/") < 5) {
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        return static_cast<int64_t>(timegm(&tm));
    }
    if (std::isdigit(static_cast<unsigned char>(t[0])) == 0) return -1;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || v < 0) return -1;
    return v;
}

}  // namespace ixoserver
