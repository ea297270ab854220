// Import control: contexts and their registry, the error list, the per-document flow
// with its field and reference rules, acceptance and saving.
#include "import/importctrl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "import/delimitedparse.h"
#include "import/emlimport.h"
#include "import/htmlimport.h"
#include "import/idxreader.h"
#include "import/importimpl.h"
#include "import/importlog.h"
#include "import/nntpparse.h"
#include "import/parsers.h"
#include "import/summary.h"
#include "import/xmlparser.h"
#include "support/dateutil.h"
#include "support/envcfgutil.h"
#include "support/fileutil.h"
#include "support/strutil.h"

ImportHandler gXmlImportHandler = importXmlHandler;
ImportHandler gDelimitedImportHandler = importDelimitedHandler;
ImportHandler gConfiguredConverterHandler = importConfiguredConverter;

namespace {

// The default registrations of a new context, in order.
struct DefaultRegistration {
    const char* extension;
    ImportHandler handler;
};

const DefaultRegistration kDefaultRegistrations[] = {
    {"/", importDirectoryHandler},
    {"\\", importDirectoryHandler},
    {"_globbing", importWildcardHandler},
    {"html", htmlImportHandler},  // HTML importer
    {"shtml", htmlImportHandler},
    {"htm", htmlImportHandler},
    {"wml", htmlImportHandler},
    {"c", importSourceTextHandler},
    {"cpp", importSourceTextHandler},
    {"cxx", importSourceTextHandler},
    {"h", importSourceTextHandler},
    {"cc", importSourceTextHandler},
    {"txt", importTextHandler},
    {"text", importTextHandler},
    {"doc", importDocumentConverter},  // document converter slave
    {"wri", importDocumentConverter},
    {"rtf", importDocumentConverter},
    {"ppt", importDocumentConverter},
    {"xls", importDocumentConverter},
    {"mcw", importDocumentConverter},
    {"wk1", importDocumentConverter},
    {"wk3", importDocumentConverter},
    {"wk4", importDocumentConverter},
    {"sam", importDocumentConverter},
    {"wp", importDocumentConverter},
    {"wpd", importDocumentConverter},
    {"lwp", importDocumentConverter},
    {"docx", importDocumentConverter},  // office formats of today, same converter
    {"xlsx", importDocumentConverter},
    {"pptx", importDocumentConverter},
    {"odt", importDocumentConverter},
    {"ods", importDocumentConverter},
    {"odp", importDocumentConverter},
    {"ndx", importIdxHandler},
    {"pdf", importPdfConverter},            // PDF converter slave
    {"eml", emlImportHandler},              // mail message importer
    {"swf", importFlashConverter},          // Flash converter slave
    {"nntp", nntpImportHandler},            // news article importer
    {"_default", importDocumentConverter},  // document converter slave
};

struct ProcessState {
    std::mutex scanner, slave, spare;
    std::mutex hooksLock;
    ImportDocumentHooks hooks;
    std::mutex heartbeatLock;
    std::string heartbeat;
    bool initialised = false;
};

ProcessState& process() {
    static ProcessState s;
    return s;
}

// h = h XOR ((h << 6) + c) over the characters as signed bytes.
uint32_t extensionHash(const void* key) {
    uint32_t h = 0;
    for (const char* p = static_cast<const char*>(key); *p; ++p)
        h ^= (h << 6) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
    return h;
}

int32_t extensionCompare(const void* a, const void* b) {
    return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool endsWithSeparator(const std::string& s) {
    return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

void destroyEntry(ImportEntry* entry) {
    if (!entry) return;
    std::unique_ptr<ImportEntry> owned(entry);
    if (owned->slave) {
        std::lock_guard guard(importSlaveLock());
        slaveDestroy(&owned->slave);
    }
}

void collectEntry(void* item, void* context) {
    static_cast<std::vector<ImportEntry*>*>(context)->push_back(static_cast<ImportEntry*>(item));
}

// ---- field and reference rules ----

// Skips the first n components of path (each ends at '\\' or '/') and puts prefix in
// front of the rest. A path with fewer components is left as it is.
bool mapPath(std::string& path, int32_t n, const std::string& prefix) {
    if (n <= 0) return false;
    size_t pos = 0;
    for (int32_t i = 0; i < n; ++i) {
        size_t sep = path.find_first_of("\\/", pos);
        if (sep == std::string::npos) return false;
        pos = sep + 1;
    }
    path = prefix + path.substr(pos);
    return true;
}

void replaceAll(std::string& text, const std::vector<std::string>& from,
                const std::vector<std::string>& to) {
    for (size_t i = 0; i < from.size() && i < to.size(); ++i) {
        if (from[i].empty()) continue;
        std::string out;
        size_t pos = 0;
        for (size_t hit; (hit = text.find(from[i], pos)) != std::string::npos;
             pos = hit + from[i].size())
            out.append(text, pos, hit - pos).append(to[i]);
        out.append(text, pos, std::string::npos);
        text = std::move(out);
    }
}

// Cuts text where the n-th occurrence of s begins; unchanged with fewer occurrences.
bool truncateAt(std::string& text, int32_t n, const std::string& s) {
    if (n <= 0 || s.empty()) return false;
    size_t pos = 0;
    for (int32_t i = 0; i < n; ++i) {
        size_t hit = text.find(s, i == 0 ? 0 : pos + s.size());
        if (hit == std::string::npos) return false;
        pos = hit;
    }
    text.resize(pos);
    return true;
}

// Applies f to the reference and to the field "IXOREFERENCE" when there is one.
template <typename F>
void rewriteReference(SrcFileSpec* spec, const IdxRemapTable* remap, F&& f) {
    if (spec->reference) {
        std::string r = *spec->reference;
        if (f(r)) srcFileSpecSetReference(spec, r.c_str());
    }
    if (const char* field = srcFileSpecGetField(spec, "IXOREFERENCE")) {
        std::string r = field;
        if (f(r)) srcFileSpecSetFieldRemapped(remap, spec, "IXOREFERENCE", r.c_str());
    }
}

std::optional<std::string> namedValue(const SrcFileSpec* spec, const std::string& name) {
    if (name == "IXODATE") return spec->date;
    if (name == "IXOTITLE") return spec->title;
    if (name == "IXOREFERENCE" && spec->reference) return spec->reference;
    if (const char* v = srcFileSpecGetField(spec, name.c_str())) return std::string(v);
    return std::nullopt;
}

void applyDateRules(const ImportArgs* args, SrcFileSpec* spec, const IdxRemapTable* remap) {
    for (const ImportDateRule& rule : args->dateRules) {
        if (rule.from == 0 || rule.formats.empty()) continue;
        std::optional<std::string> source;
        if (rule.from == 2) {
            if (spec->content) source = spec->content->substr(0, 8192);
        } else {
            source = namedValue(spec, rule.fromField);
        }
        if (!source || source->empty()) continue;
        int64_t seconds = 0;
        bool found = false;
        for (const std::string& format : rule.formats)
            if (dateParse(nullptr, source->c_str(), format.c_str(), &seconds) == 1) {
                found = true;
                break;
            }
        if (!found) continue;
        std::string value;
        if (rule.toFormat) {
            char* text = dateFormat(rule.toFormat->c_str(), seconds);
            if (!text) continue;
            value = text;
            memFree(text);
        } else {
            value = std::to_string(seconds);
        }
        if (rule.toField.empty() || rule.toField == "IXODATE")
            srcFileSpecSetDate(spec, value.c_str());
        else
            srcFileSpecSetFieldRemapped(remap, spec, rule.toField.c_str(), value.c_str());
    }
}

// ---- acceptance and saving ----

void heartbeatHook(void*) {
    importTouchHeartbeat();
}

struct PageHookData {
    ImportArgs* args;
};

void pageStartHook(void* user, SrcFileSpec* doc) {
    auto* data = static_cast<PageHookData*>(user);
    const ImportDocumentHooks& hooks = importDocumentHooks();
    const char* text = doc->content ? doc->content->c_str() : "";
    if (data->args->summaries > 0 && hooks.summary)
        hooks.summary(data->args, doc, text, data->args->summaries, 50);
    if (hooks.title)
        hooks.title(data->args, doc, text, 10);
    else
        importDefaultTitleRule(doc, text, 10);
}

// Appends the document to the output file. A write that fails part way is undone, so
// the file never ends in half a document.
int saveDocument(ImportContext* context, ImportArgs* args, SrcFileSpec* spec) {
    IdxBreakOptions breaking;
    if (args->breaking) {
        breaking.lowerWords = args->breaking->lower;
        breaking.upperWords = args->breaking->upper;
        breaking.documentWords = args->breaking->document;
    }
    breaking.maxSections = args->maxAnchors;
    breaking.addAnchorNames = args->addAnchorNames;
    breaking.heartbeat = heartbeatHook;
    PageHookData page{args};
    breaking.pageStart = pageStartHook;
    breaking.user = &page;

    std::string text;
    bool built = false;
    try {
        built = srcFileSpecBuildText(spec, text, &breaking);
    } catch (...) {
        built = false;
    }
    bool saved = false;
    if (built) {
        // Inside imexImport the output stays open from document to document; a document
        // saved outside one opens and closes the file for itself.
        if (context && context->output && context->output->name() == args->outputFilename) {
            saved = context->output->append(text);
        } else {
            ImportOutputFile single(args->outputFilename);
            saved = single.append(text);
        }
    }
    if (!saved) {
        importAddError(context, -6, -3, "Saving Document to IDX file: Couldn't save document",
                       spec->reference ? spec->reference->c_str() : nullptr);
        return -6;
    }
    return 0;
}

void stripStrings(const ImportArgs* args, SrcFileSpec* spec) {
    if (args->stringStrip.empty() || !spec->content) return;
    std::string content = *spec->content;
    std::vector<std::string> empty(args->stringStrip.size());
    replaceAll(content, args->stringStrip, empty);
    if (content != *spec->content) srcFileSpecSetContent(spec, std::move(content));
}

int acceptAndSave(ImportContext* context, ImportArgs* args, const char* name, SrcFileSpec* spec) {
    if (!spec->content || spec->content->empty()) return 0;
    if (args->xmlOutput) srcFileSpecSetOutputForm(spec, 1);
    if (!spec->dbname) srcFileSpecSetDbname(spec, args->database.c_str());
    if (!spec->storecontent) srcFileSpecSetStorecontent(spec, args->storeContent.c_str());
    if (!spec->type && args->ixoType) srcFileSpecSetType(spec, args->ixoType->c_str());
    const IdxRemapTable remap = args->remapTable();
    if (args->checksum) {
        uint32_t sum = importChecksum(spec->content->data(), spec->content->size());
        srcFileSpecSetFieldRemapped(&remap, spec, "CHECKSUM", std::to_string(sum).c_str());
    }
    stripStrings(args, spec);

    const std::string copy = spec->content ? *spec->content : std::string();
    if (!copy.empty()) {
        if (args->criteria) {
            const ImportCriteria& c = *args->criteria;
            const int64_t length = static_cast<int64_t>(copy.size());
            if (length < c.minLength || length > c.maxLength) {
                importAddError(context, -4, -3,
                               "Importing documents: Document doesn't meet length criteria", name);
                importLog(2, "Warning: Document \"%s\" failed length criteria (Length = %d)\n",
                          name, static_cast<int>(std::min<int64_t>(length, INT32_MAX)));
                return 0;
            }
            const int32_t words = idxWordCount(copy);
            if (words < c.minWords || words > c.maxWords) {
                importAddError(context, -4, -3,
                               "Importing documents: Document doesn't meet word count criteria",
                               name);
                importLog(2,
                          "Warning: Document \"%s\" failed word count criteria (Word count = "
                          "%d)\n",
                          name, words);
                return 0;
            }
        }
        if (args->filterBinary) {
            const ImportBinaryFilter filter = args->binaryFilter.value_or(ImportBinaryFilter{});
            if (importIsBinary(copy.data(), copy.size(), filter)) {
                importAddError(context, -2, -4,
                               "Importing documents: Binary content detected in file", name);
                return 0;
            }
        }
        const ImportDocumentHooks& hooks = importDocumentHooks();
        if (args->summaries > 0 && hooks.summary)
            hooks.summary(args, spec, copy.c_str(), args->summaries, 50);
        if (hooks.title)
            hooks.title(args, spec, copy.c_str(), 10);
        else
            importDefaultTitleRule(spec, copy.c_str(), 10);
    }
    return saveDocument(context, args, spec);
}

}  // namespace

// ---- the output file ----

bool ImportOutputFile::append(std::string_view bytes) {
    if (!file_) {
        file_ = std::fopen(name_.c_str(), "ab");
        if (!file_) return false;
        // Unbuffered: each document reaches the file in the call that appends it.
        std::setvbuf(file_, nullptr, _IONBF, 0);
    }
    // The end of the file just before this document: where a failed write is cut back
    // to. Measured each time, so a file that grew or shrank meanwhile is not cut wrong.
    long before = -1;
    if (std::fseek(file_, 0, SEEK_END) == 0) before = std::ftell(file_);
    if (before < 0) {
        close();
        return false;
    }
    const size_t n = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file_);
    if (n == bytes.size() && std::fflush(file_) == 0) return true;
    // A stream whose write failed is not used again: the next document opens afresh.
    close();
    std::error_code ec;
    std::filesystem::resize_file(name_, static_cast<std::uintmax_t>(before), ec);
    return false;
}

void ImportOutputFile::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

ImportOutputScope::ImportOutputScope(ImportContext* context, const ImportArgs* args) {
    if (!context || !args || context->output) return;
    context->output = std::make_unique<ImportOutputFile>(args->outputFilename);
    context_ = context;
}

ImportOutputScope::~ImportOutputScope() {
    if (context_) context_->output.reset();
}

// ---- process-wide state ----

void importSetDocumentHooks(const ImportDocumentHooks& hooks) {
    std::lock_guard guard(process().hooksLock);
    process().hooks = hooks;
}

ImportDocumentHooks importDocumentHooks() {
    std::lock_guard guard(process().hooksLock);
    return process().hooks;
}

void importChangeDocumentHooks(void (*change)(ImportDocumentHooks& hooks)) {
    if (!change) return;
    std::lock_guard guard(process().hooksLock);
    change(process().hooks);
}

std::mutex& importScannerLock() {
    return process().scanner;
}
std::mutex& importSlaveLock() {
    return process().slave;
}
std::mutex& importSpareLock() {
    return process().spare;
}

void importSetHeartbeatFile(const std::string& name) {
    std::lock_guard guard(process().heartbeatLock);
    process().heartbeat = name;
}

std::string importHeartbeatFile() {
    std::lock_guard guard(process().heartbeatLock);
    return process().heartbeat;
}

void importTouchHeartbeat() {
    std::string name = importHeartbeatFile();
    if (!name.empty()) slaveTouchHeartbeat(name.c_str());
}

// ---- errors and registry ----

void importAddError(ImportContext* context, int32_t code, int32_t severity, const char* message,
                    const char* detail) {
    if (!context) return;
    try {
        ImportErrorRecord e;
        e.module = context->module;
        e.code = code;
        e.severity = severity;
        e.message = message ? message : "";
        e.time = static_cast<int64_t>(std::time(nullptr));
        if (detail) {
            e.detail = detail;
            e.hasDetail = true;
        }
        context->errors.push_back(std::move(e));
    } catch (...) {
    }
}

ImportEntry* importFindEntry(ImportContext* context, const std::string& extension) {
    if (!context || !context->registry) return nullptr;
    return static_cast<ImportEntry*>(hashTableFind(context->registry, extension.c_str()));
}

std::string importExtensionOf(const std::string& name) {
    if (endsWithSeparator(name)) return std::string(1, name.back());
    size_t lastSep = name.find_last_of("\\/");
    size_t start = lastSep == std::string::npos ? 0 : lastSep + 1;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot < start) return std::string();
    return lowerCase(name.substr(dot + 1));
}

