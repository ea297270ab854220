#include "platform/dynload.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

namespace platform {

DynamicLibrary::~DynamicLibrary() {
    unload();
}

bool DynamicLibrary::load(const std::string& fileName) {
    unload();
    error_.clear();
    if (fileName.empty()) {
        error_ = "no library name";
        return false;
    }
    if (const char* path = std::getenv("SAPIOLUX_LIBRARY_PATH")) {
        std::string folders = path;
        size_t start = 0;
        while (start <= folders.size()) {
            size_t colon = folders.find(':', start);
            std::string folder =
                folders.substr(start, colon == std::string::npos ? colon : colon - start);
            start = colon == std::string::npos ? folders.size() + 1 : colon + 1;
            if (folder.empty()) continue;
            std::error_code ec;
            std::filesystem::path candidate = std::filesystem::path(folder) / fileName;
            if (!std::filesystem::is_regular_file(candidate, ec)) continue;
            handle_ = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle_) return true;
            const char* why = dlerror();
            error_ = why ? why : "cannot load";
        }
    }
    handle_ = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) return true;
    const char* why = dlerror();
    if (error_.empty()) error_ = why ? why : "cannot load";
    return false;
}

void DynamicLibrary::unload() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (!handle_ || !name) return nullptr;
    return dlsym(handle_, name);
}

}  // namespace platform
