// Loading a shared library at run time and finding its entry points. A library is
// looked for first in the folders listed in the environment variable
// SAPIOLUX_LIBRARY_PATH (separated by ':'), by its exact file name, then through the
// system's own search. Used for interfaces that are optional on a machine (Simple MAPI).
#pragma once

#include <string>

namespace platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the library of that file name; false (and a reason in error()) when it
    // cannot be found or loaded. A loaded library is unloaded first.
    bool load(const std::string& fileName);
    void unload();
    bool loaded() const { return handle_ != nullptr; }
    // The address of an exported function or object, or null.
    void* symbol(const char* name) const;
    const std::string& error() const { return error_; }

  private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace platform
