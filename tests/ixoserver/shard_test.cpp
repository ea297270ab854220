// ixoserver over shards: writable xapian-tcpsrv servers on loopback, compared with a
// server holding the same documents in one database; a shard killed and started again;
// a read-only server over replicas made by xapian-replicate.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <xapian.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/srvconfig.h"
#include "server/store.h"
#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ServerChild;
using testing_support::TempDir;

struct Reply {
    int status = 0;
    std::string body;
};

Reply exchange(int port, const std::string& method, const std::string& path,
               const std::string& body = {}) {
    Reply r;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return r;
    }
    timeval tv{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const std::string raw = method + " " + path +
                            " HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body;
    ::send(fd, raw.data(), raw.size(), MSG_NOSIGNAL);
    std::string reply;
    char buf[65536];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        reply.append(buf, static_cast<size_t>(n));
    ::close(fd);
    if (reply.size() > 12) r.status = std::atoi(reply.c_str() + 9);
    const size_t p = reply.find("\r\n\r\n");
    if (p != std::string::npos) r.body = reply.substr(p + 4);
    return r;
}

std::string get(int port, const std::string& path) {
    return exchange(port, "GET", path).body;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Port 0 binds a free port and returns it; any other port says whether it takes connections.
int probe(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    const int out =
        port ? ::connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0
             : (::bind(fd, reinterpret_cast<sockaddr*>(&a), len),
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), ntohs(a.sin_port));
    ::close(fd);
    return out;
}

// A program in a process group of its own (xapian-tcpsrv forks a child per connection:
// taking a shard down means ending all of them), listening on port.
class Daemon {
  public:
    Daemon(std::vector<std::string> argv, int port) : argv_(std::move(argv)), port_(port) {
        start();
    }
    ~Daemon() { stop(); }
    void start() {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            std::vector<char*> args;
            for (auto& a : argv_) args.push_back(a.data());
            args.push_back(nullptr);
            ::freopen("/dev/null", "w", stdout);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::setpgid(pid_, pid_);
        for (int i = 0; i < 250 && !probe(port_); ++i) std::this_thread::sleep_for(20ms);
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        for (int i = 0; i < 100 && probe(port_); ++i) std::this_thread::sleep_for(20ms);
    }
    int port() const { return port_; }

  private:
    std::vector<std::string> argv_;
    int port_;
    pid_t pid_ = -1;
};

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Three writable shards in dir/shard0..2.
std::vector<std::unique_ptr<Daemon>> tcpShards(const fs::path& dir) {
    std::vector<std::unique_ptr<Daemon>> shards;
    for (int i = 0; i < 3; ++i) {
        const int port = probe(0);
        shards.push_back(std::make_unique<Daemon>(
            std::vector<std::string>{"xapian-tcpsrv", "--writable", "--interface", "127.0.0.1",
                                     "--port", std::to_string(port),
                                     (dir / ("shard" + std::to_string(i))).string()},
            port));
    }
    return shards;
}

std::string shardSection(const std::vector<std::unique_ptr<Daemon>>& shards) {
    std::string out = "[SHARDS]\n";
    for (size_t i = 0; i < shards.size(); ++i)
        out += "SHARD" + std::to_string(i + 1) +
               "=tcp 127.0.0.1:" + std::to_string(shards[i]->port()) + "\n";
    return out;
}

std::unique_ptr<ServerChild> server(const fs::path& home, const std::string& extra) {
    auto s = std::make_unique<ServerChild>(
        IXOSERVER_BIN, home, "QUERYPORT=0\nINDEXPORT=0\nCOMMITINTERVALMS=100\n" + extra);
    if (s->queryPort == 0) ADD_FAILURE() << "server did not start";
    return s;
}

