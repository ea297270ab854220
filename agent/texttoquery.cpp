#include "agent/texttoquery.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "agent/AppParameters.h"
#include "agent/profiling.h"
#include "ixo_text.h"
#include "support/fileutil.h"
#include "support/phrases.h"
#include "support/strutil.h"

namespace agent {
namespace {

constexpr size_t kEntryBytes = 11;
constexpr size_t kMaxCandidate = 20;

// Words of a query text are split at these bytes; '~' is not one of them, so a term
// keeps its marker.
constexpr char kStripSeparators[] = " \n\t\r!\"\xFA$%^*&()\xB7_-+={}[]#:;@'<>,.?/\xBC`|\\";

uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Each byte as the cleaned text keeps it: ASCII letters and digits as they are, every
// other byte a blank. A table, as prose mixes the two too irregularly for branches.
struct CleanMap {
    char to[256];
    constexpr CleanMap() : to() {
        for (int c = 0; c < 256; ++c) {
            bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            to[c] = alnum ? static_cast<char>(c) : ' ';
        }
    }
    char operator()(char c) const { return to[static_cast<unsigned char>(c)]; }
};
constexpr CleanMap kClean;

void upperInPlace(std::string& s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

bool hasLetter(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string upperCopy(std::string_view s) {
    std::string out(s);
    upperInPlace(out);
    return out;
}

}  // namespace

std::unique_ptr<TermWeightTable> TermWeightTable::load(const std::string& fileName) {
    char* buffer = nullptr;
    int64_t length = fileReadMarked(fileName.c_str(), &buffer);
    if (!buffer) return nullptr;
    auto table = parse(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(length));
    memFree(buffer);
    return table;
}

std::unique_ptr<TermWeightTable> TermWeightTable::parse(const uint8_t* data, size_t size) {
    if (!data || size < 12) return nullptr;
    const uint64_t bucketCount = readU32(data);
    const uint64_t compareLength = readU32(data + 4);
    const uint64_t entryCount = readU32(data + 8);
    if (bucketCount == 0) return nullptr;
    const uint64_t needed = 12 + bucketCount * 8 + entryCount * kEntryBytes;
    if (needed > size) return nullptr;
    auto table = std::make_unique<TermWeightTable>();
    table->compareLength_ = static_cast<uint32_t>(compareLength);
    table->buckets_.reserve(bucketCount);
    const uint8_t* p = data + 12;
    for (uint64_t b = 0; b < bucketCount; ++b, p += 8) {
        uint64_t first = readU32(p), count = readU32(p + 4);
        if (first + count > entryCount) return nullptr;
        table->buckets_.emplace_back(static_cast<uint32_t>(first), static_cast<uint32_t>(count));
    }
    table->weights_.reserve(entryCount);
    table->terms_.reserve(entryCount);
    for (uint64_t e = 0; e < entryCount; ++e, p += kEntryBytes) {
        table->weights_.push_back(p[0]);
        const char* term = reinterpret_cast<const char*>(p + 1);
        table->terms_.emplace_back(term, strnlen(term, kTermBytes));
    }
    return table;
}

int TermWeightTable::weight(std::string_view term) const {
    // The term as a C string would see it: up to its first zero byte.
    term = term.substr(0, term.find('\0'));
    uint32_t h = 0;
    for (char c : term)
        h = h * 131u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    auto [first, count] = buckets_[h % buckets_.size()];
    // Equal in the first L characters, a shorter string ending where the other goes on
    // counting as a difference.
    const size_t keyLength = std::min<size_t>(term.size(), compareLength_);
    for (uint32_t i = first; i < first + count; ++i) {
        const std::string& entry = terms_[i];
        if (std::min<size_t>(entry.size(), compareLength_) == keyLength &&
            std::memcmp(entry.data(), term.data(), keyLength) == 0)
            return weights_[i];
    }
    return kAbsentWeight;
}

namespace {

// Letter pairs that no word of a large English word list holds.
constexpr char kImpossiblePairs[] =
    "BQ BX CF CG CJ CV CX DX FQ FV FX FZ GK GQ GX HJ HX JB JC JD JF JG JH JK JL JM JP JQ JR "
    "JS JT JV JW JX JY JZ KQ KX KZ MX PQ PV PX QB QC QD QF QG QH QJ QK QL QM QN QP QQ QR QS "
    "QT QV QX QY QZ RX SX TX VB VC VD VF VG VH VJ VK VM VP VQ VT VW VX WQ WV WX XJ XK XV XX "
    "XZ YQ ZF ZJ ZQ ZR ZT ZX";

struct PairTable {
    bool impossible[26][26] = {};
    constexpr PairTable() {
        for (size_t i = 0; i + 1 < sizeof kImpossiblePairs; i += 3)
            impossible[kImpossiblePairs[i] - 'A'][kImpossiblePairs[i + 1] - 'A'] = true;
    }
};
constexpr PairTable kPairs;

}  // namespace

bool looksLikeNoise(std::string_view term) {
    if (term.size() >= 19) return true;
    bool letter = false, digit = false, vowel = false;
    for (size_t i = 0; i < term.size(); ++i) {
        char c = term[i];
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c >= 'A' && c <= 'Z') {
            letter = true;
            vowel = vowel || c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U' || c == 'Y';
            char next = i + 1 < term.size() ? term[i + 1] : '\0';
            if (next >= 'A' && next <= 'Z' && kPairs.impossible[c - 'A'][next - 'A']) return true;
        }
    }
    return (letter && digit) || (letter && !vowel);
}

int termWeight(const TermWeightTable* weights, std::string_view term) {
    if (!weights) return TermWeightTable::kAbsentWeight;
    const int w = weights->weight(term);
    return looksLikeNoise(term) ? std::min(w, kNoiseWeight) : w;
}

namespace {

// Open addressing over indexes into the caller's records: the table keeps each key's
// hash and record index, the caller's equal(index) compares the key itself.
class IndexTable {
  public:
    explicit IndexTable(size_t expected) {
        size_t capacity = 64;
        while (capacity < expected * 2) capacity <<= 1;
        slots_.assign(capacity, Slot{});
    }

