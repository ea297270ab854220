#include "support/phrases.h"

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>

namespace {

bool isAsciiAlnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::unordered_set<std::string> parseStoplist(const char* stoplist) {
    std::unordered_set<std::string> words;
    if (!stoplist) return words;
    std::string_view rest(stoplist);
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string_view piece = rest.substr(0, comma);
        if (!piece.empty()) words.insert(upper(piece));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return words;
}

}  // namespace

extern "C" SAPIOLUX_EXPORT char* strCapitalisedPhrases(const char* text, const char* stoplist) {
    if (!text) return nullptr;
    try {
        const std::unordered_set<std::string> stop = parseStoplist(stoplist);
        std::string out;
        std::string phrase;
        int phraseWords = 0;
        bool phraseOpensSentence = false;
        bool sentenceStart = true;  // the next word opens a sentence
        auto flush = [&] {
            if (phraseWords > 1 || (phraseWords == 1 && !phraseOpensSentence)) {
                out += phrase;
                out += ", ";
            }
            phrase.clear();
            phraseWords = 0;
        };
        size_t i = 0;
        const size_t n = std::strlen(text);
        int lineBreaks = 0;
        while (i < n) {
            char c = text[i];
            if (!isAsciiAlnum(c)) {
                if (c == '\n') ++lineBreaks;
                if (c == '.' || c == '!' || c == '?' || lineBreaks >= 2) sentenceStart = true;
                // Only blanks and tabs keep a phrase together.
                if (c != ' ' && c != '\t') flush();
                ++i;
                continue;
            }
            size_t start = i;
            while (i < n && isAsciiAlnum(text[i])) ++i;
            std::string_view word(text + start, i - start);
            bool opens = sentenceStart;
            sentenceStart = false;
            lineBreaks = 0;
            bool capitalised = word[0] >= 'A' && word[0] <= 'Z' && !stop.count(upper(word));
            if (!capitalised) {
                flush();
                continue;
            }
            if (phraseWords == 0) {
                phraseOpensSentence = opens;
            } else {
                phrase += ' ';
            }
            phrase += word;
            ++phraseWords;
        }
        flush();
        char* result = static_cast<char*>(memAlloc(out.size() + 1));
        if (result) std::memcpy(result, out.data(), out.size());
        return result;
    } catch (...) {
        return nullptr;
    }
}
