// The text importer: plain text and source files become one document each.
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "import/importimpl.h"
#include "import/readfile.h"
#include "support/fileutil.h"

namespace {

int importText(ImportContext* context, ImportArgs* args, const char* name, SrcFileSpec* spec,
               bool limited) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name, "rb"));
    if (!file) {
        importAddError(context, -6, -3, "Text parser: Couldn't read file", name);
        return -8;
    }
    const int64_t size = fileSize(file.get());
    if (size < 0) {
        importAddError(context, -6, -3, "Text parser: Couldn't read file length", name);
        return -8;
    }
    if (limited && args->maxPlainTextKBs > 0 && size / 1024 > args->maxPlainTextKBs) {
        importAddError(context, -6, -3, "Text parser: File is too big.", name);
        return -8;
    }
    std::string text;
    try {
        text.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        importAddError(context, -3, -3, "Text parser: Couldn't allocate buffer", name);
        return -1;
    }
    // A file that shrank while it was read keeps what could be read.
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    file.reset();

    importMergeSideFiles(args, name, spec);
    srcFileSpecSetFilename(spec, name);
    if (!spec->reference) srcFileSpecSetReference(spec, name);
    if (!spec->date) {
        int64_t seconds = fileModificationTime(name);
        if (seconds <= 0) seconds = static_cast<int64_t>(std::time(nullptr));
        srcFileSpecSetDate(spec, std::to_string(seconds).c_str());
    }
    importExtractFields(args, text.c_str(), spec);
    if (!spec->content) srcFileSpecSetContent(spec, std::move(text));
    return 0;
}

}  // namespace

int importTextHandler(ImportContext* context, ImportArgs* args, char*, size_t, const char* name,
                      SrcFileSpec* spec, ImportEntry*) {
    return importText(context, args, name, spec, true);
}

int importSourceTextHandler(ImportContext* context, ImportArgs* args, char*, size_t,
                            const char* name, SrcFileSpec* spec, ImportEntry*) {
    return importText(context, args, name, spec, false);
}