uint32_t importChecksum(const char* text, size_t length) {
    auto at = [text](size_t i) {
        return static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(text[i])));
    };
    uint32_t h = 0;
    const size_t head = std::min<size_t>(length, 500);
    size_t i = 0;
    for (; i < head; i += 5) h = h * 131u + at(i);
    for (; i < length; i += 50) h = h * 131u + at(i);
    if (length > 0) h = (h * 131u + at(0)) * 131u + at(length - 1);
    return h % 999999u;
}

bool importIsBinary(const char* text, size_t length, const ImportBinaryFilter& filter) {
    bool separator = true;
    int64_t words = 1, outside = 0;
    const int64_t total = static_cast<int64_t>(length);
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        const bool blank = c == '\t' || c == '\r' || c == '\n' || c == ' ';
        if (blank && !separator) {
            ++words;
            separator = true;
            continue;
        }
        separator = false;
        const int value = static_cast<signed char>(c);
        if (value < filter.low || value > filter.high) ++outside;
    }
    if (outside / (total / 100 + 1) > filter.maxPerHundred) return true;
    return total / words > filter.maxAverageWordLength;
}

void importApplyFieldRules(ImportArgs* args, const char* name, SrcFileSpec* spec) {
    const IdxRemapTable remap = args->remapTable();
    for (size_t i = 0; i < args->fixedNames.size() && i < args->fixedValues.size(); ++i)
        srcFileSpecSetFieldRemapped(&remap, spec, args->fixedNames[i].c_str(),
                                    args->fixedValues[i].c_str());
    if (args->pathMapCount != 0 && args->pathMapPrefix)
        rewriteReference(spec, &remap, [&](std::string& r) {
            return mapPath(r, args->pathMapCount, *args->pathMapPrefix);
        });
    if (!args->refOld.empty())
        rewriteReference(spec, nullptr, [&](std::string& r) {
            std::string before = r;
            replaceAll(r, args->refOld, args->refNew);
            return r != before;
        });
    if (args->truncateCount != 0 && args->truncateString)
        rewriteReference(spec, &remap, [&](std::string& r) {
            return truncateAt(r, args->truncateCount, *args->truncateString);
        });
    if (args->renderedMoveTo && args->renderedFieldName) {
        const char* field = srcFileSpecGetField(spec, args->renderedFieldName->c_str());
        if (field) {
            std::string value = field;
            if (args->renderedPathPrefix)
                mapPath(value, args->renderedPathCount, *args->renderedPathPrefix);
            replaceAll(value, args->renderedRefOld, args->renderedRefNew);
            srcFileSpecSetFieldRemapped(&remap, spec, args->renderedFieldName->c_str(),
                                        value.c_str());
        }
    }
    applyDateRules(args, spec, &remap);
    if (args->extractLength > 0 && (args->extractLength & 1) && !args->extractLengthField.empty()) {
        std::error_code ec;
        auto size = std::filesystem::file_size(name, ec);
        if (!ec)
            srcFileSpecSetFieldRemapped(&remap, spec, args->extractLengthField.c_str(),
                                        std::to_string(size).c_str());
    }
}

