// Temporary files of the import library and the mail fetchers.
//
// Nothing is ever written under a name that something else may already use: every
// temporary file is created exclusively (O_CREAT | O_EXCL | O_NOFOLLOW, mode 0600), so
// a file or symbolic link already standing under the name is never opened, replaced or
// removed. Unless the caller names a folder, temporary files go into a private folder
// (mode 0700) made once per process under $TMPDIR (else /tmp), never into the working
// folder. Only files created here are removed.
#pragma once

#include <cstdio>
#include <string>

struct ImportArgs;

// The private folder of this process, made on first use; empty when it cannot be made.
// It is removed when the process ends, if nothing is left in it.
std::string importRunTempFolder();

// The folder for temporary files of an import: the folder the arguments name, else the
// private folder of the process. Ends in a separator; empty when neither can be had.
std::string importTempFolder(const ImportArgs* args);

// Creates path exclusively for writing (mode 0600, never through a symbolic link).
// The open descriptor, or -1 (errno set; EEXIST when something stands under the name).
int importCreateExclusive(const std::string& path);
// The same as a stdio stream opened "wb", or null.
std::FILE* importCreateExclusiveFile(const std::string& path);

// A temporary file created exclusively as folder + prefix + a unique part + suffix. The
// file is removed when the object goes, unless release() was called.
class ImportTempFile {
  public:
    ImportTempFile() = default;
    ~ImportTempFile();
    ImportTempFile(const ImportTempFile&) = delete;
    ImportTempFile& operator=(const ImportTempFile&) = delete;
    ImportTempFile(ImportTempFile&& other) noexcept;
    ImportTempFile& operator=(ImportTempFile&& other) noexcept;

    // Creates the file, empty. With stream, the file is left open for writing ("wb")
    // there; otherwise it is closed again. false when folder is empty or no free name
    // could be created there.
    bool create(const std::string& folder, const std::string& prefix, const std::string& suffix,
                std::FILE** stream = nullptr);
    const std::string& path() const { return path_; }
    bool valid() const { return !path_.empty(); }
    // Removes the file now (when it is still there and this object made it).
    void remove();
    // Keeps the file when the object goes; returns its name.
    std::string release();

  private:
    std::string path_;
};
