// Text-to-query conversion: the window text becomes the query text the suggestion
// worker sends, upper-case terms each followed by "+" ("~+" for the weighted terms of
// front end A, which are already stemmed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/dynstring.h"

namespace agent {

class CAppParameters;
struct UserProfile;

// The term weights of "enc.dat": u32 bucket count B, u32 compare length L, u32 entry
// count N, B bucket descriptors (u32 first entry, u32 entry count), N entries of 11
// bytes (weight, then the upper-case term zero-padded to 10 bytes); little-endian.
class TermWeightTable {
  public:
    static constexpr int kAbsentWeight = 255;
    static constexpr size_t kTermBytes = 10;

    // Reads the file through the marked-file reader (plain files too). Null when the
    // file is missing or not a well-formed table.
    static std::unique_ptr<TermWeightTable> load(const std::string& fileName);
    // Null unless every count, descriptor and entry lies inside the data.
    static std::unique_ptr<TermWeightTable> parse(const uint8_t* data, size_t size);

    // The weight of the first entry of the term's bucket that equals term in its first
    // L characters; 255 when there is none.
    int weight(std::string_view term) const;
    size_t size() const { return weights_.size(); }

  private:
    uint32_t compareLength_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> buckets_;  // first entry, count
    std::vector<uint8_t> weights_;
    std::vector<std::string> terms_;  // at most 10 characters each
};

// A term that looks like markup or noise rather than a word: letters mixed with
// digits, letters without a vowel (A, E, I, O, U or Y), 19 characters or more, or a
// pair of letters that no English word holds (FQ, QX, ...).
bool looksLikeNoise(std::string_view term);
inline constexpr int kNoiseWeight = 8;
// The weight front end A and the profile give a term: its weight in the table (255 when
// absent), at most kNoiseWeight for a term that looks like noise; 255 without a table.
int termWeight(const TermWeightTable* weights, std::string_view term);

// One term of front end A: the term and its occurrence count, then its score.
struct QueryTerm {
    std::string term;  // at most 20 characters
    int32_t value = 0;
};

// The terms among the words of a cleaned text (ASCII letters and digits, every other
// byte a blank), counted and weighted. Words shorter than two characters are skipped; a
// word's first 20 characters in upper case are its candidate, and a candidate that
// passes ixoWordFilter becomes a term through makeTerm, which may change it or reject it
// (false). Each distinct candidate is checked once and equal terms are merged as they
// are found. Each term's value is its weight times the square root of its count;
// highest value first, equal values in term order.
std::vector<QueryTerm> countWeightedTerms(std::string_view clean, const TermWeightTable* weights,
                                          bool (*makeTerm)(std::string& term));
// The same terms with their occurrence counts as values, in the order first found.
std::vector<QueryTerm> countTerms(std::string_view clean, bool (*makeTerm)(std::string& term));
// The terms by value, highest first, equal values in term order (terms are unique).
std::vector<QueryTerm> sortByValue(std::vector<QueryTerm> terms);

// The first eight bytes of a text, zero-padded, as a number that orders as the texts
// do: a smaller key means a smaller text (bytes compared unsigned), and only equal
// keys need the texts compared. Sorting terms by it keeps most comparisons off the
// strings.
inline uint64_t textOrderPrefix(std::string_view s) {
    uint64_t key = 0;
    for (size_t i = 0; i < 8; ++i)
        key = key << 8 | (i < s.size() ? static_cast<unsigned char>(s[i]) : 0u);
    return key;
}

// The text with every byte that is not an ASCII letter or digit made a blank.
std::string blankNonAlnum(std::string_view text);

// The ranked, merged terms of a text, highest score first (front end A's ranking).
std::vector<QueryTerm> rankTerms(const char* text, const TermWeightTable* weights);

// Front end A: out is cleared and receives at most maxTerms terms of text, each
// followed by "~+". Empty when the text has no usable term.
void textToQuery(const char* text, int32_t maxTerms, DynString* out,
                 const TermWeightTable* weights);
std::string textToQuery(const char* text, int32_t maxTerms, const TermWeightTable* weights);

// The stripping and stop-list settings of the query builder.
struct QueryOptions {
    bool removeAmpersands = true;
    bool removeDuplicates = true;
    bool removeNumbers = true;
    bool removeSingleLetters = true;
    bool useStoplist = true;
    int32_t minWordsForQuery = 2;

    static QueryOptions fromParameters(const CAppParameters& params);
};

// The finished query: text (empty when no query is to be sent) and its term count.
struct BuiltQuery {
    std::string text;
    int32_t terms = 0;
};

// Stripping: the words of a query text (split at the separator set, which does not
// hold "~"), sorted and de-duplicated, without single characters and without words
// that read as a non-zero number, as each option says; each word followed by "+".
std::string stripWords(const std::string& query, const QueryOptions& options);
// The first maxWords words of a text (split at the separator set of stripWords; words
// without a letter or digit are skipped), in text order, joined by blanks; with
// distinct, a word whose first 20 characters equal those of a word already taken
// (without regard to case) is skipped.
std::string firstWords(std::string_view text, int32_t maxWords, bool distinct);
// The first maxTerms terms of a query text (each term followed by "+").
std::string firstTerms(const std::string& query, int32_t maxTerms);
// Removes the pieces (split at "," and "+") that equal an entry of stoplist (upper
// case) without regard to case; the rest is joined with "+" after every piece.
std::string applyUserStoplist(const std::string& query, const std::vector<std::string>& stoplist);

// Loads the user stop list file: one term per line or comma-separated terms; each
// non-empty piece is added to list. False when the file cannot be read.
bool loadUserStoplist(const std::string& fileName, std::vector<std::string>& list);

// The agent's query builder. With weights: the profile (when given) is updated with
// the text and saved to profilePath (when not empty), then front end A ranks the
// terms; without: front end B, the capitalised phrases. Then stripping, the user stop
// list and the term count check.
class QueryBuilder {
  public:
    QueryBuilder(const TermWeightTable* weights, std::vector<std::string> userStoplist,
                 UserProfile* profile = nullptr, std::string profilePath = {});
    BuiltQuery build(std::string text, const QueryOptions& options) const;

  private:
    const TermWeightTable* weights_;
    std::vector<std::string> userStoplist_;
    std::string joinedStoplist_;  // every entry followed by ","
    UserProfile* profile_;
    std::string profilePath_;
};

// The maximum number of terms the agent asks front end A for.
inline constexpr int32_t kMaxQueryTerms = 40;

}  // namespace agent
