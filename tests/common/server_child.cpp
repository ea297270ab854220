#include "tests/common/server_child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/common/tempdir.h"

extern char** environ;

namespace testing_support {

pid_t spawnQuietly(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

ServerChild::ServerChild(const std::string& program, const std::filesystem::path& home,
                         const std::string& settings) {
    using namespace std::chrono_literals;
    std::filesystem::create_directories(home / "ixo");
    // Test servers take index commands and queries without credentials unless the
    // settings speak of them (a server of its own generates and requires both pairs).
    auto names = [&](const char* a, const char* b) {
        return settings.find(a) != std::string::npos || settings.find(b) != std::string::npos;
    };
    writeWholeFile(
        (home / "ixo" / "ixo.ini").string(),
        "[SERVER]\n" + std::string(names("INDEXAUTH", "INDEXUSER") ? "" : "INDEXAUTH=OFF\n") +
            std::string(names("QUERYAUTH", "QUERYUSER") ? "" : "QUERYAUTH=OFF\n") + settings);
    // A ports file left from an earlier run must not be taken for this server's.
    std::filesystem::remove(home / "ixo" / "ports");
    pid_ = ::fork();
    if (pid_ == 0) {
        std::string h = home.string();
        ::execl(program.c_str(), program.c_str(), "-runhidden", "--home", h.c_str(),
                (char*)nullptr);
        ::_exit(127);
    }
    if (pid_ < 0) return;
    auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
        std::string ports;
        if (std::filesystem::exists(home / "ixo" / "ports"))
            ports = readWholeFile((home / "ixo" / "ports").string());
        int q = 0, i = 0;
        if (std::sscanf(ports.c_str(), "QUERYPORT=%d\nINDEXPORT=%d", &q, &i) == 2) {
            queryPort = q;
            indexPort = i;
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
}

ServerChild::~ServerChild() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void ServerChild::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

int ServerChild::waitExit(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -1;
    auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= until) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool ServerChild::alive() const {
    if (pid_ <= 0) return false;
    // A child that ended but is not reaped yet counts as ended.
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

}  // namespace testing_support
