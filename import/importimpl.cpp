// Handlers for folders, wild-card names and IDX files, and side-file merging.
#include "import/importimpl.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "import/idxreader.h"
#include "import/importlog.h"
#include "support/fileutil.h"

namespace {

struct Listing {
    std::vector<std::string> files;
};

int collectFile(const char* directory, const char* name, void* context) {
    if (!name || !*name) return 0;  // end of a directory
    std::string path = directory;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += name;
    static_cast<Listing*>(context)->files.push_back(std::move(path));
    return 0;
}

bool samePath(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

bool endsWith(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Imports a listing, leaving out IDX side files (a file "X.idx" beside a file "X") and
// the output file of the import.
int importListing(ImportContext* context, ImportArgs* args, const Listing& listing) {
    std::vector<std::string> files = listing.files;
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        if (endsWith(file, ".idx") &&
            std::binary_search(files.begin(), files.end(), file.substr(0, file.size() - 4)))
            continue;
        if (samePath(file, args->outputFilename)) continue;
        importProcessInput(context, args, file.c_str());
    }
    return 0;
}

struct SplitState {
    ImportContext* context;
    ImportArgs* args;
    const char* source;
    int handed = 0;
};

// A document of an IDX file of several; one that names no reference gets the file's
// with its position, so documents of different files never share one.
int importSplitDocument(void* user, std::string_view document, int number) {
    auto* state = static_cast<SplitState*>(user);
    ++state->handed;
    return importProcessIdxText(state->context, state->args, state->source, document,
                                std::string(state->source) + "#" + std::to_string(number));
}

char* convertHtml(void*, const char* text) {
    const ImportDocumentHooks& hooks = importDocumentHooks();
    return hooks.htmlToText ? hooks.htmlToText(text, 64) : nullptr;
}

}  // namespace

int importDirectoryHandler(ImportContext* context, ImportArgs* args, char* nameCopy, size_t,
                           const char* name, SrcFileSpec*, ImportEntry*) {
    std::string folder = nameCopy ? nameCopy : name;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    Listing listing;
    if (fileWalkDirectory(folder.c_str(), nullptr, collectFile, &listing, args->recursive ? 1 : 0) <
        0) {
        importAddError(context, -6, -3, "Directory import: Couldn't read directory", name);
        importLog(2, "Warning: Couldn't read directory \"%s\"\n", name);
        return -6;
    }
    return importListing(context, args, listing);
}

int importWildcardHandler(ImportContext* context, ImportArgs* args, char*, size_t, const char* name,
                          SrcFileSpec*, ImportEntry*) {
    std::string input = name;
    size_t sep = input.find_last_of("\\/");
    std::string folder = sep == std::string::npos ? "." : input.substr(0, sep + 1);
    std::string pattern = sep == std::string::npos ? input : input.substr(sep + 1);
    if (pattern.find_first_of("*?") == std::string::npos) {
        importAddError(context, -1, -3, "Applying Import filter: Not a wild-card name", name);
        return -1;
    }
    if (folder.size() > 1) folder.pop_back();  // the separator kept above
    Listing listing;
    if (fileWalkDirectory(folder.c_str(), pattern.c_str(), collectFile, &listing, 0) < 0) {
        importAddError(context, -6, -3, "Directory import: Couldn't read directory", name);
        return -6;
    }
    return importListing(context, args, listing);
}

int importIdxHandler(ImportContext* context, ImportArgs* args, char*, size_t, const char* name,
                     SrcFileSpec* spec, ImportEntry*) {
    const IdxRemapTable remap = args->remapTable();
    const IdxReadOptions options = importIdxReadOptions(args, &remap);
    SplitState state{context, args, name};
    int rc = idxImportFile(spec, name, &options, importSplitDocument, &state);
    if (rc != 0) {
        importAddError(context, rc, -3, "IDX parser: Couldn't read file", name);
        return rc;
    }
    // A file without a single tag is not IDX at all: a failure, not an empty success.
    if (state.handed == 0 && !spec->reference && !spec->title && !spec->content &&
        spec->fieldNames.empty() && !spec->date && !spec->type) {
        importAddError(context, -16, -3, "IDX parser: No IDX document in file", name);
        return -16;
    }
    return 0;
}

IdxReadOptions importIdxReadOptions(const ImportArgs* args, const IdxRemapTable* remap) {
    IdxReadOptions options;
    options.remap = remap;
    if (args && args->fieldHtmlConvert) options.htmlToText = convertHtml;
    return options;
}

std::string importExtraIdxName(const ImportArgs* args, const char* name) {
    if (!args->extraIdxDir || args->extraIdxDir->empty() || !name) return {};
    std::string file = name;
    const std::string& dir = *args->extraIdxDir;
    if (args->extraIdxDirToReplace && !args->extraIdxDirToReplace->empty() &&
        file.compare(0, args->extraIdxDirToReplace->size(), *args->extraIdxDirToReplace) == 0)
        return dir + file.substr(args->extraIdxDirToReplace->size()) + kIdxSideFileSuffix;
    size_t sep = file.find_last_of("\\/");
    std::string base = sep == std::string::npos ? file : file.substr(sep + 1);
    std::string out = dir;
    if (out.back() != '/' && out.back() != '\\') out += '/';
    return out + base + kIdxSideFileSuffix;
}

namespace {
thread_local std::unordered_map<std::string, std::string> gHeldSideFiles;
}  // namespace

void importHoldSideFile(const std::string& sidePath, std::string text) {
    gHeldSideFiles[sidePath] = std::move(text);
}

void importDropSideFile(const std::string& sidePath) {
    gHeldSideFiles.erase(sidePath);
}

const std::string* importHeldSideFile(const std::string& sidePath) {
    if (gHeldSideFiles.empty()) return nullptr;
    auto it = gHeldSideFiles.find(sidePath);
    return it == gHeldSideFiles.end() ? nullptr : &it->second;
}

int importMergeSideFiles(ImportArgs* args, const char* name, SrcFileSpec* spec) {
    const IdxRemapTable remap = args->remapTable();
    IdxReadOptions options;
    options.remap = &remap;
    int merged = 0;
    for (const std::string& side : {idxSideFileName(name), importExtraIdxName(args, name)}) {
        if (side.empty()) continue;
        if (const std::string* held = importHeldSideFile(side)) {
            if (idxReadDocument(spec, std::string_view(*held), &options) == 0) ++merged;
            continue;
        }
        if (fileExists(side.c_str()) != 0) continue;
        if (idxReadDocumentFile(spec, side.c_str(), &options) == 0) ++merged;
    }
    return merged;
}

void importExtractFields(const ImportArgs* args, const char* text, SrcFileSpec* spec) {
    if (args->fieldNames.empty() || !text) return;
    const IdxRemapTable remap = args->remapTable();
    const std::string_view all(text);
    for (size_t i = 0; i < args->fieldNames.size(); ++i) {
        const std::string& start = args->fieldStarts[i];
        const std::string& stop = args->fieldStops[i];
        size_t begin = start.empty() ? 0 : all.find(start);
        if (begin == std::string_view::npos) continue;
        begin += start.size();
        size_t end = stop.empty() ? all.size() : all.find(stop, begin);
        if (end == std::string_view::npos) end = all.size();
        std::string value(all.substr(begin, end - begin));
        srcFileSpecSetFieldRemapped(&remap, spec, args->fieldNames[i].c_str(), value.c_str());
    }
}
