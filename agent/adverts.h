// Adverts: small banner pictures chosen by asking an advert retrieval server about the
// terms of the user's interest profile, kept as files in the "BannerAds" folder and
// shown one after the other while the window shows its query logo.
//
// The fetch runs on a thread of its own over a copy of everything it needs (the server
// settings and the profile's terms are read on the window's thread before it starts).
// It builds a new advert set aside; the window takes the finished set when the thread's
// message arrives and swaps it in whole, so the window never draws a picture the thread
// could still change or free.
//
// Adverts are on only when the Extended file's "ShowAdverts" flag is set and its
// "ADVERTSHOWTIME" is above 0 (0 by default): otherwise no thread, folder or request is
// ever made.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/NuvaserverConnection.h"

namespace agent {

class CAppParameters;
struct UserProfile;

inline constexpr size_t kMaxAdverts = 20;
inline constexpr const char* kBannerFolder = "BannerAds";
// Results asked for per profile term, and by the query without terms.
inline constexpr int32_t kAdvertHitsPerTerm = 5;
inline constexpr int32_t kAdvertFallbackHits = 10;
// A banner longer than this is not taken (banners are small pictures).
inline constexpr size_t kMaxBannerBytes = 2 * 1024 * 1024;
// Seconds an advert stays current at least before new text moves on to the next.
inline constexpr int64_t kAdvertRotationSeconds = 3;

// Where the adverts come from, copied from the settings on the window's thread.
struct AdvertConfig {
    std::string host;          // "AdvertIXO": the advert retrieval server
    int32_t port = 0;          // "AdvertQueryPort"
    std::string database;      // "AdvertDatabase"; empty: every database
    std::string downloadHost;  // "ADVERTDOWNLOADHOST": "host" (port 80) or "host:port",
                               // with "http://" or "https://" (port 443) before it
    std::string prefix;        // "ADVERTPREFIX": the banner's path before its name
    std::string folder = kBannerFolder;
    FetchSettings fetch;          // proxy, and certificates https trusts
    int32_t timeoutSeconds = 20;  // per request
};

// One advert of a set: the result record's document name and title, and the banner's
// bytes (a Windows bitmap file, starting with "BM").
struct Advert {
    std::string name;
    std::string title;
    std::string picture;
};
using AdvertSet = std::vector<Advert>;

bool advertsEnabled(const CAppParameters& settings);
AdvertConfig advertConfigFromSettings(const CAppParameters& settings);

// The terms the adverts are chosen by: every term of the profile, category after
// category, each category's terms in their order (at most 25 characters each); none
// without a profile.
std::vector<std::string> advertTerms(const UserProfile* profile);
// Adverts taken per term: 20 divided by the number of terms (0 for none).
size_t advertQuota(size_t termCount);

// Whether a document name can name a banner file: not empty, at most 200 bytes, no
// '/' or '\\', not starting with '.', no control bytes.
bool bannerNameSafe(std::string_view name);

// Makes the banner of this name available in the folder and hands back its bytes.
// A file already there that starts with "BM" is used without a download. Otherwise
// the banner is asked of the download host (the name percent-encoded after the
// prefix); a reply of status 200 whose body starts with "BM" is written to the file
// (whole or not at all) and used. Anything else leaves the folder as it was: false.
bool fetchBanner(const AdvertConfig& config, const std::string& name, std::string* picture);

// The advert thread's work, run on the calling thread: the per-term queries with their
// quota, then, when they gave nothing, one query without terms; at most 20 adverts,
// each document name once.
// Stops early (with what it has) when cancel becomes true.
AdvertSet fetchAdverts(const AdvertConfig& config, const std::vector<std::string>& terms,
                       const std::atomic<bool>* cancel = nullptr);

// The advert thread. It holds its state by a shared pointer, so a thread that outlives
// its fetcher (a slow server at exit) ends without touching freed memory.
class CAdvertFetcher {
  public:
    CAdvertFetcher();
    ~CAdvertFetcher();  // cancels a running fetch; does not wait for it
    CAdvertFetcher(const CAdvertFetcher&) = delete;
    CAdvertFetcher& operator=(const CAdvertFetcher&) = delete;

    // Starts a fetch unless one runs; done is called on the thread when its set is
    // ready to be taken. False when a fetch runs or the thread could not start.
    bool Start(AdvertConfig config, std::vector<std::string> terms, std::function<void()> done);
    bool HasRun() const { return m_started; }
    bool Idle() const;
    // Waits at most limit for the thread to end; true when it has.
    bool WaitIdle(std::chrono::milliseconds limit) const;
    // Asks a running fetch to stop after its current request.
    void Cancel();
    // The set the last fetch filled, handed over once; nothing while none is waiting.
    std::optional<AdvertSet> Take();

  private:
    struct State;
    std::shared_ptr<State> m_state;
    bool m_started = false;
};

// Which advert of the window's set is current. Kept on the window's thread.
class CAdvertRotation {
  public:
    // A new set of count adverts: the first is current (none when count is 0).
    void Reset(size_t count, int64_t now);
    // New text arrived: moves to the next advert (after the last, the first) when more
    // than kAdvertRotationSeconds passed since the last move. True when it moved.
    bool OnNewText(int64_t now);
    int Current() const { return m_current; }
    size_t Count() const { return m_count; }

  private:
    size_t m_count = 0;
    int m_current = -1;
    int64_t m_lastMove = 0;
};

}  // namespace agent
