#include "import/summary.h"

#include <cstring>
#include <memory>
#include <vector>

#include "imex_summary.h"
#include "import/importargs.h"
#include "import/importctrl.h"
#include "support/strutil.h"

namespace {

constexpr size_t kTitleTextLimit = 8096;
constexpr size_t kMinSharedOpening = 10;
constexpr std::string_view kTitleRunChars = "-*=_+@#'~{}[]< >:;?/!|";

bool isSentenceEnd(char c) {
    return c == '.' || c == ';' || c == '?' || c == '!' || c == ':';
}

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return std::string(s.substr(b, e - b));
}

std::string normalised(std::string_view s) {
    return trimmed(idxNormalizeWhitespace(s));
}

// The text with a remembered shared opening skipped when the text begins with it.
std::string_view skipSharedOpening(std::string_view text, const std::string* opening) {
    if (opening == nullptr || opening->empty() || text.size() < opening->size() ||
        text.compare(0, opening->size(), *opening) != 0)
        return text;
    text.remove_prefix(opening->size());
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

// End (exclusive) of the n-th word of text, or npos when it has fewer.
size_t endOfWord(std::string_view text, int32_t n) {
    int32_t words = 0;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && !isWordChar(text[i])) ++i;
        if (i >= text.size()) break;
        while (i < text.size() && isWordChar(text[i])) ++i;
        if (++words == n) return i;
    }
    return std::string_view::npos;
}

// Shared opening after a page with text: the common leading part of the remembered
// opening and text when it is longer than kMinSharedOpening characters, shortened back
// to its last delimiter; otherwise the whole text.
std::string nextSharedOpening(const std::optional<std::string>& remembered,
                              const std::string& text) {
    if (remembered) {
        const std::string& old = *remembered;
        size_t common = 0;
        while (common < old.size() && common < text.size() && old[common] == text[common]) ++common;
        if (common > kMinSharedOpening) {
            size_t cut = common;
            // Both texts go on past the common part: end it at a word boundary.
            auto endsWord = [common](const std::string& t) {
                return common == t.size() || strIsDelimiter(static_cast<unsigned char>(t[common]));
            };
            bool atBoundary = endsWord(text) && endsWord(old);
            if (!atBoundary) {
                size_t i = common;
                while (i > 0 && !strIsDelimiter(static_cast<unsigned char>(text[i - 1]))) --i;
                if (i > 0) cut = i;
            }
            return text.substr(0, cut);
        }
    }
    return text;
}

void updateMemory(SummaryMemory* memory, const SrcFileSpec* spec, const std::string& text,
                  const std::string& title) {
    if (memory == nullptr) return;
    memory->sharedOpening = nextSharedOpening(memory->sharedOpening, text);
    std::string remembered = title;
    if (remembered.size() >= 3 && remembered.compare(remembered.size() - 3, 3, "...") == 0)
        remembered.resize(remembered.size() - 3);
    memory->previousTitle = remembered;
    // Only an HTML page replaces the previous page's heads; documents without them (and
    // the section documents written after a page) leave them as they are.
    if (memory->currentPage && memory->currentOwner == spec) {
        memory->previousPage = std::move(memory->currentPage);
        memory->currentPage.reset();
        memory->currentOwner = nullptr;
    }
}

// The candidate title in intelligent mode with the page's heads, or "" for none.
std::string intelligentCandidate(const SummaryMemory& memory, const HtmlPageHeads& page,
                                 const SrcFileSpec* spec) {
    static const HtmlPageHeads kNoPage;
    const HtmlPageHeads& previous = memory.previousPage ? *memory.previousPage : kNoPage;
    const std::string& remembered = memory.previousTitle;
    std::string current = spec->title ? normalised(*spec->title) : std::string();
    if (!current.empty() && current != normalised(previous.title) && current != remembered)
        return current;
    const char* field = srcFileSpecGetField(spec, "TITLE");
    if (field == nullptr || *field == '\0') field = srcFileSpecGetField(spec, "title");
    if (field != nullptr) {
        std::string value = normalised(field);
        if (!value.empty() && value != remembered) return value;
    }
    for (size_t i = 0; i < page.headings.size(); ++i) {
        std::string heading = normalised(page.headings[i]);
        if (!heading.empty() && heading != normalised(previous.headings[i]) &&
            heading != remembered)
            return heading;
    }
    return {};
}

}  // namespace

std::string summaryOfText(std::string_view text, int32_t sentences, int32_t wordLimit,
                          const std::string* sharedOpening) {
    if (sentences < 1 || wordLimit / 8 < 1) return {};
    std::string work = normalised(text);
    std::string_view s = skipSharedOpening(work, sharedOpening);
    if (s.empty()) return {};
    size_t firstEnd = std::string_view::npos;
    for (size_t i = 0; i < s.size(); ++i)
        if (isSentenceEnd(s[i])) {
            firstEnd = i;
            break;
        }
    std::string_view summary;
    if (firstEnd == std::string_view::npos || idxWordCount(s.substr(0, firstEnd)) > wordLimit) {
        size_t end = endOfWord(s, 8 * (wordLimit / 8));
        summary = end == std::string_view::npos ? s : s.substr(0, end);
    } else {
        // Each search starts one character after the previous end (the first one after
        // the text start), so a text that opens with a sentence end skips it.
        size_t from = 1;
        size_t found = 0;
        size_t end = std::string_view::npos;
        while (found < static_cast<size_t>(sentences)) {
            size_t i = from;
            while (i < s.size() && !isSentenceEnd(s[i])) ++i;
            if (i >= s.size()) break;
            end = i;
            ++found;
            from = i + 1;
        }
        summary = found == static_cast<size_t>(sentences) ? s.substr(0, end) : s;
    }
    return trimmed(summary);
}

