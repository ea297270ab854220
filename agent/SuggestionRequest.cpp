#include "agent/SuggestionRequest.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "agent/AppParameters.h"
#include "support/percent.h"
#include "tools/ixocredentials.h"

namespace agent {

struct CSuggestionRequest::Client {
    IXO ixo{};
    // The proxy settings are put into the handle once, by the first worker that needs
    // them; later workers reuse the outcome (a change of proxy makes a new client).
    std::mutex proxyLock;
    bool proxyApplied = false;
    int32_t proxyResult = 0;
    ~Client() { ixoDestroyIxo(&ixo); }
};

std::string percentEncode(std::string_view value) {
    return percentEncodeIf(value, [](unsigned char c) { return !isUrlUnreserved(c); });
}

namespace {

// The items of a list separated by any of the separators, empty ones left out, each
// percent-encoded and followed by "+"; at most maxItems items and maxBytes bytes
// (whole items only).
std::string encodedItems(std::string_view list, std::string_view separators, size_t maxItems,
                         size_t maxBytes) {
    std::string out;
    size_t items = 0, pos = 0;
    while (pos < list.size() && items < maxItems) {
        size_t end = list.find_first_of(separators, pos);
        if (end == std::string_view::npos) end = list.size();
        std::string_view item = list.substr(pos, end - pos);
        pos = end + 1;
        if (item.empty()) continue;
        std::string encoded = percentEncode(item);
        if (out.size() + encoded.size() + 1 > maxBytes) break;
        out += encoded;
        out += '+';
        ++items;
    }
    return out;
}

// The extra options as they are, but for bytes that would end the request line or the
// path: blanks, control and non-ASCII bytes and "#".
std::string safeOptions(std::string_view options) {
    std::string out;
    for (char c : options) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || b == '#')
            out += percentEncode(std::string_view(&c, 1));
        else
            out += c;
    }
    return out;
}

bool safeFileName(const std::string& name) {
    if (name.find("..") != std::string::npos) return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        auto b = static_cast<unsigned char>(c);
        return c == '/' || c == '\\' || b < 0x20 || b == 0x7F;
    });
}

}  // namespace

std::string buildQueryPath(const RequestParams& p) {
    // Terms are each followed by "+" (the query text's own form).
    std::string query =
        encodedItems(p.queryText, "+", static_cast<size_t>(kMaxPathTerms), kMaxQueryTextBytes);
    if (!query.empty() && p.queryText.back() != '+') query.pop_back();
    std::string joined = encodedItems(p.databases, ",+", SIZE_MAX, SIZE_MAX);
    if (!joined.empty()) joined.pop_back();  // no "+" after the last name
    std::string path = "/qmethod=E&querytext=" + query + "&qnum=" + std::to_string(p.nSuggests) +
                       "&idnum=" + std::to_string(p.threshold);
    if (!joined.empty()) path += "&attachtoname=" + joined;
    return path + safeOptions(p.extraOptions);
}

std::string queryLogPath(const std::string& folder, const std::string& productName) {
    std::string name =
        (safeFileName(productName) ? productName : std::string(kBuiltinProductName)) +
        "QueryLog.txt";
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

CSuggestionRequest::CSuggestionRequest() = default;

CSuggestionRequest::~CSuggestionRequest() {
    WaitIdle();
    ixoDestroyQueryResult(&m_result);
}

void CSuggestionRequest::Fill(const RequestParams& params) {
    const RequestParams old = m_params;
    m_params = params;
    bool changed = !m_client || old.host != params.host || old.port != params.port ||
                   old.useCache != params.useCache || old.cacheSize != params.cacheSize ||
                   old.cacheTime != params.cacheTime || old.encrypt != params.encrypt ||
                   old.userName != params.userName || old.password != params.password ||
                   old.useProxy != params.useProxy || old.proxyHost != params.proxyHost ||
                   old.proxyPort != params.proxyPort || old.proxyUser != params.proxyUser ||
                   old.proxyPassword != params.proxyPassword;
    if (!changed) return;
    m_client.reset();
    if (params.host.empty()) return;
    auto client = std::make_shared<Client>();
    if (ixoCreateIxo(&client->ixo, params.host.c_str(), params.host.c_str(), params.port, 0) !=
        IXO_OK)
        return;
    if (params.encrypt) ixoSetEncryption(&client->ixo, 1, "suggestion request");
    if (!params.userName.empty() || !params.password.empty())
        ixoSetUserParameters(&client->ixo, params.userName.c_str(), params.password.c_str(), "",
                             "");
    if (params.useCache)
        ixoSetClientCache(&client->ixo, params.cacheSize, params.cacheTime, IXO_CACHE_AGENT_MODE);
    m_client = std::move(client);
}

uint32_t CSuggestionRequest::Start() {
    uint32_t id;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        id = ++m_nextId;
        if (id == 0) id = ++m_nextId;
        m_newest = id;
        ++m_running;
    }
    try {
        std::thread(&CSuggestionRequest::Run, this, id, m_params, m_client).detach();
    } catch (...) {
        std::lock_guard<std::mutex> guard(m_lock);
        --m_running;
        m_idle.notify_all();
        return 0;
    }
    return id;
}

