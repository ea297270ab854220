// Language conversion (Latin-1 / Windows Latin to plain ASCII) and the process-wide
// stop list.
#include "support/lang2util.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

struct Translit {
    std::array<char, 256> first{};
    std::array<char, 256> second{};
};

constexpr Translit makeTable() {
    Translit t{};
    for (int i = 0; i < 127; ++i) t.first[i] = static_cast<char>(i);
    for (int i = 127; i < 256; ++i) t.first[i] = ' ';
    auto set = [&t](int from, int to, char c) {
        for (int i = from; i <= to; ++i) t.first[i] = c;
    };
    set(0x80, 0x80, 'C');
    set(0x82, 0x82, 'e');
    set(0x83, 0x83, 'f');
    set(0x89, 0x89, '%');
    set(0x8A, 0x8A, 's');
    set(0x8C, 0x8C, 'E');
    set(0x91, 0x92, '\'');
    set(0x93, 0x94, '"');
    set(0x96, 0x97, '-');
    set(0x98, 0x98, 'y');
    set(0x9A, 0x9A, 's');
    set(0x9C, 0x9C, 'e');
    set(0xA1, 0xA1, 'i');
    set(0xA2, 0xA2, 'o');
    set(0xA3, 0xA3, 'u');
    set(0xA5, 0xA5, 'Y');
    set(0xA6, 0xA6, 'S');
    set(0xAC, 0xAC, 'Z');
    set(0xAF, 0xAF, 'Z');
    set(0xB1, 0xB1, 'a');
    set(0xB3, 0xB3, 'l');
    set(0xB6, 0xB6, 's');
    set(0xBC, 0xBC, 'z');
    set(0xBE, 0xBE, 'l');
    set(0xBF, 0xBF, 'z');
    set(0xC0, 0xC6, 'A');
    set(0xC7, 0xC7, 'C');
    set(0xC8, 0xCB, 'E');
    set(0xCC, 0xCF, 'I');
    set(0xD0, 0xD0, 'D');
    set(0xD1, 0xD1, 'N');
    set(0xD2, 0xD6, 'O');
    set(0xD8, 0xD8, 'O');
    set(0xD9, 0xDC, 'U');
    set(0xDD, 0xDD, 'Y');
    set(0xDE, 0xDE, 'p');
    set(0xDF, 0xDF, 's');
    set(0xE0, 0xE6, 'a');
    set(0xE7, 0xE7, 'c');
    set(0xE8, 0xEB, 'e');
    set(0xEC, 0xEF, 'i');
    set(0xF0, 0xF0, 'o');
    set(0xF1, 0xF1, 'n');
    set(0xF2, 0xF6, 'o');
    set(0xF7, 0xF7, 'x');
    set(0xF8, 0xF8, 'o');
    set(0xF9, 0xFC, 'u');
    set(0xFD, 0xFD, 'y');
    set(0xFE, 0xFE, 'p');
    set(0xFF, 0xFF, 'y');
    // Letters written as two: sharp s, the a-e and o-e ligatures and the umlauts.
    t.second[0xDF] = 's';
    t.second[0xE6] = t.second[0xE4] = t.second[0xE5] = 'e';
    t.second[0xC6] = t.second[0xC4] = t.second[0xC5] = 'E';
    t.second[0xF8] = t.second[0xF6] = 'e';
    t.second[0xD8] = t.second[0xD6] = 'E';
    t.second[0xFC] = 'e';
    t.second[0xDC] = 'E';
    return t;
}

// Built at compile time, so conversions on any thread need no set-up.
constexpr Translit kTable = makeTable();

