#include "support/userdirs.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

// Where the installed folders are, relative to the folder of the installed support
// library (set by the build from the install layout).
#ifndef SAPIOLUX_LIB_TO_DATA
#define SAPIOLUX_LIB_TO_DATA "../../share/sapiolux"
#endif
#ifndef SAPIOLUX_LIB_TO_PLUGINS
#define SAPIOLUX_LIB_TO_PLUGINS "sapiolux"
#endif
#ifndef SAPIOLUX_LIB_TO_HELPERS
#define SAPIOLUX_LIB_TO_HELPERS "../../libexec/sapiolux"
#endif

namespace userdirs {
namespace {

namespace fs = std::filesystem;

std::string absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return {};
    return value;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string homeFallback(const char* xdgName, const char* underHome) {
    std::string xdg = absoluteEnv(xdgName);
    if (!xdg.empty()) return xdg;
    std::string home = absoluteEnv("HOME");
    return home.empty() ? std::string() : home + underHome;
}

// The folder of the file this function was loaded from (the shared support library,
// or the program itself when linked statically).
std::string ownLibraryFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ownLibraryFolder), &info) == 0 || !info.dli_fname)
        return {};
    std::error_code ec;
    fs::path self = fs::canonical(info.dli_fname, ec);
    return ec ? std::string() : self.parent_path().string();
}

}  // namespace

std::string dataHome() {
    return homeFallback("XDG_DATA_HOME", "/.local/share");
}

std::string configHome() {
    return homeFallback("XDG_CONFIG_HOME", "/.config");
}

std::string runtimeDir() {
    std::string dir = absoluteEnv("XDG_RUNTIME_DIR");
    return isFolder(dir) ? dir : std::string();
}

std::string personalServerHome() {
    std::string data = dataHome();
    return data.empty() ? std::string() : data + "/sapiolux/personal";
}

std::string expandUserFolder(const std::string& name) {
    struct Prefix {
        const char* text;
        std::string (*folder)();
    };
    static const Prefix kPrefixes[] = {
        {"$XDG_DATA_HOME", dataHome},
        {"${XDG_DATA_HOME}", dataHome},
        {"$XDG_CONFIG_HOME", configHome},
        {"${XDG_CONFIG_HOME}", configHome},
        {"$XDG_RUNTIME_DIR", runtimeDir},
        {"${XDG_RUNTIME_DIR}", runtimeDir},
        {"$HOME", [] { return absoluteEnv("HOME"); }},
        {"${HOME}", [] { return absoluteEnv("HOME"); }},
        {"~", [] { return absoluteEnv("HOME"); }},
    };
    for (const Prefix& p : kPrefixes) {
        std::string_view text = p.text;
        if (name.compare(0, text.size(), text) != 0) continue;
        // The name must end there or go on with a separator: "$HOMEX" or "~user" are
        // not ours to expand.
        if (name.size() > text.size() && name[text.size()] != '/') continue;
        std::string folder = p.folder();
        if (folder.empty()) return name;
        return folder + name.substr(text.size());
    }
    return name;
}

std::string installedFolder(Installed which) {
    std::string lib = ownLibraryFolder();
    if (lib.empty()) return {};
    const char* relative = which == Installed::Data      ? SAPIOLUX_LIB_TO_DATA
                           : which == Installed::Plugins ? SAPIOLUX_LIB_TO_PLUGINS
                                                         : SAPIOLUX_LIB_TO_HELPERS;
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(fs::path(lib) / relative, ec);
    if (ec || !isFolder(folder.string())) return {};
    return folder.string();
}

bool makePrivateFolders(const std::string& folder) {
    if (folder.empty()) return false;
    std::string path;
    size_t pos = 0;
    while (pos != std::string::npos) {
        size_t next = folder.find('/', pos + 1);
        path = folder.substr(0, next);
        pos = next;
        if (path.empty() || path == "/") continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return isFolder(folder);
}

}  // namespace userdirs