void importDefaultTitleRule(SrcFileSpec* spec, const char* text, int32_t wordLimit) {
    if (spec->title && !spec->title->empty()) return;
    const std::string copy = idxNormalizeWhitespace(
        std::string_view(text).substr(0, std::min<size_t>(std::strlen(text), 8096)));
    const std::string title = summaryTitleFromText(copy, wordLimit);
    if (!title.empty()) srcFileSpecSetTitle(spec, title.c_str());
}

bool importRefusesType(ImportContext* context, const ImportArgs* args, const std::string& name) {
    if (name.empty() || endsWithSeparator(name)) return false;
    const std::string extension = importExtensionOf(name);
    if (extension == "idx" || importFindEntry(context, extension)) return false;
    return !(args->defaultExtension &&
             importFindEntry(context, lowerCase(*args->defaultExtension)));
}

int importRefuseUnknownType(ImportContext* context, const char* name) {
    importAddError(context, -2, -3, "Applying Import filter: Unhandled file extension", name);
    importLog(2, "Warning: Unknown file type for file \"%s\"\n", name);
    return -2;
}

namespace {

// Handlers that read a file's text as IDX or make documents that carry references of
// their own choosing (IDX files, XML and delimited files, folders, wild-card names).
bool makesOwnReferences(ImportHandler handler) {
    return handler == importIdxHandler || handler == gXmlImportHandler ||
           handler == gDelimitedImportHandler || handler == importDirectoryHandler ||
           handler == importWildcardHandler;
}

int processInput(ImportContext* context, ImportArgs* args, const char* name, bool attachment) {
    if (!name || !*name) {
        importLog(3, "ProcessInput: Invalid document name\n");
        return 0;
    }
    importLog(3, "Importing document \"%s\"\n", name);
    const std::string input = name;
    const bool folder = endsWithSeparator(input);
    if (!folder && fileExists(name) != 0) {
        // A missing input is a failure of that input, not a success with nothing in it.
        importAddError(context, -4, -3, "Importing documents: File not found", name);
        importLog(2, "Warning: File '%s' does not exist - nothign to do\n", name);
        return -4;
    }
    const std::string extension = importExtensionOf(input);
    ImportEntry* entry = importFindEntry(context, extension);
    if (!entry) {
        const bool sideFile = extension == "idx" && input.size() > 4 &&
                              fileExists(input.substr(0, input.size() - 4).c_str()) == 0;
        if (args->defaultExtension && !sideFile)
            entry = importFindEntry(context, lowerCase(*args->defaultExtension));
        if (!entry) return importRefuseUnknownType(context, name);
    }
    // An attachment is never read as IDX or split into documents of its own: whoever
    // sent the message would choose their references. It is read as the text it is,
    // under the reference its side file gives (the message's, with its position).
    ImportEntry asText;
    if (attachment && makesOwnReferences(entry->handler)) {
        asText.extension = entry->extension;
        asText.handler = importTextHandler;
        entry = &asText;
    }

    int result;
    try {
        SrcFileSpec spec;
        std::vector<char> copy(input.size() + 256, '\0');
        std::memcpy(copy.data(), input.data(), input.size());
        result = entry->handler(context, args, copy.data(), copy.size(), name, &spec, entry);
        if (result == 0) {
            copy.back() = '\0';
            const std::string rewritten = copy.data();
            if (!folder && rewritten != input)
                srcFileSpecSetReference(&spec, rewritten.c_str());
            else if (!spec.reference)
                srcFileSpecSetReference(&spec, name);
            importApplyFieldRules(args, name, &spec);
            result = acceptAndSave(context, args, name, &spec);
        }
    } catch (...) {
        importAddError(context, -3, -3, "Importing documents: Out of memory", name);
        result = -3;
    }
    importLog(3, "Done with document \"%s\"\n", name);
    importLog(3, "%s\n", result >= 0 ? "Success" : "Error");
    return result;
}

}  // namespace