    // The record index stored for the key with this hash that equal accepts; when
    // there is none, fresh is stored for it and -1 returned.
    template <class Equal>
    int32_t findOrAdd(uint32_t hash, int32_t fresh, Equal equal) {
        const size_t mask = slots_.size() - 1;
        for (size_t i = spread(hash) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.index < 0) {
                slot = Slot{hash, fresh};
                if (++used_ * 2 > slots_.size()) grow();
                return -1;
            }
            if (slot.hash == hash && equal(slot.index)) return slot.index;
        }
    }

  private:
    struct Slot {
        uint32_t hash = 0;
        int32_t index = -1;
    };
    static size_t spread(uint32_t hash) {
        return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32);
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2, Slot{});
        old.swap(slots_);
        const size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.index < 0) continue;
            size_t i = spread(s.hash) & mask;
            while (slots_[i].index >= 0) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }
    std::vector<Slot> slots_;
    size_t used_ = 0;
};

uint32_t hashBytes(const char* p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 16777619u;
    return h;
}

}  // namespace

std::vector<QueryTerm> countTerms(std::string_view clean, bool (*makeTerm)(std::string& term)) {
    // Window text repeats its words: each distinct candidate is counted in a flat
    // table and goes through the term check once; equal terms are merged as they are
    // found (the same outcome as sorting every occurrence and merging runs, without
    // sorting them all).
    struct Candidate {
        char text[kMaxCandidate];
        uint8_t length;
        int32_t term;  // index in merged, -1 when rejected
        int32_t count;
    };
    std::vector<Candidate> candidates;
    IndexTable byCandidate(std::min<size_t>(clean.size() / 3 + 1, 2048));
    std::vector<QueryTerm> merged;
    IndexTable byTerm(256);
    size_t pos = 0;
    char candidate[kMaxCandidate + 4];
    while (pos < clean.size()) {
        while (pos < clean.size() && clean[pos] == ' ') ++pos;
        size_t start = pos;
        while (pos < clean.size() && clean[pos] != ' ') ++pos;
        size_t length = pos - start;
        if (length < 2) continue;
        const size_t take = std::min(length, kMaxCandidate);
        uint32_t h = 2166136261u;
        for (size_t k = 0; k < take; ++k) {
            char c = clean[start + k];
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
            candidate[k] = c;
            h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        }
        const auto fresh = static_cast<int32_t>(candidates.size());
        int32_t found = byCandidate.findOrAdd(h, fresh, [&](int32_t i) {
            const Candidate& known = candidates[static_cast<size_t>(i)];
            return known.length == take && std::memcmp(known.text, candidate, take) == 0;
        });
        if (found >= 0) {
            ++candidates[static_cast<size_t>(found)].count;
            continue;
        }
        Candidate& added = candidates.emplace_back();
        std::memcpy(added.text, candidate, take);
        added.length = static_cast<uint8_t>(take);
        added.term = -1;
        added.count = 1;
        candidate[take] = '\0';
        if (!ixoWordFilter(candidate)) continue;
        std::string term(candidate);
        if (!makeTerm(term)) continue;
        const auto next = static_cast<int32_t>(merged.size());
        int32_t same = byTerm.findOrAdd(hashBytes(term.data(), term.size()), next, [&](int32_t i) {
            return merged[static_cast<size_t>(i)].term == term;
        });
        if (same < 0) merged.push_back(QueryTerm{std::move(term), 0});
        candidates.back().term = same < 0 ? next : same;
    }
    for (const Candidate& c : candidates)
        if (c.term >= 0) merged[static_cast<size_t>(c.term)].value += c.count;
    return merged;
}

