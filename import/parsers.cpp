#include "import/parsers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "import/htmlimport.h"
#include "import/importimpl.h"
#include "import/importlog.h"
#include "import/tempfiles.h"
#include "support/slaveutil.h"
#include "support/userdirs.h"

namespace fs = std::filesystem;

namespace {

// One process-wide converter. jobs serialises conversions through the slave (its
// shared view holds one job at a time) and keeps the slave alive while one runs.
struct ConverterSlot {
    ConverterSlot(const char* p, const char* l) : program(p), label(l) {}
    const char* program;
    const char* label;  // detail of "Couldn't spawn slave"
    SlaveProcess* slave = nullptr;
    std::mutex jobs;
};

ConverterSlot gKeyview{"keyviewslave", "Keyview"};
ConverterSlot gPdf{"pdfslave", "pdfslave"};
ConverterSlot gFlash{"flashslave", "flashslave"};
ConverterSlot gBinary{"binslave", "binslave"};
ConverterSlot* const gSlots[] = {&gKeyview, &gPdf, &gFlash, &gBinary};

// Jobs through the slaves of configured converters (kept in registry entries).
std::mutex gConfiguredJobs;

std::mutex gDirectoryLock;
std::string gDirectory;

bool gHookInstalled = false;  // guarded by importSlaveLock()

void installStopHook() {
    if (gHookInstalled) return;
    importChangeDocumentHooks(
        [](ImportDocumentHooks& hooks) { hooks.stopConverterSlaves = importStopConverterSlaves; });
    gHookInstalled = true;
}

std::string ownFolder() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return self.parent_path().string();
}

void reportSpawnFailure(ImportContext* context, const char* label, const std::string& program) {
    importAddError(context, -9, -3, "Plugin parser: Couldn't spawn slave", label);
    importLog(1, "Error: Couldn't load converter slave %s.\n", program.c_str());
}

// Starts the slot's slave when it is not running. Caller holds importSlaveLock().
SlaveProcess* ensureStarted(ImportContext* context, ConverterSlot& slot) {
    installStopHook();
    if (slot.slave) return slot.slave;
    std::string path = importConverterPath(slot.program);
    if (!slaveCreate(&slot.slave, path.c_str())) {
        slot.slave = nullptr;
        reportSpawnFailure(context, slot.label, path);
    }
    return slot.slave;
}

// The reference held by name's IDX side file, or empty.
std::string sideFileReference(const char* name) {
    const std::string side = idxSideFileName(name);
    std::string ref;
    if (const std::string* held = importHeldSideFile(side)) {
        // Lines as the file reader below sees them: at most 4095 bytes, up to a NUL.
        std::string_view text(*held);
        while (!text.empty()) {
            const size_t nl = text.find('\n');
            const size_t length = std::min<size_t>(nl == text.npos ? text.size() : nl + 1, 4095);
            std::string_view line = text.substr(0, length);
            text.remove_prefix(length);
            if (line.substr(0, 14) == "#IXOREFERENCE ") {
                line.remove_prefix(14);
                ref.assign(line.substr(0, line.find('\0')));
                while (!ref.empty() && (ref.back() == '\n' || ref.back() == '\r')) ref.pop_back();
                break;
            }
        }
        return ref;
    }
    std::FILE* f = std::fopen(side.c_str(), "rb");
    if (!f) return {};
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "#IXOREFERENCE ", 14) == 0) {
            ref = line + 14;
            while (!ref.empty() && (ref.back() == '\n' || ref.back() == '\r')) ref.pop_back();
            break;
        }
    }
    std::fclose(f);
    return ref;
}

// The converted HTML file for name, created empty and exclusively in the temporary
// folder (the arguments' one, else the private folder of the process) as the
// document's name, a unique part and ".htm": nothing that exists is replaced, and the
// converter writes into a file made for it alone.
bool createOutputFor(const ImportArgs* args, const char* name, ImportTempFile& output) {
    std::string base = fs::path(name).filename().string();
    if (base.empty()) base = "converted";
    // The converter is handed the name in a field of limited size.
    if (base.size() > 64) base.resize(64);
    std::string folder = importTempFolder(args);
    if (!folder.empty()) {
        std::error_code ec;
        fs::create_directories(folder, ec);
    }
    return output.create(folder, base + "-", ".htm");
}

// What convertWith gives when the converter is not running, so that a handler can try
// its fallback. Never a handler's result: reportable() turns it into a plugin error.
constexpr int kNoConverter = -1000;

int reportable(int rc) {
    return rc == kNoConverter ? -9 : rc;
}

// Converts name with slave (null: not running) and imports the result into spec.
// kNoConverter when there is no slave; jobMutex is held for the conversion.
int convertWith(ImportContext* context, ImportArgs* args, const char* name, SrcFileSpec* spec,
                SlaveProcess* slave, std::unique_lock<std::mutex> job) {
    if (!slave) {
        importAddError(context, -9, -3, "Plugin parser: Plugin not found", name);
        return kNoConverter;
    }
    ImportTempFile outputFile;
    if (!createOutputFor(args, name, outputFile)) {
        importAddError(context, -6, -3, "Plugin parser: Couldn't create temporary file", name);
        importLog(1, "Error: Couldn't create a temporary file for %s\n", name);
        return -6;
    }
    const std::string output = outputFile.path();
    importTouchHeartbeat();
    int ok = slaveRunJob(slave, name, output.c_str(),
                         args->slaveTimeout > 0 ? args->slaveTimeout : 60, nullptr);
    job.unlock();
    importTouchHeartbeat();
    if (!ok) {
        importAddError(context, -9, -3, "Plugin parser: Conversion failed", name);
        importLog(1, "Error: Conversion failed on file %s\n", name);
        std::string ref = sideFileReference(name);
        if (!ref.empty()) importLog(1, "Error: Reference was %s\n", ref.c_str());
        return -9;
    }
    int rc = -16;
    try {
        // The page stands for the document: its reference, file name and side files
        // (beside it and in the extra-IDX folder) are the document's.
        rc = htmlImportFile(context, args, output.c_str(), name, spec);
        if (rc != 0) {
            importAddError(context, -16, -3, "Plugin parser: HTML parse failed", name);
        } else {
            srcFileSpecSetFilename(spec, name);
        }
    } catch (...) {
        rc = -3;
    }
    return rc;
}

