// The arguments record of an import: setters, read-backs and the settings loader.
#include "import/importargs.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "import/importlog.h"
#include "import/tempfiles.h"
#include "support/envcfgutil.h"
#include "support/fileutil.h"

IdxRemapTable ImportArgs::remapTable() const {
    remapFromPtrs_.clear();
    remapToPtrs_.clear();
    for (const auto& s : remapFrom) remapFromPtrs_.push_back(s.c_str());
    for (const auto& s : remapTo) remapToPtrs_.push_back(s.c_str());
    IdxRemapTable t;
    t.count = static_cast<int32_t>(std::min(remapFrom.size(), remapTo.size()));
    t.from = remapFromPtrs_.data();
    t.to = remapToPtrs_.data();
    return t;
}

std::vector<std::string> importSplitCsv(const std::string& text, bool trim) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string piece = text.substr(start, comma - start);
        if (trim) {
            size_t b = piece.find_first_not_of(" \t\r\n");
            size_t e = piece.find_last_not_of(" \t\r\n");
            piece = b == std::string::npos ? std::string() : piece.substr(b, e - b + 1);
        }
        if (!piece.empty()) out.push_back(std::move(piece));
        start = comma + 1;
    }
    return out;
}

namespace {

// Runs f, turning a failed allocation into -3.
template <typename F>
int guarded(ImportArgs* args, F&& f) {
    if (!args) return -1;
    try {
        return f(*args);
    } catch (const std::bad_alloc&) {
        return -3;
    } catch (...) {
        return -1;
    }
}

// A list of count texts; false when the array or any entry is null.
bool toList(int32_t count, const char* const* items, std::vector<std::string>& out) {
    out.clear();
    if (count < 0 || (count > 0 && !items)) return false;
    for (int32_t i = 0; i < count; ++i) {
        if (!items[i]) return false;
        out.emplace_back(items[i]);
    }
    return true;
}

std::optional<std::string> optText(const char* s) {
    return s ? std::optional<std::string>(s) : std::nullopt;
}

int setString(ImportArgs* args, std::optional<std::string> ImportArgs::*member, const char* v) {
    return guarded(args, [&](ImportArgs& a) {
        a.*member = optText(v);
        return 0;
    });
}

int setNumber(ImportArgs* args, int32_t ImportArgs::*member, int32_t v) {
    if (!args) return -1;
    args->*member = v;
    return 0;
}

int setFieldLists(ImportArgs* args, bool append, int32_t count, const char* const* names,
                  const char* const* starts, const char* const* stops) {
    return guarded(args, [&](ImportArgs& a) {
        std::vector<std::string> n, s, e;
        if (count <= 0 || !toList(count, names, n) || !toList(count, starts, s) ||
            !toList(count, stops, e))
            return -1;
        if (!append) {
            a.fieldNames.clear();
            a.fieldStarts.clear();
            a.fieldStops.clear();
        }
        a.fieldNames.insert(a.fieldNames.end(), n.begin(), n.end());
        a.fieldStarts.insert(a.fieldStarts.end(), s.begin(), s.end());
        a.fieldStops.insert(a.fieldStops.end(), e.begin(), e.end());
        return 0;
    });
}

int setFixedLists(ImportArgs* args, bool append, int32_t count, const char* const* names,
                  const char* const* values) {
    return guarded(args, [&](ImportArgs& a) {
        std::vector<std::string> n, v;
        if (count <= 0 || !toList(count, names, n) || !toList(count, values, v)) return -1;
        if (!append) {
            a.fixedNames.clear();
            a.fixedValues.clear();
        }
        a.fixedNames.insert(a.fixedNames.end(), n.begin(), n.end());
        a.fixedValues.insert(a.fixedValues.end(), v.begin(), v.end());
        return 0;
    });
}

int setInputs(ImportArgs* args, bool append, int32_t count, const char* const* names) {
    return guarded(args, [&](ImportArgs& a) {
        std::vector<std::string> n;
        if (count <= 0 || !toList(count, names, n)) return -1;
        if (!append) a.inputs.clear();
        a.inputs.insert(a.inputs.end(), n.begin(), n.end());
        return 0;
    });
}

int setMapping(ImportArgs* args, std::vector<std::string> ImportArgs::*oldList,
               std::vector<std::string> ImportArgs::*newList, int32_t count,
               const char* const* oldTexts, const char* const* newTexts) {
    return guarded(args, [&](ImportArgs& a) {
        std::vector<std::string> o, n;
        if (count <= 0 || !toList(count, oldTexts, o) || !toList(count, newTexts, n)) return -1;
        if (std::any_of(o.begin(), o.end(), [](const std::string& s) { return s.empty(); }))
            return -1;  // an empty old text would match everywhere
        a.*oldList = std::move(o);
        a.*newList = std::move(n);
        return 0;
    });
}

}  // namespace