std::vector<QueryTerm> sortByValue(std::vector<QueryTerm> merged) {
    // Highest value first, equal values in term order (terms are unique). The order is
    // found on keys so that few comparisons reach the strings and each term moves once.
    struct Key {
        int32_t value;
        int32_t index;
        uint64_t prefix;
    };
    std::vector<Key> order(merged.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = Key{merged[i].value, static_cast<int32_t>(i), textOrderPrefix(merged[i].term)};
    std::sort(order.begin(), order.end(), [&merged](const Key& a, const Key& b) {
        if (a.value != b.value) return a.value > b.value;
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return merged[static_cast<size_t>(a.index)].term <
               merged[static_cast<size_t>(b.index)].term;
    });
    std::vector<QueryTerm> ranked;
    ranked.reserve(merged.size());
    for (const Key& k : order) ranked.push_back(std::move(merged[static_cast<size_t>(k.index)]));
    return ranked;
}

std::vector<QueryTerm> countWeightedTerms(std::string_view clean, const TermWeightTable* weights,
                                          bool (*makeTerm)(std::string& term)) {
    std::vector<QueryTerm> merged = countTerms(clean, makeTerm);
    for (auto& r : merged) {
        int w = termWeight(weights, r.term);
        r.value = static_cast<int32_t>(w * std::sqrt(static_cast<double>(r.value)));
    }
    return sortByValue(std::move(merged));
}

std::string blankNonAlnum(std::string_view text) {
    std::string clean(text.size(), ' ');
    for (size_t i = 0; i < text.size(); ++i) clean[i] = kClean(text[i]);
    return clean;
}

std::vector<QueryTerm> rankTerms(const char* text, const TermWeightTable* weights) {
    if (!text) return {};
    // Cleaning: an apostrophe inside a word joins its two sides (don't -> dont); every
    // other byte that is not an ASCII letter or digit becomes a space.
    const size_t n = std::strlen(text);
    std::string clean(n, ' ');
    size_t used = 0;
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c == '\'' && i + 1 < n) {
            while (i + 1 < n && text[i + 1] == '\'') ++i;
            continue;
        }
        clean[used++] = kClean(c);
    }
    clean.resize(used);
    return countWeightedTerms(clean, weights, [](std::string& term) {
        if (!hasLetter(term)) return false;
        upperInPlace(term);
        return true;
    });
}

std::string textToQuery(const char* text, int32_t maxTerms, const TermWeightTable* weights) {
    std::vector<QueryTerm> ranked = rankTerms(text, weights);
    std::string out;
    size_t limit = maxTerms > 0 ? std::min(ranked.size(), static_cast<size_t>(maxTerms)) : 0;
    for (size_t i = 0; i < limit; ++i) {
        out += ranked[i].term;
        out += "~+";
    }
    return out;
}

void textToQuery(const char* text, int32_t maxTerms, DynString* out,
                 const TermWeightTable* weights) {
    if (!out) return;
    dynStringClear(out);
    std::string query = textToQuery(text, maxTerms, weights);
    dynStringAppend(out, query.c_str());
}

QueryOptions QueryOptions::fromParameters(const CAppParameters& p) {
    QueryOptions o;
    o.removeAmpersands = p.GetRemoveAmpersands() != 0;
    o.removeDuplicates = p.GetRemoveDuplicates() != 0;
    o.removeNumbers = p.GetRemoveNumbers() != 0;
    o.removeSingleLetters = p.GetRemoveSingleLetters() != 0;
    o.useStoplist = p.GetUseStoplist() != 0;
    o.minWordsForQuery = p.GetMinWordsForQuery();
    return o;
}

bool loadUserStoplist(const std::string& fileName, std::vector<std::string>& list) {
    char* buffer = nullptr;
    fileReadWhole(fileName.c_str(), &buffer);
    if (!buffer) return false;
    std::string piece;
    for (const char* p = buffer;; ++p) {
        char c = *p;
        if (c == '\r') continue;
        if (c == '\0' || c == '\n' || c == ',' || c == '+') {
            if (!piece.empty()) list.push_back(piece);
            piece.clear();
            if (c == '\0') break;
            continue;
        }
        piece += c;
    }
    memFree(buffer);
    return true;
}

