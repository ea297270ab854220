// imex: imports files and folders into an IDX file with the document-import library.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imex.h"
#include "support/envcfgutil.h"

namespace {

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: imex [--config FILE --section S] [-o OUT.idx] [--database NAME] "
                 "INPUT...\n"
                 "\n"
                 "Imports every INPUT (a file, or a folder whose files are all imported) as IDX\n"
                 "documents appended to the output file, then prints one line per input with\n"
                 "its result code and text, and a total.\n"
                 "\n"
                 "  --config FILE   read the import settings (Import... keys, extraction and\n"
                 "                  fixed fields, extra extensions) from this configuration file\n"
                 "  --section S     the section of FILE to use (missing keys come from DEFAULT)\n"
                 "  -o OUT.idx      the output IDX file (default \"default.idx\"); documents are\n"
                 "                  appended, one whole document at a time\n"
                 "  --database NAME the database the documents are meant for (default\n"
                 "                  \"default\", or the Database key of the configuration)\n"
                 "  --help          this text\n"
                 "\n"
                 "Result codes: 0 success (documents skipped by the content criteria count as\n"
                 "success), -2 unknown file type, -4 no such input, -6 file error, -8\n"
                 "unreadable or too big, -16 not of its type (an IDX file without a tag).\n"
                 "The exit status is 0 when every input succeeded, 1 otherwise, 2 for usage.\n");
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
    const char* config = nullptr;
    const char* section = nullptr;
    const char* output = nullptr;
    const char* database = nullptr;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "imex: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            usage(stdout);
            return 0;
        } else if (!std::strcmp(a, "--config")) {
            if (!(config = value(a))) return 2;
        } else if (!std::strcmp(a, "--section")) {
            if (!(section = value(a))) return 2;
        } else if (!std::strcmp(a, "-o")) {
            if (!(output = value(a))) return 2;
        } else if (!std::strcmp(a, "--database")) {
            if (!(database = value(a))) return 2;
        } else if (a[0] == '-' && a[1] == '-') {
            std::fprintf(stderr, "imex: unknown option %s\n", a);
            usage(stderr);
            return 2;
        } else {
            std::string in = a;
            // A folder is imported through the folder handler, found by the separator.
            if (isFolder(in) && in.back() != '/' && in.back() != '\\') in += '/';
            inputs.push_back(in);
        }
    }
    if (inputs.empty() || (section && !config)) {
        usage(stderr);
        return 2;
    }
    imexInit();
    ImportContext* context = imexCreate();
    ImportArgs* args = imargsCreate();
    if (!context || !args) {
        std::fprintf(stderr, "imex: out of memory\n");
        return 1;
    }
    ConfigFile* cfg = nullptr;
    if (config) {
        if (envCfgLoad(&cfg, config, 0) != 0) {
            std::fprintf(stderr, "imex: cannot read configuration %s\n", config);
            return 1;
        }
        imexRegisterFromConfig(context, cfg, section ? section : "DEFAULT");
        const char* outcome =
            imargsLoadFromConfig(cfg, section ? section : "DEFAULT", 0, nullptr, nullptr, args);
        if (std::strcmp(outcome, "Success.") != 0) {
            std::fprintf(stderr, "imex: %s\n", outcome);
            return 1;
        }
    }
    if (output) imargsSetOutputFilename(args, output);
    if (database) imargsSetOutputDatabase(args, database);
    std::vector<const char*> names;
    for (const auto& s : inputs) names.push_back(s.c_str());
    imargsSetInputs(args, static_cast<int32_t>(names.size()), names.data());
    std::vector<int32_t> results(names.size(), 0);
    int ok = imexImport(context, args, results.data());
    for (size_t i = 0; i < names.size(); ++i)
        std::printf("%s: %d %s\n", names[i], results[i], imexGetError(results[i]));
    std::printf("imported %d of %zu inputs into %s\n", ok, names.size(),
                imargsGetOutputFilename(args));
    for (int32_t i = 0; i < imexGetErrorCount(context); ++i) {
        ImexError e{};
        if (imexGetErrorEntry(context, i, &e) == 0 && e.severity <= -3)
            std::fprintf(stderr, "imex: %s%s%s\n", e.message, e.detail ? ": " : "",
                         e.detail ? e.detail : "");
    }
    if (cfg) envCfgClose(&cfg);
    imargsDestroy(args);
    imexDestroy(context);
    return ok == static_cast<int>(names.size()) ? 0 : 1;
}
