// The credentials and ports of a personal retrieval server, read from its home folder:
// section SERVER of HOME/ixo/ixo.ini (INDEXUSER, INDEXPASSWORD, QUERYUSER, QUERYPASSWORD,
// QUERYPORT, INDEXPORT; a key missing there is taken from DEFAULT) and, while the server
// runs, the ports it actually bound from HOME/ixo/ports. The server generates both pairs
// at its first start, so programs that are handed the home folder (the indexer, the
// command-line client, the control window, the agent's personal-server control and its
// "My Computer" queries) send them as the handle's user parameters, "&user=" and
// "&pass=": the index pair with index commands and the shutdown, the query pair with
// queries. Header only: every program that links the support library can use it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "memutil.h"
#include "support/envcfgutil.h"
#include "support/percent.h"

namespace ixocredentials {

struct ServerCredentials {
    std::string indexUser, indexPassword;  // needed by index commands and /IXOSHUTDOWN
    std::string queryUser, queryPassword;  // needed by queries (none made if QUERYAUTH=OFF)
    int queryPort = 0, indexPort = 0;      // the bound ports, else those of the ini file

    // Whether the server keeps that pair (an empty one is not sent).
    bool hasIndexPair() const { return !indexUser.empty() || !indexPassword.empty(); }
    bool hasQueryPair() const { return !queryUser.empty() || !queryPassword.empty(); }
};

// Reads the credentials and ports of the server whose home is `home`. False when
// HOME/ixo/ixo.ini cannot be read (out is left as it was then).
inline bool readServerCredentials(const std::string& home, ServerCredentials& out) {
    const std::string base = (home.empty() ? std::string(".") : home) + "/ixo/";
    ConfigFile* cfg = nullptr;
    if (envCfgLoad(&cfg, (base + "ixo.ini").c_str(), 0) != 0 || !cfg) return false;
    auto text = [&](const char* key) {
        char* value = nullptr;
        envCfgGetText(cfg, "SERVER", key, &value, nullptr);
        std::string s = value ? value : "";
        if (value) memFree(value);
        return s;
    };
    ServerCredentials c;
    c.indexUser = text("INDEXUSER");
    c.indexPassword = text("INDEXPASSWORD");
    c.queryUser = text("QUERYUSER");
    c.queryPassword = text("QUERYPASSWORD");
    c.queryPort = std::atoi(text("QUERYPORT").c_str());
    c.indexPort = std::atoi(text("INDEXPORT").c_str());
    envCfgClose(&cfg);
    if (std::FILE* f = std::fopen((base + "ports").c_str(), "r")) {
        int q = 0, i = 0;
        if (std::fscanf(f, "QUERYPORT=%d\nINDEXPORT=%d", &q, &i) == 2 && q > 0 && i > 0) {
            c.queryPort = q;
            c.indexPort = i;
        }
        std::fclose(f);
    }
    out = std::move(c);
    return true;
}

// "user=USER&pass=PASSWORD" for a request path, each value encoded as the client library
// encodes user parameters.
inline std::string credentialParameters(const std::string& user, const std::string& password) {
    return "user=" + encodeParameterValue(user) + "&pass=" + encodeParameterValue(password);
}

}  // namespace ixocredentials
