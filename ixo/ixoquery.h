// Internal side of the query and suggestion requests: the parameter builders and the
// request assembly, exposed for tests.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "ixo_query.h"

namespace ixo_query {

// '&' + fields with "+field"/"+fname" turned into "&field"/"&fname", then
// "&fieldbool=" + fieldBool without "field"; empty without fields.
std::string fieldsParameter(std::string_view fields, std::string_view fieldBool);

// "&idnum=N" for a non-zero document number.
std::string docNumberParameter(int32_t docNumber);

// "&xoptions=" + the option list (each entry followed by '+'), or nothing for a plain
// request.
std::string optionsParameter(std::string_view extra, int32_t withSummary, int32_t useUrl,
                             int32_t include, int32_t methodArgument);

// Days before `now` that a day text names: a signed whole number, or day/month/year
// (days from local midnight of that date to now; -1 for a future date).
int32_t dayValue(std::string_view text, std::time_t now);

// "&fromdate=N&todate=M" from a dates text ("from=..." and "to=..." parts).
std::string datesParameter(std::string_view dates, std::time_t now);

// "&attachto=..." or "&attachtoname=..." from a databases text.
std::string databasesParameter(std::string_view databases);

// "&user=", "&pass=", "&group=", "&domain=" for the handle's non-empty fields.
std::string userParameters(const IXO& ixo);

// Query terms with each neighbouring pair added: a+b+c gives a+b+ab+c+bc.
std::string expandTerms(std::string_view query);

// The complete request of the ixoDoQuery calls (user parameters included).
std::string queryRequest(const IXO& ixo, int32_t method, std::string_view queryText,
                         std::string_view fields, std::string_view fieldBool,
                         std::string_view databases, std::string_view dates, int32_t numResults,
                         int32_t docNumber, int32_t withSummary, std::time_t now);

// The complete request of the ixoSuggestMore calls (user parameters included).
std::string suggestMoreRequest(const IXO& ixo, int32_t useUrl, std::string_view text,
                               std::string_view fields, std::string_view fieldBool,
                               std::string_view databases, std::string_view dates,
                               int32_t numResults, int32_t docNumber, int32_t withSummary,
                               int32_t include, std::time_t now);

// The sorted, de-duplicated words of a free text without stop words, each followed by
// '+'; empty when none is left.
std::string suggestTerms(const char* text);

// The request of ixoSuggestOnTextToStructure before the user parameters, or empty when
// the text holds no usable word.
std::string suggestOnTextRequest(const char* text, std::string_view fields,
                                 std::string_view fieldBool, std::string_view databases,
                                 std::string_view dates, int32_t numResults, int32_t docNumber,
                                 int32_t withSummary, int32_t secondDocNumber, std::time_t now);

}  // namespace ixo_query
