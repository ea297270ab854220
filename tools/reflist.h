// Items of the reference list of a delete request ("/IXODELETEREF?docs=A+B"). The server
// splits the list on '+' before it decodes the items, so each reference is sent encoded.
#pragma once

#include <string>

namespace tools {

// Every byte but ASCII letters, digits and "/._-" becomes %XX, so the list separator
// '+', the parameter separator '&', '%' itself, blanks, '#', '?', '=' and bytes of 0x80
// and above arrive as data. libixo passes the text on as given, so nothing is encoded
// twice.
inline std::string encodeReferenceItem(const std::string& reference) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(reference.size());
    for (char ch : reference) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '.' || c == '_' || c == '-';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace tools
