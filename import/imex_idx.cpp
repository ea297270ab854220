// Writing a ContentRecord as IDX text, and releasing the record from the import library.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "imex_idx.h"
#include "import/readfile.h"
#include "import/srcfile_spec.h"

namespace {

// Copies the record into a working record. storeNo: a clear store-content flag is
// written as "no" (otherwise it is left out).
void copyRecord(const ContentRecord& record, SrcFileSpec& spec, bool storeNo) {
    srcFileSpecSetTitle(&spec, record.title);
    srcFileSpecSetReference(&spec, record.reference);
    srcFileSpecSetContent(&spec, record.content);
    srcFileSpecSetSection(&spec, record.section);
    srcFileSpecSetType(&spec, record.type);
    srcFileSpecSetDate(&spec, record.date);
    srcFileSpecSetDbname(&spec, record.dbname);
    srcFileSpecSetFilename(&spec, record.filename);
    if (record.storecontent)
        srcFileSpecSetStorecontent(&spec, "yes");
    else if (storeNo)
        srcFileSpecSetStorecontent(&spec, "no");
    if (!record.fieldNames || !record.fieldValues) return;
    for (int32_t i = 0; i < record.fieldCount; ++i)
        srcFileSpecSetFieldRemapped(nullptr, &spec, record.fieldNames[i], record.fieldValues[i]);
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT int imexImportStructureToFile(const ContentRecord* record, const char* path) {
    if (!record) return -1;
    if (!path) return -6;
    try {
        SrcFileSpec spec;
        copyRecord(*record, spec, true);
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "w"));
        if (!file) return -6;
        int64_t written = srcFileSpecWrite(&spec, file.get());
        if (written < 1 || std::fclose(file.release()) != 0) return -6;
        return 0;
    } catch (...) {
        return -3;
    }
}

SAPIOLUX_EXPORT int imexImportStructureToBuffer(const ContentRecord* record, char** out) {
    if (!out) return -1;
    *out = nullptr;
    if (!record) return -1;
    try {
        SrcFileSpec spec;
        copyRecord(*record, spec, false);
        *out = srcFileSpecBuildText(&spec);
        return *out ? 0 : -3;
    } catch (...) {
        return -3;
    }
}

SAPIOLUX_EXPORT int imexDestroyStructure(ContentRecord* record) {
    if (!record) return -1;
    ixoDestroyContentRecord(record);
    return 0;
}

}  // extern "C"
