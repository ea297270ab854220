#include "server/terms.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <unordered_set>

namespace ixoserver {

namespace {

// The built-in list, as the client holds it (duplicates included).
const char* const kStopList[] = {
    "AFTER",   "BECAME",  "NOT",     "HAS",    "OR",     "SAID",  "SAY",   "ALSO",     "MY",
    "AS",      "AT",      "OF",      "AND",    "IT",     "IS",    "A",     "TO",       "IN",
    "ON",      "I",       "WE",      "THE",    "THIS",   "IF",    "ITS",   "INCLUDE",  "THEY",
    "INTO",    "THAT",    "WITH",    "WOULD",  "SHOULD", "COULD", "ARE",   "HE",       "BE",
    "BEEN",    "BECAUSE", "ABOUT",   "BY",     "DID",    "DO",    "FROM",  "GO",       "GOT",
    "HAVE",    "HAD",     "THEM",    "THEN",   "THERE",  "HIM",   "HIS",   "OUT",      "UP",
    "HER",     "HERS",    "ME",      "NO",     "YES",    "SHE",   "WAS",   "WHEN",     "WHO",
    "WHAT",    "AN",      "BUT",     "FOR",    "WERE",   "WHICH", "OTHER", "WHERE",    "WHY",
    "IT",      "HIMSELF", "HERSELF", "ITSELF", "NOM",    "VEH",   "TEL",   "LOC",      "CAN",
    "CANT",    "CANNOT",  "THEIR",   "THEIRS", "BECOME", "SAYS",  "THESE", "INCLUDES", "INCLUDING",
    "DOES",    "DOESN",   "DOESNT",  "HIS",    "WERE",   "ISN",   "ISNT",  "COULDN",   "WOULDN",
    "SHOULDN", "YOU",     "YOUR",    "YOURE"};

const std::unordered_set<std::string_view>& stopSet() {
    static const std::unordered_set<std::string_view> set(std::begin(kStopList),
                                                          std::end(kStopList));
    return set;
}

bool endsWith(const std::string& w, std::string_view suffix) {
    return w.size() >= suffix.size() &&
           w.compare(w.size() - suffix.size(), suffix.size(), suffix.data(), suffix.size()) == 0;
}

bool isAlnum(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// ASCII letters for the Latin-1 range 0xC0..0xFF ("" drops the byte).
const char* latin1Fold(unsigned char c) {
    static const char* const table[64] = {
        "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I",  "I",
        "D", "N", "O", "O", "O", "O", "O",  "",  "O", "U", "U", "U", "U", "Y", "TH", "SS",
        "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I",  "I",
        "D", "N", "O", "O", "O", "O", "O",  "",  "O", "U", "U", "U", "U", "Y", "TH", "Y"};
    return c >= 0xC0 ? table[c - 0xC0] : nullptr;
}

}  // namespace

const std::vector<std::string>& stopWords() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> out;
        for (const char* w : kStopList)
            if (std::find(out.begin(), out.end(), w) == out.end()) out.emplace_back(w);
        return out;
    }();
    return words;
}

bool isStopWord(std::string_view upperWord) {
    return stopSet().count(upperWord) != 0;
}

void stemWord(std::string& w) {
    if (w.size() < 3) return;
    bool hasLetter = std::any_of(w.begin(), w.end(), [](char c) {
        return std::isalpha(static_cast<unsigned char>(c)) != 0;
    });
    if (!hasLetter) {
        while (!w.empty() && !isAlnum(static_cast<unsigned char>(w.back()))) w.pop_back();
        return;
    }
    auto cut = std::find_if(w.begin(), w.end(),
                            [](char c) { return !isAlnum(static_cast<unsigned char>(c)); });
    w.erase(cut, w.end());
    if (w.size() >= 4 && w.back() == 'S' && !endsWith(w, "SS")) w.pop_back();
    if (w.size() <= 4) return;
    static const char* const suffixes[] = {"ING", "MENT", "ED",  "ER", "EST",   "IES",
                                           "EST", "E",    "ISH", "LY", "ATION", "IAL"};
    for (const char* s : suffixes) {
        std::string_view suffix(s);
        if (!endsWith(w, suffix)) continue;
        w.erase(w.size() - suffix.size());
        if (suffix == "ING" && w.size() >= 2 && w.back() == w[w.size() - 2] && w.back() != 'L')
            w.pop_back();
        return;
    }
    static const std::pair<const char*, const char*> endings[] = {
        {"Y", "I"}, {"NE", "N"}, {"LE", "L"}, {"GE", "G"}, {"NT", "N"}, {"NCE", "N"}};
    for (const auto& [from, to] : endings) {
        if (endsWith(w, from)) {
            w.erase(w.size() - std::char_traits<char>::length(from));
            w += to;
            return;
        }
    }
}

std::string foldText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (const char* f = latin1Fold(c)) {
            out += f;
        } else {
            out += static_cast<char>(std::toupper(c));
        }
    }
    return out;
}

std::string filterWord(std::string_view word) {
    std::string w;
    w.reserve(word.size());
    for (char ch : word) {
        auto c = static_cast<unsigned char>(ch);
        if (isAlnum(c) || c == '~') w += static_cast<char>(std::toupper(c));
    }
    if (w.empty() || isStopWord(w)) return {};
    auto tilde = w.find('~');
    if (tilde != std::string::npos) {
        w.erase(tilde);
    } else {
        stemWord(w);
    }
    if (w.size() > 240) w.resize(240);
    return w;
}

void textToTerms(std::string_view text, std::vector<std::string>& terms) {
    std::string word;
    auto flush = [&] {
        if (word.empty()) return;
        if (word.size() <= 240 && !isStopWord(word)) {
            stemWord(word);
            if (!word.empty()) terms.push_back(word);
        }
        word.clear();
    };
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (const char* f = latin1Fold(c)) {
            if (*f)
                word += f;
            else
                flush();
        } else if (isAlnum(c)) {
            word += static_cast<char>(std::toupper(c));
        } else {
            flush();
        }
    }
    flush();
}

std::vector<QueryTerm> parseQueryText(std::string_view text, bool keepOperators) {
    std::vector<QueryTerm> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("+ \t\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view piece = text.substr(pos, end - pos);
        pos = end + 1;
        if (piece.empty()) continue;
        if (piece.size() >= 5 && (piece.substr(0, 5) == "QNUM=" || piece.substr(0, 5) == "qnum="))
            continue;
        if (keepOperators) {
            std::string up = foldText(piece);
            if (up == "AND" || up == "OR" || up == "NOT" || up == "ANDNOT") {
                out.push_back({up, 1.0});
                continue;
            }
        }
        QueryTerm qt;
        auto tilde = piece.find('~');
        if (tilde != std::string_view::npos) {
            std::string_view w = piece.substr(tilde + 1);
            if (!w.empty() && w.front() == '[') w.remove_prefix(1);
            if (!w.empty() && (std::isdigit(static_cast<unsigned char>(w.front())) != 0)) {
                double v = std::atof(std::string(w).c_str());
                if (v > 0) qt.weight = std::clamp(v / 100.0, 0.1, 10.0);
            }
            qt.term = filterWord(foldText(piece.substr(0, tilde)) + "~");
        } else {
            qt.term = filterWord(foldText(piece));
        }
        if (!qt.term.empty()) out.push_back(std::move(qt));
    }
    return out;
}

}  // namespace ixoserver
