// The account server's handling of arbitrary requests: the HTTP parser, the account
// parameters and the file names, answered with no account file open (so no slow
// hashing) and folders that do not exist (no sockets, nothing written).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/httpreq.h"
#include "server/nuvaserver/accounts.h"
#include "server/nuvaserver/nuvaconfig.h"
#include "server/nuvaserver/nuvaservice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static nuvaserver::NuvaConfig config = [] {
        nuvaserver::NuvaConfig c;
        c.home = "/nonexistent-nuvaserver-home";
        c.upgradeFile = "next.run";
        c.upgradeVersion = "2.0";
        c.replyText = nuvaserver::replySections(
            "[SERVER]\nPORT=1\n[Settings]\nIXO=x\n[Other]\nA=1\n; c\nb\n");
        return c;
    }();
    static nuvaserver::AccountStore accounts;
    static nuvaserver::NuvaService service(config, accounts);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ixoserver::HttpRequestData request;
    const ixoserver::ParseLimits limits{16u << 10, 64u << 10};
    if (ixoserver::parseHttpRequest(bytes, limits, true, request) ==
        ixoserver::ParseStatus::Complete)
        service.handle(request);
    nuvaserver::replySections(std::string(bytes));
    nuvaserver::maskSecrets(bytes);
    nuvaserver::compareVersions(std::string(bytes.substr(0, size / 2)),
                                std::string(bytes.substr(size / 2)));
    return 0;
}
