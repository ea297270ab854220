// The import-settings loader over arbitrary configuration text: whatever the values, it
// must report one of its texts and leave a record that imports a document safely.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imex.h"
#include "import/importargs.h"
#include "import/importlog.h"
#include "support/envcfgutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input is the body of section [S]; the keys are the loader's.
    std::string text = "[S]\n" + std::string(reinterpret_cast<const char*>(data), size);
    ConfigFile* cfg = nullptr;
    if (envCfgLoadFromMemory(&cfg, text.data(), static_cast<int32_t>(text.size()), nullptr,
                             ENVCFG_OWNED) != 0)
        return 0;
    ImportArgs* args = imargsCreate();
    const char* outcome = imargsLoadFromConfig(cfg, "S", 0, nullptr, nullptr, args);
    if (!outcome || std::strlen(outcome) == 0) std::abort();
    // Settings that touch the file system are put back before anything is imported.
    importLogSetFile(nullptr, 0);
    imargsSetTempDirectory(args, "/tmp");
    if (args->breaking && !(args->breaking->lower < args->breaking->upper)) std::abort();
    if (args->maxAnchors > 2048 || args->maxAnchors < 0) std::abort();
    if (args->criteria && !(args->criteria->minLength < args->criteria->maxLength)) std::abort();
    (void)args->remapTable();
    imargsDestroy(args);
    envCfgClose(&cfg);
    return 0;
}
