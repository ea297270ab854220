// Summaries and titles of imported documents. The summary of a text is its opening
// sentences (or opening words when it has no short first sentence); the title rule keeps
// a document's own title or makes one from the leading words of its text. With
// intelligent title and summary on, the import remembers the previous page so that the
// header text and titles repeated on every page of a site are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "import/htmlparse.h"
#include "import/srcfile_spec.h"

struct ImportArgs;

// The cross-page memory of one import (held by the import arguments while intelligent
// title and summary is on).
struct SummaryMemory {
    int mode = 1;
    std::string previousTitle;                 // without a trailing "..."
    std::optional<std::string> sharedOpening;  // common leading text of recent pages
    std::optional<HtmlPageHeads> previousPage;
    // The HTML importer's title and headings of the page being imported, valid for the
    // document currentOwner only (a document skipped before its title was chosen must
    // not lend its headings to the next one).
    std::optional<HtmlPageHeads> currentPage;
    const SrcFileSpec* currentOwner = nullptr;
};

// Title and summary settings of one call.
struct TitleRuleSettings {
    SummaryMemory* memory = nullptr;  // null: intelligent mode off
    int32_t minTitleChars = 0;        // 0: no minimum
    const IdxRemapTable* remap = nullptr;
};

// The summary of text: N sentences, or 8 * (wordLimit / 8) words when the text has no
// sentence end or its first sentence has more than wordLimit words. sharedOpening (may
// be null) is skipped when the text begins with it. Empty when there is no summary,
// including for N < 1 or wordLimit < 8.
std::string summaryOfText(std::string_view text, int32_t sentences, int32_t wordLimit,
                          const std::string* sharedOpening = nullptr);

// Sets the field "summary" of spec from text. Returns 0, -1 for null arguments.
int summaryAddToDocument(const TitleRuleSettings& settings, SrcFileSpec* spec, const char* text,
                         int32_t sentences, int32_t wordLimit);

// Chooses spec's title (word limit for a title made from text) and, in intelligent
// mode, updates the memory. Returns 0, -1 for null arguments.
int summaryApplyTitleRule(const TitleRuleSettings& settings, SrcFileSpec* spec, const char* text,
                          int32_t wordLimit);

// A title made from the leading words of text: at most wordLimit words (cut with "..."),
// every run of "-*=_+@#'~{}[]< >:;?/!|" replaced by its last character and a run at the
// end removed.
std::string summaryTitleFromText(std::string_view normalisedText, int32_t wordLimit);

// The memory of an import, or null when intelligent title and summary is off.
SummaryMemory* summaryMemoryOf(ImportArgs* args);
// Records the page heads of the HTML document spec for the title rule.
void summaryNoteHtmlPage(ImportArgs* args, const SrcFileSpec* spec, const HtmlParseRecord& record);

// Installs the summary rule, the title rule, HTML to text and the creation of the memory
// as the import control's document hooks (done once when the library is loaded).
void summaryInstallHooks();
