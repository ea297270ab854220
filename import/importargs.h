// The arguments record of an import, as the import library's modules see it. Callers
// outside the library use the imargs functions of include/imex_args.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imex_args.h"
#include "import/srcfile_spec.h"

// One date-extraction rule: where the date is read (from = 1: the field fromField,
// from = 2: the document text; 0: the rule is off), the templates tried in order, and
// where the date goes (toField, "IXODATE" meaning the document date) in toFormat
// (seconds in decimal when unset).
struct ImportDateRule {
    int32_t from = 0;
    std::string fromField;
    std::string toField = "IXODATE";
    std::vector<std::string> formats;
    std::optional<std::string> toFormat;
};

struct ImportXmlRule {
    std::string field;
    std::vector<std::string> tags;
    int32_t stripTags = 0;
    int32_t entryOnly = 0;
    std::optional<std::string> attribute;
};

struct ImportDelimited {
    std::string docStart, docEnd;
    std::vector<std::string> names, starts, ends;
    std::vector<int32_t> skips;
};

struct ImportPageLayout {
    std::vector<std::string> starts, htmlStarts, ends, htmlEnds, pageBreaks;
    int32_t skipWords = 0;
    int32_t skipSentences = 0;
    std::vector<std::string> turnToSpaceStarts, turnToSpaceEnds;
    int32_t turnToSpaceStripTags = 0;
};

struct ImportCriteria {
    int32_t minLength = 0, maxLength = 0, minWords = 0, maxWords = 0;
};

struct ImportBreaking {
    int32_t lower = 0, upper = 0, document = 0;
};

struct ImportBinaryFilter {
    int32_t low = 0, high = 175, maxPerHundred = 3, maxAverageWordLength = 25;
};

struct ImportArgs {
    std::vector<std::string> inputs;
    std::string outputFilename = kIdxDefaultOutputName;
    std::vector<std::string> fieldNames, fieldStarts, fieldStops;
    std::vector<std::string> fixedNames, fixedValues;
    int32_t withSlave = 0;
    std::optional<std::string> slaveConfig, slaveSection;
    int32_t intelligentTitle = 0;
    // Cross-page memory of the title and summary rules; created for each import when
    // intelligent title and summary is on, owned here, its shape known only to them.
    std::shared_ptr<void> crossPage;
    int32_t minTitleChars = 0;
    std::optional<ImportCriteria> criteria;
    std::optional<ImportBreaking> breaking;
    std::optional<ImportPageLayout> pageLayout;
    std::vector<ImportXmlRule> xmlRules;
    std::optional<ImportDelimited> delimited;
    bool attachmentsSet = false;
    std::optional<std::string> attachmentDir;
    int32_t attachmentImport = 0, attachmentKeep = 0;
    std::string database = "default";
    std::optional<std::string> defaultExtension;
    int32_t xmlOutput = 0;
    std::optional<std::string> xmlOutputHeader;
    int32_t xmlOutputThird = 0;
    std::string storeContent = "yes";
    int32_t summaries = 0;
    int32_t linkStripping = 1;
    int32_t extractMeta = 1;
    // The folder the caller named for temporary files; empty: the private folder of the
    // process (importTempFolder).
    std::string tempDirectory;
    std::vector<std::string> htmlFieldNames, htmlFieldStarts, htmlFieldStops;
    int32_t pathMapCount = 0;
    std::optional<std::string> pathMapPrefix;
    int32_t truncateCount = 0;
    std::optional<std::string> truncateString;
    std::vector<std::string> refOld, refNew;
    std::vector<std::string> renderedRefOld, renderedRefNew;
    int32_t renderedPathCount = 0;
    std::optional<std::string> renderedPathPrefix;
    std::optional<std::string> renderedMoveTo, renderedExtensions, renderedFieldName;
    std::vector<std::string> tagStrip, stringStrip;
    std::optional<std::string> extraIdxDir, extraIdxDirToReplace;
    int32_t checksum = 0;
    int32_t recursive = 0;
    int32_t fieldHtmlConvert = 0;
    int32_t filterBinary = 0;
    std::optional<ImportBinaryFilter> binaryFilter;
    std::vector<std::string> remapFrom, remapTo;  // from names upper-cased
    std::vector<ImportDateRule> dateRules;
    std::optional<std::string> ixoType;
    int32_t addAnchorNames = 0;
    int32_t maxPlainTextKBs = 0;
    int32_t maxAnchors = 0;
    int32_t titleStartSkipWords = 0;
    std::optional<std::string> genericSlave;
    int32_t slaveTimeout = 60;
    int32_t iAmSlave = 0;
    int32_t extractLength = 0;
    std::string extractLengthField = "FILELENGTH";

    // The remap table in the writer's form, pointing into remapFrom / remapTo.
    IdxRemapTable remapTable() const;

  private:
    mutable std::vector<const char*> remapFromPtrs_, remapToPtrs_;
};

// Sets the field remapping (from names are upper-cased). Lists of equal length.
int imargsSetRemapping(ImportArgs* args, const std::vector<std::string>& from,
                       const std::vector<std::string>& to);
// Sets the HTML extraction fields.
int imargsSetHtmlFields(ImportArgs* args, const std::vector<std::string>& names,
                        const std::vector<std::string>& starts,
                        const std::vector<std::string>& stops);
// Replaces the date-extraction rules.
int imargsSetDateRules(ImportArgs* args, std::vector<ImportDateRule> rules);

// Splits a comma-separated list; blanks around the pieces are kept unless trim is set,
// empty pieces are dropped.
std::vector<std::string> importSplitCsv(const std::string& text, bool trim);