int32_t CSuggestionRequest::RunAndWait() {
    std::mutex doneLock;
    std::condition_variable doneSignal;
    bool done = false;
    int32_t status = kStatusQueryFailed;
    uint32_t id = 0;
    auto previous = onDone;
    onDone = [&](const QueryDone& d) {
        if (previous) previous(d);
        std::lock_guard<std::mutex> guard(doneLock);
        if (d.workerId == id) {
            status = d.status;
            done = true;
            doneSignal.notify_all();
        }
    };
    {
        std::lock_guard<std::mutex> guard(doneLock);
        id = Start();
    }
    if (id == 0) {
        onDone = previous;
        return kStatusQueryFailed;
    }
    {
        std::unique_lock<std::mutex> guard(doneLock);
        doneSignal.wait(guard, [&] { return done; });
    }
    WaitIdle();
    onDone = previous;
    return status;
}

void CSuggestionRequest::WaitIdle() {
    std::unique_lock<std::mutex> guard(m_lock);
    m_idle.wait(guard, [&] { return m_running == 0; });
}

int32_t CSuggestionRequest::Query(const RequestParams& params, Client* client,
                                  IxoQueryResult* result) {
    if (!client) return kStatusNoClient;
    if (params.useProxy) {
        std::lock_guard<std::mutex> guard(client->proxyLock);
        if (!client->proxyApplied) {
            client->proxyResult =
                ixoAddProxySettings(&client->ixo, params.proxyHost.c_str(), params.proxyPort,
                                    params.proxyUser.c_str(), params.proxyPassword.c_str());
            client->proxyApplied = true;
        }
        if (client->proxyResult != IXO_OK) return kStatusProxyFailed;
    }
    std::string path;
    try {
        path = buildQueryPath(params);
    } catch (...) {
        return kStatusNoMemory;
    }
    if (path.size() > kMaxQueryPathBytes) return kStatusQueryFailed;
    if (params.logQueries) {
        // Appended to, never followed through a symbolic link; made private when new.
        const std::string logName = queryLogPath(params.logFolder, params.logPrefix);
        int fd =
            ::open(logName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            std::string line = path + "\n";
            [[maybe_unused]] ssize_t n = ::write(fd, line.data(), line.size());
            ::close(fd);
        }
    }
    if (ixoDoHttpQueryToStructure(&client->ixo, path.c_str(), result) != IXO_OK) {
        ixoDestroyQueryResult(result);
        return kStatusQueryFailed;
    }
    return result->hitCount <= 0 ? kStatusNoHits : kStatusHits;
}

void CSuggestionRequest::Run(uint32_t id, RequestParams params, std::shared_ptr<Client> client) {
    IxoQueryResult result{};
    int32_t status = Query(params, client.get(), &result);
    client.reset();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // Only the newest worker's outcome is kept; an older worker's result would
        // replace a newer one that the window may already show.
        if (id == m_newest) {
            if (status == kStatusHits || status == kStatusNoHits) {
                ixoDestroyQueryResult(&m_result);
                m_result = result;
                result = IxoQueryResult{};
                m_hasResult = 1;
                m_noHits = m_result.hitCount == 0 ? 1 : 0;
            }
            m_status = status;
        }
    }
    ixoDestroyQueryResult(&result);
    if (onDone) onDone(QueryDone{this, id, status});
    std::lock_guard<std::mutex> guard(m_lock);
    --m_running;
    m_idle.notify_all();
}

