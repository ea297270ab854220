// nuvaserver [--home DIR]: the account server. Agents register with it and log in to
// receive their configuration, upgrade offers and banner adverts.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "server/httpfront.h"
#include "server/nuvaserver/accounts.h"
#include "server/nuvaserver/nuvaconfig.h"
#include "server/nuvaserver/nuvaservice.h"

namespace {

const char kHelp[] =
    "usage: nuvaserver [--home DIR]\n"
    "\n"
    "The account server of the desktop agents. Agents register an account with it\n"
    "and log in to receive their configuration (retrieval server, databases, logos,\n"
    "settings pages, advert and community settings), upgrade offers and banners.\n"
    "\n"
    "DIR (default: the current folder) holds nuvaserver.ini, written with defaults\n"
    "on the first start, and the accounts (ACCOUNTS, an SQLite file; passwords are\n"
    "kept as salted hashes only). Once the port is bound it is written to\n"
    "DIR/nuvaserver.port. The server stops on SIGTERM, SIGINT or when the file\n"
    "DIR/nuvaserver.stop appears.\n";

}  // namespace

int main(int argc, char** argv) {
    std::string home = ".";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
            home = argv[++i];
        } else {
            std::fputs(kHelp, stderr);
            return 2;
        }
    }
    // Everything the server writes (ini, accounts) is for its owner only.
    ::umask(077);
    nuvaserver::NuvaConfig config;
    std::string error;
    if (!nuvaserver::loadNuvaConfig(home, config, error)) {
        std::fprintf(stderr, "nuvaserver: %s\n", error.c_str());
        return 1;
    }
    nuvaserver::AccountStore accounts;
    if (!accounts.open(config.resolve(config.accounts), error)) {
        std::fprintf(stderr, "nuvaserver: %s\n", error.c_str());
        return 1;
    }
    nuvaserver::NuvaService service(config, accounts);
    ixoserver::FrontOptions options;
    options.bindAddress = config.bindAddress;
    options.ports = {config.port};
    options.workerThreads = config.workerThreads;
    options.maxBodyBytes = 64u << 10;  // requests carry no bodies worth having
    options.maxHeaderBytes = 16u << 10;
    options.stopFilePath = config.stopFilePath();
    options.serverName = "nuvaserver";
    ixoserver::HttpFront front(options, [&](int, const ixoserver::HttpRequestData& request, bool) {
        return service.handle(request);
    });
    std::mutex logMutex;
    front.onServed = [&](int, const std::string& target, int status) {
        char stamp[32];
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", ::localtime_r(&now, &tm));
        std::lock_guard lock(logMutex);
        std::printf("%s %d %s\n", stamp, status, nuvaserver::maskSecrets(target).c_str());
        std::fflush(stdout);
    };
    if (!front.start(error)) {
        std::fprintf(stderr, "nuvaserver: %s\n", error.c_str());
        return 1;
    }
    service.setPort(front.boundPort(0));
    {
        const std::string portFile = config.portFilePath();
        std::ofstream out(portFile + ".tmp", std::ios::binary | std::ios::trunc);
        out << "PORT=" << front.boundPort(0) << "\n";
        out.close();
        std::error_code ec;
        std::filesystem::rename(portFile + ".tmp", portFile, ec);
    }
    ixoserver::installStopSignals(front);
    std::printf("nuvaserver: listening on %s:%d, requests to /%s/%s, accounts in %s\n",
                config.bindAddress.c_str(), front.boundPort(0), config.path.c_str(),
                config.executableName.c_str(), config.resolve(config.accounts).c_str());
    std::fflush(stdout);
    const int rc = front.run();
    accounts.close();
    std::error_code ec;
    std::filesystem::remove(config.stopFilePath(), ec);
    std::filesystem::remove(config.portFilePath(), ec);
    std::printf("nuvaserver: stopped\n");
    return rc;
}