int importProcessInput(ImportContext* context, ImportArgs* args, const char* name) {
    return processInput(context, args, name, false);
}

int importProcessAttachment(ImportContext* context, ImportArgs* args, const char* name) {
    return processInput(context, args, name, true);
}

int importProcessIdxText(ImportContext* context, ImportArgs* args, const char* source,
                         std::string_view text, const std::string& reference) {
    if (!args || !source) return -1;
    importLog(3, "Importing document \"%s\"\n", reference.c_str());
    int result;
    try {
        SrcFileSpec spec;
        const IdxRemapTable remap = args->remapTable();
        const IdxReadOptions options = importIdxReadOptions(args, &remap);
        idxReadDocument(&spec, text, &options);
        if (!spec.reference || spec.reference->empty())
            srcFileSpecSetReference(&spec, reference.c_str());
        importApplyFieldRules(args, source, &spec);
        result = acceptAndSave(context, args, source, &spec);
    } catch (...) {
        importAddError(context, -3, -3, "Importing documents: Out of memory", source);
        result = -3;
    }
    importLog(3, "Done with document \"%s\"\n", reference.c_str());
    importLog(3, "%s\n", result >= 0 ? "Success" : "Error");
    return result;
}

int importRegisterFromConfig(ImportContext* context, ConfigFile* cfg, const char* section,
                             std::vector<std::string>* converterExtensions) {
    auto text = [&](const std::string& key) {
        char* value = nullptr;
        std::string out;
        if (envCfgGetText(cfg, section, key.c_str(), &value, nullptr) == 1 && value) out = value;
        if (value) memFree(value);
        return out;
    };
    struct Group {
        const char* key;
        ImportHandler handler;
        const char* failure;
    };
    ImportEntry* html = importFindEntry(context, "html");
    const Group groups[] = {
        {"TextImportExtns", importTextHandler, "Import: Couldn't register TXT extension"},
        {"HtmlImportExtns", html ? html->handler : htmlImportHandler,
         "Import: Couldn't register HTML extension"},
        {"ImportDelimitedExtns", gDelimitedImportHandler,
         "Import: Couldn't register Delimited extension"},
        {"ImportXMLExtns", gXmlImportHandler, "Import: Couldn't register XML extentions."},
    };
    for (const Group& g : groups)
        for (const std::string& ext : importSplitCsv(text(g.key), true))
            if (imexRegisterExtension(context, ext.c_str(), g.handler, nullptr) < 0) {
                importAddError(context, -10, -3, g.failure, ext.c_str());
                return -10;
            }
    for (int i = 0;; ++i) {
        const std::string exts = text("ImportRegisterExtnCSVs" + std::to_string(i));
        if (exts.empty()) break;
        const std::string program = text("ImportRegisterExecutable" + std::to_string(i));
        context->ownedValues.push_back(program);
        void* user = context->ownedValues.back().data();
        for (const std::string& ext : importSplitCsv(exts, true)) {
            if (imexRegisterExtension(context, ext.c_str(), gConfiguredConverterHandler, user) <
                0) {
                importAddError(context, -10, -3, "Import: Couldn't register converter extension",
                               ext.c_str());
                return -10;
            }
            if (converterExtensions) converterExtensions->push_back(ext);
        }
    }
    return 0;
}

