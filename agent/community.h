// The community source: when the user agrees to be shown to the community, one
// category of the interest profile is indexed, at most once an hour, into the
// community retrieval server as a "People" document, so that other users' community
// queries can suggest this user; when the user withdraws, those documents are deleted.
//
// Every document the agent indexes there has the reference "<user>-<k>" (k the
// profile category), and withdrawing deletes exactly the references "<user>-0" to
// "<user>-<n-1>", so a user who withdraws leaves nothing behind.
//
// The decision (the hour, the switches, the document) is taken on the window's thread;
// the exchange with the server runs on a sender thread, one job after the other in the
// order they were asked for, so the window never waits for the community server.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace agent {

class CAppParameters;
struct UserProfile;

inline constexpr int64_t kCommunityIntervalSeconds = 3600;
inline constexpr const char* kCommunityDefaultDatabase = "Default";

// One exchange with the community server.
struct CommunityJob {
    enum class Kind { Contribute, Withdraw };
    Kind kind = Kind::Contribute;
    std::string host;
    int32_t queryPort = 0, indexPort = 0;
    bool useProxy = false;
    std::string proxyHost;
    int32_t proxyPort = 0;
    std::string proxyUser, proxyPassword;
    std::string document;    // Contribute: the IDX document
    std::string references;  // Withdraw: "<user>-0+<user>-1+...", each percent-encoded
    int32_t timeoutSeconds = 20;
};

// The reference of the user's document of profile category k: "<user>-<k>".
std::string communityReference(const std::string& user, int k);
// Whether a user name can make references the server keeps as they are: not empty,
// no blanks or control bytes.
bool communityUserUsable(std::string_view user);

// Sends one job; true when the server took it.
bool runCommunityJob(const CommunityJob& job);

class CCommunity {
  public:
    CCommunity();
    ~CCommunity();  // a job still running is left to finish on its own
    CCommunity(const CCommunity&) = delete;
    CCommunity& operator=(const CCommunity&) = delete;

    // The contribution step, run after each profile update (forced false) and when the
    // settings change (forced true). Nothing without a profile or while not connected;
    // unless forced, at most once per kCommunityIntervalSeconds (a call within that
    // time of the last one does nothing). Then, only when "ShowCommunity" is set and a
    // server is located: with "CommunityShowMe" set, a random non-empty category is
    // contributed; otherwise, when forced, the user's documents are withdrawn.
    // random picks the category; now is in seconds. The job that was decided on, which
    // is also handed to the sender thread unless send is false.
    std::optional<CommunityJob> Contribute(bool forced, const CAppParameters& settings,
                                           const UserProfile* profile, bool notConnected,
                                           bool located, int64_t now, uint32_t random,
                                           bool send = true);

    bool Idle() const;
    // Waits at most limit until every job handed over is sent; true when so.
    bool WaitIdle(std::chrono::milliseconds limit) const;

  private:
    struct Sender;
    std::shared_ptr<Sender> m_sender;
    std::optional<int64_t> m_last;
};

}  // namespace agent
