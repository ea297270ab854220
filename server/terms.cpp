#include "server/terms.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ixo_text.h"
#include "support/lang2util.h"

namespace ixoserver {

namespace {

bool isAlnum(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The client's language conversion of one byte (bytes from 127 on become ASCII letters
// or a blank), upper-cased, appended to out.
void appendFolded(unsigned char c, std::string& out) {
    if (c < 127) {
        out += static_cast<char>(std::toupper(c));
        return;
    }
    char second = 0;
    char first = lang2ConvertChar(c, &second);
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(first)));
    if (second) out += static_cast<char>(std::toupper(static_cast<unsigned char>(second)));
}

}  // namespace

const std::vector<std::string>& stopWords() {
    static const std::vector<std::string> words = [] {
        // The client's built-in list, without its repeated entries.
        std::vector<std::string> out;
        int32_t count = 0;
        const char* const* list = lang2BuiltinStoplist(&count);
        for (int32_t i = 0; i < count; ++i)
            if (std::find(out.begin(), out.end(), list[i]) == out.end()) out.emplace_back(list[i]);
        return out;
    }();
    return words;
}

bool isStopWord(std::string_view upperWord) {
    // The client's stop list (the built-in one unless the process loaded another).
    if (upperWord.size() > 64) return false;
    return lang2IsStopWord(std::string(upperWord).c_str()) != 0;
}

void stemWord(std::string& w) {
    // The client's own stemmer, so that both sides make the same terms.
    w.push_back('\0');
    ixoStem(w.data());
    w.resize(std::strlen(w.c_str()));
}

std::string foldText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) appendFolded(static_cast<unsigned char>(ch), out);
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
    // Pieces as the client cuts free text into query words: after the language
    // conversion, at blanks, line ends, tabs, brackets and '#'; each piece then goes
    // through the word filter, which drops its other punctuation ("printf(3)," gives
    // PRINTF3). A piece with punctuation inside also gives its parts as terms, so that
    // a query for one of them ("printf") finds it too.
    static constexpr std::string_view kSplit = " []<>#\n\r\t";
    std::string folded;
    folded.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 127) {
            folded += ch;
        } else {
            char second = 0;
            folded += lang2ConvertChar(c, &second);
            if (second) folded += second;
        }
    }
    size_t pos = 0;
    std::string piece, part;
    while (pos < folded.size()) {
        while (pos < folded.size() && kSplit.find(folded[pos]) != std::string_view::npos) ++pos;
        size_t start = pos;
        while (pos < folded.size() && kSplit.find(folded[pos]) == std::string_view::npos) ++pos;
        if (pos == start) break;
        piece.assign(folded, start, std::min<size_t>(pos - start, 511));
        for (auto& c : piece) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::string word = filterWord(piece);
        if (!word.empty()) terms.push_back(word);
        bool punctuated = std::any_of(piece.begin(), piece.end(), [](char c) {
            return !isAlnum(static_cast<unsigned char>(c));
        });
        if (!punctuated || piece.find('~') != std::string::npos) continue;
        for (size_t i = 0; i <= piece.size(); ++i) {
            if (i < piece.size() && isAlnum(static_cast<unsigned char>(piece[i]))) {
                part += piece[i];
                continue;
            }
            if (!part.empty() && part.size() <= 240 && !isStopWord(part)) {
                stemWord(part);
                if (!part.empty() && part != word) terms.push_back(part);
            }
            part.clear();
        }
    }
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
