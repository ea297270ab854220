#include "server/vantri/serverstate.h"

#include <filesystem>

#include "ixo.h"
#include "memutil.h"
#include "support/envcfgutil.h"
#include "support/fileutil.h"
#include "tools/ixocredentials.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;

// DIRECTORY of the SERVER section, relative to the home unless absolute.
std::string dataFolder(const std::string& home) {
    std::string folder = "ixo/data";
    ConfigFile* cfg = nullptr;
    if (envCfgLoad(&cfg, (home + "/ixo/ixo.ini").c_str(), 0) == 0 && cfg) {
        char* value = nullptr;
        if (envCfgGetText(cfg, "SERVER", "DIRECTORY", &value, nullptr) && value && *value)
            folder = value;
        if (value) memFree(value);
        envCfgClose(&cfg);
    }
    return fs::path(folder).is_absolute() ? folder : (fs::path(home) / folder).string();
}

int64_t folderBytes(const std::string& folder) {
    int64_t total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) {
            const auto size = it->file_size(sizeError);
            if (!sizeError) total += static_cast<int64_t>(size);
        }
    }
    return total;
}

}  // namespace

ServerState probeServer(const std::string& home) {
    ServerState state;
    state.dataFolder = dataFolder(home);
    state.indexBytes = folderBytes(state.dataFolder);
    ixocredentials::ServerCredentials c;
    std::error_code ec;
    // The server writes its ports file once it listens and removes it when it stops.
    if (!fs::exists(home + "/ixo/ports", ec) || !ixocredentials::readServerCredentials(home, c))
        return state;
    state.queryPort = c.queryPort;
    state.indexPort = c.indexPort;
    IXO ixo{};
    if (c.queryPort <= 0 ||
        ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", c.queryPort, c.indexPort) != IXO_OK)
        return state;
    ixoSetHTTPTimeOut(&ixo, 1, 1000);
    if (c.hasQueryPair())
        ixoSetUserParameters(&ixo, c.queryUser.c_str(), c.queryPassword.c_str(), nullptr, nullptr);
    IxoServerInfo* info = nullptr;
    if (ixoGetInfoToStructure(&ixo, &info) == IXO_OK && info) {
        state.running = true;
        state.documents = info->documentCount;
    }
    if (info) ixoDestroyInfoStructure(info);
    ixoDestroyIxo(&ixo);
    return state;
}

bool stopServer(const std::string& home) {
    bool asked = false;
    ixocredentials::ServerCredentials c;
    if (ixocredentials::readServerCredentials(home, c) && c.queryPort > 0) {
        IXO ixo{};
        if (ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", c.queryPort, c.indexPort) == IXO_OK) {
            ixoSetHTTPTimeOut(&ixo, 2, 1000);
            std::string request = "/IXOSHUTDOWN";
            if (c.hasIndexPair())
                request += "?" + ixocredentials::credentialParameters(c.indexUser, c.indexPassword);
            char* reply = nullptr;
            asked = ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, request.c_str(), nullptr,
                                           &reply) == IXO_OK;
            if (reply) memFree(reply);
            ixoDestroyIxo(&ixo);
        }
    }
    const std::string stopFile = home + "/ixo/ixo.stop";
    const bool written = fileWriteWhole(stopFile.c_str(), "", 0) == 1;
    return asked || written;
}

}  // namespace vantri
