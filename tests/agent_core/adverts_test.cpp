// Adverts: banner downloads, queries against a real ixoserver (per-term quota, the query
// without terms, the thread's hand-over) and rotation.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>

#include "agent/adverts.h"
#include "agent/profiling.h"
#include "agent_test_support.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"
#include "tests/common/tls_peer.h"

using namespace agent;
using testing_support::LoopbackServer;
namespace fs = std::filesystem;

namespace {

const std::string kBitmap = std::string("BM\x36\0\0\0\0\0\0\0\x36\0\0\0", 14) + "picture";

// Serves "/banners/<name>" as a bitmap for the names it knows, an HTML page with status
// 200 for "html.bmp", and an HTML 404 page for everything else.
void serveBanners(LoopbackServer& server, std::set<std::string> good) {
    server.setHandler([good](const std::string& request) {
        const std::string path = request.substr(4, request.find(' ', 4) - 4);
        const std::string name = path.rfind("/banners/", 0) == 0 ? path.substr(9) : "";
        if (good.count(name)) return LoopbackServer::httpReply(kBitmap + name, "image/bmp");
        if (name == "html.bmp")
            return LoopbackServer::httpReply("<html>moved</html>", "text/html", 200);
        return LoopbackServer::httpReply("<html>Not Found</html>", "text/html", 404);
    });
}

AdvertConfig bannerConfig(const LoopbackServer& server, const testing_support::TempDir& dir) {
    AdvertConfig c;
    c.downloadHost = "127.0.0.1:" + std::to_string(server.port());
    c.prefix = "/banners/";
    c.folder = dir.file("BannerAds");
    c.timeoutSeconds = 5;
    return c;
}

UserProfile profileOf(const std::vector<std::string>& terms) {
    UserProfile p = profileCreate(2, 200, 1500);
    for (size_t i = 0; i < terms.size(); ++i)
        p.categories[i % 2].terms.push_back({600 - static_cast<int32_t>(i), terms[i]});
    return p;
}

std::vector<std::string> sortedNames(const AdvertSet& set) {
    std::vector<std::string> out;
    for (const auto& a : set) out.push_back(a.name);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(AdvertBanner, KeepsOnlyWholeBitmapsUnderSafeNames) {
    testing_support::TempDir dir;
    LoopbackServer server;
    serveBanners(server, {"sun.bmp", "my%20ad%26x.bmp"});
    const AdvertConfig c = bannerConfig(server, dir);

    std::string picture;
    ASSERT_TRUE(fetchBanner(c, "sun.bmp", &picture));
    EXPECT_EQ(picture, kBitmap + "sun.bmp");
    EXPECT_EQ(testing_support::readWholeFile(c.folder + "/sun.bmp"), kBitmap + "sun.bmp");
    EXPECT_EQ(server.lastRequest().rfind("GET /banners/sun.bmp HTTP/1.0\r\n", 0), 0u);
    ASSERT_TRUE(fetchBanner(c, "sun.bmp", &picture));  // cached: no second download
    EXPECT_EQ(server.requestCount(), 1u);
    // The name is one value of the path; the file keeps the name as it is.
    ASSERT_TRUE(fetchBanner(c, "my ad&x.bmp", &picture));
    EXPECT_EQ(server.lastRequest().rfind("GET /banners/my%20ad%26x.bmp HTTP/1.0\r\n", 0), 0u);
    EXPECT_TRUE(fs::exists(c.folder + "/my ad&x.bmp"));
    // An error page, or a page that is no bitmap, leaves no file.
    for (const std::string bad : {"missing.bmp", "html.bmp"}) {
        EXPECT_FALSE(fetchBanner(c, bad, &picture));
        EXPECT_FALSE(fs::exists(c.folder + "/" + bad));
    }
    // Names that would leave the folder, hide a file or break a line are never asked for.
    const size_t before = server.requestCount();
    for (const char* bad : {"../escape.bmp", "sub/x.bmp", ".hidden", "a\\b", "line\nbreak", ""})
        EXPECT_FALSE(fetchBanner(c, bad, &picture)) << bad;
    EXPECT_EQ(server.requestCount(), before);
}

TEST(AdvertBanner, HttpsDownloadHostIsVerified) {
    if (!testing_support::tlsToolsAvailable()) GTEST_SKIP() << "openssl or python3 missing";
    testing_support::TempDir dir;
    testing_support::TestCertificates certs;
    ASSERT_TRUE(certs.ok());
    LoopbackServer server;
    serveBanners(server, {"sun.bmp", "moon.bmp"});
    testing_support::TlsRelay front(server.port(), certs.issue("banners", "IP:127.0.0.1"));
    ASSERT_GT(front.port(), 0);
    AdvertConfig c = bannerConfig(server, dir);
    c.downloadHost = "https://127.0.0.1:" + std::to_string(front.port()) + "/";
    c.fetch.caFile = certs.caFile();
    std::string picture;
    ASSERT_TRUE(fetchBanner(c, "sun.bmp", &picture));
    EXPECT_EQ(picture, kBitmap + "sun.bmp");
    EXPECT_EQ(server.lastRequest().rfind("GET /banners/sun.bmp HTTP/1.0\r\n", 0), 0u);
    // Without the authority the server is not trusted: no banner, no file.
    c.fetch.caFile.clear();
    EXPECT_FALSE(fetchBanner(c, "moon.bmp", &picture));
    EXPECT_FALSE(fs::exists(c.folder + "/moon.bmp"));
}

TEST(AdvertRotation, MovesOnlyAfterThreeSecondsAndWraps) {
    CAdvertRotation r;
    EXPECT_FALSE(r.OnNewText(1000));
    r.Reset(2, 100);
    std::vector<int> seen;
    for (int64_t now : {103, 104, 105, 110}) seen.push_back(r.OnNewText(now) ? r.Current() : -9);
    EXPECT_EQ(seen, (std::vector<int>{-9, 1, -9, 0}));
    r.Reset(0, 200);
    EXPECT_EQ(r.Current(), -1);
}

// An ixoserver holds advert documents (references are banner names) in database "Adverts"
// and one elsewhere.
TEST(AdvertServer, ProfileTermsShareTwentyAdvertsElseAnyAdvertsAreTaken) {
#ifndef IXOSERVER_BIN
    GTEST_SKIP() << "ixoserver is not built";
#endif
    testing_support::TempDir dir;
    LoopbackServer banners;
    auto ixo = std::make_unique<agent_test::ServerProcess>(dir.path() / "server");
    ASSERT_TRUE(ixo->running());
    std::string idx;
    auto add = [&](const std::string& ref, const std::string& db, const std::string& text) {
        idx += "#IXOREFERENCE " + ref + "\n#IXOTITLE Advert " + ref + "\n#IXODBNAME " + db +
               "\n#IXOCONTENT\n" + text + "\n#IXOENDDOC\n";
    };
    for (int i = 1; i <= 4; ++i)
        add("apple" + std::to_string(i) + ".bmp", "Adverts",
            "apple orchard cider apple " + std::string(static_cast<size_t>(i), 'x'));
    add("volcano.bmp", "Adverts", "volcano lava eruption");
    add("sailing.bmp", "Adverts", "sailing dinghy mainsail");
    add("../escape.bmp", "Adverts", "volcano sailing");
    add("missing.bmp", "Adverts", "volcano sailing");
    add("webonly.bmp", "Web", "apple volcano sailing");
    ASSERT_TRUE(ixo->index(idx));
    serveBanners(banners, {"apple1.bmp", "apple2.bmp", "apple3.bmp", "apple4.bmp", "volcano.bmp",
                           "sailing.bmp", "webonly.bmp"});
    AdvertConfig config = bannerConfig(banners, dir);
    config.host = "127.0.0.1";
    config.port = ixo->queryPort;
    config.database = "Adverts";
    const std::vector<std::string> all{"apple1.bmp", "apple2.bmp",  "apple3.bmp",
                                       "apple4.bmp", "sailing.bmp", "volcano.bmp"};
    // Three terms: a quota of six each, more than a term's five results. Only adverts of
    // the database with a bitmap banner under a safe name are kept.
    UserProfile three = profileOf({"APPLE", "VOLCANO", "SAILING"});
    EXPECT_EQ(sortedNames(fetchAdverts(config, advertTerms(&three))), all);
    // Seven terms: a quota of two, so APPLE brings two of its four adverts.
    UserProfile seven = profileOf({"APPLE", "NOTHING", "NONE", "ZILCH", "NADA", "NIX", "VOID"});
    EXPECT_EQ(fetchAdverts(config, advertTerms(&seven)).size(), 2u);
    // Thirty terms: a quota of 0, so the query without terms fills the set (on the advert
    // thread, which hands its set over once).
    std::vector<std::string> thirty;
    for (int i = 0; i < 30; ++i) thirty.push_back("VOLCANO" + std::to_string(i));
    UserProfile many = profileOf(thirty);
    CAdvertFetcher fetcher;
    std::atomic<int> done{0};
    ASSERT_TRUE(fetcher.Start(config, advertTerms(&many), [&] { ++done; }));
    ASSERT_TRUE(fetcher.WaitIdle(std::chrono::seconds(30)));
    EXPECT_EQ(done, 1);
    auto taken = fetcher.Take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(sortedNames(*taken), all);
    EXPECT_FALSE(fetcher.Take());
}
