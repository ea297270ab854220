#include "convcommon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/slaveutil.h"

namespace conv {

namespace {

void reap(pid_t pid, int& status) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

RunResult runProgram(const std::vector<std::string>& argv, int32_t limitSeconds) {
    RunResult r;
    if (argv.empty()) return r;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int out[2], err[2];  // err: tells the parent that exec failed
    if (pipe2(out, O_CLOEXEC) != 0) return r;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return r;
    }
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        return r;
    }
    if (pid == 0) {
        // The converter must not outlive this program (the master kills a hung slave).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        setpgid(0, 0);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 2);
        }
        dup2(out[1], 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("LANG", "C.UTF-8", 1);
        execvp(args[0], args.data());
        int e = errno;
        ssize_t ignored = write(err[1], &e, sizeof e);
        (void)ignored;
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    int execErr = 0;
    ssize_t n;
    do {
        n = read(err[0], &execErr, sizeof execErr);
    } while (n < 0 && errno == EINTR);
    close(err[0]);
    int status = 0;
    if (n == static_cast<ssize_t>(sizeof execErr)) {
        close(out[0]);
        reap(pid, status);
        return r;  // not started
    }
    r.started = true;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(limitSeconds > 0 ? limitSeconds : 1);
    char buf[65536];
    bool tooMuch = false;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            r.timedOut = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        int pr = poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
        if (pr < 0 && errno != EINTR) break;
        if (pr <= 0) continue;
        n = read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (r.output.size() + static_cast<size_t>(n) > kMaxOutput) {
            tooMuch = true;
            break;
        }
        r.output.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    if (r.timedOut || tooMuch) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
    }
    reap(pid, status);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (tooMuch) r.exitCode = -1;
    return r;
}

int32_t converterTimeLimit() {
    const char* v = std::getenv("CONVERTER_TIME_LIMIT");
    if (v && *v) {
        long s = std::strtol(v, nullptr, 10);
        if (s > 0 && s < 86400) return static_cast<int32_t>(s);
    }
    return 300;
}

std::string utf8ToLatin1(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool valid = len > 0 && i + static_cast<size_t>(len) <= n;
        uint32_t cp = valid ? (c & (0x7F >> len)) : 0;
        for (int k = 1; valid && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (!valid) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (cp == 0x2018 || cp == 0x2019)
            out += '\'';
        else if (cp == 0x201C || cp == 0x201D)
            out += '"';
        else if (cp == 0x2013 || cp == 0x2014)
            out += '-';
        else if (cp == 0x2022)
            out += '*';
        else if (cp == 0x000C)
            out += '\n';
        else
            out += cp <= 0xFF ? static_cast<char>(cp) : '?';
        i += static_cast<size_t>(len);
    }
    return out;
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\0':
                out += ' ';
                break;
            case '\f':
                out += '\n';
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string textToHtml(const std::string& title, const std::string& text) {
    std::string out = "<html><head>";
    if (!title.empty()) out += "<title>" + escapeHtml(title) + "</title>";
    out += "</head><body><pre>";
    out += escapeHtml(text);
    out += "</pre></body></html>\n";
    return out;
}

std::string xmlToText(const std::string& xml) {
    std::string out;
    bool inTag = false;
    std::string tag;
    for (char c : xml) {
        if (inTag) {
            if (c == '>') {
                inTag = false;
                // Paragraph, row and slide ends become line ends; cells become tabs.
                if (tag.rfind("/text:p", 0) == 0 || tag.rfind("/text:h", 0) == 0 ||
                    tag.rfind("/w:p", 0) == 0 || tag.rfind("/a:p", 0) == 0 ||
                    tag.rfind("/si", 0) == 0 || tag.rfind("/row", 0) == 0)
                    out += '\n';
                else if (tag.rfind("/c", 0) == 0 || tag.rfind("text:tab", 0) == 0 ||
                         tag.rfind("w:tab", 0) == 0)
                    out += '\t';
                tag.clear();
            } else if (tag.size() < 32) {
                tag += c;
            }
        } else if (c == '<') {
            inTag = true;
        } else {
            out += c;
        }
    }
    // Predefined entities.
    std::string dec;
    dec.reserve(out.size());
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '&') {
            static const std::pair<const char*, char> ents[] = {
                {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
            bool done = false;
            for (const auto& [name, ch] : ents) {
                size_t l = std::strlen(name);
                if (out.compare(i, l, name) == 0) {
                    dec += ch;
                    i += l - 1;
                    done = true;
                    break;
                }
            }
            if (done) continue;
        }
        dec += out[i];
    }
    return dec;
}

std::string xmlElementText(const std::string& xml, const std::string& tag) {
    size_t open = xml.find("<" + tag);
    while (open != std::string::npos) {
        char next = open + tag.size() + 1 < xml.size() ? xml[open + tag.size() + 1] : '\0';
        if (next == '>' || next == ' ' || next == '/') break;
        open = xml.find("<" + tag, open + 1);
    }
    if (open == std::string::npos) return {};
    size_t start = xml.find('>', open);
    if (start == std::string::npos || xml[start - 1] == '/') return {};
    size_t end = xml.find("</" + tag, start);
    if (end == std::string::npos) return {};
    std::string text = xmlToText(xml.substr(start + 1, end - start - 1));
    std::string folded;
    for (char c : text) {
        bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (space) {
            if (!folded.empty() && folded.back() != ' ') folded += ' ';
        } else {
            folded += c;
        }
    }
    while (!folded.empty() && folded.back() == ' ') folded.pop_back();
    return folded;
}

bool readFile(const std::string& name, std::string& out, size_t limit) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while (out.size() < limit && (n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, std::min(n, limit - out.size()));
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool writeFile(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int slaveMain(int argc, char** argv, Converter convert) {
    signal(SIGPIPE, SIG_IGN);
    SlaveChannel ch;
    if (!slaveChannelOpen(&ch, argc, argv)) {
        std::fprintf(stderr, "%s: must be started by the import library\n",
                     argc > 0 ? argv[0] : "converter");
        return 2;
    }
    int rc;
    while ((rc = slaveChannelWaitJob(&ch, 500)) >= 0) {
        if (rc == 0) continue;
        const std::string input = ch.inputFile, output = ch.outputFile;
        bool ok = false;
        try {
            ok = convert(input, output);
        } catch (...) {
            ok = false;
        }
        // A failed conversion leaves no output, so the master sees the failure.
        if (!ok) std::remove(output.c_str());
        slaveChannelFinish(&ch);
    }
    slaveChannelClose(&ch);
    return 0;
}

}  // namespace conv