// The hits of a results text as "name|weight|links" (document numbers differ between a
// sharded server and one database), sorted so that ties in any order compare equal.
std::vector<std::string> hits(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line, name, weight;
    while (std::getline(in, line)) {
        if (line.rfind("Doc_name=", 0) == 0) name = line.substr(9);
        if (line.rfind("Doc_weight=", 0) == 0) weight = line.substr(11);
        if (line.rfind("links=", 0) == 0) out.push_back(name + "|" + weight + "|" + line.substr(6));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// hits() of a list cut at a rank: the documents of the lowest weight are left out, as
// which of several equal ones made the cut depends on their numbers.
std::vector<std::string> hitsAboveCut(const std::string& text) {
    auto all = hits(text);
    int lowest = 101;
    for (const auto& h : all) lowest = std::min(lowest, std::atoi(h.c_str() + h.find('|') + 1));
    std::erase_if(all, [&](const std::string& h) {
        return std::atoi(h.c_str() + h.find('|') + 1) == lowest;
    });
    return all;
}

std::string valueOf(const std::string& text, const std::string& key) {
    const size_t p = text.find(key + "=");
    if (p == std::string::npos) return {};
    return text.substr(p + key.size() + 1, text.find('\n', p) - p - key.size() - 1);
}

// The number a server gave the document with this reference.
std::string numberOf(int queryPort, const std::string& ref) {
    return valueOf(get(queryPort, "/qmethod=q&querytext=&fnameIXOREFERENCE=" + ref + "&qnum=1"),
                   "Doc_id");
}

std::string addBody(const std::vector<std::string>& refs, const std::string& words) {
    std::string body;
    for (const auto& r : refs)
        body += "#IXOREFERENCE " + r + "\n#IXOTITLE " + r + "\n#IXOCONTENT\n" + words +
                "\n#IXOENDDOC\n";
    return body + "#IXOENDDATA\n";
}

// The first reference "prefixN" that lands on the shard.
std::string refOnShard(const std::string& prefix, size_t shard, size_t shards) {
    for (int i = 0;; ++i)
        if (ixoserver::shardOfReference(prefix + std::to_string(i), shards) == shard)
            return prefix + std::to_string(i);
}

}  // namespace

TEST(ShardConfig, ShardValuesAndGapsAreCheckedNotGuessed) {
    ixoserver::ShardSpec s;
    ASSERT_TRUE(ixoserver::parseShardSpec("tcp 10.0.0.5:7001", s));
    EXPECT_TRUE(s.remote() && s.host == "10.0.0.5" && s.port == 7001);
    ASSERT_TRUE(ixoserver::parseShardSpec("TCP [::1]:80", s));
    EXPECT_EQ(s.text(), "tcp [::1]:80");
    for (const char* bad : {"tcp host", "tcp host:0", "tcp :80", "tcp host:99999", ""})
        EXPECT_FALSE(ixoserver::parseShardSpec(bad, s)) << bad;
    ASSERT_TRUE(ixoserver::parseShardSpec("shards/one", s));
    EXPECT_FALSE(s.remote());

    // A gap would renumber every later shard, and with it every document number.
    TempDir dir;
    fs::create_directories(dir.path() / "ixo");
    testing_support::writeWholeFile(
        (dir.path() / "ixo" / "ixo.ini").string(),
        "[SERVER]\nINDEXAUTH=OFF\n[SHARDS]\nSHARD1=a\nSHARD3=tcp 127.0.0.1:9\n");
    ixoserver::ServerConfig config;
    std::string error;
    EXPECT_FALSE(ixoserver::loadServerConfig(dir.path().string(), config, error));
    EXPECT_NE(error.find("SHARD2"), std::string::npos) << error;
}

TEST(ShardedServer, AnswersEveryRequestAsOneDatabase) {
    if (!haveTool("xapian-tcpsrv")) GTEST_SKIP() << "xapian-tcpsrv (xapian-tools) not installed";
    TempDir dir;
    auto shards = tcpShards(dir.path());
    auto sharded = server(dir.path() / "sharded", shardSection(shards));
    auto single = server(dir.path() / "single", "");
    // Local shard folders: the server's own scoring runs over them.
    std::string folders = "[SHARDS]\n";
    for (int i = 1; i <= 3; ++i)
        folders += "SHARD" + std::to_string(i) + "=" +
                   (dir.path() / ("local" + std::to_string(i))).string() + "\n";
    auto local = server(dir.path() / "local", folders);
    ASSERT_GT(sharded->queryPort, 0);
    ASSERT_GT(single->queryPort, 0);
    ASSERT_GT(local->queryPort, 0);
    // A real corpus, imported and sent by ixoindex (a file it cannot import makes it
    // exit 1; the documents it could are sent all the same).
    std::vector<std::thread> runs;
    for (const auto* s : {sharded.get(), single.get(), local.get()}) {
        const std::string cmd =
            std::string(IXOINDEX_BIN) + " --server 127.0.0.1:" + std::to_string(s->indexPort) +
            " --state " + (dir.path() / ("state" + std::to_string(s->indexPort))).string() +
            " /usr/share/doc >/dev/null 2>&1";
        runs.emplace_back([cmd] { [[maybe_unused]] int rc = std::system(cmd.c_str()); });
    }
    for (auto& t : runs) t.join();
    const int q3 = sharded->queryPort, q1 = single->queryPort;
    const std::string docs = valueOf(get(q1, "/qmethod=V"), "DOCNUM");
    ASSERT_GT(std::atoi(docs.c_str()), 200);
    EXPECT_EQ(valueOf(get(q3, "/qmethod=V"), "DOCNUM"), docs);
    EXPECT_EQ(valueOf(get(q3, "/qmethod=V"), "DBINFO"), valueOf(get(q1, "/qmethod=V"), "DBINFO"));

    const std::string agent =  // an agent-like query of many terms
        "LICENSE~+LIBRARY~+FUNCTION~+XSLT~+MEMORY~+VALGRIND~+PYTHON~+NODE~+MODULE~+"
        "STRING~+ERROR~+FILE~+BUFFER~+STREAM~+TREE~+NAMESPACE~+COPYRIGHT~+";
    for (const std::string& q : std::vector<std::string>{
             "/qmethod=E&querytext=" + agent + "&qnum=10000&idnum=0",
             "/qmethod=E&querytext=" + agent + "&qnum=10000&idnum=30",
             "/qmethod=E&querytext=" + agent + "&qnum=5&idnum=0",  // the top list prunes
             "/qmethod=q&querytext=MEMORY~+LEAK~+&qnum=10000&xoptions=inchitcount",
             "/qmethod=F&querytext=MEMORY~+ERROR~+&qnum=10000",
             "/qmethod=g&querytext=LICENSE~+&qnum=10000",
             "/qmethod=q&querytext=LICENSE~+&xoptions=counthits",
             "/qmethod=q&querytext=LICENSE~+&xoptions=withsummary&qnum=10000"}) {
        const std::string b = get(q1, q);
        for (const std::string& a : {get(q3, q), get(local->queryPort, q)}) {
            for (const char* key : {"numhits", "totalhits"})
                EXPECT_EQ(valueOf(a, key), valueOf(b, key)) << q;
            EXPECT_EQ(hits(a), hits(b)) << q;
        }
    }
    EXPECT_EQ(get(q3, "/qmethod=a&querytext=LICENSE+MEMORY+XSLT"),
              get(q1, "/qmethod=a&querytext=LICENSE+MEMORY+XSLT"));

    // Requests naming a document, by reference and by each server's own number.
    std::vector<std::string> top;
    for (const auto& h : hits(get(q1, "/qmethod=E&querytext=" + agent + "&qnum=8&idnum=0")))
        top.push_back(h.substr(0, h.find('|')));
    ASSERT_GE(top.size(), 3u);
    for (const auto& ref : top) {
        const std::string n3 = numberOf(q3, ref), n1 = numberOf(q1, ref);
        ASSERT_FALSE(n3.empty()) << ref;
        const std::string t = "/qmethod=t&querytext=" + ref + "&idnum=30&xoptions=useurl+tweights";
        EXPECT_EQ(get(q3, t), get(q1, t));
        for (const char* m : {"e", "z"})
            EXPECT_EQ(get(q3, "/qmethod=" + std::string(m) + "&idnum=" + n3),
                      get(q1, "/qmethod=" + std::string(m) + "&idnum=" + n1));
        auto content = [](std::string t) {
            const size_t p = t.find("#IXODOCID ");
            if (p != std::string::npos) t.erase(p, t.find('\n', p) - p + 1);
            return t;
        };
        EXPECT_EQ(content(get(q3, "/qmethod=c&querytext=" + n3)),
                  content(get(q1, "/qmethod=c&querytext=" + n1)));
        EXPECT_EQ(hitsAboveCut(get(q3, "/qmethod=s&querytext=&idnum=" + n3 + "&qnum=40")),
                  hitsAboveCut(get(q1, "/qmethod=s&querytext=&idnum=" + n1 + "&qnum=40")));
    }

    // Picking documents by number (remote shards take no match decider).
    std::string only3, only1;
    for (size_t i = 0; i < top.size(); i += 2) {
        only3 += numberOf(q3, top[i]) + "+";
        only1 += numberOf(q1, top[i]) + "+";
    }
    EXPECT_EQ(hits(get(q3, "/qmethod=q&querytext=" + agent + "&onlymatch=" + only3)),
              hits(get(q1, "/qmethod=q&querytext=" + agent + "&onlymatch=" + only1)));

    // Changes by number and by reference reach the shard that holds the document.
    const std::string byNumber = top[0], byRef = top[1], retitled = top[2];
    const int idx = sharded->indexPort;
    EXPECT_EQ(get(idx, "/IXODELETEDOC?docs=" + numberOf(q3, byNumber)), "DELETED=1\n");
    EXPECT_EQ(get(idx, "/IXODELETEREF?docs=" + byRef), "DELETED=1\n");
    EXPECT_TRUE(has(exchange(idx, "POST", "/IXOREPLACE?",
                             "#IXODOCID " + numberOf(q3, retitled) +
                                 "\n#IXOFIELDNAME IXOTITLE\n#IXOFIELDVALUE Quokka\n#IXOENDDATA\n")
                        .body,
                    "REPLACED=1"));
    EXPECT_TRUE(
        has(exchange(idx, "POST", "/IXOUPDATE?", "#IXOTERM WOMBAT\n+R" + retitled + "\n").body,
            "UPDATED=1"));
    EXPECT_EQ(std::atoi(valueOf(get(q3, "/qmethod=V"), "DOCNUM").c_str()),
              std::atoi(docs.c_str()) - 2);
    EXPECT_TRUE(numberOf(q3, byNumber).empty() && numberOf(q3, byRef).empty());
    // The edited document's matching terms come from its term list, not its stored text.
    const std::string wombat = get(q3, "/qmethod=q&querytext=WOMBAT");
    EXPECT_EQ(valueOf(wombat, "URL_title"), "Quokka");
    EXPECT_EQ(valueOf(wombat, "links"), "WOMBAT");
    // Straight from the shards' folders: each reference is in its own shard only.
    for (size_t i = 0; i < shards.size(); ++i) {
        Xapian::Database db((dir.path() / ("shard" + std::to_string(i))).string());
        const bool here = ixoserver::shardOfReference(retitled, 3) == i;
        EXPECT_EQ(db.get_termfreq(ixoserver::referenceTerm(retitled)), here ? 1u : 0u);
        EXPECT_EQ(db.get_termfreq("wombat"), here ? 1u : 0u);
    }
}

TEST(ShardedServer, AShardDownIsReportedAndUsedAgainOnceBack) {
    if (!haveTool("xapian-tcpsrv")) GTEST_SKIP() << "xapian-tcpsrv (xapian-tools) not installed";
    TempDir dir;
    auto shards = tcpShards(dir.path());
    auto master = server(dir.path() / "master", shardSection(shards));
    auto partial =
        server(dir.path() / "partial", "READONLY=1\nPARTIALRESULTS=1\n" + shardSection(shards));
    ASSERT_GT(master->queryPort, 0);
    ASSERT_GT(partial->queryPort, 0);
    std::vector<std::string> refs;
    for (int i = 0; i < 30; ++i) refs.push_back("page" + std::to_string(i));
    ASSERT_TRUE(
        has(exchange(master->indexPort, "POST", "/IXOADDDATA?", addBody(refs, "wallaby")).body,
            "DOCUMENTS=30"));
    const std::string query = "/qmethod=q&querytext=WALLABY&qnum=100";
    ASSERT_EQ(valueOf(get(master->queryPort, query), "numhits"), "30");

    shards[1]->stop();
    const Reply down = exchange(master->queryPort, "GET", query);
    EXPECT_EQ(down.status, 503);
    EXPECT_TRUE(has(down.body, "shard 2") && !has(down.body, "numhits")) << down.body;
    const std::string part = get(partial->queryPort, query);
    EXPECT_EQ(valueOf(part, "missingshards"), "2");
    int expected = 0;
    for (const auto& r : refs) expected += ixoserver::shardOfReference(r, 3) != 1;
    EXPECT_EQ(std::atoi(valueOf(part, "numhits").c_str()), expected);
    for (const auto& h : hits(part))
        EXPECT_NE(ixoserver::shardOfReference(h.substr(0, h.find('|')), 3), 1u) << h;
    // Writing to the missing shard fails and is not acknowledged; the others take work.
    auto add = [&](size_t shard) {
        return exchange(master->indexPort, "POST", "/IXOADDDATA?",
                        addBody({refOnShard("late", shard, 3)}, "wallaby"));
    };
    const Reply refused = add(1);
    EXPECT_NE(refused.status, 200);
    EXPECT_FALSE(has(refused.body, "INDEXID")) << refused.body;
    // Acknowledged only once committed: the shard's own folder holds the document and
    // the job number of the reply.
    const std::string job = valueOf(add(0).body, "INDEXID");
    ASSERT_FALSE(job.empty());
    Xapian::Database first((dir.path() / "shard0").string());
    EXPECT_EQ(first.get_metadata("ixo.lastjob"), job);
    EXPECT_EQ(first.get_termfreq(ixoserver::referenceTerm(refOnShard("late", 0, 3))), 1u);

    shards[1]->start();
    std::string back;
    for (int i = 0; i < 100 && valueOf(back, "numhits") != "31"; ++i) {
        std::this_thread::sleep_for(50ms);
        back = get(master->queryPort, query);
    }
    EXPECT_EQ(valueOf(back, "numhits"), "31");
    EXPECT_EQ(valueOf(get(partial->queryPort, query), "missingshards"), "");
    EXPECT_TRUE(has(add(1).body, "INDEXID"));
    EXPECT_EQ(valueOf(get(master->queryPort, query), "numhits"), "32");
}

TEST(ShardedServer, ReadOnlyOverReplicasAnswersAndRefusesIndexCommands) {
    if (!haveTool("xapian-replicate") || !haveTool("xapian-replicate-server"))
        GTEST_SKIP() << "xapian-replicate (xapian-tools) not installed";
    TempDir dir;
    const fs::path masters = dir.path() / "masters";
    auto master = server(dir.path() / "master", "[SHARDS]\nSHARD1=" + (masters / "a").string() +
                                                    "\nSHARD2=" + (masters / "b").string() + "\n");
    ASSERT_GT(master->queryPort, 0);
    std::vector<std::string> refs;
    for (int i = 0; i < 20; ++i) refs.push_back("note" + std::to_string(i));
    ASSERT_TRUE(
        has(exchange(master->indexPort, "POST", "/IXOCREATEDBASE?Notes").body, "DATABASE="));
    ASSERT_TRUE(has(
        exchange(master->indexPort, "POST", "/IXOADDDATA?IXODBNAME=Notes", addBody(refs, "numbat"))
            .body,
        "DOCUMENTS=20"));

    const int port = probe(0);
    fs::create_directories(dir.path() / "replicas");
    Daemon replicator({"xapian-replicate-server", "--interface", "127.0.0.1", "--port",
                       std::to_string(port), masters.string()},
                      port);
    for (const char* name : {"a", "b"}) {
        const std::string cmd = "xapian-replicate -o -q -h 127.0.0.1 -p " + std::to_string(port) +
                                " -m " + name + " " + (dir.path() / "replicas" / name).string() +
                                " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    auto replica =
        server(dir.path() / "query",
               "READONLY=1\n[SHARDS]\nSHARD1=" + (dir.path() / "replicas" / "a").string() +
                   "\nSHARD2=" + (dir.path() / "replicas" / "b").string() + "\n");
    ASSERT_GT(replica->queryPort, 0);
    const std::string query = "/qmethod=q&querytext=NUMBAT&qnum=100&attachtoname=Notes";
    EXPECT_EQ(hits(get(replica->queryPort, query)), hits(get(master->queryPort, query)));
    EXPECT_EQ(valueOf(get(replica->queryPort, query), "numhits"), "20");
    for (const char* cmd : {"/IXORESET", "/IXODELETEREF?docs=note1", "/IXOCREATEDBASE?More"}) {
        const Reply r = exchange(replica->indexPort, "GET", cmd);
        EXPECT_TRUE(r.status == 403 && has(r.body, "read-only")) << cmd << r.body;
    }
    EXPECT_EQ(valueOf(get(replica->queryPort, query), "numhits"), "20");
}
