// URL rules, the safe-target check, the address recogniser, map links and the country
// table reader over arbitrary text: no out-of-bounds access, and the promised shapes hold
// (escaped text is letters, digits and %XX; map links stay within 1023 characters; only
// web, mail and file URLs are ever handed on).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/mapurl.h"
#include "agent/opener.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool escapedShape(const std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) continue;
        auto hex = [](char h) { return (h >= '0' && h <= '9') || (h >= 'A' && h <= 'F'); };
        if (c != '%' || i + 2 >= s.size() || !hex(s[i + 1]) || !hex(s[i + 2])) return false;
        i += 2;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const uint8_t flags = size ? data[0] : 0;

    std::string escaped = agent::escapeUrl(text);
    check(escapedShape(escaped));

    agent::UrlRules rules;
    check(agent::manipulateUrl(text, text, rules) == text);
    rules.useManipulation = true;
    rules.escape = flags & 1;
    rules.insertLinks = flags & 2;
    rules.useProxy = (flags & 4) ? 2 : 0;
    rules.prefix = (flags & 8) ? "http://gw.example/?u=" : "";
    rules.proxyPass = text.substr(0, 16);
    std::string manipulated = agent::manipulateUrl(text, text.substr(size / 2), rules);
    // Without a gateway prefix the proxy account is never appended.
    if (!(flags & 8) && text.find("ProxyPass=") == std::string::npos)
        check(manipulated.find("ProxyPass=") == std::string::npos);

    agent::OpenAction action = agent::checkTarget(text);
    if (action.kind == agent::OpenKind::Url) {
        std::string t = action.target;
        std::string scheme = t.substr(0, t.find(':'));
        for (char& c : scheme)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        check(scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "mailto" ||
              scheme == "file");
        for (char c : t) check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }

    auto reader = [&](const std::string& key, std::string& value) {
        if (key.find("prefix") != std::string::npos) {
            value = "http://maps.example/?";
            return true;
        }
        value = key.substr(7);
        return (flags & 16) != 0;
    };
    for (const agent::Address& a : agent::recogniseAddresses(text)) {
        check(a.countryCode.size() == 2);
        std::string url = agent::buildMapUrl(reader, a.houseNumber, a.street, a.region,
                                             a.countryCode, a.postcodeFirst, a.postcodeSecond);
        check(url.size() <= 1023);
    }

    std::vector<agent::Country> countries;
    if (agent::parseCountryJson(text, countries))
        for (const agent::Country& c : countries) check(c.code.size() == 2 && !c.name.empty());
    return 0;
}