int imargsSetRemapping(ImportArgs* args, const std::vector<std::string>& from,
                       const std::vector<std::string>& to) {
    return guarded(args, [&](ImportArgs& a) {
        if (from.size() != to.size()) return -1;
        a.remapFrom.clear();
        for (std::string f : from) {
            for (char& c : f) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            a.remapFrom.push_back(std::move(f));
        }
        a.remapTo = to;
        return 0;
    });
}

int imargsSetHtmlFields(ImportArgs* args, const std::vector<std::string>& names,
                        const std::vector<std::string>& starts,
                        const std::vector<std::string>& stops) {
    return guarded(args, [&](ImportArgs& a) {
        if (names.size() != starts.size() || names.size() != stops.size()) return -1;
        a.htmlFieldNames = names;
        a.htmlFieldStarts = starts;
        a.htmlFieldStops = stops;
        return 0;
    });
}

int imargsSetDateRules(ImportArgs* args, std::vector<ImportDateRule> rules) {
    return guarded(args, [&](ImportArgs& a) {
        a.dateRules = std::move(rules);
        return 0;
    });
}

extern "C" {

SAPIOLUX_EXPORT ImportArgs* imargsCreate(void) {
    try {
        return std::make_unique<ImportArgs>().release();
    } catch (...) {
        return nullptr;
    }
}

SAPIOLUX_EXPORT void imargsDestroy(ImportArgs* args) {
    std::unique_ptr<ImportArgs> owned(args);
}

SAPIOLUX_EXPORT int imargsSetInputs(ImportArgs* args, int32_t count, const char* const* names) {
    return setInputs(args, false, count, names);
}
SAPIOLUX_EXPORT int imargsAddInputs(ImportArgs* args, int32_t count, const char* const* names) {
    return setInputs(args, true, count, names);
}
SAPIOLUX_EXPORT int imargsGetNumberInputs(const ImportArgs* args) {
    return args ? static_cast<int>(args->inputs.size()) : 0;
}
SAPIOLUX_EXPORT const char* imargsGetInput(const ImportArgs* args, int32_t index) {
    if (!args || index < 0 || static_cast<size_t>(index) >= args->inputs.size()) return nullptr;
    return args->inputs[static_cast<size_t>(index)].c_str();
}

SAPIOLUX_EXPORT int imargsSetFields(ImportArgs* args, int32_t count, const char* const* names,
                                    const char* const* starts, const char* const* stops) {
    return setFieldLists(args, false, count, names, starts, stops);
}
SAPIOLUX_EXPORT int imargsAddFields(ImportArgs* args, int32_t count, const char* const* names,
                                    const char* const* starts, const char* const* stops) {
    return setFieldLists(args, true, count, names, starts, stops);
}
SAPIOLUX_EXPORT int imargsSetFixedFields(ImportArgs* args, int32_t count, const char* const* names,
                                         const char* const* values) {
    return setFixedLists(args, false, count, names, values);
}
SAPIOLUX_EXPORT int imargsAddFixedFields(ImportArgs* args, int32_t count, const char* const* names,
                                         const char* const* values) {
    return setFixedLists(args, true, count, names, values);
}

SAPIOLUX_EXPORT int imargsSetOutputFilename(ImportArgs* args, const char* name) {
    return guarded(args, [&](ImportArgs& a) {
        a.outputFilename = name ? name : kIdxDefaultOutputName;
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsSetOutputDatabase(ImportArgs* args, const char* name) {
    return guarded(args, [&](ImportArgs& a) {
        a.database = name ? name : "default";
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsSetDefaultExtention(ImportArgs* args, const char* extension) {
    return setString(args, &ImportArgs::defaultExtension, extension);
}
SAPIOLUX_EXPORT int imargsSetIxoType(ImportArgs* args, const char* type) {
    if (type && !*type) return -1;
    return setString(args, &ImportArgs::ixoType, type);
}
SAPIOLUX_EXPORT int imargsSetTempDirectory(ImportArgs* args, const char* directory) {
    return guarded(args, [&](ImportArgs& a) {
        if (!directory || !*directory) return -1;
        if (!fileMakeDirectoryPath(directory)) return -1;
        a.tempDirectory = directory;
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsSetExtraIdxDir(ImportArgs* args, const char* directory) {
    return setString(args, &ImportArgs::extraIdxDir, directory);
}
SAPIOLUX_EXPORT int imargsSetExtraIdxDirToReplaceDir(ImportArgs* args, const char* directory) {
    return setString(args, &ImportArgs::extraIdxDirToReplace, directory);
}
SAPIOLUX_EXPORT int imargsSetGenericSlave(ImportArgs* args, const char* program) {
    if (!program || !*program) return -1;
    return setString(args, &ImportArgs::genericSlave, program);
}

SAPIOLUX_EXPORT int imargsSetStoreContents(ImportArgs* args, const char* value) {
    if (!args || !value) return -1;
    if (std::strcmp(value, "yes") != 0 && std::strcmp(value, "no") != 0) return -1;
    args->storeContent = value;
    return 0;
}

SAPIOLUX_EXPORT int imargsSetXMLOutput(ImportArgs* args, int32_t flag, const char* header,
                                       int32_t third) {
    return guarded(args, [&](ImportArgs& a) {
        a.xmlOutput = flag;
        a.xmlOutputHeader = optText(header);
        a.xmlOutputThird = third;
        return 0;
    });
}

SAPIOLUX_EXPORT int imargsSetSummaries(ImportArgs* args, int32_t sentences) {
    if (sentences < 0) return -1;
    return setNumber(args, &ImportArgs::summaries, sentences);
}
SAPIOLUX_EXPORT int imargsSetChecksum(ImportArgs* args, int32_t flag) {
    return setNumber(args, &ImportArgs::checksum, flag);
}
SAPIOLUX_EXPORT int imargsRecursiveDirdo(ImportArgs* args, int32_t flag) {
    return setNumber(args, &ImportArgs::recursive, flag);
}
SAPIOLUX_EXPORT int imargsFilterBinary(ImportArgs* args, int32_t flag) {
    return setNumber(args, &ImportArgs::filterBinary, flag);
}
SAPIOLUX_EXPORT int imargsLinkStripping(ImportArgs* args, int32_t flag) {
    return setNumber(args, &ImportArgs::linkStripping, flag);
}
SAPIOLUX_EXPORT int imargsExtractMetaTags(ImportArgs* args, int32_t flag) {
    return setNumber(args, &ImportArgs::extractMeta, flag);
}
SAPIOLUX_EXPORT int imargsSetFieldHTMLConvertChars(ImportArgs* args, int32_t flag) {
    return setNumber(args, &ImportArgs::fieldHtmlConvert, flag);
}
SAPIOLUX_EXPORT int imargsSetIntelligentTitleAndSummary(ImportArgs* args, int32_t flag) {
    return setNumber(args, &ImportArgs::intelligentTitle, flag);
}
SAPIOLUX_EXPORT int imargsSetMaxPlainTextLengthKBs(ImportArgs* args, int32_t kilobytes) {
    if (kilobytes < 0) return -1;
    return setNumber(args, &ImportArgs::maxPlainTextKBs, kilobytes);
}
SAPIOLUX_EXPORT int imargsSetMaxAnchors(ImportArgs* args, int32_t count) {
    if (count < 0) return -1;
    return setNumber(args, &ImportArgs::maxAnchors, std::min(count, kIdxMaxSections));
}
SAPIOLUX_EXPORT int imargsSetTitleStartSkipWords(ImportArgs* args, int32_t words) {
    if (words < 1) return -1;
    return setNumber(args, &ImportArgs::titleStartSkipWords, words);
}
SAPIOLUX_EXPORT int imargsSetSlaveTimeout(ImportArgs* args, int32_t seconds) {
    if (seconds < 1) return -1;
    return setNumber(args, &ImportArgs::slaveTimeout, seconds);
}
SAPIOLUX_EXPORT int imargsSetIAmSlave(ImportArgs* args, int32_t flag) {
    return setNumber(args, &ImportArgs::iAmSlave, flag);
}

SAPIOLUX_EXPORT int imargsSetContentCriteria(ImportArgs* args, int32_t minLength, int32_t maxLength,
                                             int32_t minWords, int32_t maxWords) {
    if (!args || !(minLength < maxLength) || !(minWords < maxWords)) return -1;
    args->criteria = ImportCriteria{minLength, maxLength, minWords, maxWords};
    return 0;
}

SAPIOLUX_EXPORT int imargsSetContentBreaking(ImportArgs* args, int32_t lower, int32_t upper,
                                             int32_t document) {
    if (!args || !(lower < upper) || !(document > lower)) return -1;
    args->breaking = ImportBreaking{lower, upper, document};
    return 0;
}

SAPIOLUX_EXPORT int imargsSetUpBinaryFilter(ImportArgs* args, int32_t lowCode, int32_t highCode,
                                            int32_t maxPerHundred, int32_t maxAverageWordLength) {
    if (!args || !args->filterBinary) return -1;
    args->binaryFilter = ImportBinaryFilter{lowCode, highCode, maxPerHundred, maxAverageWordLength};
    return 0;
}

SAPIOLUX_EXPORT int imargsSetPageLayout(ImportArgs* args, int32_t startCount,
                                        const char* const* starts, int32_t htmlStartCount,
                                        const char* const* htmlStarts, int32_t endCount,
                                        const char* const* ends, int32_t htmlEndCount,
                                        const char* const* htmlEnds, int32_t pageBreakCount,
                                        const char* const* pageBreaks, int32_t skipWords,
                                        int32_t skipSentences) {
    return guarded(args, [&](ImportArgs& a) {
        ImportPageLayout p;
        if (!toList(startCount, starts, p.starts) ||
            !toList(htmlStartCount, htmlStarts, p.htmlStarts) || !toList(endCount, ends, p.ends) ||
            !toList(htmlEndCount, htmlEnds, p.htmlEnds) ||
            !toList(pageBreakCount, pageBreaks, p.pageBreaks) || skipWords < 0 || skipSentences < 0)
            return -1;
        p.skipWords = skipWords;
        p.skipSentences = skipSentences;
        a.pageLayout = std::move(p);
        return 0;
    });
}

SAPIOLUX_EXPORT int imargsAddHTMLTurnToSpaceSettingsToPageLayout(ImportArgs* args, int32_t count,
                                                                 const char* const* starts,
                                                                 const char* const* ends,
                                                                 int32_t stripTags) {
    return guarded(args, [&](ImportArgs& a) {
        std::vector<std::string> s, e;
        if (!a.pageLayout || count <= 0 || !toList(count, starts, s) || !toList(count, ends, e))
            return -1;
        a.pageLayout->turnToSpaceStarts.insert(a.pageLayout->turnToSpaceStarts.end(), s.begin(),
                                               s.end());
        a.pageLayout->turnToSpaceEnds.insert(a.pageLayout->turnToSpaceEnds.end(), e.begin(),
                                             e.end());
        a.pageLayout->turnToSpaceStripTags = stripTags;
        return 0;
    });
}

SAPIOLUX_EXPORT int imargsTagStripping(ImportArgs* args, int32_t count, const char* const* tags) {
    return guarded(args, [&](ImportArgs& a) {
        std::vector<std::string> t;
        if (count <= 0 || !toList(count, tags, t)) return -1;
        for (auto& s : t) s.insert(0, "<");
        a.tagStrip = std::move(t);
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsStringStripping(ImportArgs* args, int32_t count,
                                          const char* const* strings) {
    return guarded(args, [&](ImportArgs& a) {
        std::vector<std::string> t;
        if (count <= 0 || !toList(count, strings, t)) return -1;
        std::erase_if(t, [](const std::string& s) { return s.empty(); });
        a.stringStrip = std::move(t);
        return 0;
    });
}

SAPIOLUX_EXPORT int imargsSetPathMapping(ImportArgs* args, int32_t components, const char* prefix) {
    if (!args || components == 0 || !prefix) return -1;
    return guarded(args, [&](ImportArgs& a) {
        a.pathMapCount = components;
        a.pathMapPrefix = prefix;
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsSetRenderedPathMapping(ImportArgs* args, int32_t components,
                                                 const char* prefix) {
    if (!args || components == 0 || !prefix) return -1;
    return guarded(args, [&](ImportArgs& a) {
        a.renderedPathCount = components;
        a.renderedPathPrefix = prefix;
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsSetPathTruncation(ImportArgs* args, int32_t occurrence,
                                            const char* text) {
    if (!args || occurrence == 0 || !text || !*text) return -1;
    return guarded(args, [&](ImportArgs& a) {
        a.truncateCount = occurrence;
        a.truncateString = text;
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsSetReferenceMapping(ImportArgs* args, int32_t count,
                                              const char* const* oldTexts,
                                              const char* const* newTexts) {
    return setMapping(args, &ImportArgs::refOld, &ImportArgs::refNew, count, oldTexts, newTexts);
}
SAPIOLUX_EXPORT int imargsSetRenderedReferenceMapping(ImportArgs* args, int32_t count,
                                                      const char* const* oldTexts,
                                                      const char* const* newTexts) {
    return setMapping(args, &ImportArgs::renderedRefOld, &ImportArgs::renderedRefNew, count,
                      oldTexts, newTexts);
}
SAPIOLUX_EXPORT int imargsSetRenderedHTML(ImportArgs* args, const char* moveToDirectory,
                                          const char* fieldName, const char* extensions) {
    if (!args || !moveToDirectory || !*moveToDirectory || !fieldName || !*fieldName) return -1;
    return guarded(args, [&](ImportArgs& a) {
        a.renderedMoveTo = moveToDirectory;
        a.renderedFieldName = fieldName;
        a.renderedExtensions = optText(extensions);
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsSetEmailAttachments(ImportArgs* args, const char* directory, int32_t keep,
                                              int32_t import) {
    return guarded(args, [&](ImportArgs& a) {
        a.attachmentsSet = true;
        a.attachmentDir = optText(directory);
        a.attachmentKeep = keep;
        a.attachmentImport = import;
        return 0;
    });
}
SAPIOLUX_EXPORT int imargsSetWithSlave(ImportArgs* args, int32_t flag, const char* configFile,
                                       const char* section) {
    return guarded(args, [&](ImportArgs& a) {
        a.withSlave = flag;
        a.slaveConfig = optText(configFile);
        a.slaveSection = optText(section);
        return 0;
    });
}

SAPIOLUX_EXPORT int imargsSetXMLImport(ImportArgs* args, int32_t count,
                                       const char* const* fieldNames, const char* const* tagCsvs,
                                       const int32_t* stripTags, const int32_t* entryOnly,
                                       const char* const* attributes) {
    return guarded(args, [&](ImportArgs& a) {
        std::vector<std::string> names, tags;
        if (count <= 0 || !toList(count, fieldNames, names) || !toList(count, tagCsvs, tags))
            return -1;
        std::vector<ImportXmlRule> rules;
        for (int32_t i = 0; i < count; ++i) {
            ImportXmlRule r;
            r.field = names[static_cast<size_t>(i)];
            r.tags = importSplitCsv(tags[static_cast<size_t>(i)], true);
            r.stripTags = stripTags ? stripTags[i] : 0;
            r.entryOnly = entryOnly ? entryOnly[i] : 0;
            if (attributes && attributes[i] && *attributes[i]) r.attribute = attributes[i];
            rules.push_back(std::move(r));
        }
        a.xmlRules = std::move(rules);
        return 0;
    });
}

SAPIOLUX_EXPORT int imargsSetDelimitedImport(ImportArgs* args, const char* docStart,
                                             const char* docEnd, int32_t count,
                                             const char* const* names, const char* const* starts,
                                             const char* const* ends, const int32_t* skips) {
    return guarded(args, [&](ImportArgs& a) {
        ImportDelimited d;
        if (count <= 0 || !toList(count, names, d.names) || !toList(count, starts, d.starts) ||
            !toList(count, ends, d.ends))
            return -1;
        d.docStart = docStart ? docStart : "";
        d.docEnd = docEnd ? docEnd : "";
        for (int32_t i = 0; i < count; ++i) d.skips.push_back(skips ? std::max(skips[i], 0) : 0);
        a.delimited = std::move(d);
        return 0;
    });
}

SAPIOLUX_EXPORT const char* imargsGetOutputFilename(const ImportArgs* args) {
    return args ? args->outputFilename.c_str() : nullptr;
}
SAPIOLUX_EXPORT const char* imargsGetOutputDatabase(const ImportArgs* args) {
    return args ? args->database.c_str() : nullptr;
}
SAPIOLUX_EXPORT const char* imargsGetTempDirectory(const ImportArgs* args) {
    if (!args) return nullptr;
    if (!args->tempDirectory.empty()) return args->tempDirectory.c_str();
    static const std::string runFolder = importRunTempFolder();
    return runFolder.c_str();
}

}  // extern "C"

// ---- the settings loader ----

namespace {

// Lookups of one section with the defaults of the loader.
class Section {
  public:
    Section(ConfigFile* cfg, const char* section) : cfg_(cfg), section_(section) {}

    std::optional<std::string> text(const std::string& key) const {
        char* value = nullptr;
        int found = envCfgGetText(cfg_, section_, key.c_str(), &value, nullptr);
        std::optional<std::string> out;
        if (found == 1 && value) out = std::string(value);
        if (value) memFree(value);
        return out;
    }
    int32_t number(const std::string& key, int32_t def) const {
        return envCfgGetInt(cfg_, section_, key.c_str(), nullptr, def);
    }
    bool has(const std::string& key) const { return text(key).has_value(); }
    bool flag(const std::string& key, int def) const {
        return envCfgGetBool(cfg_, section_, key.c_str(), nullptr, def) != 0;
    }
    std::vector<std::string> csv(const std::string& key, bool trim) const {
        auto t = text(key);
        return t ? importSplitCsv(*t, trim) : std::vector<std::string>();
    }
    // key0, key1, ... up to the first one missing.
    std::vector<std::string> numbered(const std::string& key) const {
        std::vector<std::string> out;
        for (int i = 0;; ++i) {
            auto t = text(key + std::to_string(i));
            if (!t) break;
            out.push_back(std::move(*t));
        }
        return out;
    }

  private:
    ConfigFile* cfg_;
    const char* section_;
};

std::vector<const char*> pointers(const std::vector<std::string>& v) {
    std::vector<const char*> p;
    for (const auto& s : v) p.push_back(s.c_str());
    return p;
}

// The numbered field triples name/start/stop, stopping at the first missing name (a
// missing start or stop is empty).
void numberedTriples(const Section& s, const std::string& nameKey, const std::string& startKey,
                     const std::string& stopKey, std::vector<std::string>& names,
                     std::vector<std::string>& starts, std::vector<std::string>& stops) {
    names = s.numbered(nameKey);
    for (size_t i = 0; i < names.size(); ++i) {
        starts.push_back(s.text(startKey + std::to_string(i)).value_or(""));
        stops.push_back(s.text(stopKey + std::to_string(i)).value_or(""));
    }
}

ImportDateRule dateRule(const Section& s, const std::string& suffix) {
    ImportDateRule r;
    r.from = s.number("ImportExtractDateFrom" + suffix, 0);
    r.fromField = s.text("ImportExtractDateFromField" + suffix).value_or("");
    r.toField = s.text("ImportExtractDateToField" + suffix).value_or("IXODATE");
    r.formats = s.csv("ImportExtractDateFormatCSVs" + suffix, true);
    r.toFormat = s.text("ImportExtractDateToFormat" + suffix);
    return r;
}

const char* loadSettings(ConfigFile* cfg, const char* section, int32_t inputCount,
                         const char* const* inputs, const char* outputFile, ImportArgs* args) {
    const Section s(cfg, section);
    std::optional<std::string> database = s.text("Database");
    if (s.flag("ImportSummary", 0) && imargsSetSummaries(args, 2) != 0)
        return "Couldn't set summaries.";
    if (imargsSetStoreContents(args, s.flag("ImportStoreContent", 1) ? "yes" : "no") != 0)
        return "Couldn't set content storing parameters.";
    {
        auto header = s.text("ImportXMLOutputHeader");
        imargsSetXMLOutput(args, s.flag("ImportXMLOutput", 0) ? 1 : 0,
                           header ? header->c_str() : nullptr, 0);
    }
    imargsSetContentCriteria(
        args, s.number("ImportMinLength", 0), s.number("ImportMaxLength", 10000000),
        s.number("ImportMinLengthWords", 0), s.number("ImportMaxLengthWords", 1000000));
    {
        auto logFile = s.text("ImportLogfile");
        auto level = s.text("ImportLogLevel").value_or("errors");
        bool append = s.flag("ImportLogfileAppend", 0);
        int32_t n = importLogLevelFromName(level.c_str());
        if (n > 0) importLogSetLevel(n);
        if (logFile) importLogSetFile(logFile->c_str(), append ? 1 : 0);
    }
    int32_t checksum = s.flag("ImportChecksum", 0) ? 1 : 0;
    imargsSetFieldHTMLConvertChars(args, s.flag("ImportFieldHTMLConvertChars", 0) ? 1 : 0);
    if (s.flag("ImportBreaking", 0) &&
        imargsSetContentBreaking(args, s.number("ImportBreakingMinParagraphWords", 160),
                                 s.number("ImportBreakingMaxParagraphWords", 360),
                                 s.number("ImportBreakingMinDocWords", 600)) != 0)
        return "Couldn't set breaking parameters.";
    args->addAnchorNames = s.flag("IMPORTADDHTMLANCHORNAMES", 1) ? 1 : 0;
    imargsLinkStripping(args, s.flag("ImportStripLinks", 1) ? 1 : 0);
    imargsExtractMetaTags(args, s.flag("ImportMetaToFields", 1) ? 1 : 0);
    if (auto temp = s.text("ImportTempDir"); temp && !temp->empty())
        imargsSetTempDirectory(args, temp->c_str());
    {
        auto tags = s.csv("ImportStripTagCSVs", true);
        if (!tags.empty())
            imargsTagStripping(args, static_cast<int32_t>(tags.size()), pointers(tags).data());
        auto strings = s.csv("ImportStripStringCSVs", false);
        if (!strings.empty())
            imargsStringStripping(args, static_cast<int32_t>(strings.size()),
                                  pointers(strings).data());
    }
    if (s.flag("ImportIntelligentTitleSummary", 0)) imargsSetIntelligentTitleAndSummary(args, 1);
    args->minTitleChars = s.number("ImportMinTitleChars", 3);
    {
        auto starts = s.csv("ImportStartDefCSVs", false);
        auto htmlStarts = s.csv("HtmlImportStartDefCSVs", false);
        auto ends = s.csv("ImportEndDefCSVs", false);
        auto htmlEnds = s.csv("HtmlImportEndDefCSVs", false);
        auto breaks = s.csv("ImportPageBreakDefs", false);
        int32_t skipWords = s.number("ImportStartSkipWords", 0);
        int32_t skipSentences = s.number("ImportStartSkipSentences", 0);
        if (!starts.empty() || !htmlStarts.empty() || !ends.empty() || !htmlEnds.empty() ||
            !breaks.empty() || skipWords > 0 || skipSentences > 0)
            imargsSetPageLayout(args, static_cast<int32_t>(starts.size()), pointers(starts).data(),
                                static_cast<int32_t>(htmlStarts.size()),
                                pointers(htmlStarts).data(), static_cast<int32_t>(ends.size()),
                                pointers(ends).data(), static_cast<int32_t>(htmlEnds.size()),
                                pointers(htmlEnds).data(), static_cast<int32_t>(breaks.size()),
                                pointers(breaks).data(), std::max(skipWords, 0),
                                std::max(skipSentences, 0));
        auto tsStarts = s.csv("HtmlImportTurnToSpaceStartDefCSVs", false);
        auto tsEnds = s.csv("HtmlImportTurnToSpaceEndDefCSVs", false);
        if (!tsStarts.empty() && tsStarts.size() == tsEnds.size()) {
            if (!args->pageLayout) args->pageLayout = ImportPageLayout{};
            imargsAddHTMLTurnToSpaceSettingsToPageLayout(
                args, static_cast<int32_t>(tsStarts.size()), pointers(tsStarts).data(),
                pointers(tsEnds).data(), s.flag("HtmlImportTurnToSpaceStripTags", 0) ? 1 : 0);
        }
    }
    {
        // Delimited import: field names numbered, or one comma-separated list.
        auto names = s.numbered("ImportDelimitedField");
        if (names.empty()) names = s.csv("ImportDelimitedField", true);
        if (!names.empty()) {
            auto starts = s.csv("ImportDelimitedStart", false);
            auto ends = s.csv("ImportDelimitedEnd", false);
            std::vector<int32_t> skips;
            for (const auto& v : s.csv("ImportDelimitedSkipChars", true))
                skips.push_back(std::atoi(v.c_str()));
            // Fewer markers than fields: the last marker serves the rest.
            auto widen = [&](std::vector<std::string>& v) {
                std::string last = v.empty() ? std::string() : v.back();
                v.resize(names.size(), last);
            };
            widen(starts);
            widen(ends);
            skips.resize(names.size(), skips.empty() ? 0 : skips.back());
            auto docStart = s.text("ImportDelimitedDocStart").value_or("");
            auto docEnd = s.text("ImportDelimitedDocEnd").value_or("");
            imargsSetDelimitedImport(args, docStart.c_str(), docEnd.c_str(),
                                     static_cast<int32_t>(names.size()), pointers(names).data(),
                                     pointers(starts).data(), pointers(ends).data(), skips.data());
        }
    }
    {
        auto fields = s.numbered("ImportXMLField");
        if (!fields.empty()) {
            std::vector<std::string> tags, attributes;
            std::vector<int32_t> strip, entry;
            for (size_t i = 0; i < fields.size(); ++i) {
                std::string n = std::to_string(i);
                tags.push_back(s.text("ImportXMLSearchCSVTags" + n).value_or(""));
                strip.push_back(s.flag("ImportXMLStripTags" + n, 0) ? 1 : 0);
                entry.push_back(s.flag("ImportXMLEntryOnly" + n, 0) ? 1 : 0);
                attributes.push_back(s.text("ImportXMLAttribute" + n).value_or(""));
            }
            imargsSetXMLImport(args, static_cast<int32_t>(fields.size()), pointers(fields).data(),
                               pointers(tags).data(), strip.data(), entry.data(),
                               pointers(attributes).data());
        }
    }
    {
        std::vector<ImportDateRule> rules;
        ImportDateRule first = dateRule(s, "");
        bool more = first.from != 0;
        rules.push_back(std::move(first));
        for (int i = 1; more && s.has("ImportExtractDateToField" + std::to_string(i)); ++i)
            rules.push_back(dateRule(s, std::to_string(i)));
        imargsSetDateRules(args, std::move(rules));
    }
    imargsSetMaxPlainTextLengthKBs(args, std::max(s.number("ImportMaxPlainTextLengthKBs", 0), 0));
    imargsSetSlaveTimeout(args, s.number("ImportSlaveTimeout", 60));
    if (auto slave = s.text("ImportGenericSlave")) imargsSetGenericSlave(args, slave->c_str());
    if (int32_t skip = s.number("ImportTitleStartSkipWords", 0); skip != 0)
        imargsSetTitleStartSkipWords(args, skip);
    imargsSetMaxAnchors(args, s.number("ImportMaxAnchors", kIdxMaxSections));
    args->extractLength = s.number("ImportExtractLength", 0);
    args->extractLengthField = s.text("ImportExtractLengthToField").value_or("FILELENGTH");
    {
        int32_t n = s.number("ImportPathReplaceUpToSlash", -1);
        auto p = s.text("ImportPathReplaceString");
        if (n >= 0 && p) imargsSetPathMapping(args, n, p->c_str());
        n = s.number("ImportRefTruncateAfter", -1);
        p = s.text("ImportRefTruncateString");
        if (n >= 0 && p) imargsSetPathTruncation(args, n, p->c_str());
    }
    {
        auto dir = s.text("ImportRenderedHTMLMoveToDir");
        auto ext = s.text("ImportRenderedHTMLExtensions");
        auto field = s.text("ImportRenderedHTMLFieldName");
        if (dir && field)
            imargsSetRenderedHTML(args, dir->c_str(), field->c_str(), ext ? ext->c_str() : nullptr);
        int32_t n = s.number("ImportRenderedHTMLPathReplaceUpToSlash", -1);
        auto p = s.text("ImportRenderedHTMLPathReplaceString");
        if (n >= 0 && p) imargsSetRenderedPathMapping(args, n, p->c_str());
    }
    if (auto d = s.text("ImportExtraIdxDir")) imargsSetExtraIdxDir(args, d->c_str());
    if (auto d = s.text("ImportExtraIdxDirToReplaceDir"))
        imargsSetExtraIdxDirToReplaceDir(args, d->c_str());
    imargsRecursiveDirdo(args, s.flag("ImportRecursiveDirectoryImporting", 0) ? 1 : 0);
    if (s.flag("ImportFilterBinaryContent", 0)) {
        imargsFilterBinary(args, 1);
        imargsSetUpBinaryFilter(args, s.number("ImportMinAllowedAsciiCode", 0),
                                s.number("ImportMaxAllowedAsciiCode", 175),
                                s.number("ImportMaxBinaryCharsPerHundred", 3),
                                s.number("ImportMaxAverageWordLength", 25));
    } else {
        imargsFilterBinary(args, 0);
    }
    {
        bool attachments = s.flag("ImportAttachments", 0);
        bool save = s.flag("ImportSaveAttachments", 0);
        std::string dir = save ? s.text("ImportSaveAttachmentDir").value_or("./") : "./";
        imargsSetEmailAttachments(args, dir.c_str(), save ? 1 : 0, attachments ? 1 : 0);
    }
    if (auto t = s.text("ImportDocumentType")) imargsSetIxoType(args, t->c_str());
    if (auto e = s.text("ImportDefaultExtension")) imargsSetDefaultExtention(args, e->c_str());

    // The numbered keys.
    {
        std::vector<std::string> n, a, b;
        numberedTriples(s, "FieldName", "FieldStart", "FieldStop", n, a, b);
        if (!n.empty())
            imargsSetFields(args, static_cast<int32_t>(n.size()), pointers(n).data(),
                            pointers(a).data(), pointers(b).data());
        std::vector<std::string> hn, ha, hb;
        numberedTriples(s, "HtmlFieldName", "HtmlFieldStart", "HtmlFieldStop", hn, ha, hb);
        imargsSetHtmlFields(args, hn, ha, hb);
        auto fixedNames = s.numbered("FixedFieldName");
        std::vector<std::string> fixedValues;
        for (size_t i = 0; i < fixedNames.size(); ++i)
            fixedValues.push_back(s.text("FixedFieldValue" + std::to_string(i)).value_or(""));
        if (!fixedNames.empty())
            imargsSetFixedFields(args, static_cast<int32_t>(fixedNames.size()),
                                 pointers(fixedNames).data(), pointers(fixedValues).data());
        auto from = s.numbered("ImportRemapField");
        std::vector<std::string> to;
        for (size_t i = 0; i < from.size(); ++i)
            to.push_back(s.text("ImportRemapFieldTo" + std::to_string(i)).value_or(""));
        imargsSetRemapping(args, from, to);
        auto oldRefs = s.csv("ImportRefReplaceCSVs", false);
        auto newRefs = s.csv("ImportRefReplaceWithCSVs", false);
        if (!oldRefs.empty() && oldRefs.size() == newRefs.size())
            imargsSetReferenceMapping(args, static_cast<int32_t>(oldRefs.size()),
                                      pointers(oldRefs).data(), pointers(newRefs).data());
        oldRefs = s.csv("ImportRenderedHTMLRefReplaceCSVs", false);
        newRefs = s.csv("ImportRenderedHTMLRefReplaceWithCSVs", false);
        if (!oldRefs.empty() && oldRefs.size() == newRefs.size())
            imargsSetRenderedReferenceMapping(args, static_cast<int32_t>(oldRefs.size()),
                                              pointers(oldRefs).data(), pointers(newRefs).data());
    }

    if (outputFile && imargsSetOutputFilename(args, outputFile) != 0)
        return "Couldn't set output filename.";
    if (database && imargsSetOutputDatabase(args, database->c_str()) != 0)
        return "Couldn't set database.";
    if (inputCount > 0 && imargsSetInputs(args, inputCount, inputs) != 0)
        return "Couldn't set input files";
    if (imargsSetChecksum(args, checksum) != 0) return "Couldn't set checksum";
    return "Success.";
}

}  // namespace

extern "C" SAPIOLUX_EXPORT const char* imargsLoadFromConfig(ConfigFile* cfg, const char* section,
                                                            int32_t inputCount,
                                                            const char* const* inputs,
                                                            const char* outputFile,
                                                            ImportArgs* args) {
    if (!args) return "Couldn't set output filename.";
    try {
        return loadSettings(cfg, section, inputCount, inputs, outputFile, args);
    } catch (...) {
        return "Couldn't set content storing parameters.";
    }
}
