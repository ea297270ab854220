// The agent's readers of what the account server hands it: server hosts, upgrade and
// logo addresses, upgrade names and the reply phrases, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/NuvaserverConnection.h"
#include "agent/SuggestionRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    agent::HttpTarget target;
    if (agent::parseAddress(text, target) &&
        (target.host.empty() || target.path.empty() || target.path[0] != '/' || target.port < 1))
        __builtin_trap();
    agent::parseServerHost(text, target);
    const std::string name = agent::upgradeFileName(text);
    if (!name.empty() && (name[0] == '.' || name.find('/') != std::string::npos)) __builtin_trap();
    agent::updateErrorMessage(text, "Brand");
    agent::classifyRegistration(true, text, text, "Brand");
    agent::checkRegistration(text, text, text.substr(size / 2), text);
    agent::percentEncode(text);
    return 0;
}
