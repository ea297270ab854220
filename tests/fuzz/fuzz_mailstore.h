// Shared by the mailbox reader fuzz targets: a private folder for the store files that
// each input is written to, made new (mkdtemp, mode 0700) in the temporary folder and
// removed with everything in it when the process ends normally.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace fuzzmail {

class Folder {
  public:
    Folder() {
        std::error_code ec;
        std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
        if (ec) tmp = "/tmp";
        std::string pattern = (tmp / "sapiolux_fuzz_mail_XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The folder, made on first use. Its destructor runs at exit, after everything made
// later (the targets' own statics) is gone.
inline const std::filesystem::path& folder() {
    static const Folder dir;
    return dir.path();
}

inline void write(const std::string& name, const std::string& bytes) {
    std::ofstream out(folder() / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string path(const std::string& name) {
    return (folder() / name).string();
}

}  // namespace fuzzmail
