#include "server/nuvaserver/nuvaservice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "server/httpreq.h"

namespace nuvaserver {

namespace {

using ixoserver::FrontAnswer;
using ixoserver::HttpReply;

constexpr const char* kIllegalVars = "Nuvaserver Error: illegal cgi vars\n";

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

HttpReply textReply(int status, std::string body) {
    HttpReply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

// The parameters of a query string, values percent-decoded. False when a name comes
// twice (which value counts would be a guess) or a value holds a control character.
bool parseQuery(std::string_view query, std::vector<std::pair<std::string, std::string>>& out) {
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (piece.empty()) continue;
        size_t eq = piece.find('=');
        std::string name(piece.substr(0, eq));
        std::string value = eq == std::string_view::npos
                                ? std::string()
                                : ixoserver::percentDecode(piece.substr(eq + 1));
        for (const auto& [n, v] : out)
            if (equalsCaseBlind(n, name)) return false;
        for (unsigned char c : value)
            if (isControl(c)) return false;
        out.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

const std::string* param(const std::vector<std::pair<std::string, std::string>>& params,
                         std::string_view name) {
    for (const auto& [n, v] : params)
        if (equalsCaseBlind(n, name)) return &v;
    return nullptr;
}

bool acceptablePassword(std::string_view password) {
    if (password.size() <= 4 || password.size() > kMaxPasswordBytes) return false;
    for (unsigned char c : password)
        if (!std::isalnum(c) && c != '-') return false;
    return true;
}

}  // namespace

bool acceptableFileName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name.front() == '.') return false;
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || isControl(c)) return false;
    return true;
}

bool acceptableUserName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameBytes) return false;
    for (unsigned char c : name)
        if (c >= 0x80 || (!std::isalnum(c) && c != '-')) return false;
    return true;
}

bool acceptableEmail(std::string_view email) {
    if (email.size() < 3 || email.size() > kMaxEmailBytes) return false;
    const size_t at = email.find('@');
    if (at == 0 || at == std::string_view::npos || at + 1 == email.size() ||
        email.find('@', at + 1) != std::string_view::npos)
        return false;
    for (unsigned char c : email)
        if (c == ' ' || isControl(c)) return false;
    return true;
}

