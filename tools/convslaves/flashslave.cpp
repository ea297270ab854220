// Converter slave for Flash files. No text extractor for them is available, so every
// job is answered with no output, which the import library reports as a failed
// conversion.
#include <string>

#include "convcommon.h"

namespace {

bool convertFlash(const std::string&, const std::string&) {
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    return conv::slaveMain(argc, argv, convertFlash);
}
