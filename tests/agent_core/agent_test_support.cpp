#include "agent_test_support.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ixo.h"
#include "support/strutil.h"

using namespace std::chrono_literals;

namespace agent_test {

ScopedHives::ScopedHives(const std::filesystem::path& dir) {
    userDir = (dir / "userhive").string();
    machineDir = (dir / "machinehive").string();
    ::setenv("SAPIOLUX_USER_HIVE_DIR", userDir.c_str(), 1);
    ::setenv("SAPIOLUX_MACHINE_HIVE_DIR", machineDir.c_str(), 1);
}

ScopedHives::~ScopedHives() {
    ::unsetenv("SAPIOLUX_USER_HIVE_DIR");
    ::unsetenv("SAPIOLUX_MACHINE_HIVE_DIR");
}

std::string buildWeightFile(const std::map<std::string, uint8_t>& weights, uint32_t buckets) {
    std::vector<std::vector<std::pair<std::string, uint8_t>>> byBucket(buckets);
    for (const auto& [term, weight] : weights)
        byBucket[strHash(term.c_str(), buckets)].emplace_back(term, weight);
    std::string out;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    u32(buckets);
    u32(10);
    u32(static_cast<uint32_t>(weights.size()));
    uint32_t first = 0;
    for (const auto& b : byBucket) {
        u32(first);
        u32(static_cast<uint32_t>(b.size()));
        first += static_cast<uint32_t>(b.size());
    }
    for (const auto& b : byBucket)
        for (const auto& [term, weight] : b) {
            out += static_cast<char>(weight);
            std::string padded = term.substr(0, 10);
            padded.resize(10, '\0');
            out += padded;
        }
    return out;
}

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

ServerProcess::ServerProcess(const std::filesystem::path& home, int query, int indexP) {
#ifdef IXOSERVER_BIN
    child_ = std::make_unique<testing_support::ServerChild>(
        IXOSERVER_BIN, home,
        "QUERYPORT=" + std::to_string(query) + "\nINDEXPORT=" + std::to_string(indexP) +
            "\nCOMMITINTERVALMS=100\n");
    queryPort = child_->queryPort;
    indexPort = child_->indexPort;
#else
    (void)home;
    (void)query;
    (void)indexP;
#endif
}

ServerProcess::~ServerProcess() = default;

bool ServerProcess::index(const std::string& idx) {
    IXO ixo{};
    if (ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", queryPort, indexPort) != IXO_OK) return false;
    char reply[512] = {0};
    int32_t rc = ixoIndexLocalBuffer(&ixo, idx.c_str(), nullptr, reply, sizeof reply);
    char* finished = nullptr;
    ixoFinishedIndex(&ixo, &finished);
    if (finished) memFree(finished);
    ixoDestroyIxo(&ixo);
    std::this_thread::sleep_for(300ms);
    return rc == IXO_OK;
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args) {
    RunResult result;
    int pipeFd[2];
    if (::pipe(pipeFd) != 0) return result;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFd[1], 1);
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFd[0], buf, sizeof buf)) > 0) result.out.append(buf, n);
    ::close(pipeFd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace agent_test