constexpr std::array<const char*, 103> kBuiltinStoplist = {
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

const std::unordered_set<std::string_view>& builtinSet() {
    static const std::unordered_set<std::string_view> set(kBuiltinStoplist.begin(),
                                                          kBuiltinStoplist.end());
    return set;
}

struct TransparentHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The loaded list. Bucket sizes enforce the per-initial limit; one set serves the
// look-up (a word can only sit in the bucket of its own initial).
struct LoadedStoplist {
    bool builtinActive = true;
    std::array<int32_t, LANG2_STOPLIST_BUCKETS> bucketSize{};
    std::unordered_set<std::string, TransparentHash, std::equal_to<>> words;
};

LoadedStoplist& stoplist() {
    static LoadedStoplist list;
    return list;
}

int bucketOf(char initial) {
    return (initial >= 'A' && initial <= 'Z') ? initial - 'A' : LANG2_STOPLIST_BUCKETS - 1;
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

extern "C" {

char lang2ConvertChar(unsigned char c, char* second) {
    if (second) *second = kTable.second[c];
    return kTable.first[c];
}

int32_t lang2ConvertBytes(const char* input, int32_t length, char* output, int32_t outputSize) {
    if (!output || outputSize < 1) return 0;
    int32_t out = 0;
    if (input) {
        for (int32_t i = 0; i < length; ++i) {
            auto c = static_cast<unsigned char>(input[i]);
            char first = kTable.first[c];
            char second = kTable.second[c];
            int32_t need = second ? 2 : 1;
            if (out + need > outputSize - 1) break;
            output[out++] = first;
            if (second) output[out++] = second;
        }
    }
    output[out] = '\0';
    return out;
}

int32_t lang2ConvertText(const char* input, char** buffer, int32_t* size) {
    if (!input || !buffer || !size) return -1;
    size_t length = std::strlen(input);
    if (length > (INT32_MAX - 25) / 2) return -1;
    auto needed = static_cast<int32_t>(2 * length + 5);
    if (!*buffer || *size < needed) {
        auto newSize = static_cast<int32_t>(2 * length + 25);
        auto* fresh = static_cast<char*>(memAlloc(static_cast<size_t>(newSize)));
        if (!fresh) return -1;
        if (*buffer) memFree(*buffer);
        *buffer = fresh;
        *size = newSize;
    }
    return lang2ConvertBytes(input, static_cast<int32_t>(length), *buffer, *size);
}

int32_t lang2LoadStoplist(const char* fileName) {
    if (!fileName) return -1;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return -1;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return -1;

    LoadedStoplist& list = stoplist();
    list.words.clear();
    list.bucketSize.fill(0);
    list.builtinActive = false;

    std::vector<char> converted;
    size_t pos = 0;
    while (pos <= content.size()) {
        size_t end = content.find_first_of("\n\r\t", pos);
        if (end == std::string::npos) end = content.size();
        std::string_view raw(content.data() + pos, end - pos);
        pos = end + 1;
        if (raw.empty()) continue;

        converted.assign(2 * raw.size() + 1, '\0');
        int32_t n = lang2ConvertBytes(raw.data(), static_cast<int32_t>(raw.size()),
                                      converted.data(), static_cast<int32_t>(converted.size()));
        std::string word(converted.data(), static_cast<size_t>(n));
        for (char& c : word) c = upperAscii(c);
        size_t first = word.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        size_t last = word.find_last_not_of(" \t");
        word = word.substr(first, last - first + 1);
        if (word.size() > LANG2_STOPWORD_MAX) word.resize(LANG2_STOPWORD_MAX);

        int bucket = bucketOf(word[0]);
        if (list.bucketSize[bucket] >= LANG2_STOPLIST_BUCKET_WORDS) {
            std::fputs("Warning: too many words in stoplist\n", stdout);
            continue;
        }
        ++list.bucketSize[bucket];
        list.words.insert(std::move(word));
    }
    return 0;
}

int32_t lang2IsStopWord(const char* word) {
    if (!word) return 0;
    std::string_view w(word);
    const LoadedStoplist& list = stoplist();
    if (list.builtinActive && builtinSet().count(w)) return 1;
    if (list.words.empty() || w.size() > LANG2_STOPWORD_MAX) return 0;
    return list.words.find(w) != list.words.end() ? 1 : 0;
}

void lang2ResetStoplist(void) {
    LoadedStoplist& list = stoplist();
    list.words.clear();
    list.bucketSize.fill(0);
    list.builtinActive = true;
}

int32_t lang2BuiltinStoplistActive(void) {
    return stoplist().builtinActive ? 1 : 0;
}

const char* const* lang2BuiltinStoplist(int32_t* count) {
    if (count) *count = static_cast<int32_t>(kBuiltinStoplist.size());
    return kBuiltinStoplist.data();
}

int32_t lang2StoplistBucketSize(int32_t bucket) {
    if (bucket < 0 || bucket >= LANG2_STOPLIST_BUCKETS) return 0;
    return stoplist().bucketSize[static_cast<size_t>(bucket)];
}

}  // extern "C"
