#include "agent/opener.h"

#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "agent/AppParameters.h"
#include "mailfetch/emailclient.h"
#include "platform/docopen.h"
#include "support/percent.h"

namespace agent {

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX decoded; false for a malformed escape or an encoded zero byte.
bool percentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return false;
        int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return true;
}

// Extensions of files that the desktop runs rather than shows (launchers, programs for
// other systems, scripts), refused even without execute permission.
bool isLauncherName(const std::string& path) {
    static const char* const kRefused[] = {"desktop", "jar", "exe",  "com", "bat",      "cmd",
                                           "msi",     "scr", "pif",  "vbs", "appimage", "run",
                                           "sh",      "bin", "jnlp", "lnk"};
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = lower(path.substr(dot + 1));
    for (const char* r : kRefused)
        if (ext == r) return true;
    return false;
}

// An existing regular file without execute permission that the desktop shows rather
// than runs (checked on the file itself and on the name a link leads to).
bool isSafeLocalFile(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return false;
    if (isLauncherName(path)) return false;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return false;
    return !isLauncherName(resolved);
}

bool hasControlBytes(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// A mailto: address that asks the mail program to attach files is refused: a server
// must not be able to send the user's files away in a prepared message.
bool mailtoAsksForAttachment(const std::string& url) {
    size_t q = url.find('?');
    if (q == std::string::npos) return false;
    std::string query;
    if (!percentDecode(url.substr(q + 1), query)) return true;
    return lower(query).find("attach") != std::string::npos;
}

OpenAction status(const char* text) {
    return {OpenKind::Status, text};
}

}  // namespace

OpenSettings OpenSettings::fromParameters(const CAppParameters& settings) {
    OpenSettings s;
    s.rules = UrlRules::fromParameters(settings);
    s.useDocIdAsName = settings.GetUseDocIdAsDocName() != 0;
    s.personalPath = settings.GetPersonalIxoPath();
    return s;
}

const char* recordField(const IxoResultRecord& record, const char* name) {
    if (!record.fields) return nullptr;
    for (int32_t i = 0; i < record.fieldCount; ++i) {
        const IxoResultField& f = record.fields[i];
        if (f.name && ::strcasecmp(f.name, name) == 0) return f.value ? f.value : "";
    }
    return nullptr;
}

std::string fileUrl(const std::string& path) {
    return "file://" +
           percentEncodeIf(path, [](unsigned char c) { return !isUrlUnreserved(c) && c != '/'; });
}

OpenAction checkTarget(const std::string& address) {
    if (address.empty()) return {};
    if (hasControlBytes(address)) return status(kTextUnsafeAddress);
    if (address[0] == '/') {
        if (!isSafeLocalFile(address)) return status(kTextUnsafeFile);
        return {OpenKind::Url, fileUrl(address)};
    }
    // The scheme: a letter, then letters, digits, "+", "-" or ".", then ":".
    size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0) return status(kTextUnsafeAddress);
    for (size_t i = 0; i < colon; ++i) {
        char c = address[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return status(kTextUnsafeAddress);
    }
    const std::string scheme = lower(address.substr(0, colon));
    const std::string rest = address.substr(colon + 1);
    if (scheme == "http" || scheme == "https" || scheme == "ftp") {
        if (rest.size() < 3 || rest.compare(0, 2, "//") != 0 || rest[2] == '/')
            return status(kTextUnsafeAddress);
        return {OpenKind::Url, address};
    }
    if (scheme == "mailto") {
        if (rest.empty() || mailtoAsksForAttachment(address)) return status(kTextUnsafeAddress);
        return {OpenKind::Url, address};
    }
    if (scheme == "file") {
        std::string path = rest;
        if (path.compare(0, 2, "//") == 0) {
            size_t slash = path.find('/', 2);
            if (slash == std::string::npos) return status(kTextUnsafeAddress);
            std::string host = lower(path.substr(2, slash - 2));
            if (!host.empty() && host != "localhost") return status(kTextUnsafeAddress);
            path = path.substr(slash);
        }
        path = path.substr(0, path.find_first_of("?#"));
        std::string decoded;
        if (!percentDecode(path, decoded) || decoded.empty() || decoded[0] != '/' ||
            hasControlBytes(decoded))
            return status(kTextUnsafeAddress);
        if (!isSafeLocalFile(decoded)) return status(kTextUnsafeFile);
        return {OpenKind::Url, fileUrl(decoded)};
    }
    return status(kTextUnsafeAddress);
}

OpenAction decideOpen(const IxoResultRecord& record, const OpenSettings& settings) {
    const char* type = recordField(record, "DocType");
    if (type && ::strcasecmp(type, "EMAIL") == 0) {
        std::string reference = record.name ? record.name : "";
        if (reference.empty()) return {};
        return {OpenKind::Mail, reference};
    }
    if (type && ::strcasecmp(type, "PEOPLE") == 0) {
        const char* contact = recordField(record, "ContactRef");
        if (!contact || !*contact) return status(kTextNoContact);
        std::string address = contact;
        if (address.find('@') != std::string::npos && address.find("http://") == std::string::npos)
            address = "mailto:" + address;
        return checkTarget(address);
    }
    std::string address = settings.useDocIdAsName ? std::to_string(record.docId)
                                                  : std::string(record.name ? record.name : "");
    if (address.empty()) return {};
    return checkTarget(manipulateUrl(address, record.links ? record.links : "", settings.rules));
}

std::string openMailReference(const std::string& reference, const std::string& fetchDirectory,
                              platform::DocumentOpener& opener) {
    auto fetcher = mailfetch::createFetcher(reference);
    if (!fetcher) return kTextMailUnknown;
    struct stat st {};
    if (!fetchDirectory.empty() && ::stat(fetchDirectory.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        fetcher->setFetchDirectory(fetchDirectory);
    // The fetcher writes the message to a file of its own and hands us its name.
    std::string written;
    bool handed = false;
    fetcher->setOpener([&](const std::string& file) {
        written = file;
        OpenAction target = checkTarget(file);
        handed = target.kind == OpenKind::Url && opener.open(target.target);
        return handed;
    });
    if (fetcher->openMessage(reference)) return {};
    if (written.empty()) return kTextMailNotFound;
    return std::string(kTextMailNotOpened) + written + ".";
}

std::string carryOut(const OpenAction& action, const OpenSettings& settings,
                     platform::DocumentOpener& opener) {
    switch (action.kind) {
        case OpenKind::Nothing:
            return {};
        case OpenKind::Status:
            return action.target;
        case OpenKind::Mail:
            return openMailReference(action.target, settings.personalPath, opener);
        case OpenKind::Url:
            return opener.open(action.target) ? std::string() : std::string(kTextNoOpener);
    }
    return {};
}

std::string openResult(const IxoResultRecord& record, const OpenSettings& settings,
                       platform::DocumentOpener& opener) {
    return carryOut(decideOpen(record, settings), settings, opener);
}

}  // namespace agent