std::string summaryTitleFromText(std::string_view normalisedText, int32_t wordLimit) {
    std::vector<char> buffer(normalisedText.size() + 4, '\0');
    std::memcpy(buffer.data(), normalisedText.data(), normalisedText.size());
    strTruncateAtWord(buffer.data(), wordLimit);
    std::string_view cut(buffer.data());
    std::string out;
    out.reserve(cut.size());
    for (size_t i = 0; i < cut.size();) {
        if (kTitleRunChars.find(cut[i]) == std::string_view::npos) {
            out.push_back(cut[i++]);
            continue;
        }
        size_t j = i;
        while (j < cut.size() && kTitleRunChars.find(cut[j]) != std::string_view::npos) ++j;
        if (j < cut.size()) out.push_back(cut[j - 1]);
        i = j;
    }
    return trimmed(out);
}

int summaryAddToDocument(const TitleRuleSettings& settings, SrcFileSpec* spec, const char* text,
                         int32_t sentences, int32_t wordLimit) {
    if (spec == nullptr || text == nullptr) return -1;
    const std::string* opening = nullptr;
    if (settings.memory && settings.memory->sharedOpening)
        opening = &*settings.memory->sharedOpening;
    std::string summary = summaryOfText(text, sentences, wordLimit, opening);
    if (summary.empty()) return 0;
    return srcFileSpecSetFieldRemapped(settings.remap, spec, "summary", summary.c_str());
}

int summaryApplyTitleRule(const TitleRuleSettings& settings, SrcFileSpec* spec, const char* text,
                          int32_t wordLimit) {
    if (spec == nullptr || text == nullptr) return -1;
    std::string work = normalised(std::string_view(text, strnlen(text, kTitleTextLimit)));
    SummaryMemory* memory = settings.memory;
    std::string candidate;
    if (memory && memory->currentPage && memory->currentOwner == spec)
        candidate = intelligentCandidate(*memory, *memory->currentPage, spec);
    else if (spec->title)
        candidate = normalised(*spec->title);
    if (!candidate.empty() && (settings.minTitleChars <= 0 ||
                               candidate.size() > static_cast<size_t>(settings.minTitleChars))) {
        srcFileSpecSetTitle(spec, candidate.c_str());
        updateMemory(memory, spec, work, candidate);
        return 0;
    }
    const std::string* opening = nullptr;
    if (memory && memory->sharedOpening) opening = &*memory->sharedOpening;
    std::string title = summaryTitleFromText(skipSharedOpening(work, opening), wordLimit);
    srcFileSpecSetTitle(spec, title.c_str());
    updateMemory(memory, spec, work, title);
    return 0;
}

SummaryMemory* summaryMemoryOf(ImportArgs* args) {
    if (args == nullptr || !args->intelligentTitle || !args->crossPage) return nullptr;
    return static_cast<SummaryMemory*>(args->crossPage.get());
}

void summaryNoteHtmlPage(ImportArgs* args, const SrcFileSpec* spec, const HtmlParseRecord& record) {
    SummaryMemory* memory = summaryMemoryOf(args);
    if (memory == nullptr) return;
    HtmlPageHeads heads;
    heads.title = normalised(record.title);
    for (size_t i = 0; i < heads.headings.size(); ++i)
        heads.headings[i] = normalised(record.headings[i]);
    memory->currentPage = std::move(heads);
    memory->currentOwner = spec;
}

namespace {

TitleRuleSettings settingsOf(ImportArgs* args) {
    TitleRuleSettings settings;
    settings.memory = summaryMemoryOf(args);
    settings.minTitleChars = args->minTitleChars;
    return settings;
}

void summaryHook(ImportArgs* args, SrcFileSpec* spec, const char* text, int32_t sentences,
                 int32_t wordLimit) {
    if (args == nullptr) return;
    try {
        const IdxRemapTable remap = args->remapTable();
        TitleRuleSettings settings = settingsOf(args);
        settings.remap = &remap;
        summaryAddToDocument(settings, spec, text, sentences, wordLimit);
    } catch (...) {
    }
}

void titleHook(ImportArgs* args, SrcFileSpec* spec, const char* text, int32_t wordLimit) {
    if (args == nullptr) return;
    try {
        summaryApplyTitleRule(settingsOf(args), spec, text, wordLimit);
    } catch (...) {
    }
}

void beginImportHook(ImportArgs* args) {
    if (args == nullptr) return;
    try {
        args->crossPage = std::make_shared<SummaryMemory>();
    } catch (...) {
        args->crossPage.reset();
    }
}

char* htmlToTextHook(const char* html, int32_t options) {
    return htmlToText(html, options);
}

const bool gHooksInstalled = (summaryInstallHooks(), true);

}  // namespace

void summaryInstallHooks() {
    importChangeDocumentHooks([](ImportDocumentHooks& hooks) {
        hooks.summary = summaryHook;
        hooks.title = titleHook;
        hooks.htmlToText = htmlToTextHook;
        hooks.beginImport = beginImportHook;
    });
}

extern "C" SAPIOLUX_EXPORT char* imexGetSummary(const char* text, int32_t sentences,
                                                int32_t wordLimit) {
    if (text == nullptr) return nullptr;
    try {
        std::string summary = summaryOfText(text, sentences, wordLimit);
        if (summary.empty()) return nullptr;
        return memStrNDup(summary.data(), summary.size());
    } catch (...) {
        return nullptr;
    }
}
