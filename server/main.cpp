// ixoserver [-runhidden] [--home DIR | --user-home]: the personal retrieval server.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "server/netserver.h"
#include "server/srvconfig.h"
#include "support/userdirs.h"

namespace {

const char kUsage[] = "usage: ixoserver [-runhidden] [--home DIR | --user-home]\n";

void usage() {
    std::fputs(kUsage, stderr);
    std::fputs("Try 'ixoserver --help' for more.\n", stderr);
}

void help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "The personal retrieval server: it keeps an index of the user's documents and\n"
        "answers the agent's queries on the loopback address. Its folder holds\n"
        "ixo/ixo.ini (created with defaults when missing: the query and index ports, the\n"
        "index and query users and passwords), the index, the log and the stop file\n"
        "ixo/ixo.stop.\n"
        "\n"
        "  -runhidden    write messages to ixo/ixoserver.log instead of the terminal\n"
        "  --home DIR    the server's folder (default: the working folder)\n"
        "  --user-home   the user's own server folder, $XDG_DATA_HOME/sapiolux/personal\n"
        "                (~/.local/share/sapiolux/personal), created when missing\n"
        "  --help        this text\n"
        "\n"
        "It stops on the shutdown request, on the stop file and on SIGTERM or SIGINT.\n",
        stdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool hidden = false;
    std::string home = ".";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            help();
            return 0;
        } else if (std::strcmp(argv[i], "-runhidden") == 0) {
            hidden = true;
        } else if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
            home = argv[++i];
        } else if (std::strcmp(argv[i], "--user-home") == 0) {
            home = userdirs::personalServerHome();
            if (home.empty()) {
                std::fprintf(stderr, "ixoserver: no home folder (HOME and XDG_DATA_HOME unset)\n");
                return 1;
            }
            if (!userdirs::makePrivateFolders(home + "/ixo")) {
                std::fprintf(stderr, "ixoserver: cannot create %s/ixo: %s\n", home.c_str(),
                             std::strerror(errno));
                return 1;
            }
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
    if (config.queryCredentialsGenerated)
        message("ixoserver: query user and password generated in " + config.iniPath());
    if (hidden) server.log = message;
    int rc = server.run();
    message("ixoserver: stopped");
    return rc;
}
