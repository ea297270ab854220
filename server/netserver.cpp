#include "server/netserver.h"

#include <cctype>
#include <filesystem>
#include <fstream>

namespace ixoserver {

std::string loggableTarget(const std::string& target) {
    std::string plain;
    std::string text =
        unscrambleTarget(target, plain) ? plain : std::string("(bad scrambled path)");
    // Blank out every "pass=" value, as a parameter name (after '?', '&' or the start).
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t hit = std::string::npos;
        for (size_t p = pos; p + 5 <= text.size(); ++p) {
            if ((p == 0 || text[p - 1] == '&' || text[p - 1] == '?') &&
                std::tolower(static_cast<unsigned char>(text[p])) == 'p' &&
                std::tolower(static_cast<unsigned char>(text[p + 1])) == 'a' &&
                std::tolower(static_cast<unsigned char>(text[p + 2])) == 's' &&
                std::tolower(static_cast<unsigned char>(text[p + 3])) == 's' &&
                text[p + 4] == '=') {
                hit = p;
                break;
            }
        }
        if (hit == std::string::npos) {
            out.append(text, pos, std::string::npos);
            break;
        }
        out.append(text, pos, hit + 5 - pos);
        out += "***";
        size_t end = text.find('&', hit + 5);
        pos = end == std::string::npos ? text.size() : end;
    }
    out = out.substr(0, 200);
    for (auto& ch : out)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return out;
}

void installSignalHandlers(NetServer& server) {
    installStopSignals(server.front());
}

NetServer::NetServer(ServerConfig config)
    : config_(std::move(config)),
      store_(config_.dataPath(), config_.commitIntervalMs),
      dispatcher_(store_, config_),
      front_(FrontOptions{config_.bindAddress,
                          {config_.queryPort, config_.indexPort},
                          config_.workerThreads,
                          config_.maxBodyBytes,
                          config_.maxHeaderBytes,
                          config_.stopFilePath(),
                          "ixoserver"},
             [this](int listener, const HttpRequestData& request, bool loopback) {
                 DispatchResult result = dispatcher_.handle(
                     listener == 0 ? PortKind::Query : PortKind::Index, request, loopback);
                 return FrontAnswer{std::move(result.reply), result.shutdown};
             }) {
    front_.onServed = [this](int listener, const std::string& target, int status) {
        if (log)
            log(std::to_string(status) + " " + (listener == 0 ? "Q " : "I ") +
                loggableTarget(target));
    };
}

NetServer::~NetServer() = default;

bool NetServer::start(std::string& error) {
    store_.setShards(config_.shards, config_.readOnly, config_.shardTimeoutMs);
    if (!store_.open(error)) return false;
    if (!front_.start(error)) return false;
    dispatcher_.setPorts(queryPort(), indexPort());
    std::error_code ec;
    {
        std::ofstream ports(config_.portsFilePath() + ".tmp", std::ios::binary | std::ios::trunc);
        ports << "QUERYPORT=" << queryPort() << "\nINDEXPORT=" << indexPort() << "\n";
    }
    std::filesystem::rename(config_.portsFilePath() + ".tmp", config_.portsFilePath(), ec);
    return true;
}

int NetServer::run() {
    int rc = front_.run();
    store_.close();
    std::error_code ec;
    std::filesystem::remove(config_.stopFilePath(), ec);
    std::filesystem::remove(config_.portsFilePath(), ec);
    return rc;
}

}  // namespace ixoserver
