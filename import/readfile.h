// Reading a whole input file into a string, for the importers that parse their input
// in one piece.
#pragma once

#include <cstdio>
#include <string>

// Appends the bytes of the file (opened "rb") to out. False when the file cannot be
// opened or a read fails; out then holds what was read before the failure.
inline bool importReadWholeFile(const char* name, std::string& out) {
    std::FILE* f = std::fopen(name, "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}
