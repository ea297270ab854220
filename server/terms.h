// Index and query terms, made the way the retrieval client makes its query terms: the
// text is transliterated to ASCII, upper-cased, cut into words of letters and digits,
// stop words are dropped and the rest stemmed with the client's English rules. A query
// term that carries '~' was stemmed by the client already and is used as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ixoserver {

// The client's English stemmer for an upper-case word (changed in place).
void stemWord(std::string& word);

// True for a word of the built-in stop list (upper case, exact).
bool isStopWord(std::string_view upperWord);
// The built-in stop list, distinct words in list order.
const std::vector<std::string>& stopWords();

// Transliterates accented Latin-1 letters to ASCII and upper-cases the text.
std::string foldText(std::string_view text);

// The word filter: keeps letters, digits and '~'; empty words and stop words give an
// empty result; a word with '~' is cut there and not stemmed; others are stemmed.
// Words are cut to 240 characters so that every term fits the index.
std::string filterWord(std::string_view word);

// Appends the terms of a free text (split at every character that is not a letter or
// digit after folding) to terms, in text order, duplicates kept.
void textToTerms(std::string_view text, std::vector<std::string>& terms);

// One term of a query text: the term, and the weight factor given as "~[n]" or "~n"
// after it (1.0 when none).
struct QueryTerm {
    std::string term;
    double weight = 1.0;
};

// Splits a query text at '+', blanks and line ends; drops "QNUM=..." items; turns each
// piece into a term with filterWord (pieces with '~' are not stemmed). Boolean operator
// words are returned upper-cased and unfiltered when keepOperators is set.
std::vector<QueryTerm> parseQueryText(std::string_view text, bool keepOperators);

}  // namespace ixoserver
