// Internal helpers of the mailbox readers: a store file opened for reading only whose
// every read is checked against the file's size, little-endian fields, directory
// listings and owned result lists.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mailstore {

inline uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t le64(const unsigned char* p) {
    return static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

// A file opened "rb". The size is taken once at open; reads outside it fail without
// touching the file, so no offset or length from the file's own content is trusted.
class StoreFile {
  public:
    StoreFile() = default;
    ~StoreFile() { close(); }
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

    bool open(const std::string& path);
    void close();
    bool isOpen() const { return file_ != nullptr; }
    uint64_t size() const { return size_; }
    // True when [pos, pos + n) lies inside the file.
    bool contains(uint64_t pos, uint64_t n) const { return pos <= size_ && n <= size_ - pos; }
    // Reads n bytes at pos; false when they are not all inside the file or the read fails.
    bool readAt(uint64_t pos, void* buffer, size_t n) const;
    bool readU32(uint64_t pos, uint32_t& value) const;

  private:
    FILE* file_ = nullptr;
    uint64_t size_ = 0;
};

// Names (without extension, sorted) of the regular files in directory whose extension
// is ext, compared without regard to case ("dbx" matches "In.DBX").
std::vector<std::string> listWithExtension(const std::string& directory, const std::string& ext);
// The list as an owned, null-terminated array of owned texts; null when it is empty or
// memory ran out (*count is then 0).
char** toOwnedList(const std::vector<std::string>& names, int32_t* count);
// Writes n bytes to a new file opened with mode ("wb" or "w+b"); false on any failure.
bool writeFile(const char* name, const char* mode, const char* data, size_t n);
// True when a regular file of that name exists.
bool fileExists(const std::string& path);
// An owned copy, or null.
char* ownedCopy(const std::string& text);

}  // namespace mailstore
