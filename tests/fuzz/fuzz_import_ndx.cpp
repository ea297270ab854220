// The IDX importer ("ndx") through the whole per-document flow: arbitrary bytes as an
// IDX file, imported with checksum, criteria, binary filter and breaking switched on.
// Every document written must be whole.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "imex.h"
#include "import/importargs.h"
#include "import/importctrl.h"
#include "support/fileutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string base = "/tmp/fuzz_import_ndx_" + std::to_string(::getpid());
    static ImportContext* context = [] {
        imexInit();
        return imexCreate();
    }();
    const std::string input = base + ".ndx", output = base + ".out";
    fileWriteWhole(input.c_str(), data, static_cast<int64_t>(size));
    fileDelete(output.c_str());
    ImportArgs* args = imargsCreate();
    imargsSetOutputFilename(args, output.c_str());
    imargsSetTempDirectory(args, "/tmp");
    imargsSetChecksum(args, 1);
    imargsSetContentCriteria(args, 1, 100000, 0, 10000);
    imargsFilterBinary(args, 1);
    imargsSetContentBreaking(args, 3, 8, 10);
    imargsSetMaxAnchors(args, size % 7);
    const char* one[] = {input.c_str()};
    imargsSetInputs(args, 1, one);
    imexImport(context, args, nullptr);
    imexClearErrors(context);
    imargsDestroy(args);

    char* text = nullptr;
    int64_t n = fileReadWhole(output.c_str(), &text);
    if (n >= 11) {
        std::string out(text, static_cast<size_t>(n));
        if (out.compare(out.size() - 11, 11, "#IXOENDDOC\n") != 0) std::abort();
    }
    if (text) memFree(text);
    fileDelete(input.c_str());
    fileDelete(output.c_str());
    return 0;
}
