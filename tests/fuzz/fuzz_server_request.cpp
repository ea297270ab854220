// The server's request parser, scrambled-path decoding and request grammar on arbitrary
// bytes, answered by a real index in a temporary folder (no sockets).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "server/dispatch.h"
#include "server/httpreq.h"
#include "server/idxdoc.h"
#include "server/netserver.h"
#include "server/srvconfig.h"
#include "server/store.h"

namespace {

struct Harness {
    std::string dir;
    ixoserver::ServerConfig config;
    std::unique_ptr<ixoserver::Store> store;
    std::unique_ptr<ixoserver::Dispatcher> dispatcher;

    Harness() {
        char tmpl[] = "/tmp/fuzz_server_XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        dir = tmpl;
        config.home = dir;
        store = std::make_unique<ixoserver::Store>(config.dataPath(), 1000);
        std::string error;
        if (!store->open(error)) std::abort();
        dispatcher = std::make_unique<ixoserver::Dispatcher>(*store, config);
        ixoserver::HttpRequestData seed;
        seed.method = "POST";
        seed.target = "/IXOADDDATA? ";
        seed.body =
            "#IXOREFERENCE a\n#IXOTITLE Alpha\n#IXOFIELD f=\"v\"\n#IXOCONTENT\nalpha "
            "beta\n#IXOENDDOC\n";
        dispatcher->handle(ixoserver::PortKind::Index, seed, true);
        store->commit();
    }
    ~Harness() {
        dispatcher.reset();
        store.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Harness& harness() {
    static Harness h;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness& h = harness();
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ixoserver::ParseLimits limits{4096, 65536};
    ixoserver::HttpRequestData req;
    for (bool eof : {false, true}) {
        if (ixoserver::parseHttpRequest(bytes, limits, eof, req) !=
            ixoserver::ParseStatus::Complete)
            continue;
        // Backups and restores copy whole folders: too slow for a fuzz loop.
        if (req.target.find("BACKUP") != std::string::npos ||
            req.target.find("INITIAL") != std::string::npos)
            continue;
        for (auto port : {ixoserver::PortKind::Query, ixoserver::PortKind::Index}) {
            auto result = h.dispatcher->handle(port, req, true);
            (void)result;
        }
    }
    // The pieces on their own: the bytes as a path, as IDX text, as scrambled text.
    std::string plain;
    ixoserver::unscrambleTarget(bytes, plain);
    ixoserver::splitRequestPath(bytes);
    ixoserver::splitEncodedList(bytes, '+');
    ixoserver::parseIdxText(bytes);
    ixoserver::IdxDocument doc;
    ixoserver::decodeDocData(std::string(bytes), doc);
    int db = 0;
    ixoserver::decodeResultRecord(std::string(bytes), db, doc);
    ixoserver::loggableTarget(std::string(bytes));
    ixoserver::setIniServerValue(std::string(bytes), "INDEXUSER", "u");
    ixoserver::HttpRequestData q;
    q.method = "GET";
    q.target = "/qmethod=" + std::string(bytes.substr(0, 512));
    h.dispatcher->handle(ixoserver::PortKind::Query, q, true);
    return 0;
}
