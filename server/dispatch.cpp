#include "server/dispatch.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/idxdoc.h"
#include "server/idxfetch.h"
#include "server/terms.h"

namespace ixoserver {

namespace {

constexpr int kMaxResults = 10000;
constexpr const char* kInvalid = "Invalid Instruction\n";

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool startsWithCaseBlind(const std::string& s, std::string_view p) {
    return s.size() >= p.size() && lower(s.substr(0, p.size())) == p;
}

// Integer of a parameter text; fallback when absent or not a number.
long toLong(const std::string* text, long fallback) {
    if (!text || text->empty()) return fallback;
    char* end = nullptr;
    long v = std::strtol(text->c_str(), &end, 10);
    return end == text->c_str() ? fallback : v;
}

// Pieces of a list parameter separated by '+', ',' or blanks.
std::vector<std::string> splitList(const std::string& text, const char* separators = "+, \t") {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of(separators, pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

// One line of a reply: line ends and zero bytes become blanks.
std::string oneLine(std::string s) {
    for (auto& c : s)
        if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    return s;
}

struct Options {
    std::set<std::string> flags;  // lower case
    int start = 0;
    bool has(const char* f) const { return flags.count(f) != 0; }
};

Options readOptions(const RequestPath& path) {
    Options o;
    for (const auto& [name, value] : path.params) {
        if (lower(name) != "xoptions") continue;
        for (auto& item : splitList(value)) {
            std::string f = lower(item);
            if (f.rfind("start", 0) == 0 && f.size() > 5 &&
                std::isdigit(static_cast<unsigned char>(f[5]))) {
                o.start = std::clamp(std::atoi(f.c_str() + 5), 0, kMaxResults);
                continue;
            }
            o.flags.insert(f);
        }
    }
    return o;
}

std::string firstWords(const std::string& text, int words) {
    std::string out;
    int n = 0;
    bool inWord = false;
    for (char c : text) {
        bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (space) {
            if (inWord && ++n >= words) break;
            inWord = false;
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            inWord = true;
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string documentSummary(const IdxDocument& doc) {
    for (const auto& [n, v] : doc.fields)
        if (lower(n) == "summary" && !v.empty()) return oneLine(v);
    return oneLine(firstWords(doc.content, 50));
}

// Keeps only the documents of a list (onlymatch) and drops one document (the source
// of a "more like this" query when it is not to be included).
class IdDecider : public Xapian::MatchDecider {
  public:
    std::set<Xapian::docid> only;
    Xapian::docid exclude = 0;
    bool operator()(const Xapian::Document& doc) const override {
        Xapian::docid id = doc.get_docid();
        if (id == exclude) return false;
        return only.empty() || only.count(id) != 0;
    }
};

// A document's strongest word terms by tf-idf, highest first.
std::vector<std::pair<std::string, double>> topTerms(Xapian::Database& db, Xapian::docid id,
                                                     size_t limit, bool occurrences) {
    std::vector<std::pair<std::string, double>> out;
    const double n = std::max<double>(1, db.get_doccount());
    for (auto t = db.termlist_begin(id); t != db.termlist_end(id); ++t) {
        const std::string term = *t;
        if (term.empty() || std::isupper(static_cast<unsigned char>(term[0]))) continue;
        double w = occurrences ? t.get_wdf()
                               : t.get_wdf() * std::log(1.0 + n / std::max(1u, t.get_termfreq()));
        out.emplace_back(term, w);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (out.size() > limit) out.resize(limit);
    return out;
}

std::optional<Xapian::docid> findByReference(Xapian::Database& db, const std::string& ref) {
    const std::string term = referenceTerm(ref);
    auto it = db.postlist_begin(term);
    if (it == db.postlist_end(term)) return std::nullopt;
    return *it;
}

bool documentExists(Xapian::Database& db, Xapian::docid id) {
    if (id == 0) return false;
    try {
        db.get_document(id);
        return true;
    } catch (const Xapian::DocNotFoundError&) {
        return false;
    }
}

bool isNumber(const std::string& s) {
    return !s.empty() && s.size() < 10 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A document (or job) number: digits only, 1 to 2^32-1. Anything else, including a
// value that would wrap around, is no number.
std::optional<uint32_t> parseNumber32(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.erase(0, 1);
    if (s.empty() || s.size() > 10 ||
        !std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (v == 0 || v > 0xffffffffull) return std::nullopt;
    return static_cast<uint32_t>(v);
}

// Compares secrets in time independent of where they differ.
bool sameSecret(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

bool credentialsMatch(const RequestPath& path, const std::string& user, const std::string& pass) {
    const std::string* u = path.find("user");
    const std::string* p = path.find("pass");
    bool ok = u && p;
    ok = sameSecret(u ? *u : std::string(), user) && ok;
    ok = sameSecret(p ? *p : std::string(), pass) && ok;
    return ok;
}

// The host part of a Host header value, lower case, without port or brackets.
std::string hostName(const std::string& value) {
    std::string h = lower(value);
    if (!h.empty() && h[0] == '[') {
        size_t close = h.find(']');
        return close == std::string::npos ? h : h.substr(1, close - 1);
    }
    size_t colon = h.find(':');
    if (colon != std::string::npos && h.find(':', colon + 1) == std::string::npos) h.erase(colon);
    while (!h.empty() && h.back() == '.') h.pop_back();
    return h;
}

bool isLoopbackName(const std::string& host) {
    if (host == "localhost" || host == "::1" || host == "0:0:0:0:0:0:0:1") return true;
    in_addr a{};
    return ::inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

// Reads a local IDX file named in a request: a regular file only (a FIFO or device
// would hold the worker), of at most maxBytes, read without blocking on the open.
// Missing, unreadable, of another kind or too large all give false alike.
bool readLocalIdxFile(const std::string& location, size_t maxBytes, std::string& text) {
    const int fd = ::open(location.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) > maxBytes)
        return false;
    text.clear();
    text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // the file shrank meanwhile
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return true;
}

// Queries and term lists are bounded so that one request cannot take seconds of CPU.
constexpr size_t kMaxQueryTerms = 256;
constexpr size_t kMaxTermDocuments = 100;
constexpr const char* kTooManyTerms = "ERROR: too many terms in the request\n";

// The document a request names: by reference when asked to ("useurl") or when the key
// is not a document number (1 to 2^32-1), else by document number.
std::optional<Xapian::docid> findDocument(Xapian::Database& db, const std::string& key,
                                          bool byReference) {
    const bool digits = !key.empty() && std::all_of(key.begin(), key.end(), [](unsigned char c) {
        return std::isdigit(c);
    });
    const std::optional<uint32_t> id = digits ? parseNumber32(key) : std::nullopt;
    // A key of digits that is no document number (too long) may still be a reference.
    if (byReference || !id) return findByReference(db, key);
    if (!documentExists(db, *id)) return std::nullopt;
    return *id;
}

}  // namespace

DispatchResult Dispatcher::handle(PortKind port, const HttpRequestData& request,
                                  bool peerIsLoopback) {
    try {
        return dispatch(port, request, peerIsLoopback);
    } catch (const ShardError& e) {
        // A part of the index is out of reach: said in the status, never a partial answer.
        store_.forgetPendingWrites();
        DispatchResult r;
        r.reply.status = 503;
        r.reply.body = std::string("ERROR: ") + oneLine(e.what()) + "\n";
        return r;
    } catch (const Xapian::Error& e) {
        DispatchResult r;
        r.reply.status = 500;
        r.reply.body = "ERROR: " + oneLine(e.get_description()) + "\n";
        return r;
    } catch (const std::exception& e) {
        DispatchResult r;
        r.reply.status = 500;
        r.reply.body = std::string("ERROR: ") + oneLine(e.what()) + "\n";
        return r;
    }
}

bool Dispatcher::acceptableOrigin(const HttpRequestData& request) const {
    // Our clients send neither Origin nor Sec-Fetch-Site; a browser sends them on
    // requests a web page makes.
    for (const auto& [name, value] : request.headers) {
        const std::string n = lower(name);
        if (n == "origin") return false;
        if (n == "sec-fetch-site") {
            const std::string v = lower(value);
            if (v == "cross-site" || v == "same-site") return false;
        }
    }
    // A page on a name that was made to point at this machine sends that name as Host.
    bool seen = false;
    for (const auto& [name, value] : request.headers) {
        if (lower(name) != "host") continue;
        if (seen) return false;  // two Host headers: no telling which one counts
        seen = true;
        const std::string host = hostName(value);
        if (host.empty() || isLoopbackName(host)) continue;
        if (host == lower(config_.bindAddress) && host != "0.0.0.0") continue;
        if (std::find(config_.allowedHosts.begin(), config_.allowedHosts.end(), host) ==
            config_.allowedHosts.end())
            return false;
    }
    return true;
}

bool Dispatcher::indexCredentialsOk(const RequestPath& path) const {
    if (!config_.indexAuth || (config_.indexUser.empty() && config_.indexPassword.empty()))
        return true;
    return credentialsMatch(path, config_.indexUser, config_.indexPassword);
}

bool Dispatcher::queryCredentialsOk(const RequestPath& path) const {
    if (!config_.queryAuth || (config_.queryUser.empty() && config_.queryPassword.empty()))
        return true;
    return credentialsMatch(path, config_.queryUser, config_.queryPassword);
}

DispatchResult Dispatcher::dispatch(PortKind port, const HttpRequestData& request,
                                    bool peerIsLoopback) {
    DispatchResult result;
    if (!acceptableOrigin(request)) {
        result.reply.status = 403;
        result.reply.body = "ERROR: request refused\n";
        return result;
    }
    std::string plain;
    if (!unscrambleTarget(request.target, plain)) {
        result.reply.status = 400;
        result.reply.body = "ERROR: bad scrambled request\n";
        return result;
    }
    RequestPath path = splitRequestPath(pathOf(plain));
    const std::string command = upper(path.command);

    if (command == "IXOSHUTDOWN") {
        if (!peerIsLoopback) {
            result.reply.status = 403;
            result.reply.body = "ERROR: shutdown is taken from this machine only\n";
            return result;
        }
        if (!indexCredentialsOk(path)) {
            result.reply.status = 403;
            result.reply.body = "ERROR: shutdown needs a valid user and password\n";
            return result;
        }
        result.reply.body = "SHUTDOWN\n";
        result.shutdown = true;
        return result;
    }
    if (command.empty() && path.findCaseBlind("qmethod")) {
        if (!queryCredentialsOk(path)) {
            result.reply.status = 403;
            result.reply.body = "ERROR: queries need a valid user and password\n";
            return result;
        }
        result.reply = query(path);
    } else if (command.rfind("IXO", 0) == 0) {
        if (port != PortKind::Index) {
            result.reply.body = "Invalid Instruction: index commands are taken on the index port\n";
            return result;
        }
        if (!indexCredentialsOk(path)) {
            result.reply.status = 403;
            result.reply.body = "ERROR: index commands need a valid user and password\n";
            return result;
        }
        if (config_.readOnly) {
            result.reply.status = 403;
            result.reply.body =
                "ERROR: this server is read-only; index commands go to the master server\n";
            return result;
        }
        path.command = command;
        store_.forgetPendingWrites();
        result.reply = indexCommand(path, request.body);
        // The reply goes out only once what the command changed is on disk.
        store_.makeDurable();
    } else {
        result.reply.body = kInvalid;
        return result;
    }
    if (readOptions(path).has("compress")) compressReply(result.reply);
    return result;
}

HttpReply Dispatcher::query(const RequestPath& path) {
    HttpReply reply;
    const std::string& m = *path.findCaseBlind("qmethod");
    if (m.size() != 1) {
        reply.body = kInvalid;
        return reply;
    }
    switch (m[0]) {
        case 'q':
        case 'F':
        case 'g':
        case 'G':
        case 's':
        case 'E':
            reply.body = search(path, m[0]);
            break;
        case 'Z':
        case 'z':
            reply.body = summary(path, m[0]);
            break;
        case 'b':
            reply.body = docIds(path);
            break;
        case 't':
        case 'e':
            reply.body = documentTerms(path, m[0]);
            break;
        case 'a':
            reply.body = primitive(path);
            break;
        case 'c':
        case 'C':
            reply.body = content(path);
            break;
        case 'p':
            reply.body = indexerStatus(path);
            break;
        case 'n':
            reply.body = stopList();
            break;
        case 'V':
            reply.body = info();
            break;
        default:
            reply.body = kInvalid;
            break;
    }
    return reply;
}

std::string Dispatcher::search(const RequestPath& path, char method) {
    const std::string* qtp = path.find("querytext");
    const std::string text = qtp ? *qtp : std::string();
    const Options opt = readOptions(path);

    long qnum = toLong(path.find("qnum"), 0);
    if (qnum == 0) {
        auto q = text.find("QNUM=");
        if (q != std::string::npos) qnum = std::atol(text.c_str() + q + 5);
    }
    if (qnum < 1) qnum = 25;
    qnum = std::min<long>(qnum, kMaxResults);
    long idnum = toLong(path.find("idnum"), 0);
    // For "s" the number names a document: one that does not fit is refused rather than
    // wrapped onto another document.
    if (method == 's' && path.find("idnum") && !path.find("idnum")->empty() && idnum != 0) {
        const std::optional<uint32_t> id = parseNumber32(*path.find("idnum"));
        if (!id) return "ERROR: invalid document number\n";
        idnum = *id;
    }

    // Terms, combined by the method's operator.
    const bool boolean = opt.has("boolean");
    const bool titleOnly = method == 'g' || method == 'G';
    const auto terms = parseQueryText(text, boolean);
    if (terms.size() > kMaxQueryTerms) return kTooManyTerms;
    auto termQuery = [&](const QueryTerm& t) {
        Xapian::Query q((titleOnly ? std::string(prefix::kTitle) : std::string()) +
                        indexForm(t.term));
        if (t.weight != 1.0) q = Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, q, t.weight);
        return q;
    };
    Xapian::Query positive;
    if (boolean) {
        Xapian::Query::op next = Xapian::Query::OP_AND;
        for (const auto& t : terms) {
            if (t.term == "AND") {
                next = Xapian::Query::OP_AND;
                continue;
            }
            if (t.term == "OR") {
                next = Xapian::Query::OP_OR;
                continue;
            }
            if (t.term == "NOT" || t.term == "ANDNOT") {
                next = Xapian::Query::OP_AND_NOT;
                continue;
            }
            Xapian::Query q = termQuery(t);
            positive = positive.empty() ? q : Xapian::Query(next, positive, q);
            next = Xapian::Query::OP_AND;
        }
    } else {
        std::vector<Xapian::Query> parts;
        for (const auto& t : terms) parts.push_back(termQuery(t));
        if (!parts.empty())
            positive = Xapian::Query(
                method == 'F' || method == 'G' ? Xapian::Query::OP_AND : Xapian::Query::OP_OR,
                parts.begin(), parts.end());
    }

    // Restrictions: databases, fields, dates.
    std::vector<Xapian::Query> filters;
    const std::string* attach = path.find("attachto");
    const std::string* attachName = path.find("attachtoname");
    if (attachName && !attachName->empty()) {
        std::vector<Xapian::Query> dbs;
        for (const auto& n : splitList(*attachName, "+,"))
            if (auto num = store_.databaseNumber(n))
                dbs.emplace_back(std::string(prefix::kDatabase) + std::to_string(*num));
        filters.push_back(dbs.empty()
                              ? Xapian::Query::MatchNothing
                              : Xapian::Query(Xapian::Query::OP_OR, dbs.begin(), dbs.end()));
    } else if (attach && !attach->empty() && *attach != "-1") {
        std::vector<Xapian::Query> dbs;
        for (const auto& n : splitList(*attach))
            if (isNumber(n)) dbs.emplace_back(std::string(prefix::kDatabase) + n);
        if (!dbs.empty()) filters.emplace_back(Xapian::Query::OP_OR, dbs.begin(), dbs.end());
    }
    std::vector<Xapian::Query> fieldQueries;
    for (const auto& [name, value] : path.params) {
        const std::string lname = lower(name);
        if (lname == "fieldbool" || lname.size() <= 5) continue;
        const std::string field = name.substr(5);
        if (lname.rfind("fname", 0) == 0) {
            const std::string uf = upper(field);
            if (uf == "IXOREFERENCE")
                fieldQueries.emplace_back(referenceTerm(value));
            else if (uf == "IXOTYPE" || uf == "DOCTYPE")
                fieldQueries.emplace_back(boundedTerm(prefix::kType, upper(value)));
            else
                fieldQueries.emplace_back(fieldValueTerm(field, value));
        } else if (lname.rfind("field", 0) == 0) {
            std::vector<std::string> words;
            textToTerms(value, words);
            const std::string uf = upper(field);
            const std::string fp = (uf == "TITLE" || uf == "IXOTITLE") ? std::string(prefix::kTitle)
                                                                       : fieldWordPrefix(field);
            std::vector<Xapian::Query> w;
            for (const auto& t : words) w.emplace_back(boundedTerm(fp, indexForm(t)));
            fieldQueries.push_back(w.empty()
                                       ? Xapian::Query::MatchNothing
                                       : Xapian::Query(Xapian::Query::OP_AND, w.begin(), w.end()));
        }
    }
    if (!fieldQueries.empty()) {
        const std::string* fb = path.find("fieldbool");
        const bool any = fb && lower(*fb).find("or") != std::string::npos;
        filters.emplace_back(any ? Xapian::Query::OP_OR : Xapian::Query::OP_AND,
                             fieldQueries.begin(), fieldQueries.end());
    }
    const long fromdate = toLong(path.find("fromdate"), -1);
    const long todate = toLong(path.find("todate"), 0);
    if (fromdate >= 0 || todate > 0) {
        const double now = static_cast<double>(std::time(nullptr));
        const double lo = fromdate >= 0 ? now - fromdate * 86400.0 - 86400.0 : 0.0;
        const double hi = todate > 0 ? now - todate * 86400.0 : 1e15;
        filters.emplace_back(Xapian::Query::OP_VALUE_RANGE, kDateSlot,
                             Xapian::sortable_serialise(lo), Xapian::sortable_serialise(hi));
    }

    IdDecider decider;
    if (const std::string* only = path.find("onlymatch"))
        for (const auto& n : splitList(*only))
            if (isNumber(n)) decider.only.insert(static_cast<Xapian::docid>(std::atol(n.c_str())));

    // A plain OR of distinct word terms without restrictions (the agent's suggestion
    // query) is scored directly over the postings: the same weights and percentages as
    // Xapian's matcher, without its per-posting document length lookups.
    std::vector<std::pair<std::string, double>> flatTerms;
    bool flat = (method == 'q' || method == 'E') && !boolean && filters.empty() &&
                decider.only.empty() && !opt.has("sortdate") && !opt.has("counthits") &&
                !terms.empty() && terms.size() <= 64;
    if (flat) {
        std::set<std::string> distinct;
        for (const auto& t : terms) {
            flatTerms.emplace_back(indexForm(t.term), t.weight);
            flat = flat && distinct.insert(flatTerms.back().first).second;
        }
    }

    std::string out;
    std::vector<int> missing;
    const std::function<void(Xapian::Database&)> answer = [&](Xapian::Database& db) {
        out.clear();  // a retry after the index changed under the reader starts afresh
        // A hit's matching terms ("links="), joined by '+'.
        auto addLink = [](std::string& links, const std::string& term) {
            if (!links.empty()) links += '+';
            links += displayForm(term);
        };
        // One hit's block: the document's stored data and fields, its matching terms.
        auto writeHit = [&](const Xapian::Document& d, Xapian::docid id, int percent,
                            const std::string& links) {
            IdxDocument doc;
            int database = 0;
            // The short record is enough unless a summary has to be made of the content.
            const bool record = decodeResultRecord(d.get_value(kResultSlot), database, doc) &&
                                !(opt.has("withsummary") && doc.storeContent);
            if (!record) {
                decodeDocData(d.get_data(), doc);
                database = documentDatabase(d);
            }
            out += "Doc_name=" + oneLine(doc.reference) + "\n";
            out += "URL_title=" + oneLine(doc.title.empty() ? doc.reference : doc.title) + "\n";
            out += "Doc_id=" + std::to_string(id) + "\n";
            out += "Doc_weight=" + std::to_string(std::clamp(percent, 0, 100)) + "\n";
            out += "links=" + links + "\n";
            out += "dbase=" + std::to_string(database) + "\n";
            bool hasType = false, hasSection = false, hasSummary = false;
            for (const auto& [n, v] : doc.fields) {
                if (n.empty()) continue;
                out += oneLine(n) + "=" + oneLine(v) + "\n";
                hasType = hasType || n == "DocType";
                hasSection = hasSection || n == "IXOSECTION";
                hasSummary = hasSummary || lower(n) == "summary";
            }
            if (!doc.type.empty() && !hasType) out += "DocType=" + oneLine(doc.type) + "\n";
            if (doc.section != -1 && !hasSection)
                out += "IXOSECTION=" + std::to_string(doc.section) + "\n";
            if (!doc.date.empty()) out += "IXODATE=" + oneLine(doc.date) + "\n";
            if (!doc.filename.empty()) out += "IXOFILENAME=" + oneLine(doc.filename) + "\n";
            if (opt.has("withsummary") && !hasSummary)
                out += "summary=" + documentSummary(doc) + "\n";
        };
        const long start = std::min<long>(opt.start, qnum);
        const long count = opt.start > 0 ? qnum - start : qnum;

        if (flat) {
            if (auto lengths = store_.docLengths(db)) {
                Xapian::doccount matching = 0;
                const int cutoff =
                    method == 'E' ? static_cast<int>(std::clamp<long>(idnum, 0, 100)) : 0;
                const auto hits = rankAnyTerm(db, *lengths, flatTerms, static_cast<size_t>(start),
                                              static_cast<size_t>(count), cutoff,
                                              opt.has("inchitcount") ? &matching : nullptr);
                out.reserve(256 + hits.size() * 512);
                out += "numhits=" + std::to_string(hits.size()) + "\n";
                if (opt.has("inchitcount")) out += "totalhits=" + std::to_string(matching) + "\n";
                for (const auto& h : hits) {
                    // Sorted, as Xapian lists a document's matching terms.
                    std::vector<const std::string*> matched;
                    for (size_t i = 0; i < flatTerms.size(); ++i)
                        if (h.matched >> i & 1) matched.push_back(&flatTerms[i].first);
                    std::sort(matched.begin(), matched.end(),
                              [](const auto* a, const auto* b) { return *a < *b; });
                    std::string links;
                    for (const auto* t : matched) addLink(links, *t);
                    writeHit(db.get_document(h.id), h.id, h.percent, links);
                }
                return;
            }
        }

        Xapian::Query q = positive;
        // "More like this": a suggestion from a document adds its strongest terms.
        if (method == 's' && idnum > 0 && documentExists(db, static_cast<Xapian::docid>(idnum))) {
            std::vector<Xapian::Query> more;
            for (const auto& [t, w] : topTerms(db, static_cast<Xapian::docid>(idnum), 40, false))
                more.emplace_back(t);
            Xapian::Query mq(Xapian::Query::OP_OR, more.begin(), more.end());
            q = q.empty() ? mq : Xapian::Query(Xapian::Query::OP_OR, q, mq);
            if (opt.has("include")) decider.exclude = static_cast<Xapian::docid>(idnum);
        }
        if (q.empty()) {
            if (filters.empty() && decider.only.empty()) {
                out = "numhits=0\n";
                return;
            }
            q = Xapian::Query::MatchAll;
        }
        for (const auto& f : filters) q = Xapian::Query(Xapian::Query::OP_FILTER, q, f);

        Xapian::Enquire enquire(db);
        enquire.set_query(q);
        // Over remote shards Xapian applies a percentage cut-off against each shard's own
        // best document, which drops hits a single database keeps: the cut is made here,
        // on the merged percentages (they fall with the rank).
        const int cutoff = method == 'E' ? static_cast<int>(std::clamp<long>(idnum, 0, 100)) : 0;
        const bool cutHere = cutoff > 0 && store_.shardCount() > 1;
        if (cutoff > 0 && !cutHere) enquire.set_cutoff(cutoff);
        if (opt.has("sortdate")) enquire.set_sort_by_value_then_relevance(kDateSlot, true);
        const bool wantDecider = !decider.only.empty() || decider.exclude != 0;
        // Remote shards take no match decider: the documents are then picked from the
        // whole match here (the decider looks at document numbers only).
        const bool pickHere = wantDecider && store_.shardCount() > 1;
        auto keep = [&](Xapian::docid id) {
            return id != decider.exclude && (decider.only.empty() || decider.only.count(id) != 0);
        };
        if (opt.has("counthits")) {
            if (pickHere) {
                Xapian::MSet all = enquire.get_mset(0, db.get_doccount());
                Xapian::doccount n = 0;
                for (auto it = all.begin(); it != all.end(); ++it) n += keep(*it);
                out = "numhits=" + std::to_string(n) + "\n";
                return;
            }
            Xapian::MSet all = enquire.get_mset(0, 0, db.get_doccount(), nullptr,
                                                wantDecider ? &decider : nullptr);
            out = "numhits=" + std::to_string(all.get_matches_estimated()) + "\n";
            return;
        }
        Xapian::MSet mset = pickHere
                                ? enquire.get_mset(0, db.get_doccount())
                                : enquire.get_mset(static_cast<Xapian::doccount>(start),
                                                   static_cast<Xapian::doccount>(count),
                                                   static_cast<Xapian::doccount>(start + count + 1),
                                                   nullptr, wantDecider ? &decider : nullptr);
        std::vector<Xapian::MSetIterator> chosen;
        Xapian::doccount total = 0;
        // Percentages of picked documents are taken against the best picked one, as
        // Xapian's matcher does with a decider: its weight, scaled by the share of the
        // query's terms it matched.
        double pickScale = 0;
        auto percentOf = [&](const Xapian::MSetIterator& it) {
            if (!pickHere) return it.get_percent();
            return std::clamp(static_cast<int>(it.get_weight() * pickScale + 100 * DBL_EPSILON), 0,
                              100);
        };
        if (pickHere) {
            for (auto it = mset.begin(); it != mset.end(); ++it) {
                if (!keep(*it)) continue;
                if (pickScale == 0) {
                    std::set<std::string> all(q.get_unique_terms_begin(), q.get_unique_terms_end());
                    size_t matched = 0;
                    for (auto t = enquire.get_matching_terms_begin(it);
                         t != enquire.get_matching_terms_end(it); ++t)
                        ++matched;
                    pickScale =
                        it.get_weight() > 0 && !all.empty()
                            ? static_cast<double>(matched) / all.size() * 100 / it.get_weight()
                            : 0;
                    if (pickScale == 0) pickScale = 1e-300;
                }
                if (cutHere && percentOf(it) < cutoff) break;
                if (++total > static_cast<Xapian::doccount>(start) &&
                    chosen.size() < static_cast<size_t>(count))
                    chosen.push_back(it);
            }
        } else {
            for (auto it = mset.begin(); it != mset.end(); ++it) {
                if (cutHere && it.get_percent() < cutoff) break;
                chosen.push_back(it);
            }
            total = cutHere && chosen.size() < mset.size()
                        ? static_cast<Xapian::doccount>(start + chosen.size())
                        : mset.get_matches_estimated();
        }
        // Over remote shards a document's term list costs a round trip and, on the shard
        // server, a frequency lookup for every term: the matching terms of a query of
        // word terms are looked up in the words of the stored title and content instead,
        // the words the document was indexed with. wordTerms: the query's word terms,
        // sorted, as Xapian lists matching terms.
        std::vector<std::string> wordTerms;
        bool linksFromText = store_.hasRemoteShards();
        for (auto t = q.get_unique_terms_begin(); linksFromText && t != q.get_unique_terms_end();
             ++t) {
            const std::string& term = *t;
            if (term.empty() || !std::isupper(static_cast<unsigned char>(term[0])))
                wordTerms.push_back(term);
            else if (term.rfind(prefix::kTitle, 0) == 0)
                linksFromText = false;  // title terms are listed too: take the term list
        }
        out.reserve(256 + chosen.size() * 512);
        out += "numhits=" + std::to_string(chosen.size()) + "\n";
        if (opt.has("inchitcount")) out += "totalhits=" + std::to_string(total) + "\n";
        std::vector<Xapian::docid> ids;
        for (const auto& it : chosen) ids.push_back(*it);
        const std::vector<Xapian::Document> docs = store_.documents(db, ids);
        std::vector<std::string> docWords;
        for (size_t k = 0; k < chosen.size(); ++k) {
            const auto& it = chosen[k];
            const Xapian::Document& d = docs[k];
            std::string links;
            if (linksFromText && storedWordTerms(d, docWords)) {
                for (const auto& term : wordTerms) {
                    if (!std::binary_search(docWords.begin(), docWords.end(), term)) continue;
                    addLink(links, term);
                }
                writeHit(d, *it, percentOf(it), links);
                continue;
            }
            std::set<std::string> seen;
            for (auto t = enquire.get_matching_terms_begin(it);
                 t != enquire.get_matching_terms_end(it); ++t) {
                std::string term = *t;
                if (!term.empty() && std::isupper(static_cast<unsigned char>(term[0]))) {
                    if (term.rfind(prefix::kTitle, 0) != 0) continue;
                    term.erase(0, 1);
                }
                if (!seen.insert(term).second) continue;
                addLink(links, term);
            }
            writeHit(d, *it, percentOf(it), links);
        }
    };
    if (!config_.partialResults) {
        store_.withReader(answer);
        return out;
    }
    store_.withReaderPartial(answer, missing);
    if (!missing.empty()) {
        // Said right after the hit count, before the first result.
        std::string line = "missingshards=";
        for (size_t i = 0; i < missing.size(); ++i)
            line += (i ? "," : "") + std::to_string(missing[i]);
        const size_t eol = out.find('\n');
        out.insert(eol == std::string::npos ? out.size() : eol + 1, line + "\n");
    }
    return out;
}

std::string Dispatcher::summary(const RequestPath& path, char method) {
    const std::string* qt = path.find("querytext");
    if (method == 'Z') {
        std::string text = qt ? *qt : std::string();
        std::replace(text.begin(), text.end(), '+', ' ');
        return "summary=" + oneLine(firstWords(text, 50)) + "\n";
    }
    const Options opt = readOptions(path);
    const std::string* idp = path.find("idnum");
    std::string key = idp && !idp->empty() ? *idp : (qt ? *qt : std::string());
    std::string out = "ERROR: no such document\n";
    store_.withReader([&](Xapian::Database& db) {
        const std::optional<Xapian::docid> id = findDocument(db, key, opt.has("useurl"));
        if (!id) return;
        IdxDocument doc;
        decodeDocData(db.get_document(*id).get_data(), doc);
        out = "summary=" + documentSummary(doc) + "\n";
    });
    return out;
}

std::string Dispatcher::docIds(const RequestPath& path) {
    const std::string* qt = path.find("querytext");
    long limit = std::clamp<long>(toLong(path.find("idnum"), 10000000), 1, 10000000);
    std::string out;
    const auto terms = parseQueryText(qt ? *qt : std::string(), false);
    if (terms.size() > kMaxQueryTerms) return kTooManyTerms;
    store_.withReader([&](Xapian::Database& db) {
        out.clear();
        for (const auto& t : terms) {
            const std::string term = indexForm(t.term);
            out += displayForm(term) + " : " + std::to_string(db.get_termfreq(term)) + " , ";
            long n = 0;
            for (auto it = db.postlist_begin(term); it != db.postlist_end(term) && n < limit;
                 ++it, ++n)
                out += std::to_string(*it) + " ";
            out += "\n";
        }
    });
    return out;
}

std::string Dispatcher::documentTerms(const RequestPath& path, char method) {
    const Options opt = readOptions(path);
    const std::string* qt = path.find("querytext");
    long idnum = toLong(path.find("idnum"), 0);
    // "t": the documents are listed in the query text and idnum is the number of terms;
    // "e": idnum is the document (or the query text names it) and all terms are given.
    size_t limit = method == 't'
                       ? static_cast<size_t>(std::clamp<long>(idnum <= 0 ? 20 : idnum, 1, 100000))
                       : 100000;
    const bool weights = opt.has("tweights") || opt.has("occ") || method == 'e';
    std::vector<std::string> keys;
    if (method == 'e' && idnum > 0) {
        const std::optional<uint32_t> id = parseNumber32(*path.find("idnum"));
        if (!id) return "ERROR: invalid document number\n";
        keys.push_back(std::to_string(*id));
    } else if (qt) {
        keys = splitList(*qt, opt.has("useurl") ? "+" : "+, ");
    }
    if (keys.size() > kMaxTermDocuments) return "ERROR: too many documents in the request\n";
    std::string body;
    int count = 0;
    store_.withReader([&](Xapian::Database& db) {
        body.clear();
        count = 0;
        std::map<std::string, double> merged;
        for (const auto& key : keys) {
            const std::optional<Xapian::docid> id = findDocument(db, key, opt.has("useurl"));
            if (!id) continue;
            for (const auto& [t, w] : topTerms(db, *id, limit, opt.has("occ"))) merged[t] += w;
        }
        std::vector<std::pair<std::string, double>> ranked(merged.begin(), merged.end());
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        if (ranked.size() > limit) ranked.resize(limit);
        for (const auto& [t, w] : ranked) {
            body += displayForm(t);
            if (weights)
                body += "+" +
                        std::to_string(static_cast<long>(std::lround(opt.has("occ") ? w : w * 10)));
            body += "\n";
            ++count;
        }
    });
    return "Number of hits: " + std::to_string(count) + "\n" + body;
}

std::string Dispatcher::primitive(const RequestPath& path) {
    const std::string* qt = path.find("querytext");
    std::string body;
    int count = 0;
    const auto terms = parseQueryText(qt ? *qt : std::string(), false);
    if (terms.size() > kMaxQueryTerms) return kTooManyTerms;
    store_.withReader([&](Xapian::Database& db) {
        body.clear();
        count = 0;
        for (const auto& t : terms) {
            body += t.term + "+" + std::to_string(db.get_termfreq(indexForm(t.term))) + "\n";
            ++count;
        }
    });
    return "Number of hits: " + std::to_string(count) + "\n" + body;
}

std::string Dispatcher::content(const RequestPath& path) {
    const Options opt = readOptions(path);
    const std::string* qt = path.find("querytext");
    std::string key = qt ? *qt : std::string();
    if (key.empty()) key = path.find("idnum") ? *path.find("idnum") : std::string();
    std::string out = "ERROR: no such document\n";
    store_.withReader([&](Xapian::Database& db) {
        const std::optional<Xapian::docid> id = findDocument(db, key, opt.has("useurl"));
        if (!id) return;
        IdxDocument doc;
        decodeDocData(db.get_document(*id).get_data(), doc);
        doc.docid = *id;
        out = writeIdxText(doc);
    });
    return out;
}

std::string Dispatcher::indexerStatus(const RequestPath& path) {
    const std::string* text = path.find("idnum");
    const long asked = toLong(text, 0);
    const std::optional<uint32_t> number = text ? parseNumber32(*text) : std::nullopt;
    if (asked != 0 && !number)
        return "STATUS=unknown\nINDEXID=" + oneLine(text ? *text : std::string()) + "\n";
    const uint32_t job = number.value_or(0);
    std::lock_guard lock(jobsMutex_);
    auto it = jobs_.find(job);
    if (it == jobs_.end())
        return "STATUS=" + std::string(job == 0 ? "idle" : "unknown") +
               "\nINDEXID=" + std::to_string(job) + "\n";
    return "STATUS=finished\nINDEXID=" + std::to_string(job) +
           "\nDOCUMENTS=" + std::to_string(it->second) + "\n";
}

std::string Dispatcher::stopList() {
    const auto& words = stopWords();
    std::string out = std::to_string(words.size()) + "\n";
    for (const auto& w : words) out += w + "\n";
    return out;
}

std::string Dispatcher::info() {
    const auto dbs = store_.databases();
    std::map<int, uint32_t> perDb;
    uint32_t total = 0;
    store_.withReader([&](Xapian::Database& db) {
        total = db.get_doccount();
        for (const auto& d : dbs)
            perDb[d.number] =
                db.get_termfreq(std::string(prefix::kDatabase) + std::to_string(d.number));
    });
    std::string out;
    out += "PRODUCT=Personal Vantri retrieval server\n";
    out += "VERSION=1.0\n";
    out += "BUILD=" __DATE__ "\n";
    out += "DOCNUM=" + std::to_string(total) + "\n";
    out += "QUERYPORT=" + std::to_string(queryPort_) + "\n";
    out += "INDEXPORT=" + std::to_string(indexPort_) + "\n";
    out += "MAXDBASE=1000\n";
    out += "NUM_FIELDS=0\n";
    out += "DIRECTORY=" + oneLine(config_.dataPath()) + "\n";
    out += "NUM4TERMS=0\nSTORECONTENT=1\nPROPERNAMES=0\nSLOT_SIZE=10\nMAXOC=0\n";
    out += "STRIPLANGUAGE=0\nCHARCONV=1\n";
    std::string names, figures;
    for (const auto& d : dbs) {
        if (!names.empty()) names += ',';
        names += d.name;
        if (!figures.empty()) figures += ',';
        figures +=
            d.name + ":(" + std::to_string(d.number) + "," + std::to_string(perDb[d.number]) + ")";
    }
    out += "DATABASES=" + std::to_string(dbs.size()) + "[" + names + "]\n";
    out += "DBINFO=" + std::to_string(dbs.size()) + "[" + figures + "]\n";
    return out;
}

HttpReply Dispatcher::indexCommand(const RequestPath& path, const std::string& body) {
    HttpReply reply;
    const std::string& c = path.command;
    // The first parameter of "/IXOxxx?value" commands is a bare value.
    auto bare = [&]() -> std::string {
        if (path.params.empty()) return {};
        const auto& [n, v] = path.params.front();
        return n.empty() ? v : n + "=" + v;
    };
    if (c == "IXOADDDATA") {
        reply.body = addData(path, body);
    } else if (c == "IXOADD") {
        reply.body = addByLocation(path);
    } else if (c == "IXODELETEDOC" || c == "IXODELETEREF") {
        // The list is split on '+' as sent and only then decoded, so an item may hold
        // '+', '&' or '%' written as %2B, %26 or %25 (references are file names).
        const std::string* docs = path.findRaw("docs");
        if (!docs) {
            reply.body = "ERROR: no documents named\n";
            return reply;
        }
        const std::vector<std::string> items = splitEncodedList(*docs, '+');
        int n;
        if (c == "IXODELETEDOC") {
            std::vector<uint32_t> ids;
            for (const auto& item : items)
                for (const auto& s : splitList(item, ", \t"))
                    if (auto id = parseNumber32(s)) ids.push_back(*id);
            n = store_.deleteIds(ids);
        } else {
            int db = -1;
            if (const std::string* name = path.find("dbname")) {
                auto num = store_.databaseNumber(*name);
                if (!num) {
                    reply.body = "ERROR: no such database\n";
                    return reply;
                }
                db = *num;
            } else if (const std::string* num = path.find("dbnum")) {
                db = static_cast<int>(toLong(num, -1));
            }
            n = store_.deleteReferences(items, db);
        }
        reply.body = "DELETED=" + std::to_string(n) + "\n";
    } else if (c == "IXODELDBASE" || c == "IXOREMOVEDBASE") {
        int n = store_.deleteDatabase(bare(), c == "IXOREMOVEDBASE");
        reply.body = n < 0 ? "ERROR: no such database\n" : "DELETED=" + std::to_string(n) + "\n";
    } else if (c == "IXOCREATEDBASE") {
        int n = store_.createDatabase(bare());
        reply.body =
            n < 0 ? "ERROR: invalid database name\n" : "DATABASE=" + std::to_string(n) + "\n";
    } else if (c == "IXOREPLACE") {
        reply.body = replaceFields(body);
    } else if (c == "IXOUPDATE") {
        reply.body = updateTerms(body);
    } else if (c == "IXOFINISHEDINDEX") {
        store_.commit();
        reply.body = "FINISHED\n";
    } else if (c == "IXOMERGE") {
        store_.commit();
        reply.body = "MERGED\n";
    } else if (c == "IXORESET") {
        store_.reset();
        reply.body = "RESET\n";
    } else if (c == "IXOINITIAL") {
        std::string name = bare();
        if (name.empty() || path.params.front().first == "user") {
            store_.reset();
            reply.body = "INITIAL\n";
        } else {
            std::string error;
            reply.body = store_.restore(name, error) ? "RESTORED=" + name + "\n"
                                                     : "ERROR: " + oneLine(error) + "\n";
        }
    } else if (c == "IXOBACKUP") {
        std::string name = bare(), error;
        reply.body = store_.backup(name, error) ? "BACKUP=" + name + "\n"
                                                : "ERROR: " + oneLine(error) + "\n";
    } else {
        reply.body = kInvalid;
    }
    return reply;
}

std::string Dispatcher::addData(const RequestPath& path, const std::string& idxText) {
    std::vector<IdxDocument> docs = parseIdxText(idxText);
    if (docs.empty()) return "ERROR: no documents in the request\n";
    const std::string* db = path.find("IXODBNAME");
    const std::string* kill = path.find("KILLDUPLICATES");
    const bool killDuplicates = kill && upper(*kill) == "REFERENCE";
    auto outcome = store_.addDocuments(docs, db ? *db : std::string(), killDuplicates);
    const uint32_t job = outcome.job ? outcome.job : store_.nextJobNumber();
    {
        std::lock_guard lock(jobsMutex_);
        jobs_[job] = outcome.added;
        if (jobs_.size() > 10000) jobs_.erase(jobs_.begin());
    }
    std::string out =
        "INDEXID=" + std::to_string(job) + "\nDOCUMENTS=" + std::to_string(outcome.added) + "\n";
    out += "DOCIDS=";
    for (size_t i = 0; i < outcome.ids.size() && i < 1000; ++i)
        out += (i ? "+" : "") + std::to_string(outcome.ids[i]);
    return out + "\n";
}

std::string Dispatcher::addByLocation(const RequestPath& path) {
    std::string location;
    if (!path.params.empty()) {
        const auto& [n, v] = path.params.front();
        location = n.empty() ? v : (n == "KILLDUPLICATES" || n == "IXODBNAME" ? "" : n + "=" + v);
    }
    if (location.empty()) return "ERROR: no document location\n";
    if (isHttpLocation(location)) {
        std::string text, error;
        FetchLimits limits;
        limits.maxBytes = config_.maxBodyBytes;
        limits.deadlineSeconds = kIdxFetchTimeoutSeconds;
        limits.ownPorts = {queryPort_, indexPort_};
        if (!fetchIdxText(location, limits, text, error))
            return "ERROR: cannot read " + oneLine(location) + ": " + oneLine(error) + "\n";
        return addData(path, text);
    }
    if (startsWithCaseBlind(location, "file://")) location.erase(0, 7);
    std::string text;
    if (!readLocalIdxFile(location, config_.maxBodyBytes, text))
        return "ERROR: cannot read " + oneLine(location) + "\n";
    return addData(path, text);
}

std::string Dispatcher::replaceFields(const std::string& body) {
    std::istringstream in(body);
    std::string line, ref, name;
    uint32_t id = 0;
    int changed = 0, missing = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("#IXOENDDATA", 0) == 0) break;
        if (line.rfind("#IXODOCREF ", 0) == 0) {
            ref = line.substr(11);
            id = 0;
        } else if (line.rfind("#IXODOCID ", 0) == 0) {
            id = parseNumber32(line.substr(10)).value_or(0);
            ref.clear();
        } else if (line.rfind("#IXOFIELDNAME ", 0) == 0) {
            name = line.substr(14);
        } else if (line.rfind("#IXOFIELDVALUE", 0) == 0) {
            std::string value = line.size() > 15 ? line.substr(15) : std::string();
            if (store_.replaceField(id, ref, name, value))
                ++changed;
            else
                ++missing;
        }
    }
    return "REPLACED=" + std::to_string(changed) + "\nNOTFOUND=" + std::to_string(missing) + "\n";
}

std::string Dispatcher::updateTerms(const std::string& body) {
    std::istringstream in(body);
    std::string line, term;
    int changed = 0, missing = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("#IXOENDDATA", 0) == 0) break;
        if (line.rfind("#IXOTERM ", 0) == 0) {
            std::string t = line.substr(9);
            term = indexForm(filterWord(foldText(t)));
            continue;
        }
        if (line.size() < 2 || (line[0] != '+' && line[0] != '-') || term.empty()) continue;
        const bool add = line[0] == '+';
        bool ok = line[1] == 'R' ? store_.changeTerm(0, line.substr(2), term, add)
                                 : store_.changeTerm(parseNumber32(line.substr(1)).value_or(0),
                                                     std::string(), term, add);
        if (ok)
            ++changed;
        else
            ++missing;
    }
    return "UPDATED=" + std::to_string(changed) + "\nNOTFOUND=" + std::to_string(missing) + "\n";
}

}  // namespace ixoserver
