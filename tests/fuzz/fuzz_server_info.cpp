// Server information replies: arbitrary bytes never make the parser read outside the
// reply, every text it hands back is terminated inside its own copy, and the lists
// hold no more entries than their capped counts.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ixo_info.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// Touches every byte of an owned text so the sanitizers see any overrun.
size_t touch(const char* text) {
    return text ? std::strlen(text) : 0;
}

void parseOne(const char* prefix, const uint8_t* data, size_t size) {
    const size_t prefixLength = std::strlen(prefix);
    char* reply = static_cast<char*>(memAlloc(prefixLength + size + 1));
    if (!reply) return;
    std::memcpy(reply, prefix, prefixLength);
    if (size) std::memcpy(reply + prefixLength, data, size);
    const size_t length = std::strlen(reply);

    IxoServerInfo* info = nullptr;
    const int32_t rc = ixoParseServerInfo(reply, &info);
    if (rc == 1) {
        check(info != nullptr && info->product != nullptr);
        size_t total = touch(info->product) + touch(info->version) + touch(info->build) +
                       touch(info->directory);
        check(touch(info->tail) <= length);
        check(info->databaseCount >= 0 && info->databaseCount <= IXO_INFO_MAX_DATABASES);
        check((info->databaseCount == 0) == (info->databaseNames == nullptr));
        for (int32_t i = 0; i < info->databaseCount; ++i) total += touch(info->databaseNames[i]);
        check(info->dbInfoCount >= 0 && info->dbInfoCount <= IXO_INFO_MAX_DATABASES);
        check((info->dbInfoCount == 0) == (info->dbInfo == nullptr));
        int64_t sum = 0;
        for (int32_t i = 0; i < info->dbInfoCount; ++i) sum += info->dbInfo[i].first;
        (void)sum;
        (void)total;
        check(ixoDestroyInfoStructure(info) == 1);
    } else {
        check(rc == -5 && info == nullptr);
    }
    memFree(reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    // As it comes, and as the value of each list key, so that random bytes reach the
    // list readers too.
    parseOne("", data, size);
    parseOne("PRODUCT=p\nDATABASES=", data, size);
    parseOne("PRODUCT=p\nDBINFO=", data, size);
    return 0;
}
