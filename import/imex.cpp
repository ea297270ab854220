// The import library's entry points: running an import (in process or in the import
// slave), the simple imports and the import of one file into a ContentRecord.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "imex_ctrl.h"
#include "import/importctrl.h"
#include "import/importlog.h"
#include "import/tempfiles.h"
#include "support/envcfgutil.h"
#include "support/fileutil.h"
#include "support/slaveutil.h"
#include "support/userdirs.h"

namespace {

namespace fs = std::filesystem;

struct ContextDeleter {
    void operator()(ImportContext* c) const { imexDestroy(c); }
};
struct ArgsDeleter {
    void operator()(ImportArgs* a) const { imargsDestroy(a); }
};
using ContextPtr = std::unique_ptr<ImportContext, ContextDeleter>;
using ArgsPtr = std::unique_ptr<ImportArgs, ArgsDeleter>;

bool isFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

// Where the import slave program is: IMPORTSLAVE in the environment, the current
// folder, the folder of the running program, or the helper folder of an installed
// copy. The base name without ".exe", or empty when there is none.
std::string findImportSlave() {
    if (const char* env = std::getenv("IMPORTSLAVE"); env && *env) {
        if (isFile(env)) return env;
    }
    std::vector<fs::path> folders{fs::path(".")};
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) folders.push_back(self.parent_path());
    if (std::string helpers = userdirs::installedFolder(userdirs::Installed::Helpers);
        !helpers.empty())
        folders.push_back(helpers);
    for (const fs::path& folder : folders) {
        if (isFile(folder / "importslave.exe") || isFile(folder / "importslave"))
            return (folder / "importslave").string();
    }
    return {};
}

int importInSlave(ImportArgs* args, const std::string& program) {
    SlaveProcess* slave = nullptr;
    {
        std::lock_guard guard(importSlaveLock());
        if (!slaveCreate(&slave, program.c_str())) {
            importLog(1, "Error - coult not load slave\n");
            return -1;
        }
    }
    // The list file is created exclusively under a name of its own, in the temporary
    // folder of the arguments or the private folder of the process.
    ImportTempFile list;
    std::FILE* f = nullptr;
    if (!list.create(importTempFolder(args), "importslavefiles", ".tmp", &f)) {
        importLog(1, "Error - coult write to the slave file\n");
        std::lock_guard guard(importSlaveLock());
        slaveDestroy(&slave);
        return -1;
    }
    const std::string listFile = list.path();
    const long count = static_cast<long>(args->inputs.size());
    if (args->slaveConfig && args->slaveSection)
        std::fprintf(f, "%s\n%s\n%ld\n", args->slaveConfig->c_str(), args->slaveSection->c_str(),
                     count);
    else
        std::fprintf(f, "\n%s\n%ld\n", args->database.c_str(), count);
    for (const std::string& input : args->inputs) std::fprintf(f, "%s\n", input.c_str());
    const bool written = std::fclose(f) == 0;
    if (!written) {
        importLog(1, "Error - coult write to the slave file\n");
        std::lock_guard guard(importSlaveLock());
        slaveDestroy(&slave);
        return -1;
    }
    // The slave touches the heartbeat file before each input, so a long import is not
    // taken for a hung one.
    ImportTempFile beat;
    beat.create(importTempFolder(args), "importslavebeat", ".tmp");
    const std::string heartbeat = beat.path();
    if (!heartbeat.empty()) slaveTouchHeartbeat(heartbeat.c_str());
    // A list file of a run that failed is kept for a look at what was asked.
    if (slaveRunJob(slave, listFile.c_str(), args->outputFilename.c_str(), args->slaveTimeout + 30,
                    heartbeat.empty() ? nullptr : heartbeat.c_str()) != 1)
        list.release();
    {
        std::lock_guard guard(importSlaveLock());
        slaveDestroy(&slave);
    }
    return isFile(args->outputFilename) ? 1 : -1;
}

int simpleImport(const char* outputFile, const char* database, int32_t count,
                 const char* const* inputs, bool withSlave) {
    if (!outputFile || !database || !inputs) return -1;
    ContextPtr context(imexCreate());
    ArgsPtr args(imargsCreate());
    if (!context || !args) return -1;
    int rc = imargsSetOutputFilename(args.get(), outputFile);
    if (rc == 0) rc = imargsSetOutputDatabase(args.get(), database);
    if (rc == 0) rc = imargsSetInputs(args.get(), count, inputs);
    if (rc == 0 && withSlave) rc = imargsSetWithSlave(args.get(), 1, nullptr, nullptr);
    if (rc != 0) return rc;
    return imexImport(context.get(), args.get(), nullptr);
}

int readBack(const std::string& output, ContentRecord** record) {
    char* text = nullptr;
    int64_t n = fileReadWhole(output.c_str(), &text);
    if (n <= 0) {
        if (text) memFree(text);
        importLog(2, "Import: Couldn't read imported file\n");
        return -3;
    }
    int rc = ixoContentTextToRecord(text, static_cast<size_t>(n), record);
    memFree(text);
    if (rc != 1) {
        importLog(2, "Import: Couldn't import buffer to structure\n");
        return -3;
    }
    return 0;
}

