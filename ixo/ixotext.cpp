// Query-text processing: normalising query texts, turning free text into weighted
// query terms, the English stemmer and word filter, the word list, and the server's
// stop list.
#include "ixo/ixotext.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>

#include "ixo/ixoresults.h"
#include "ixo_api.h"
#include "support/lang2util.h"

namespace {

constexpr size_t kQueryTextLimit = IXO_QUERY_TEXT_LIMIT;
constexpr size_t kPieceCopyMax = 511;
constexpr size_t kDefaultWordMax = 256;
constexpr size_t kDefaultWordsKept = 200;

constexpr int32_t kWordSlotsStep = 1024;
constexpr int32_t kPoolStep = 16384;
constexpr int32_t kPoolMargin = 64;

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlnum(char c) {
    return isLetter(c) || isDigit(c);
}
char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool endsWith(std::string_view word, std::string_view suffix) {
    return word.size() >= suffix.size() &&
           word.compare(word.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A set of separator bytes; bytes above 127 count too.
struct SeparatorSet {
    std::array<bool, 256> is{};
    explicit SeparatorSet(const char* chars) {
        for (const char* p = chars; *p; ++p) is[static_cast<unsigned char>(*p)] = true;
    }
    bool operator()(char c) const { return is[static_cast<unsigned char>(c)]; }
};

// Rewrites a word pool's pointers after the pool moved.
void rebase(char** words, int32_t count, const char* oldBase, char* newBase) {
    for (int32_t i = 0; i < count; ++i)
        words[i] = newBase +
                   (reinterpret_cast<uintptr_t>(words[i]) - reinterpret_cast<uintptr_t>(oldBase));
}

// Keeps the first kept words of text as "WORD~+" entries (see ixoProcessContentToQuery).
std::string contentTerms(const char* text, size_t maxWordLength, size_t maxWords) {
    // The language conversion runs over the whole text in one call; line feeds,
    // carriage returns and tabs then split words as blanks do, which is what
    // collapsing white space to single blanks amounts to. Upper case is applied to
    // the pieces as they are cut out.
    size_t length = std::strlen(text);
    if (length > (INT32_MAX - 1) / 2) throw std::bad_alloc();
    std::string converted(2 * length + 1, '\0');
    int32_t n = lang2ConvertBytes(text, static_cast<int32_t>(length), converted.data(),
                                  static_cast<int32_t>(converted.size()));
    converted.resize(static_cast<size_t>(n));

    static const SeparatorSet kSplit(" []<>#\n\r\t");
    std::string out;
    std::unordered_set<std::string> seen;
    char piece[kPieceCopyMax + 1];
    size_t kept = 0;
    size_t pos = 0;
    while (pos < converted.size() && kept < maxWords) {
        while (pos < converted.size() && kSplit(converted[pos])) ++pos;
        size_t start = pos;
        while (pos < converted.size() && !kSplit(converted[pos])) ++pos;
        if (pos == start) break;
        size_t pieceLength = std::min(pos - start, kPieceCopyMax);
        for (size_t i = 0; i < pieceLength; ++i) piece[i] = upper(converted[start + i]);
        piece[pieceLength] = '\0';
        if (!ixoWordFilter(piece)) continue;
        std::string word(piece);
        if (word.size() > maxWordLength) word.resize(maxWordLength);
        if (!seen.insert(word).second) continue;
        out += word;
        out += "~+";
        ++kept;
    }
    return out;
}

// ixoProcessQueryText into a string; pieces stop at the query-text limit and at
// room (bytes available including the terminator).
std::string processQueryText(std::string_view text, size_t room) {
    size_t i = 0;
    while (i < text.size() && (text[i] == '\n' || text[i] == '\r' || text[i] == '\t' ||
                               text[i] == ' ' || text[i] == '+'))
        ++i;
    std::string copy;
    copy.reserve(text.size() - i);
    for (; i < text.size(); ++i)
        if (text[i] != '&') copy += text[i];

    std::string out;
    out.reserve(copy.size() + 1);
    size_t pos = 0;
    while (pos < copy.size()) {
        size_t end = copy.find(' ', pos);
        if (end == std::string::npos) end = copy.size();
        std::string_view piece(copy.data() + pos, end - pos);
        pos = end + 1;
        if (piece.empty()) continue;
        if (out.size() + 1 > kQueryTextLimit) break;
        size_t joiner = out.empty() ? 0 : 1;
        if (out.size() + joiner + piece.size() + 1 > room) break;
        if (joiner) out += '+';
        out += piece;
    }
    for (char& c : out)
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ' || c == '=' || c == ';') c = '+';
    return out;
}

int32_t contentToQuery(const char* text, size_t maxWordLength, size_t maxWords, char** out) {
    if (!out) return -5;
    *out = nullptr;
    if (!text || !*text) return -5;
    try {
        std::string terms = contentTerms(text, maxWordLength, maxWords);
        std::string query = processQueryText(terms, SIZE_MAX);
        auto* result = static_cast<char*>(memAlloc(query.size() + 1));
        if (!result) return -7;
        std::memcpy(result, query.data(), query.size());
        *out = result;
        return 1;
    } catch (...) {
        return -7;
    }
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT int32_t ixoProcessQueryText(const char* text, char* out, int32_t outSize) {
    if (!text || !out || outSize < 1) return 0;
    try {
        std::string result = processQueryText(text, static_cast<size_t>(outSize));
        std::memcpy(out, result.data(), result.size());
        out[result.size()] = '\0';
    } catch (...) {
        out[0] = '\0';
    }
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoProcessContentToQuery(const char* text, char** out) {
    return contentToQuery(text, kDefaultWordMax, kDefaultWordsKept, out);
}

SAPIOLUX_EXPORT int32_t ixoProcessContentToQueryWithTruncate(const char* text,
                                                             int32_t maxWordLength, char** out) {
    if (maxWordLength < 1) {
        if (out) *out = nullptr;
        return -5;
    }
    return contentToQuery(text, static_cast<size_t>(maxWordLength), SIZE_MAX, out);
}

SAPIOLUX_EXPORT int32_t ixoStem(char* word) {
    if (!word) return -5;
    size_t n = std::strlen(word);
    if (n < 3) return 1;

    if (std::none_of(word, word + n, isLetter)) {
        while (n > 0 && !isAlnum(word[n - 1])) --n;
        word[n] = '\0';
        return 1;
    }
    for (size_t i = 0; i < n; ++i) {
        if (!isAlnum(word[i])) {
            n = i;
            word[n] = '\0';
            break;
        }
    }
    if (n >= 4 && word[n - 1] == 'S' && word[n - 2] != 'S') word[--n] = '\0';
    if (n <= 4) return 1;

    static constexpr std::string_view kSuffixes[] = {"ING", "MENT", "ED",  "ER", "EST",   "IES",
                                                     "EST", "E",    "ISH", "LY", "ATION", "IAL"};
    for (std::string_view suffix : kSuffixes) {
        if (!endsWith(std::string_view(word, n), suffix)) continue;
        n -= suffix.size();
        word[n] = '\0';
        // RUNNING loses one N; BALLING keeps both L.
        if (suffix == "ING" && n >= 2 && word[n - 1] == word[n - 2] && word[n - 1] != 'L')
            word[--n] = '\0';
        return 1;
    }

    struct Ending {
        std::string_view from;
        std::string_view to;
    };
    static constexpr Ending kEndings[] = {{"Y", "I"},  {"NE", "N"}, {"LE", "L"},
                                          {"GE", "G"}, {"NT", "N"}, {"NCE", "N"}};
    for (const Ending& e : kEndings) {
        if (!endsWith(std::string_view(word, n), e.from)) continue;
        size_t base = n - e.from.size();
        std::memcpy(word + base, e.to.data(), e.to.size());
        word[base + e.to.size()] = '\0';
        break;
    }
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoWordFilter(char* word) {
    if (!word) return 0;
    char* out = word;
    for (const char* p = word; *p; ++p)
        if (isAlnum(*p) || *p == '~') *out++ = *p;
    *out = '\0';
    if (!*word || lang2IsStopWord(word)) return 0;
    if (char* tilde = std::strchr(word, '~')) {
        *tilde = '\0';
        return *word ? 1 : 0;
    }
    ixoStem(word);
    return *word ? 1 : 0;
}

SAPIOLUX_EXPORT int32_t ixoParseStoplist(const char* reply, int32_t* count, char*** words) {
    if (!reply || !count || !words) return -5;
    *count = 0;
    *words = nullptr;
    int32_t announced = ixo::parseInt32(reply);
    if (announced < 1) return 1;
    const char* p = std::strchr(reply, '\n');
    if (!p) return -9;
    ++p;
    size_t lines = static_cast<size_t>(std::count(p, p + std::strlen(p), '\n')) + 1;
    size_t n = std::min(static_cast<size_t>(announced), lines);
    auto* array = static_cast<char**>(memAlloc(n * sizeof(char*)));
    if (!array) return -7;
    size_t got = 0;
    while (*p && got < n) {
        const char* nl = std::strchr(p, '\n');
        size_t length = nl ? static_cast<size_t>(nl - p) : std::strlen(p);
        size_t wordLength = length;
        if (wordLength > 0 && p[wordLength - 1] == '\r') --wordLength;
        if (wordLength > 0) {
            array[got] = memStrNDup(p, wordLength);
            if (!array[got]) {
                ixoFreeStoplist(&array, static_cast<int32_t>(got));
                return -7;
            }
            ++got;
        }
        p += length;
        if (*p == '\n') ++p;
    }
    if (got == 0) {
        memFree(array);
        return -9;
    }
    *count = static_cast<int32_t>(got);
    *words = array;
    return 1;
}

SAPIOLUX_EXPORT void ixoFreeStoplist(char*** words, int32_t count) {
    if (!words || !*words) return;
    for (int32_t i = 0; i < count; ++i)
        if ((*words)[i]) memFree((*words)[i]);
    memFree(*words);
}

SAPIOLUX_EXPORT int32_t ixoGetStoplist(struct IXO* ixo, int32_t* count, char*** words) {
    if (!ixo || !count || !words) return -5;
    *count = 0;
    *words = nullptr;
    char* reply = nullptr;
    if (ixoRequestToDynBuffer2(ixo, IXO_QUERY_PORT_SELECTOR, "/qmethod=n", nullptr, &reply) != 1 ||
        !reply)
        return -3;
    int32_t rc = ixoParseStoplist(reply, count, words);
    memFree(reply);
    return rc;
}

SAPIOLUX_EXPORT WordList* ixoWordListCreate(void) {
    auto* list = static_cast<WordList*>(memAlloc(sizeof(WordList)));
    if (!list) return nullptr;
    list->words = static_cast<char**>(memAlloc(kWordSlotsStep * sizeof(char*)));
    list->pool = static_cast<char*>(memAlloc(kPoolStep));
    if (!list->words || !list->pool) {
        ixoWordListDestroy(&list);
        return nullptr;
    }
    list->capacity = kWordSlotsStep;
    list->poolCapacity = kPoolStep;
    return list;
}

SAPIOLUX_EXPORT void ixoWordListDestroy(WordList** list) {
    if (!list || !*list) return;
    if ((*list)->words) memFree((*list)->words);
    if ((*list)->pool) memFree((*list)->pool);
    memFree(*list);
}

namespace {

int32_t addWord(WordList* list, const char* word, size_t length) {
    // The pool grows in whole steps until the word and the margin fit.
    int64_t needed = int64_t{list->poolUsed} + static_cast<int64_t>(length) + 1 + kPoolMargin;
    if (needed > list->poolCapacity) {
        int64_t capacity = list->poolCapacity;
        while (capacity < needed) capacity += kPoolStep;
        if (capacity > INT32_MAX) return -7;
        char* oldPool = list->pool;
        auto* pool = static_cast<char*>(memRealloc(list->pool, static_cast<size_t>(capacity)));
        if (!pool) return -7;
        rebase(list->words, list->count, oldPool, pool);
        list->pool = pool;
        list->poolCapacity = static_cast<int32_t>(capacity);
    }
    if (list->count == list->capacity) {
        if (list->capacity > INT32_MAX - kWordSlotsStep) return -7;
        int32_t capacity = list->capacity + kWordSlotsStep;
        auto* words = static_cast<char**>(
            memRealloc(list->words, static_cast<size_t>(capacity) * sizeof(char*)));
        if (!words) return -7;
        list->words = words;
        list->capacity = capacity;
    }
    char* slot = list->pool + list->poolUsed;
    std::memcpy(slot, word, length);
    slot[length] = '\0';
    list->poolUsed += static_cast<int32_t>(length + 1);
    list->words[list->count++] = slot;
    list->sorted = 0;
    return 1;
}

}  // namespace

SAPIOLUX_EXPORT int32_t ixoWordListAddWord(WordList* list, const char* word) {
    if (!list || !word) return -5;
    return addWord(list, word, std::strlen(word));
}

SAPIOLUX_EXPORT int32_t ixoWordListAddText(WordList* list, const char* text,
                                           const char* separators) {
    if (!list || !text || !separators) return -5;
    SeparatorSet split(separators);
    const char* p = text;
    while (*p) {
        while (*p && split(*p)) ++p;
        const char* start = p;
        bool usable = false;
        while (*p && !split(*p)) usable |= isAlnum(*p++);
        if (usable) {
            int32_t rc = addWord(list, start, static_cast<size_t>(p - start));
            if (rc != 1) return rc;
        }
    }
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoWordListSort(WordList* list) {
    if (!list) return -5;
    std::sort(list->words, list->words + list->count,
              [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
    list->sorted = 1;
    return 1;
}

SAPIOLUX_EXPORT char* ixoWordListBuildQuery(WordList* list, const char* joiner, int32_t flags) {
    if (!list || !joiner) return nullptr;
    try {
        if ((flags & IXO_WORDS_SORT_UNIQUE) && !list->sorted) ixoWordListSort(list);
        std::string out;
        out.reserve(static_cast<size_t>(list->poolUsed) + 256 +
                    std::strlen(joiner) * static_cast<size_t>(list->count));
        const char* previous = nullptr;
        for (int32_t i = 0; i < list->count; ++i) {
            const char* w = list->words[i];
            size_t length = std::strlen(w);
            if ((flags & IXO_WORDS_NO_SINGLE) && length == 1) continue;
            if (flags & IXO_WORDS_NO_NUMBERS) {
                if (ixo::parseInt32(w) != 0) continue;
            } else if (flags & IXO_WORDS_NO_DIGITS) {
                if (std::any_of(w, w + length, isDigit)) continue;
            }
            if ((flags & IXO_WORDS_SORT_UNIQUE) && previous && std::strncmp(w, previous, 20) == 0)
                continue;
            out.append(w, length);
            out += joiner;
            previous = w;
        }
        auto* result = static_cast<char*>(memAlloc(out.size() + 1));
        if (result) std::memcpy(result, out.data(), out.size());
        return result;
    } catch (...) {
        return nullptr;
    }
}

SAPIOLUX_EXPORT const char* ixoSuggestSeparators(void) {
    return " \n\t\r!\"$%^*&()_-+={}[]~#:;@'<>,.?/`|\\\xFA\xBC";
}

}  // extern "C"
