// What the suggestions window shows, apart from how it draws it: the text and icon of a
// result line, the text behind a line's title tip, the window title, and the cutting of
// a text to a cell's width. Texts are single-byte (Windows-1252), as the server sends
// them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ixo.h"

namespace agent {

// Status-line and tray texts of the window.
inline constexpr const char* kTextNoSuggestions = "No suggestions";
inline constexpr const char* kTextNoNewSuggestions = "No new suggestions";
inline constexpr const char* kTextNewSuggestions = "New suggestions available";
inline constexpr const char* kTextNoWindowText = "Click on a window with text for suggestions";
inline constexpr const char* kTextNoStrongTheme = "The active window has text with no strong theme";
inline constexpr const char* kTextNotConnected =
    "Cannot communicate with server, please check your Internet connection";
inline constexpr const char* kTextNotConnectedTip = "Not connected";
inline constexpr const char* kTextLocatingServer = "Locating Server...";
inline constexpr const char* kTextAttemptingConnection = "Attempting connection...";

// Title suffixes.
inline constexpr const char* kSuffixQuerying = " .";
inline constexpr const char* kSuffixNewSuggestions = " *";
inline constexpr const char* kSuffixNotConnected = " [not connected]";

// The icon of a record's line in the list's image list, by the value of its first field
// named "DocType" (exact comparison); 0 for none or an unknown value.
int docTypeIcon(const IxoResultRecord& record);

// The text of record index of result as a list line (the record's title, or its field
// titleField when that is set; blanks trimmed at both ends; the first 256 characters;
// "%d%%   %s" with the weight when showSimilarity is set). Empty for an index outside
// the result.
std::string lineText(const IxoQueryResult& result, const std::string& titleField, int32_t index,
                     bool showSimilarity);

// The text a line's title tip shows and that is measured against its cell: lineText, but
// for a "PRODUCT" record (field "DOCTYPE") the price instead of the similarity
// ("<currency><digits>   <text>", "$" when "CURRENCY" is empty, the first run of digits of
// "PRICE"), and every "&amp;" turned into "&".
std::string tipText(const IxoQueryResult& result, const std::string& titleField, int32_t index,
                    bool showSimilarity);

// The window title: brand, a blank, product, the suffix, then with showSources five
// blanks, "Sources: " and the selected names ("All" when empty) without one trailing ",".
std::string windowTitle(const std::string& brand, const std::string& product,
                        const std::string& suffix, bool showSources,
                        const std::string& selectedNames);

// The text cut to fit: first to 243 characters, then characters are taken from its end
// until the rest followed by "..." fits (fits(text) says whether a text fits), or one
// character is left; "..." is appended. A text that fits whole is returned as it is.
std::string shortenToFit(const std::string& text,
                         const std::function<bool(const std::string&)>& fits);

}  // namespace agent
