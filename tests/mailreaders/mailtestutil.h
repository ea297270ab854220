// Helpers of the mailbox reader tests: SHA-256 of a text, little-endian patching of
// copies of store files, paths of the shared test stores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mailtest {

std::string sha256Hex(const std::string& bytes);

// The shared real stores (read-only; tests copy them before damaging them).
std::string sharedMail(const std::string& relative);

void put32(std::string& bytes, size_t at, uint32_t value);
void put16(std::string& bytes, size_t at, uint16_t value);
uint32_t get32(const std::string& bytes, size_t at);

// Rows of a tab-separated file, the header line dropped.
std::vector<std::vector<std::string>> readTsv(const std::string& path);

}  // namespace mailtest
