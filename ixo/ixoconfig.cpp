// Setting a client handle up from a section of a configuration file.
#include <string>

#include "ixo_api.h"
#include "support/envcfgutil.h"

namespace {

// The value of key (with the DEFAULT fallback), or an empty text.
std::string textOf(ConfigFile* cfg, const char* section, const char* key) {
    char* value = nullptr;
    envCfgGetText(cfg, section, key, &value, nullptr);
    std::string out = value ? value : "";
    if (value) memFree(value);
    return out;
}

int32_t setUp(IXO* ixo, ConfigFile* cfg, const char* section) {
    std::string host = textOf(cfg, section, "IxoHost");
    if (host.empty()) host = textOf(cfg, section, "Host");
    if (host.empty()) host = textOf(cfg, section, "IPAddress");
    if (host.empty()) return IXO_ERR_PARAMETER;

    int32_t queryPort = envCfgGetInt(cfg, section, "QueryPort", nullptr, 0);
    int32_t indexPort = envCfgGetInt(cfg, section, "IndexPort", nullptr, 0);
    int32_t rc = ixoCreateIxo(ixo, host.c_str(), nullptr, queryPort, indexPort);
    if (rc != IXO_OK) return rc;
    ixo->requestMethod = envCfgGetInt(cfg, section, "IxoRequestMethod", nullptr, 0);

    char* proxyHost = nullptr;
    if (envCfgGetText(cfg, section, "IxoProxyHost", &proxyHost, nullptr) == 1) {
        int32_t proxyPort = envCfgGetInt(cfg, section, "IxoProxyPort", nullptr, 0);
        std::string user = textOf(cfg, section, "IxoProxyUser");
        std::string pass = textOf(cfg, section, "IxoProxyPass");
        rc = ixoAddProxySettings(ixo, proxyHost, proxyPort, user.c_str(), pass.c_str());
    }
    if (proxyHost) memFree(proxyHost);
    return rc;
}

}  // namespace

extern "C" SAPIOLUX_EXPORT int32_t ixoCreateIxoFromConfigFile(IXO* ixo, const char* configFile,
                                                              const char* section) {
    if (!ixo || !configFile || !section) return IXO_ERR_PARAMETER;
    ConfigFile* cfg = nullptr;
    if (envCfgLoad(&cfg, configFile, 0) != 0) return IXO_ERR_PARAMETER;
    int32_t rc;
    try {
        rc = setUp(ixo, cfg, section);
    } catch (...) {
        rc = IXO_ERR_MEMORY;
    }
    envCfgClose(&cfg);
    return rc;
}
