// ixoserver [-runhidden] [--home DIR]: the personal retrieval server.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "server/netserver.h"
#include "server/srvconfig.h"

namespace {

void usage() {
    std::fprintf(stderr, "usage: ixoserver [-runhidden] [--home DIR]\n");
}

}  // namespace

int main(int argc, char** argv) {
    bool hidden = false;
    std::string home = ".";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-runhidden") == 0) {
            hidden = true;
        } else if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
            home = argv[++i];
        } else {
            usage();
            return 2;
        }
    }
    // Everything the server writes (ini, log, index) is for its owner only.
    ::umask(077);
    ixoserver::ServerConfig config;
    std::string error;
    if (!ixoserver::loadServerConfig(home, config, error)) {
        std::fprintf(stderr, "ixoserver: %s\n", error.c_str());
        return 1;
    }
    // Hidden, the server writes its messages to ixo/ixoserver.log instead of the terminal.
    std::ofstream logFile;
    std::mutex logMutex;
    if (hidden) {
        const std::string logPath =
            (std::filesystem::path(home) / "ixo" / "ixoserver.log").string();
        logFile.open(logPath, std::ios::app);
        ::chmod(logPath.c_str(), 0600);  // a log from an earlier version may be readable to all
    }
    auto message = [&](const std::string& text) {
        std::lock_guard lock(logMutex);
        if (hidden) {
            char stamp[32];
            std::time_t now = std::time(nullptr);
            std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
            logFile << stamp << " " << text << "\n";
            logFile.flush();
        } else {
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        }
    };

    ixoserver::NetServer server(config);
    if (!server.start(error)) {
        message("ixoserver: " + error);
        if (hidden) std::fprintf(stderr, "ixoserver: %s\n", error.c_str());
        return 1;
    }
    ixoserver::installSignalHandlers(server);
    std::string dbs;
    for (const auto& d : server.store().databases()) dbs += (dbs.empty() ? "" : ", ") + d.name;
    message("ixoserver: query port " + std::to_string(server.queryPort()) + ", index port " +
            std::to_string(server.indexPort()) + ", " +
            std::to_string(server.store().documentCount()) + " documents, databases: " + dbs +
            ", data in " + config.dataPath());
    if (config.credentialsGenerated)
        message("ixoserver: index user and password generated in " + config.iniPath());
    if (hidden) server.log = message;
    int rc = server.run();
    message("ixoserver: stopped");
    return rc;
}
