// Cache key building on arbitrary request text and key modes, followed by a store and
// a lookup of the same request (which must hit), plus the request parameter builders
// that read caller text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ixo.h"
#include "ixo/ixocache.h"
#include "ixo/ixoquery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // First byte: the key mode's six bits (and bit 6 for mode 0). The rest: the text,
    // cut at its first zero byte as a C caller's text would be.
    const int32_t mode = (data[0] & 0x40) ? 0 : (data[0] & 0x3f);
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text.resize(std::strlen(text.c_str()));

    const std::string key = ixo_cache::makeKey(text, mode);
    if (ixo_cache::makeKey(text, mode) != key) std::abort();  // deterministic

    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, 1, 1);
    ixoSetClientCache(&ixo, 2, 1000, mode);
    if (ixoCacheStore(&ixo, text.c_str(), "reply") != 1) std::abort();
    char* reply = nullptr;
    if (ixoCacheLookup(&ixo, text.c_str(), &reply) != 1 || std::strcmp(reply, "reply") != 0) {
        std::abort();
    }
    memFree(reply);
    ixoDestroyIxo(&ixo);

    ixo_query::fieldsParameter(text, text);
    ixo_query::datesParameter(text, 1000000000);
    ixo_query::databasesParameter(text);
    ixo_query::expandTerms(text);
    return 0;
}
