#include "agent/service.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "agent/AppParameters.h"
#include "ixo.h"
#include "platform/shellopen.h"
#include "support/envcfgutil.h"
#include "support/fileutil.h"
#include "tools/ixocredentials.h"

namespace agent {
namespace {

// QUERYPORT and INDEXPORT of section SERVER; false when the file cannot be read.
bool readPorts(const std::string& iniFile, int32_t& queryPort, int32_t& indexPort) {
    ConfigFile* cfg = nullptr;
    if (envCfgLoad(&cfg, iniFile.c_str(), ENVCFG_OWNED) != 0 || !cfg) return false;
    queryPort = envCfgGetInt(cfg, "SERVER", "QUERYPORT", nullptr, 0);
    indexPort = envCfgGetInt(cfg, "SERVER", "INDEXPORT", nullptr, 0);
    envCfgClose(&cfg);
    return true;
}

}  // namespace

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    char last = folder.back();
    return (last == '/' || last == '\\') ? folder + name : folder + "/" + name;
}

bool CPersonalServer::Detect(bool start) {
    m_available = false;
    std::string path = m_params.GetPersonalIxoPath();
    if (path.empty()) return false;
    int32_t queryPort = 0, indexPort = 0;
    if (!readPorts(joinPath(path, "ixo/ixo.ini"), queryPort, indexPort) || queryPort == 0)
        return false;
    m_params.SetPersonalIxoQueryPort(queryPort);
    m_available = true;
    if (start) Start(false);
    return true;
}

bool CPersonalServer::Start(bool visible) {
    std::string path = m_params.GetPersonalIxoPath();
    if (path.empty()) {
        if (onMessage)
            onMessage(kNotInstalledTitle, kNotInstalledText);
        else
            std::fprintf(stderr, "%s: %s\n", kNotInstalledTitle, kNotInstalledText);
        return false;
    }
    std::vector<std::string> args;
    if (!visible) args.push_back("-runhidden");
    return platform::shellOpen(m_params.GetPersonalIxoExeFilePath(), args, path, visible);
}

bool CPersonalServer::Stop() {
    std::string path = m_params.GetPersonalIxoPath();
    if (path.empty()) return false;
    // The ports come from the same "ixo/ixo.ini" under Path that detection read, so the
    // request reaches the server that was started, whatever the working folder is.
    int32_t queryPort = 0, indexPort = 0;
    if (readPorts(joinPath(path, "ixo/ixo.ini"), queryPort, indexPort) && queryPort != 0) {
        IXO ixo{};
        if (ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", queryPort, indexPort) == IXO_OK) {
            ixoSetHTTPTimeOut(&ixo, 5, 1000);
            // The server takes the shutdown only with its index user and password.
            ixocredentials::ServerCredentials credentials;
            std::string request = "/IXOSHUTDOWN";
            if (ixocredentials::readServerCredentials(path, credentials) &&
                credentials.hasIndexPair())
                request += "?" + ixocredentials::credentialParameters(credentials.indexUser,
                                                                      credentials.indexPassword);
            char* reply = nullptr;
            ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, request.c_str(), nullptr, &reply);
            if (reply) memFree(reply);
            ixoDestroyIxo(&ixo);
        }
    }
    return fileWriteWhole(joinPath(path, "ixo/ixo.stop").c_str(), "", 0) == 1;
}

bool CPersonalServer::WaitReady(int timeoutMs, int* documents) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int32_t port = m_params.GetPersonalIxoQueryPort();
    const std::string home = m_params.GetPersonalIxoPath();
    do {
        IXO ixo{};
        if (ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", port, 0) == IXO_OK) {
            ixoSetHTTPTimeOut(&ixo, 2, 1000);
            // Read on every try: a server started just now writes its pair at start-up.
            ixocredentials::ServerCredentials credentials;
            if (!home.empty() && ixocredentials::readServerCredentials(home, credentials) &&
                credentials.hasQueryPair())
                ixoSetUserParameters(&ixo, credentials.queryUser.c_str(),
                                     credentials.queryPassword.c_str(), nullptr, nullptr);
            IxoServerInfo* info = nullptr;
            int32_t rc = ixoGetInfoToStructure(&ixo, &info);
            ixoDestroyIxo(&ixo);
            if (rc == IXO_OK && info) {
                if (documents) *documents = info->documentCount;
                ixoDestroyInfoStructure(info);
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

}  // namespace agent