std::string percentEncode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) && c < 0x80) {
            out += static_cast<char>(c);
        } else if (c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string maskSecrets(std::string_view target) {
    std::string out;
    size_t pos = 0;
    while (pos < target.size()) {
        size_t end = target.find_first_of("?&", pos);
        std::string_view piece =
            target.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        size_t eq = piece.find('=');
        if (eq != std::string_view::npos && (equalsCaseBlind(piece.substr(0, eq), "password") ||
                                             equalsCaseBlind(piece.substr(0, eq), "pass"))) {
            out.append(piece.substr(0, eq + 1));
            out += "***";
        } else {
            out.append(piece);
        }
        if (end == std::string_view::npos) break;
        out += target[end];
        pos = end + 1;
    }
    if (out.size() > 200) out.resize(200);
    for (auto& ch : out)
        if (isControl(static_cast<unsigned char>(ch))) ch = ' ';
    return out;
}

std::string NuvaService::configurationReply(const std::string& clientVersion) const {
    std::string text = config_.replyText;
    // The agents read their settings from this section: it is always there.
    size_t settings = std::string::npos;
    for (size_t pos = 0; pos < text.size();) {
        size_t eol = text.find('\n', pos);
        std::string_view line(text.data() + pos,
                              (eol == std::string::npos ? text.size() : eol) - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (equalsCaseBlind(line, "[Settings]")) {
            settings = eol == std::string::npos ? text.size() : eol + 1;
            break;
        }
        if (eol == std::string::npos) break;
        pos = eol + 1;
    }
    if (settings == std::string::npos) {
        text = "[Settings]\r\n" + text;
        settings = 12;
    }
    std::error_code ec;
    const bool offer =
        !config_.upgradeFile.empty() && !config_.upgradeVersion.empty() &&
        acceptableFileName(config_.upgradeFile) && !clientVersion.empty() &&
        compareVersions(clientVersion, config_.upgradeVersion) < 0 &&
        std::filesystem::is_regular_file(
            std::filesystem::path(config_.resolve(config_.upgrades)) / config_.upgradeFile, ec);
    if (offer) {
        const std::string address = config_.publicAddress.empty()
                                        ? config_.bindAddress + ":" + std::to_string(port_)
                                        : config_.publicAddress;
        text.insert(settings, "UpgradeURL=http://" + address + "/upgrades/" +
                                  percentEncode(config_.upgradeFile) + "\r\n");
    }
    return text;
}

HttpReply NuvaService::account(std::string_view query) {
    std::vector<std::pair<std::string, std::string>> params;
    if (!parseQuery(query, params)) return textReply(200, kIllegalVars);
    const std::string* method = param(params, "METHOD");
    const std::string* name = param(params, "username");
    const std::string* password = param(params, "password");
    const std::string* email = param(params, "emailaddress");
    const std::string* version = param(params, "clientversion");
    if (!method) return textReply(400, kIllegalVars);
    if (*method == "register") {
        if (!name || !password || !email || !acceptableUserName(*name) ||
            !acceptablePassword(*password) || !acceptableEmail(*email))
            return textReply(200, kIllegalVars);
        switch (accounts_.create(*name, *password, *email)) {
            case CreateResult::Created:
                return textReply(200, "success\n");
            case CreateResult::Exists:
                return textReply(200, "Nuvaserver Error: user already exists\n");
            case CreateResult::Failed:
                break;
        }
        return textReply(200, "Nuvaserver Error: user creation failure\n");
    }
    if (*method == "update") {
        if (!name || !password || password->size() > kMaxPasswordBytes)
            return textReply(200, kIllegalVars);
        if (!acceptableUserName(*name)) return textReply(200, "Nuvaserver Error: user incorrect\n");
        switch (accounts_.check(*name, *password)) {
            case CheckResult::Ok:
                return textReply(200, configurationReply(version ? *version : std::string()));
            case CheckResult::NoSuchUser:
                return textReply(200, "Nuvaserver Error: user incorrect\n");
            case CheckResult::WrongPassword:
                return textReply(200, "Nuvaserver Error: password incorrect\n");
            case CheckResult::Failed:
                break;
        }
        return textReply(200, "Nuvaserver Error: group read failure\n");
    }
    return textReply(400, kIllegalVars);
}

HttpReply NuvaService::file(const std::string& folder, std::string_view encodedName,
                            const char* contentType) {
    const std::string name = ixoserver::percentDecode(encodedName);
    if (!acceptableFileName(name)) return textReply(404, "ERROR: not found\n");
    const std::string path = (std::filesystem::path(config_.resolve(folder)) / name).string();
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return textReply(404, "ERROR: not found\n");
    struct stat st {};
    HttpReply reply;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return textReply(404, "ERROR: not found\n");
    }
    if (static_cast<std::size_t>(st.st_size) > config_.maxFileBytes) {
        ::close(fd);
        return textReply(500, "ERROR: file too large\n");
    }
    reply.body.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < reply.body.size()) {
        ssize_t n = ::read(fd, reply.body.data() + got, reply.body.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got != reply.body.size()) return textReply(500, "ERROR: cannot read the file\n");
    reply.contentType = contentType;
    return reply;
}

FrontAnswer NuvaService::handle(const ixoserver::HttpRequestData& request) {
    FrontAnswer answer;
    if (request.method != "GET") {
        answer.reply = textReply(405, "ERROR: only GET is served\n");
        return answer;
    }
    std::string_view target = ixoserver::pathOf(request.target);
    const size_t mark = target.find('?');
    std::string_view route = target.substr(0, mark);
    std::string_view query =
        mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    const std::string accountRoute =
        (config_.path.empty() ? "" : "/" + config_.path) + "/" + config_.executableName;
    if (route == accountRoute) {
        answer.reply = account(query);
    } else if (route.substr(0, 9) == "/banners/") {
        answer.reply = file(config_.banners, route.substr(9), "image/bmp");
    } else if (route.substr(0, 10) == "/upgrades/") {
        answer.reply = file(config_.upgrades, route.substr(10), "application/octet-stream");
    } else {
        answer.reply = textReply(404, "ERROR: not found\n");
    }
    return answer;
}

}  // namespace nuvaserver
