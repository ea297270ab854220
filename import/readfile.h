// Reading a whole input file into a string, for the importers that parse their input
// in one piece, and the owner of an open stdio file that closes it.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Appends the bytes of the file (opened "rb") to out. False when the file cannot be
// opened or a read fails; out then holds what was read before the failure.
inline bool importReadWholeFile(const char* name, std::string& out) {
    FilePtr f(std::fopen(name, "rb"));
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    return !std::ferror(f.get());
}
