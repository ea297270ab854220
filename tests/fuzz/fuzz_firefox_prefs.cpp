// The prefs.js reader and the proxy-address parser over arbitrary text: no
// out-of-bounds access, and only "network.proxy." names with bounded strings come back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/proxysetup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& [name, value] : agent::readFirefoxPrefs(text)) {
        if (name.rfind("network.proxy.", 0) != 0) std::abort();
        if (value.text.size() > 4096) std::abort();
    }
    if (auto address = agent::parseProxyAddress(text)) {
        if (address->host.empty() || address->host.size() > agent::kMaxProxyHostLength ||
            address->port < 1 || address->port > 65535)
            std::abort();
        if (address->host.find_first_of(" \r\n/@") != std::string::npos) std::abort();
    }
    return 0;
}
