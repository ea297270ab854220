// Shared by the mailbox reader fuzz targets: a private folder for the store files that
// each input is written to, removed when the process ends.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzzmail {

inline const std::filesystem::path& folder() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("sapiolux_fuzz_mail_" + std::to_string(getpid()));
        std::filesystem::create_directories(d);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder(), ec);
        });
        return d;
    }();
    return dir;
}

inline void write(const std::string& name, const std::string& bytes) {
    std::ofstream out(folder() / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string path(const std::string& name) {
    return (folder() / name).string();
}

}  // namespace fuzzmail