extern "C" {

SAPIOLUX_EXPORT int imexInit(void) {
    process().initialised = true;
    return 0;
}

SAPIOLUX_EXPORT ImportContext* imexCreate(void) {
    try {
        auto context = std::make_unique<ImportContext>();
        context->registry =
            hashTableCreate(HASHTABLE_DEFAULT_BUCKETS, extensionCompare, extensionHash);
        if (!context->registry) return nullptr;
        ImportContext* raw = context.release();
        for (const DefaultRegistration& r : kDefaultRegistrations)
            if (imexRegisterExtension(raw, r.extension, r.handler, nullptr) != 0) {
                imexDestroy(raw);
                return nullptr;
            }
        raw->errors.clear();
        return raw;
    } catch (...) {
        return nullptr;
    }
}

SAPIOLUX_EXPORT void imexDestroy(ImportContext* context) {
    if (!context) return;
    std::unique_ptr<ImportContext> owned(context);
    if (owned->registry) {
        std::vector<ImportEntry*> entries;
        hashTableForEachValue(owned->registry, collectEntry, &entries);
        hashTableDestroy(&owned->registry);
        for (ImportEntry* e : entries) destroyEntry(e);
    }
    if (auto stop = importDocumentHooks().stopConverterSlaves) {
        std::lock_guard guard(importSlaveLock());
        stop();
    }
}

SAPIOLUX_EXPORT int imexRegisterExtension(ImportContext* context, const char* extension,
                                          ImexHandler handler, void* userValue) {
    if (!context || !extension || !handler) {
        importAddError(context, -1, -2, "Registering import type extension: Illegal Argument",
                       extension);
        return -1;
    }
    try {
        std::string key = lowerCase(extension);
        if (ImportEntry* existing = importFindEntry(context, key)) {
            existing->handler = handler;
            existing->user = userValue;
            importAddError(context, -11, -1,
                           "Registering import type extension: Re-registering extension",
                           key.c_str());
            return 0;
        }
        auto entry = std::make_unique<ImportEntry>();
        entry->extension = std::move(key);
        entry->handler = handler;
        entry->user = userValue;
        if (hashTableInsert(context->registry, const_cast<char*>(entry->extension.c_str()),
                            entry.get()) != 0)
            return -1;
        entry.release();
        return 0;
    } catch (...) {
        importAddError(context, -3, -2, "Registering import type extension: Out of memory",
                       extension);
        return -3;
    }
}

SAPIOLUX_EXPORT int imexUnregisterExtension(ImportContext* context, const char* extension,
                                            void** userValue) {
    if (!context || !extension) return -1;
    const std::string key = lowerCase(extension);
    ImportEntry* entry = importFindEntry(context, key);
    if (!entry) return -4;
    if (userValue) *userValue = entry->user;
    hashTableRemove(context->registry, key.c_str());
    destroyEntry(entry);
    return 0;
}

SAPIOLUX_EXPORT void* imexEntryUserValue(const ImportEntry* entry) {
    return entry ? entry->user : nullptr;
}

SAPIOLUX_EXPORT const char* imexGetError(int code) {
    switch (code) {
        case 0:
            return "No error.";
        case -1:
            return "Illegal argument.";
        case -2:
            return "Unknown content.";
        case -3:
            return "Memory failure.";
        case -4:
            return "Content not found.";
        case -6:
            return "File error.";
        case -8:
            return "Zero length file.";
        case -9:
            return "Plugin error.";
        case -10:
            return "Extension registry";
        case -11:
            return "Extension registered.";
        case -14:
            return "Default content parse failed.";
        case -16:
            return "Parse failed.";
        case -32:
            return "Parsed file not found.";
        case 2:
            return "Default content.";
        default:
            return "Unknown error.";
    }
}

SAPIOLUX_EXPORT int32_t imexGetErrorCount(const ImportContext* context) {
    return context ? static_cast<int32_t>(context->errors.size()) : 0;
}

SAPIOLUX_EXPORT int imexGetErrorEntry(const ImportContext* context, int32_t index,
                                      ImexError* entry) {
    if (!context || !entry || index < 0 || static_cast<size_t>(index) >= context->errors.size())
        return -1;
    const ImportErrorRecord& e = context->errors[static_cast<size_t>(index)];
    entry->module = e.module;
    entry->code = e.code;
    entry->severity = e.severity;
    entry->message = e.message.c_str();
    entry->time = e.time;
    entry->detail = e.hasDetail ? e.detail.c_str() : nullptr;
    return 0;
}

SAPIOLUX_EXPORT void imexClearErrors(ImportContext* context) {
    if (context) context->errors.clear();
}

SAPIOLUX_EXPORT int imexRegisterFromConfig(ImportContext* context, ConfigFile* cfg,
                                           const char* section) {
    if (!context) return -1;
    try {
        return importRegisterFromConfig(context, cfg, section, nullptr);
    } catch (...) {
        return -10;
    }
}

SAPIOLUX_EXPORT void imexSetSlaveHeartbeatFile(const char* fileName) {
    try {
        importSetHeartbeatFile(fileName ? fileName : "");
    } catch (...) {
    }
}

SAPIOLUX_EXPORT int imexSetLogFile(const char* fileName, int32_t append) {
    return importLogSetFile(fileName, append);
}

SAPIOLUX_EXPORT void imexSetLogLevel(int32_t level) {
    importLogSetLevel(level);
}

}  // extern "C"