int convertWithSlot(ImportContext* context, ImportArgs* args, const char* name, SrcFileSpec* spec,
                    ConverterSlot& slot) {
    SlaveProcess* slave;
    std::unique_lock<std::mutex> job(slot.jobs, std::defer_lock);
    {
        std::lock_guard guard(importSlaveLock());
        slave = ensureStarted(context, slot);
        if (slave) job.lock();
    }
    return convertWith(context, args, name, spec, slave, std::move(job));
}

bool validArguments(ImportArgs* args, const char* name, SrcFileSpec* spec) {
    return args && name && *name && spec;
}

// An empty input has nothing to convert: it is reported as such rather than handed to
// a converter, whose failure would hide the cause.
bool emptyInput(ImportContext* context, const char* name) {
    std::error_code ec;
    if (!fs::is_regular_file(name, ec) || fs::file_size(name, ec) != 0 || ec) return false;
    importAddError(context, -8, -2, "Plugin parser: Zero length file", name);
    importLog(3, "Zero length file \"%s\"\n", name);
    return true;
}

}  // namespace

const char* const kDocumentConverterExtensions[] = {
    "doc", "wri", "rtf", "ppt",  "xls",  "mcw",  "wk1", "wk3", "wk4", "sam",
    "wp",  "wpd", "lwp", "docx", "xlsx", "pptx", "odt", "ods", "odp", "_default"};
const size_t kDocumentConverterExtensionCount =
    sizeof kDocumentConverterExtensions / sizeof kDocumentConverterExtensions[0];

void importSetConverterDirectory(const std::string& directory) {
    std::lock_guard guard(gDirectoryLock);
    gDirectory = directory;
}

std::string importConverterPath(const std::string& program) {
    if (program.find_first_of("/\\") != std::string::npos) return program;
    std::string dir;
    {
        std::lock_guard guard(gDirectoryLock);
        dir = gDirectory;
    }
    if (dir.empty()) {
        // Beside the running program (a build tree), else in the helper folder of an
        // installed copy.
        dir = ownFolder();
        std::string helpers = userdirs::installedFolder(userdirs::Installed::Helpers);
        std::error_code ec;
        if (!helpers.empty() && !fs::exists(fs::path(dir) / program, ec)) dir = helpers;
    }
    return (fs::path(dir) / program).string();
}

void importStopConverterSlaves() {
    for (ConverterSlot* slot : gSlots) {
        std::lock_guard job(slot->jobs);  // lets a running conversion finish first
        slaveDestroy(&slot->slave);
    }
}

int importDocumentConverter(ImportContext* context, ImportArgs* args, char*, size_t,
                            const char* name, SrcFileSpec* spec, ImportEntry*) {
    if (!validArguments(args, name, spec)) return -1;
    srcFileSpecSetAnchorReference(spec, 1);
    if (emptyInput(context, name)) return -8;
    int rc = convertWithSlot(context, args, name, spec, gKeyview);
    if (rc == kNoConverter) rc = convertWithSlot(context, args, name, spec, gBinary);
    return reportable(rc);
}

int importPdfConverter(ImportContext* context, ImportArgs* args, char*, size_t, const char* name,
                       SrcFileSpec* spec, ImportEntry*) {
    if (!validArguments(args, name, spec)) return -1;
    srcFileSpecSetAnchorReference(spec, 1);
    if (emptyInput(context, name)) return -8;
    int rc = convertWithSlot(context, args, name, spec, gPdf);
    if (rc == kNoConverter) rc = convertWithSlot(context, args, name, spec, gKeyview);
    return reportable(rc);
}

int importFlashConverter(ImportContext* context, ImportArgs* args, char*, size_t, const char* name,
                         SrcFileSpec* spec, ImportEntry*) {
    if (!validArguments(args, name, spec)) return -1;
    srcFileSpecSetAnchorReference(spec, 1);
    if (emptyInput(context, name)) return -8;
    return reportable(convertWithSlot(context, args, name, spec, gFlash));
}

int importConfiguredConverter(ImportContext* context, ImportArgs* args, char*, size_t,
                              const char* name, SrcFileSpec* spec, ImportEntry* entry) {
    if (!validArguments(args, name, spec)) return -1;
    srcFileSpecSetAnchorReference(spec, 1);
    if (emptyInput(context, name)) return -8;
    const char* program = entry ? static_cast<const char*>(entry->user) : nullptr;
    SlaveProcess* slave = nullptr;
    std::unique_lock<std::mutex> job(gConfiguredJobs, std::defer_lock);
    {
        std::lock_guard guard(importSlaveLock());
        if (entry && program && *program) {
            if (!entry->slave) {
                std::string path = importConverterPath(program);
                if (!slaveCreate(&entry->slave, path.c_str())) {
                    entry->slave = nullptr;
                    reportSpawnFailure(context, program, path);
                }
            }
            slave = entry->slave;
        }
        if (slave) job.lock();
    }
    return reportable(convertWith(context, args, name, spec, slave, std::move(job)));
}
