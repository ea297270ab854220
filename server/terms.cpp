#include "server/terms.h"

#include <algorithm>
#include <array>
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

namespace {

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool stopWordText(const std::string& upperWord) {
    return upperWord.size() <= 64 && lang2IsStopWord(upperWord.c_str()) != 0;
}

// The word filter on an upper-case piece, into w (reused between calls).
void filterInto(std::string_view word, std::string& w) {
    w.clear();
    for (char ch : word) {
        auto c = static_cast<unsigned char>(ch);
        if (isAlnum(c) || c == '~') w += upperAscii(ch);
    }
    if (w.empty() || stopWordText(w)) {
        w.clear();
        return;
    }
    auto tilde = w.find('~');
    if (tilde != std::string::npos) {
        w.erase(tilde);
    } else {
        stemWord(w);
    }
    if (w.size() > 240) w.resize(240);
}

// The terms of one upper-case piece of free text: the filtered piece, and when it has
// punctuation inside, also its parts of letters and digits.
void pieceTerms(const std::string& piece, std::string& word, std::string& part,
                std::vector<std::string>& terms) {
    filterInto(piece, word);
    if (!word.empty()) terms.push_back(word);
    bool punctuated = false, tilde = false;
    for (char c : piece) {
        punctuated = punctuated || !isAlnum(static_cast<unsigned char>(c));
        tilde = tilde || c == '~';
    }
    if (!punctuated || tilde) return;
    part.clear();
    for (size_t i = 0; i <= piece.size(); ++i) {
        if (i < piece.size() && isAlnum(static_cast<unsigned char>(piece[i]))) {
            part += piece[i];
            continue;
        }
        if (!part.empty() && part.size() <= 240 && !stopWordText(part)) {
            stemWord(part);
            if (!part.empty() && part != word) terms.push_back(part);
        }
        part.clear();
    }
}

}  // namespace

std::string filterWord(std::string_view word) {
    std::string w;
    w.reserve(word.size());
    filterInto(word, w);
    return w;
}

void textToTerms(std::string_view text, std::vector<std::string>& terms) {
    // Pieces as the client cuts free text into query words: after the language
    // conversion, at blanks, line ends, tabs, brackets and '#'; each piece then goes
    // through the word filter, which drops its other punctuation ("printf(3)," gives
    // PRINTF3). A piece with punctuation inside also gives its parts as terms, so that
    // a query for one of them ("printf") finds it too. Pieces are cut to 511 bytes.
    static const std::array<bool, 256> kSplit = [] {
        std::array<bool, 256> t{};
        for (char c : std::string_view(" []<>#\n\r\t")) t[static_cast<unsigned char>(c)] = true;
        return t;
    }();
    std::string piece, word, part;
    piece.reserve(512);
    auto feed = [&](char c) {
        if (kSplit[static_cast<unsigned char>(c)]) {
            if (!piece.empty()) pieceTerms(piece, word, part, terms);
            piece.clear();
        } else if (piece.size() < 511) {
            piece += upperAscii(c);
        }
    };
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 127) {
            feed(ch);
        } else {
            char second = 0;
            feed(lang2ConvertChar(c, &second));
            if (second) feed(second);
        }
    }
    if (!piece.empty()) pieceTerms(piece, word, part, terms);
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
