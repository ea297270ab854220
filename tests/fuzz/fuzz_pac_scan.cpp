// The automatic-configuration scan over arbitrary text: no read past the end, and a
// result is always host characters (at most 511) and a port from 1 to 65535 that the
// text holds after a "PROXY".
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/proxysetup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so any read past the end shows under AddressSanitizer.
    std::string text(reinterpret_cast<const char*>(data), size);
    auto found = agent::scanAutoConfig(std::string_view(text.data(), text.size()));
    if (!found) return 0;
    if (found->host.empty() || found->host.size() > agent::kMaxProxyHostLength) std::abort();
    if (found->port < 1 || found->port > 65535) std::abort();
    for (char c : found->host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_')
            std::abort();
    if (text.find("PROXY", 0) == std::string::npos ||
        text.find(found->host + ":") == std::string::npos)
        std::abort();
    return 0;
}
