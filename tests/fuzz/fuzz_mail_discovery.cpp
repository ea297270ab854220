// Mailbox discovery on arbitrary files: a Wine prefix's "user.reg" and "system.reg"
// (the input split at its first zero byte) and a "Descmap.pce" folder listing (the
// whole input). Every walk ends and every mailbox found lies under the folders given.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_mailstore.h"
#include "mailfetch/emailclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        std::filesystem::create_directories(fuzzmail::path("hive"));
        std::filesystem::create_directories(fuzzmail::path("desc"));
        setenv("SAPIOLUX_USER_HIVE_DIR", fuzzmail::path("hive").c_str(), 1);
        setenv("SAPIOLUX_MACHINE_HIVE_DIR", fuzzmail::path("hive").c_str(), 1);
        setenv("WINEPREFIX", fuzzmail::folder().c_str(), 1);
        return true;
    }();
    (void)ready;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    size_t zero = bytes.find('\0');
    fuzzmail::write("user.reg", bytes.substr(0, zero));
    fuzzmail::write("system.reg", zero == std::string::npos ? "" : bytes.substr(zero + 1));
    for (const char* tag : {"oe4", "oe5", "eudora"}) mailfetch::discoverMailboxes(tag, {});

    fuzzmail::write("desc/Descmap.pce", bytes);
    const std::string desc = fuzzmail::path("desc");
    for (const mailfetch::Mailbox& m : mailfetch::readDescmap(desc))
        if (m.path.compare(0, desc.size(), desc) != 0) std::abort();
    return 0;
}