int importWithConfig(const char* file, const std::string& output, const char* configFile,
                     const char* section, ContentRecord** record) {
    ConfigFile* cfg = nullptr;
    if (envCfgLoad(&cfg, configFile, 0) != 0) return -6;
    std::unique_ptr<ConfigFile*, void (*)(ConfigFile**)> cfgGuard(
        &cfg, [](ConfigFile** c) { envCfgClose(c); });
    ContextPtr context(imexCreate());
    if (!context) return -3;
    std::vector<std::string> converters;
    if (importRegisterFromConfig(context.get(), cfg, section, &converters) != 0) return -10;
    ArgsPtr args(imargsCreate());
    if (!args) {
        importAddError(context.get(), -3, -3, "Import: Couldn't create import arguments", file);
        return -3;
    }
    imargsSetOutputDatabase(args.get(), "Database1");
    imargsSetWithSlave(args.get(), 1, configFile, section);
    const char* inputs[] = {file};
    imargsLoadFromConfig(cfg, section, 1, inputs, output.c_str(), args.get());
    imexImport(context.get(), args.get(), nullptr);
    int rc = readBack(output, record);
    for (const std::string& ext : converters)
        imexUnregisterExtension(context.get(), ext.c_str(), nullptr);
    return rc;
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT int imexImport(ImportContext* context, ImportArgs* args, int32_t* results) {
    if (!args) {
        importAddError(context, -1, -3, "Importing documents: Illegal arguments", nullptr);
        return 0;
    }
    try {
        if (args->withSlave && !args->iAmSlave) {
            std::string program = findImportSlave();
            if (!program.empty()) return importInSlave(args, program);
        }
        if (!context) return 0;
        if (args->intelligentTitle) {
            args->crossPage.reset();
            if (auto begin = importDocumentHooks().beginImport) begin(args);
        }
        if (importLogLevel() >= 3) {
            importLog(3, "Starting Import \n");
            importLog(3, "=====================\n\n");
            importLog(3, "Number of files/directories = %d\n",
                      static_cast<int>(args->inputs.size()));
            for (const std::string& input : args->inputs) importLog(3, "\t%s\n", input.c_str());
            importLog(3, "Output file = %s\n", args->outputFilename.c_str());
            importLog(3, "Fields:\n");
            for (size_t i = 0; i < args->fieldNames.size(); ++i) {
                importLog(3, "\tField Name = %s\n", args->fieldNames[i].c_str());
                importLog(3, "\tStarts = %s\n", args->fieldStarts[i].c_str());
                importLog(3, "\tStops = %s\n", args->fieldStops[i].c_str());
            }
            importLog(3, "Database = %s\n", args->database.c_str());
            importLog(3, "Default Extension = %s\n",
                      args->defaultExtension ? args->defaultExtension->c_str() : "(null)");
            importLog(3, "Store Content = %s\n", args->storeContent.c_str());
        }
        // One open output file for every document of this import.
        const ImportOutputScope output(context, args);
        int succeeded = 0;
        for (size_t i = 0; i < args->inputs.size(); ++i) {
            importTouchHeartbeat();
            int rc = importProcessInput(context, args, args->inputs[i].c_str());
            if (results) results[i] = rc;
            if (rc == 0) ++succeeded;
        }
        return succeeded;
    } catch (...) {
        importAddError(context, -3, -3, "Importing documents: Out of memory", nullptr);
        return 0;
    }
}

SAPIOLUX_EXPORT int imexSimpleImport(const char* outputFile, const char* database, int32_t count,
                                     const char* const* inputs) {
    try {
        return simpleImport(outputFile, database, count, inputs, false);
    } catch (...) {
        return -1;
    }
}

SAPIOLUX_EXPORT int imexSimpleImportWithSlave(const char* outputFile, const char* database,
                                              int32_t count, const char* const* inputs) {
    try {
        return simpleImport(outputFile, database, count, inputs, true);
    } catch (...) {
        return -1;
    }
}

SAPIOLUX_EXPORT int imexImportFileToStructureWithConfig(const char* file, ContentRecord** record,
                                                        const char* configFile,
                                                        const char* section) {
    if (!file || !record) return -6;
    *record = nullptr;
    try {
        // The output is a file of the private temporary folder, made exclusively.
        ImportTempFile outputFile;
        if (!outputFile.create(importRunTempFolder(), "import", ".idx")) return -6;
        const std::string output = outputFile.path();
        int rc;
        if (!configFile) {
            const char* inputs[] = {file};
            imexSimpleImportWithSlave(output.c_str(), "Database1", 1, inputs);
            rc = readBack(output, record);
        } else {
            rc = importWithConfig(file, output, configFile, section, record);
        }
        return rc;
    } catch (...) {
        return -3;
    }
}

}  // extern "C"
