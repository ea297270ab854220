#include "agent/adverts.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/profiling.h"
#include "ixo.h"
#include "platform/registry.h"
#include "support/diaglog.h"

namespace agent {
namespace {

constexpr size_t kMaxBannerName = 200;
// The longest profile term an advert query carries.
constexpr size_t kMaxAdvertTerm = 25;
// Query replies of the advert server are short lists; a longer one is not taken.
constexpr int32_t kMaxAdvertReply = 1024 * 1024;

bool startsWithBitmapSignature(std::string_view bytes) {
    return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

// Reads a regular file of the banner folder (never through a symbolic link); false
// when it is missing, unreadable or longer than a banner may be.
bool readBannerFile(const std::string& path, std::string* bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<uint64_t>(st.st_size) <= kMaxBannerBytes;
    std::string out;
    if (ok) {
        out.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < out.size()) {
            ssize_t n = ::read(fd, out.data() + got, out.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ok = got == out.size();
    }
    ::close(fd);
    if (ok) *bytes = std::move(out);
    return ok;
}

// "host", "host:port", "http://host:port/" or "https://host:port/", as host and port
// (80, or 443 for https, unless given); secure tells which.
bool splitDownloadHost(std::string text, std::string* host, int32_t* port, bool* secure) {
    *secure = text.size() >= 8 && strncasecmp(text.c_str(), "https://", 8) == 0;
    if (*secure)
        text.erase(0, 8);
    else if (text.size() >= 7 && strncasecmp(text.c_str(), "http://", 7) == 0)
        text.erase(0, 7);
    if (size_t slash = text.find('/'); slash != std::string::npos) text.resize(slash);
    *port = *secure ? 443 : 80;
    if (size_t colon = text.rfind(':'); colon != std::string::npos) {
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        *port = std::stoi(digits);
        text.resize(colon);
        if (*port < 1 || *port > 65535) return false;
    }
    *host = text;
    return !text.empty();
}

bool downloadBanner(const AdvertConfig& config, const std::string& name, std::string* body) {
    std::string host;
    int32_t port = 0;
    bool secure = false;
    if (!splitDownloadHost(config.downloadHost, &host, &port, &secure)) return false;
    std::string url = config.prefix;
    if (url.empty() || url[0] != '/') url.insert(0, "/");
    url += percentEncode(name);
    const HttpTarget target{secure ? "https" : "http", host, port, url};
    const int32_t timeout = std::max(1, config.timeoutSeconds);
    const auto limit = static_cast<int32_t>(kMaxBannerBytes + 16384);
    HttpFetch got = secure ? fetchSecure(config.fetch, target, timeout, limit)
                           : fetchHttp(config.fetch, target, timeout, limit);
    // Only a whole banner: status 200 and the bitmap signature (an error page is text).
    if (got.sent && got.status == 200 && !got.body.empty() && got.body.size() <= kMaxBannerBytes &&
        startsWithBitmapSignature(got.body)) {
        *body = std::move(got.body);
        return true;
    }
    diagLog("agent: banner %s not taken from %s (status %d)\n", name.c_str(),
            config.downloadHost.c_str(), got.status);
    return false;
}

// One advert query for at most `results` records: their names and titles.
struct AdvertHit {
    std::string name, title;
};

std::vector<AdvertHit> queryAdverts(IXO* ixo, const std::string& term, const std::string& selection,
                                    int32_t results) {
    std::vector<AdvertHit> hits;
    IxoQueryResult result{};
    // The term goes into the request as a value: nothing in it may start a parameter.
    const std::string text = percentEncode(term);
    int32_t rc = ixoDoQueryToStructure(ixo, IXO_METHOD_QUERY, text.c_str(), "", "",
                                       selection.c_str(), "", results, 0, 0, 0, &result);
    if (rc != IXO_OK) {
        diagLog("agent: advert query failed: %s\n", ixoGetError(rc));
        return hits;
    }
    for (int32_t i = 0; i < result.hitCount; ++i) {
        const IxoResultRecord& r = result.records[i];
        hits.push_back({r.name ? r.name : "", r.title ? r.title : ""});
    }
    ixoDestroyQueryResult(&result);
    return hits;
}

}  // namespace

bool advertsEnabled(const CAppParameters& settings) {
    return settings.ExtGetFlag("SHOWADVERTS") && settings.ExtGetNumber("ADVERTSHOWTIME") > 0;
}

AdvertConfig advertConfigFromSettings(const CAppParameters& settings) {
    AdvertConfig c;
    c.host = settings.ExtGetText("ADVERTIXO");
    c.port = settings.ExtGetNumber("ADVERTQUERYPORT");
    c.database = settings.ExtGetText("ADVERTDATABASE");
    c.downloadHost = settings.ExtGetText("ADVERTDOWNLOADHOST");
    c.prefix = settings.ExtGetText("ADVERTPREFIX");
    c.fetch = fetchSettingsFrom(settings);
    return c;
}

std::vector<std::string> advertTerms(const UserProfile* profile) {
    std::vector<std::string> terms;
    if (!profile) return terms;
    for (const auto& category : profile->categories)
        for (const auto& t : category.terms) terms.push_back(t.term.substr(0, kMaxAdvertTerm));
    return terms;
}

size_t advertQuota(size_t termCount) {
    return termCount == 0 ? 0 : kMaxAdverts / termCount;
}

bool bannerNameSafe(std::string_view name) {
    if (name.empty() || name.size() > kMaxBannerName || name[0] == '.') return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        auto b = static_cast<unsigned char>(c);
        return c == '/' || c == '\\' || b < 0x20 || b == 0x7F;
    });
}

bool fetchBanner(const AdvertConfig& config, const std::string& name, std::string* picture) {
    if (!bannerNameSafe(name)) {
        diagLog("agent: an advert's document name is refused as a banner file name\n");
        return false;
    }
    if (::mkdir(config.folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
    const std::string path = config.folder + "/" + name;
    std::string bytes;
    if (readBannerFile(path, &bytes) && startsWithBitmapSignature(bytes)) {
        *picture = std::move(bytes);
        return true;
    }
    if (!downloadBanner(config, name, &bytes)) return false;
    // Written whole beside its place and renamed, so no half banner is ever taken
    // for a cached one.
    if (!platform::writeFileReplacing(path, bytes, 0644)) {
        diagLog("agent: cannot write banner %s\n", path.c_str());
        return false;
    }
    *picture = std::move(bytes);
    return true;
}

AdvertSet fetchAdverts(const AdvertConfig& config, const std::vector<std::string>& terms,
                       const std::atomic<bool>* cancel) {
    AdvertSet set;
    auto cancelled = [&] { return cancel && cancel->load(); };
    IXO ixo{};
    if (config.host.empty() ||
        ixoCreateIxo(&ixo, config.host.c_str(), config.host.c_str(), config.port, 0) != IXO_OK) {
        diagLog("agent: no advert server (AdvertIXO \"%s\")\n", config.host.c_str());
        return set;
    }
    ixoSetEncryption(&ixo, 1, "advert query");
    ixoSetHTTPTimeOut(&ixo, std::max(1, config.timeoutSeconds), 1000);
    ixoSetMaxReplySize(&ixo, kMaxAdvertReply);
    const FetchSettings& f = config.fetch;
    if (f.useProxy && !f.proxyHost.empty() &&
        ixoAddProxySettings(&ixo, f.proxyHost.c_str(), f.proxyPort, f.proxyUser.c_str(),
                            f.proxyPassword.c_str()) != IXO_OK) {
        ixoDestroyIxo(&ixo);
        return set;
    }
    const std::string selection =
        config.database.empty() ? "numbers=-1" : "names=" + percentEncode(config.database);

    // An advert found again by a later term is not taken twice.
    auto known = [&](const std::string& name) {
        return std::any_of(set.begin(), set.end(), [&](const Advert& a) { return a.name == name; });
    };
    auto take = [&](const AdvertHit& hit) {
        std::string picture;
        if (set.size() < kMaxAdverts && !known(hit.name) && fetchBanner(config, hit.name, &picture))
            set.push_back({hit.name, hit.title, std::move(picture)});
    };
    // With more terms than adverts the quota is 0: no term query could add an advert,
    // so none is sent.
    const size_t quota = advertQuota(terms.size());
    for (size_t t = 0; quota > 0 && t < terms.size() && !cancelled(); ++t) {
        if (terms[t].empty()) continue;
        auto hits = queryAdverts(&ixo, terms[t], selection, kAdvertHitsPerTerm);
        for (size_t i = 0; i < hits.size() && i < quota && !cancelled(); ++i) take(hits[i]);
    }
    if (set.empty() && !cancelled()) {
        auto hits = queryAdverts(&ixo, "", selection, kAdvertFallbackHits);
        for (size_t i = 0; i < hits.size() && !cancelled(); ++i) take(hits[i]);
    }
    ixoDestroyIxo(&ixo);
    return set;
}

struct CAdvertFetcher::State {
    mutable std::mutex lock;
    mutable std::condition_variable idle;
    bool running = false;
    std::atomic<bool> cancel{false};
    std::optional<AdvertSet> ready;
};

CAdvertFetcher::CAdvertFetcher() : m_state(std::make_shared<State>()) {}

CAdvertFetcher::~CAdvertFetcher() {
    Cancel();
}

bool CAdvertFetcher::Start(AdvertConfig config, std::vector<std::string> terms,
                           std::function<void()> done) {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (m_state->running) return false;
        m_state->running = true;
        m_state->cancel = false;
    }
    try {
        std::thread([state = m_state, config = std::move(config), terms = std::move(terms),
                     done = std::move(done)] {
            AdvertSet set = fetchAdverts(config, terms, &state->cancel);
            {
                std::lock_guard<std::mutex> guard(state->lock);
                state->ready = std::move(set);
            }
            if (done && !state->cancel) done();
            std::lock_guard<std::mutex> guard(state->lock);
            state->running = false;
            state->idle.notify_all();
        }).detach();
    } catch (...) {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->running = false;
        m_state->idle.notify_all();
        diagLog("agent: cannot start the advert thread\n");
        return false;
    }
    m_started = true;
    return true;
}

bool CAdvertFetcher::Idle() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return !m_state->running;
}

bool CAdvertFetcher::WaitIdle(std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> guard(m_state->lock);
    return m_state->idle.wait_for(guard, limit, [&] { return !m_state->running; });
}

void CAdvertFetcher::Cancel() {
    m_state->cancel = true;
}

std::optional<AdvertSet> CAdvertFetcher::Take() {
    std::lock_guard<std::mutex> guard(m_state->lock);
    std::optional<AdvertSet> out = std::move(m_state->ready);
    m_state->ready.reset();
    return out;
}

void CAdvertRotation::Reset(size_t count, int64_t now) {
    m_count = count;
    m_current = count > 0 ? 0 : -1;
    m_lastMove = now;
}

bool CAdvertRotation::OnNewText(int64_t now) {
    if (m_count == 0 || now - m_lastMove <= kAdvertRotationSeconds) return false;
    m_current = static_cast<int>((static_cast<size_t>(m_current) + 1) % m_count);
    m_lastMove = now;
    return true;
}

}  // namespace agent