std::string stripWords(const std::string& query, const QueryOptions& options) {
    WordList* words = ixoWordListCreate();
    if (!words) return {};
    ixoWordListAddText(words, query.c_str(), kStripSeparators);
    int32_t flags = (options.removeDuplicates ? IXO_WORDS_SORT_UNIQUE : 0) |
                    (options.removeSingleLetters ? IXO_WORDS_NO_SINGLE : 0) |
                    (options.removeNumbers ? IXO_WORDS_NO_NUMBERS : 0);
    char* stripped = ixoWordListBuildQuery(words, "+", flags);
    ixoWordListDestroy(&words);
    std::string out = stripped ? stripped : "";
    if (stripped) memFree(stripped);
    return out;
}

std::string firstWords(std::string_view text, int32_t maxWords, bool distinct) {
    std::string out;
    std::vector<std::string> seen;  // upper-cased first 20 characters of each word taken
    int32_t taken = 0;
    size_t pos = 0;
    const std::string_view separators(kStripSeparators, sizeof kStripSeparators - 1);
    while (pos < text.size() && taken < maxWords) {
        size_t start = text.find_first_not_of(separators, pos);
        if (start == std::string_view::npos) break;
        size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text.size();
        pos = end;
        std::string_view word = text.substr(start, end - start);
        // A word without a letter or digit is dropped by stripping anyway.
        if (std::none_of(word.begin(), word.end(), [](char c) { return kClean(c) != ' '; }))
            continue;
        if (distinct) {
            std::string key = upperCopy(word.substr(0, kMaxCandidate));
            if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
            seen.push_back(std::move(key));
        }
        if (!out.empty()) out += ' ';
        out += word;
        ++taken;
    }
    return out;
}

std::string firstTerms(const std::string& query, int32_t maxTerms) {
    size_t pos = 0;
    for (int32_t i = 0; i < maxTerms; ++i) {
        size_t plus = query.find('+', pos);
        if (plus == std::string::npos) return query;
        pos = plus + 1;
    }
    return query.substr(0, pos);
}

std::string applyUserStoplist(const std::string& query, const std::vector<std::string>& stoplist) {
    std::string kept;
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t end = query.find_first_of(",+", pos);
        if (end == std::string::npos) end = query.size();
        std::string piece = query.substr(pos, end - pos);
        pos = end + 1;
        if (piece.empty()) continue;
        if (std::find(stoplist.begin(), stoplist.end(), upperCopy(piece)) != stoplist.end())
            continue;
        kept += piece;
        kept += '+';
    }
    return kept;
}

QueryBuilder::QueryBuilder(const TermWeightTable* weights, std::vector<std::string> userStoplist,
                           UserProfile* profile, std::string profilePath)
    : weights_(weights),
      userStoplist_(std::move(userStoplist)),
      profile_(profile),
      profilePath_(std::move(profilePath)) {
    for (const auto& entry : userStoplist_) joinedStoplist_ += entry + ",";
    for (auto& entry : userStoplist_) upperInPlace(entry);
}

BuiltQuery QueryBuilder::build(std::string text, const QueryOptions& options) const {
    BuiltQuery result;
    if (options.removeAmpersands) std::erase(text, '&');
    if (text.empty()) return result;

    std::string query;
    if (weights_) {
        if (profile_) {
            profileUpdate(text.c_str(), *profile_, weights_);
            if (!profilePath_.empty()) profileSave(profilePath_, *profile_);
        }
        query = textToQuery(text.c_str(), kMaxQueryTerms, weights_);
    } else {
        char* phrases = strCapitalisedPhrases(text.c_str(), joinedStoplist_.c_str());
        if (phrases) {
            query = phrases;
            memFree(phrases);
        }
        upperInPlace(query);
        std::vector<char> buffer(query.begin(), query.end());
        buffer.push_back('\0');
        strCollapseWhitespace(buffer.data());
        // Front end B ranks nothing: its first words, in text order, are the query,
        // bounded like front end A's.
        query = firstWords(buffer.data(), kMaxQueryTerms, options.removeDuplicates);
    }

    query = stripWords(query, options);
    if (options.useStoplist && !userStoplist_.empty())
        query = applyUserStoplist(query, userStoplist_);
    query = firstTerms(query, kMaxQueryTerms);

    result.terms = static_cast<int32_t>(std::count(query.begin(), query.end(), '+'));
    if (result.terms >= options.minWordsForQuery && result.terms > 0) result.text = query;
    return result;
}

}  // namespace agent
