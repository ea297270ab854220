#include "agent/community.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/profiling.h"
#include "ixo.h"
#include "support/diaglog.h"

namespace agent {
namespace {

// The reply buffer of an exchange with the community server.
constexpr int32_t kReplyBytes = 2048;

}  // namespace

std::string communityReference(const std::string& user, int k) {
    return user + "-" + std::to_string(k);
}

bool communityUserUsable(std::string_view user) {
    return !user.empty() && std::none_of(user.begin(), user.end(), [](char c) {
        auto b = static_cast<unsigned char>(c);
        return b <= 0x20 || b == 0x7F;
    });
}

bool runCommunityJob(const CommunityJob& job) {
    IXO ixo{};
    if (ixoCreateIxo(&ixo, job.host.c_str(), job.host.c_str(), job.queryPort, job.indexPort) !=
        IXO_OK) {
        diagLog("agent: no community server (CommunityIXO \"%s\")\n", job.host.c_str());
        return false;
    }
    ixoSetHTTPTimeOut(&ixo, std::max(1, job.timeoutSeconds), 1000);
    bool ok = true;
    if (job.useProxy && !job.proxyHost.empty())
        ok = ixoAddProxySettings(&ixo, job.proxyHost.c_str(), job.proxyPort, job.proxyUser.c_str(),
                                 job.proxyPassword.c_str()) == IXO_OK;
    char reply[kReplyBytes] = {0};
    int32_t rc = IXO_ERR_PARAMETER;
    if (ok && job.kind == CommunityJob::Kind::Contribute) {
        rc = ixoIndexLocalBuffer(&ixo, job.document.c_str(), "REFERENCE", reply, sizeof reply);
        ok = rc == IXO_OK;
    } else if (ok) {
        rc = ixoDeleteDocuments(&ixo, IXO_DELETE_REFERENCES, job.references.c_str(), reply,
                                sizeof reply);
        ok = rc == IXO_OK && std::string_view(reply).find("ERROR") == std::string_view::npos;
    }
    ixoDestroyIxo(&ixo);
    // The user is not told: the community source is a background service.
    if (!ok)
        diagLog("agent: community %s failed: %s %s\n",
                job.kind == CommunityJob::Kind::Contribute ? "contribution" : "withdrawal",
                ixoGetError(rc), reply);
    return ok;
}

// Sends the jobs one after the other on a thread that runs while there are jobs. The
// thread holds this state by a shared pointer, so it may outlive the CCommunity.
struct CCommunity::Sender {
    mutable std::mutex lock;
    mutable std::condition_variable idle;
    std::deque<CommunityJob> jobs;
    bool running = false;

    static void drain(const std::shared_ptr<Sender>& self) {
        for (;;) {
            CommunityJob job;
            {
                std::lock_guard<std::mutex> guard(self->lock);
                if (self->jobs.empty()) {
                    self->running = false;
                    self->idle.notify_all();
                    return;
                }
                job = std::move(self->jobs.front());
                self->jobs.pop_front();
            }
            runCommunityJob(job);
        }
    }

    void push(CommunityJob job, const std::shared_ptr<Sender>& self) {
        std::lock_guard<std::mutex> guard(lock);
        jobs.push_back(std::move(job));
        if (running) return;
        try {
            std::thread([self] { drain(self); }).detach();
            running = true;
        } catch (...) {
            jobs.clear();
            diagLog("agent: cannot start the community thread\n");
        }
    }
};

CCommunity::CCommunity() : m_sender(std::make_shared<Sender>()) {}
CCommunity::~CCommunity() = default;

std::optional<CommunityJob> CCommunity::Contribute(bool forced, const CAppParameters& settings,
                                                   const UserProfile* profile, bool notConnected,
                                                   bool located, int64_t now, uint32_t random,
                                                   bool send) {
    if (!profile || notConnected) return std::nullopt;
    if (!forced) {
        if (m_last && now - *m_last < kCommunityIntervalSeconds) return std::nullopt;
        m_last = now;
    }
    if (!settings.ExtGetFlag("SHOWCOMMUNITY") || !located) return std::nullopt;

    const std::string user = settings.GetUsername();
    // A name the server would not keep as it is could not be withdrawn exactly: such a
    // user never contributes, so there is nothing to withdraw either.
    if (!communityUserUsable(user)) return std::nullopt;
    CommunityJob job;
    job.host = settings.ExtGetText("COMMUNITYIXO");
    job.queryPort = settings.ExtGetNumber("COMMUNITYQUERYPORT");
    job.indexPort = settings.ExtGetNumber("COMMUNITYINDEXPORT");
    job.useProxy = settings.GetUseProxy() != 0;
    job.proxyHost = settings.GetProxyHost();
    job.proxyPort = settings.GetProxyPort();
    job.proxyUser = settings.GetProxyUsername();
    job.proxyPassword = settings.GetProxyPassword();

    if (settings.ExtGetFlag("COMMUNITYSHOWME")) {
        std::string database = settings.ExtGetText("COMMUNITYDATABASE");
        if (database.empty()) database = kCommunityDefaultDatabase;
        std::string displayName = settings.ExtGetText("COMMUNITYDISPLAYNAME");
        if (displayName.empty()) displayName = user;
        std::string contact = settings.ExtGetText("COMMUNITYREFERENCE");
        if (contact.empty()) contact = settings.GetEmailAddress();
        // A random category among those with terms (an empty one makes no document).
        std::vector<int> filled;
        for (size_t k = 0; k < profile->categories.size(); ++k)
            if (!profile->categories[k].terms.empty()) filled.push_back(static_cast<int>(k));
        if (filled.empty()) return std::nullopt;
        const int k = filled[random % filled.size()];
        job.kind = CommunityJob::Kind::Contribute;
        job.document = profileDocument(*profile, k, communityReference(user, k), displayName,
                                       contact, database);
        if (job.document.empty()) return std::nullopt;
    } else if (forced) {
        job.kind = CommunityJob::Kind::Withdraw;
        for (size_t k = 0; k < profile->categories.size(); ++k)
            job.references += percentEncode(communityReference(user, static_cast<int>(k))) + "+";
        if (job.references.empty()) return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (send) m_sender->push(job, m_sender);
    return job;
}

bool CCommunity::Idle() const {
    std::lock_guard<std::mutex> guard(m_sender->lock);
    return !m_sender->running;
}

bool CCommunity::WaitIdle(std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> guard(m_sender->lock);
    return m_sender->idle.wait_for(guard, limit, [&] { return !m_sender->running; });
}

}  // namespace agent