bool CSuggestionRequest::HasResult() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_hasResult != 0;
}

bool CSuggestionRequest::NoHits() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_noHits != 0;
}

bool CSuggestionRequest::Busy() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_running > 0;
}

int32_t CSuggestionRequest::Status() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_status;
}

uint32_t CSuggestionRequest::NewestWorker() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_newest;
}

bool CSuggestionRequest::CopyResult(IxoQueryResult* out) const {
    if (!out) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_hasResult) return false;
    return ixoCopyQueryResult(out, &m_result) == IXO_OK;
}

std::string suggestionLine(const IxoResultRecord& record, const std::string& titleField,
                           bool showSimilarity) {
    std::string text;
    if (!titleField.empty()) {
        IxoResultField* field = nullptr;
        if (ixoGetFieldFromResultsRecord(&record, titleField.c_str(), &field) == IXO_OK && field &&
            field->value)
            text = field->value;
    } else if (record.title) {
        text = record.title;
    }
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    if (text.size() > 256) text.resize(256);
    if (!showSimilarity) return text;
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%d%%   ", record.weight);
    return prefix + text;
}

RequestParams requestParamsForSource(CAppParameters& settings, int32_t sourceKind,
                                     const std::string& queryText) {
    RequestParams p;
    const bool noEncrypt = settings.ExtGetFlag("NOENCRYPTQUERY");
    const bool noCompress = settings.ExtGetFlag("NOCOMPRESS");
    if (!noCompress) p.extraOptions = "&xoptions=compress";
    p.queryText = queryText;
    p.nSuggests = settings.GetNSuggests();
    p.threshold = settings.GetThreshold();
    p.logQueries = settings.GetOutputDebugInfo();
    p.logPrefix = settings.GetProductName();
    p.userName = settings.GetUsername();
    p.sourceKind = sourceKind;
    auto remoteProxy = [&] {
        p.useProxy = settings.GetUseProxy();
        p.proxyHost = settings.GetProxyHost();
        p.proxyPort = settings.GetProxyPort();
        p.proxyUser = settings.GetProxyUsername();
        p.proxyPassword = settings.GetProxyPassword();
    };
    switch (sourceKind) {
        case kSourceLocal: {
            p.host = "127.0.0.1";
            p.port = settings.GetPersonalIxoQueryPort();
            p.extraOptions.clear();
            p.encrypt = 1;
            // The personal server answers queries only with the query user and password
            // it keeps in its folder; they go to no other server.
            const std::string home = settings.GetPersonalIxoPath();
            ixocredentials::ServerCredentials credentials;
            if (!home.empty() && ixocredentials::readServerCredentials(home, credentials) &&
                credentials.hasQueryPair()) {
                p.userName = credentials.queryUser;
                p.password = credentials.queryPassword;
            }
            break;
        }
        case kSourceCommunity:
            p.extraOptions += "&refuseref=" + percentEncode(p.userName);
            p.host = settings.ExtGetText("COMMUNITYIXO");
            p.port = settings.ExtGetNumber("COMMUNITYQUERYPORT");
            p.databases = settings.ExtGetText("COMMUNITYDATABASE");
            p.encrypt = noEncrypt ? 0 : 1;
            remoteProxy();
            break;
        default: {
            if (sourceKind == kSourceWeb) {
                std::string selection = settings.ExtGetText("WEBSELECTION");
                if (selection.empty()) {
                    settings.ExtSetText("WEBSELECTION", settings.ExtGetText("WEBDATABASES"));
                    settings.ExtSave();
                    selection = settings.ExtGetText("WEBSELECTION");
                }
                p.databases = selection;
            } else {
                p.databases = "News";
            }
            // An empty adult database name would leave a trailing "+", an empty name.
            std::string adult = settings.ExtGetText("ADULTDATABASE");
            if (!settings.ExtGetFlag("BLOCKPORN") && !adult.empty()) p.databases += "+" + adult;
            p.host = settings.ExtGetText("IXO");
            p.port = settings.ExtGetNumber("PORT");
            p.useCache = settings.GetUseClientCache();
            p.cacheSize = settings.GetClientCacheSize();
            p.cacheTime = settings.GetClientCacheTime();
            p.encrypt = noEncrypt ? 0 : 1;
            remoteProxy();
            break;
        }
    }
    return p;
}

}  // namespace agent
