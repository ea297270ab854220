#include "agent/mapurl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

#include "agent/AppParameters.h"
#include "support/envcfgutil.h"

namespace agent {

namespace {

constexpr size_t kMaxMapUrl = 1023;
constexpr size_t kMaxPairsFile = 4u << 20;
constexpr size_t kMaxRecogniseText = 256u << 10;
constexpr size_t kMaxAddresses = 20;
const char* const kCountryFile = "/usr/share/iso-codes/json/iso_3166-1.json";

bool isAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isUpper(unsigned char c) {
    return c >= 'A' && c <= 'Z';
}
bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
// A letter of Windows-1252 (ASCII letters and the accented letters from 0xC0).
bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}
bool isAlnum1252(unsigned char c) {
    return isLetter(c) || isDigit(c);
}

unsigned char lowerByte(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    return c;
}

std::string lower1252(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(lowerByte(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && isBlank(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && isBlank(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

// The entries of a list split at "," and "+", blanks trimmed, empty entries dropped.
std::vector<std::string> splitList(const std::string& list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of(",+", start);
        if (end == std::string::npos) end = list.size();
        std::string entry = trim(list.substr(start, end - start));
        if (!entry.empty()) out.push_back(entry);
        start = end + 1;
    }
    return out;
}

// The first place where word (lower case) stands as a whole word in lower (neither
// letter nor digit just before or after it); npos when nowhere.
size_t findWord(const std::string& lower, const std::string& word, size_t from = 0) {
    if (word.empty()) return std::string::npos;
    for (size_t p = lower.find(word, from); p != std::string::npos; p = lower.find(word, p + 1)) {
        bool startOk = p == 0 || !isAlnum1252(static_cast<unsigned char>(lower[p - 1]));
        size_t end = p + word.size();
        bool endOk = end >= lower.size() || !isAlnum1252(static_cast<unsigned char>(lower[end]));
        if (startOk && endOk) return p;
    }
    return std::string::npos;
}

// True when word stands in lower at its start or after whitespace; a word ending in a
// letter must not run on into another letter ("road" is not "roadster").
bool hasLeadingWord(const std::string& lower, const std::string& word) {
    for (size_t p = lower.find(word); p != std::string::npos; p = lower.find(word, p + 1)) {
        if (p != 0 && !isBlank(static_cast<unsigned char>(lower[p - 1]))) continue;
        size_t end = p + word.size();
        if (isLetter(static_cast<unsigned char>(word.back())) && end < lower.size() &&
            isLetter(static_cast<unsigned char>(lower[end])))
            continue;
        return true;
    }
    return false;
}

// ---- countries -----------------------------------------------------------------------

// A small JSON reader: enough for the iso-codes files, bounded in depth and size.
struct JsonValue {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    std::string text;
    std::vector<JsonValue> items;    // array items, or object member values
    std::vector<std::string> names;  // object member names, one per item
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : s_(text) {}
    bool parse(JsonValue& out) {
        if (!value(out, 0)) return false;
        skip();
        return i_ == s_.size();
    }

  private:
    static constexpr int kMaxDepth = 32;

    void skip() {
        while (i_ < s_.size() && isBlank(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    static void appendCodePoint(uint32_t cp, std::string& out) {
        // The agent's texts are Windows-1252: Latin-1 letters keep their byte.
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
            out.push_back(static_cast<char>(cp));
        else
            out.push_back('?');
    }
    bool hex4(uint32_t& cp) {
        if (s_.size() - i_ < 4) return false;
        cp = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s_[i_++];
            cp <<= 4;
            if (c >= '0' && c <= '9')
                cp |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                cp |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                cp |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    bool string(std::string& out) {
        if (i_ >= s_.size() || s_[i_] != '"') return false;
        ++i_;
        while (i_ < s_.size()) {
            unsigned char c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (i_ >= s_.size()) return false;
                char e = s_[i_++];
                switch (e) {
                    case '"':
                        out.push_back('"');
                        break;
                    case '\\':
                        out.push_back('\\');
                        break;
                    case '/':
                        out.push_back('/');
                        break;
                    case 'b':
                        out.push_back('\b');
                        break;
                    case 'f':
                        out.push_back('\f');
                        break;
                    case 'n':
                        out.push_back('\n');
                        break;
                    case 'r':
                        out.push_back('\r');
                        break;
                    case 't':
                        out.push_back('\t');
                        break;
                    case 'u': {
                        uint32_t cp = 0;
                        if (!hex4(cp)) return false;
                        appendCodePoint(cp >= 0xD800 && cp <= 0xDFFF ? 0xFFFD : cp, out);
                        break;
                    }
                    default:
                        return false;
                }
                continue;
            }
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
                continue;
            }
            // UTF-8: the length from the lead byte; bad sequences become '?'.
            int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
            if (more < 0 || s_.size() - i_ < static_cast<size_t>(more)) {
                out.push_back('?');
                continue;
            }
            uint32_t cp = c & (0x3F >> more);
            bool ok = true;
            for (int k = 0; k < more; ++k) {
                unsigned char t = static_cast<unsigned char>(s_[i_]);
                if ((t & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (t & 0x3F);
                ++i_;
            }
            appendCodePoint(ok ? cp : 0xFFFD, out);
        }
        return false;
    }
    bool literal(const char* word) {
        size_t n = std::strlen(word);
        if (s_.compare(i_, n, word) != 0) return false;
        i_ += n;
        return true;
    }
    bool value(JsonValue& out, int depth) {
        if (depth > kMaxDepth) return false;
        skip();
        if (i_ >= s_.size()) return false;
        char c = s_[i_];
        if (c == '"') {
            out.type = JsonValue::String;
            return string(out.text);
        }
        if (c == '{') {
            out.type = JsonValue::Object;
            ++i_;
            skip();
            if (i_ < s_.size() && s_[i_] == '}') {
                ++i_;
                return true;
            }
            for (;;) {
                skip();
                std::string name;
                JsonValue member;
                if (!string(name)) return false;
                skip();
                if (i_ >= s_.size() || s_[i_] != ':') return false;
                ++i_;
                if (!value(member, depth + 1)) return false;
                out.names.push_back(std::move(name));
                out.items.push_back(std::move(member));
                skip();
                if (i_ >= s_.size()) return false;
                if (s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (s_[i_] != '}') return false;
                ++i_;
                return true;
            }
        }
        if (c == '[') {
            out.type = JsonValue::Array;
            ++i_;
            skip();
            if (i_ < s_.size() && s_[i_] == ']') {
                ++i_;
                return true;
            }
            for (;;) {
                JsonValue item;
                if (!value(item, depth + 1)) return false;
                out.items.push_back(std::move(item));
                skip();
                if (i_ >= s_.size()) return false;
                if (s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (s_[i_] != ']') return false;
                ++i_;
                return true;
            }
        }
        if (literal("true") || literal("false")) {
            out.type = JsonValue::Bool;
            return true;
        }
        if (literal("null")) return true;
        size_t start = i_;
        while (i_ < s_.size() && std::strchr("+-0123456789.eE", s_[i_]) && s_[i_]) ++i_;
        if (i_ == start) return false;
        out.type = JsonValue::Number;
        return true;
    }

    const std::string& s_;
    size_t i_ = 0;
};

const std::vector<Country>& builtinCountries() {
    static const std::vector<Country> table = {
        {"DE", "Germany"}, {"GB", "United Kingdom"}, {"IT", "Italy"}, {"US", "United States"}};
    return table;
}

}  // namespace

// ---- URL manipulation ------------------------------------------------------------------

UrlRules UrlRules::fromParameters(const CAppParameters& s) {
    UrlRules r;
    r.useManipulation = s.GetUseUrlManipulation() != 0;
    r.escape = s.GetEscapeUrl() != 0;
    r.prefix = s.GetUrlPrefix();
    r.postfix = s.GetUrlPostfix();
    r.docTypes = s.GetDocTypes();
    r.insertLinks = s.GetInsertLinks() != 0;
    r.linksVarName = s.GetLinksVarName();
    r.useProxy = s.GetUseProxy();
    r.proxyHost = s.GetProxyHost();
    r.proxyPort = s.GetProxyPort();
    r.proxyUser = s.GetProxyUsername();
    r.proxyPass = s.GetProxyPassword();
    return r;
}

std::string escapeUrl(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (isAsciiAlnum(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string manipulateUrl(const std::string& url, const std::string& links, const UrlRules& rules) {
    if (!rules.useManipulation) return url;
    const std::string head = url.substr(0, url.find('?'));
    const size_t dot = head.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : lower1252(head.substr(dot + 1));
    if (!extension.empty()) {
        bool listed = false;
        for (const std::string& type : splitList(rules.docTypes))
            if (lower1252(type) == extension) listed = true;
        if (!listed) return url;
    }
    std::string out = rules.prefix + (rules.escape ? escapeUrl(url) : url) + rules.postfix;
    if (rules.insertLinks) {
        std::vector<std::string> entries = splitList(links);
        if (!entries.empty()) {
            out += "&" + rules.linksVarName + "=";
            for (size_t i = 0; i < entries.size(); ++i) out += (i ? "," : "") + entries[i];
        }
    }
    // The proxy account goes only to the organisation's own gateway (a prefix is set),
    // never to whatever site a result names, and only in encoded form.
    if (rules.useProxy != 0 && !rules.prefix.empty()) {
        out += "&ProxyHost=" + escapeUrl(rules.proxyHost);
        out += "&ProxyPort=" + std::to_string(rules.proxyPort);
        out += "&ProxyUser=" + escapeUrl(rules.proxyUser);
        out += "&ProxyPass=" + escapeUrl(rules.proxyPass);
    }
    return out;
}

// ---- settings ----------------------------------------------------------------------------

SettingReader extendedSettings(const CAppParameters& settings) {
    return [&settings](const std::string& key, std::string& value) {
        value = settings.ExtGetText(key);
        return !value.empty();
    };
}

SettingReader configSettings(ConfigFile* config, const std::string& section) {
    return [config, section](const std::string& key, std::string& value) {
        value.clear();
        if (!config) return false;
        char* text = nullptr;
        int found = envCfgGetText(config, section.c_str(), key.c_str(), &text, nullptr);
        if (text) {
            value = text;
            memFree(text);
        }
        return found == 1;
    };
}

// ---- countries ---------------------------------------------------------------------------

bool parseCountryJson(const std::string& text, std::vector<Country>& out) {
    JsonValue root;
    if (!JsonReader(text).parse(root) || root.type != JsonValue::Object) return false;
    const JsonValue* list = nullptr;
    for (size_t i = 0; i < root.names.size(); ++i)
        if (root.names[i] == "3166-1" && root.items[i].type == JsonValue::Array)
            list = &root.items[i];
    if (!list) return false;
    std::vector<Country> found;
    for (const JsonValue& item : list->items) {
        if (item.type != JsonValue::Object) continue;
        Country c;
        for (size_t i = 0; i < item.names.size(); ++i) {
            if (item.items[i].type != JsonValue::String) continue;
            if (item.names[i] == "alpha_2") c.code = item.items[i].text;
            if (item.names[i] == "name") c.name = item.items[i].text;
        }
        if (c.code.size() == 2 && isUpper(static_cast<unsigned char>(c.code[0])) &&
            isUpper(static_cast<unsigned char>(c.code[1])) && !c.name.empty())
            found.push_back(std::move(c));
    }
    if (found.empty()) return false;
    out = std::move(found);
    return true;
}

const std::vector<Country>& countries() {
    static const std::vector<Country> table = [] {
        std::vector<Country> loaded;
        std::ifstream in(kCountryFile, std::ios::binary);
        if (in) {
            std::string text;
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (text.size() <= (8u << 20) && parseCountryJson(text, loaded)) return loaded;
        }
        return builtinCountries();
    }();
    return table;
}

std::string countryName(const std::string& code) {
    for (const Country& c : countries())
        if (c.code == code) return c.name;
    for (const Country& c : builtinCountries())
        if (c.code == code) return c.name;
    return {};
}

// ---- address recognition ---------------------------------------------------------------

namespace {

const char* const kStreetWords[] = {"street",    "road",   "avenue", "drive",     "close",
                                    "court",     "plaza",  "platz",  "boulevard", "viale",
                                    "via",       "strade", "place",  "row",       "terrace",
                                    "park",      "square", "rd",     "ave",       "allee",
                                    "stra\337e",  // "strasse" with the sharp s
                                    "rd.",       "st.",    "office", "centre"};
const char* const kNotStreetWords[] = {"floor", "room", "level", "box", "p.o",   "ltd",
                                       "fax",   "tel",  "suite", "+",   "phone", "mail"};

// Step 1: a place name that reveals the country; sets code and region.
bool placeCountry(const std::string& lower, std::string& code, std::string& region) {
    for (const std::string& name : places::britishNames())
        if (findWord(lower, lower1252(name)) != std::string::npos) {
            code = "GB";
            region = name;
            return true;
        }
    for (const auto& state : places::usStates())
        if (findWord(lower, state.first) != std::string::npos) {
            code = "US";
            region = state.first;
            return true;
        }
    for (const std::string& name : places::germanTowns())
        if (findWord(lower, name) != std::string::npos) {
            code = "DE";
            region = name;
            return true;
        }
    for (const std::string& name : places::italianProvinces())
        if (findWord(lower, name) != std::string::npos) {
            code = "IT";
            region = name;
            return true;
        }
    return false;
}

// Step 2: a British postcode ("SW1A 1AA", "M60 1NW").
bool britishPostcode(const std::string& f, std::string& first, std::string& second) {
    auto at = [&](size_t i) -> unsigned char {
        return i < f.size() ? static_cast<unsigned char>(f[i]) : 0;
    };
    for (size_t i = 0; i < f.size(); ++i) {
        if (i > 0 && isAsciiAlnum(at(i - 1))) continue;
        size_t j = i;
        int letters = 0, digits = 0;
        while (letters < 2 && isUpper(at(j))) ++letters, ++j;
        if (letters == 0) continue;
        while (digits < 2 && isDigit(at(j))) ++digits, ++j;
        if (digits == 0) continue;
        if (digits == 1 && isUpper(at(j))) ++j;
        if (at(j) != ' ' && at(j) != '\t') continue;
        size_t outwardEnd = j;
        while (at(j) == ' ' || at(j) == '\t') ++j;
        size_t inward = j;
        if (!isDigit(at(j)) && at(j) != 'O') continue;
        ++j;
        int tail = 0;
        bool bad = false;
        while (tail < 2 && isUpper(at(j))) {
            if (std::strchr("CIKMOV", at(j))) bad = true;
            ++tail, ++j;
        }
        if (tail == 0 || bad || isAsciiAlnum(at(j))) continue;
        first = f.substr(i, outwardEnd - i);
        second = f.substr(inward, j - inward);
        return true;
    }
    return false;
}

// Step 3: a US state abbreviation followed by a ZIP code. Full state names count as
// their abbreviations.
bool usZip(const std::string& field, std::string& state, std::string& zip) {
    std::string f = field;
    // Longer names first, so "west virginia" is not read as "west VA".
    static const std::vector<std::pair<std::string, std::string>> states = [] {
        auto sorted = places::usStates();
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            return a.first.size() > b.first.size();
        });
        return sorted;
    }();
    for (const auto& s : states) {
        std::string lower = lower1252(f);
        size_t p = 0;
        while ((p = findWord(lower, s.first, p)) != std::string::npos) {
            f.replace(p, s.first.size(), s.second);
            lower.replace(p, s.first.size(), lower1252(s.second));
            p += s.second.size();
        }
    }
    auto at = [&](size_t i) -> unsigned char {
        return i < f.size() ? static_cast<unsigned char>(f[i]) : 0;
    };
    for (size_t i = 0; i < f.size(); ++i) {
        if (i > 0 && (isAlnum1252(at(i - 1)) || at(i - 1) == '.')) continue;
        size_t j = i;
        std::string letters;
        while (j < f.size() && (isUpper(at(j)) || at(j) == '.')) {
            if (at(j) != '.') letters.push_back(static_cast<char>(at(j)));
            ++j;
        }
        if (letters.size() != 2 || isAlnum1252(at(j))) continue;
        bool known = false;
        for (const auto& s : places::usStates())
            if (s.second == letters) known = true;
        if (!known) continue;
        size_t k = j;
        while (at(k) == ' ' || at(k) == '\t') ++k;
        if (k == j) continue;
        size_t start = k;
        while (isDigit(at(k))) ++k;
        if (k - start != 5) continue;
        state = letters;
        zip = f.substr(start, 5);
        return true;
    }
    return false;
}

// Step 4: a five-digit postcode (Germany, Italy).
bool fiveDigitPostcode(const std::string& f, std::string& code) {
    for (size_t i = 0; i + 5 <= f.size(); ++i) {
        if (i > 0 && isDigit(static_cast<unsigned char>(f[i - 1]))) continue;
        size_t j = i;
        while (j < f.size() && isDigit(static_cast<unsigned char>(f[j]))) ++j;
        if (j - i != 5) {
            i = j;
            continue;
        }
        if (j < f.size() && !isBlank(static_cast<unsigned char>(f[j])) &&
            !isLetter(static_cast<unsigned char>(f[j])))
            continue;
        bool moreDigits = false;
        for (size_t k = j; k < f.size(); ++k)
            if (isDigit(static_cast<unsigned char>(f[k]))) moreDigits = true;
        if (moreDigits) return false;
        code = f.substr(i, 5);
        return true;
    }
    return false;
}

bool isStreetLine(const std::string& lower) {
    bool street = false;
    for (const char* w : kStreetWords)
        if (hasLeadingWord(lower, w)) street = true;
    if (!street) return false;
    for (const char* w : kNotStreetWords)
        if (hasLeadingWord(lower, w)) return false;
    return true;
}

// Reads a run of at most 9 digits as a number; 0 when longer (no house has it).
int32_t smallNumber(const std::string& digits) {
    if (digits.empty() || digits.size() > 9) return 0;
    return static_cast<int32_t>(std::stol(digits));
}

bool isFieldSeparator(unsigned char c) {
    return c == '\n' || c == '\r' || c == ',' || c == '\t' || c == ';' || c == ':' || c == '>' ||
           c == '-' || c == '|' || c == 0xA6;
}

}  // namespace

std::vector<Address> recogniseAddresses(const std::string& input) {
    const std::string text = input.substr(0, std::min(input.size(), kMaxRecogniseText));
    std::vector<Address> found;
    Address current;
    auto finish = [&](bool keep) {
        if (keep && !current.countryCode.empty() && found.size() < kMaxAddresses) {
            current.countryName = countryName(current.countryCode);
            found.push_back(current);
        }
        current = Address{};
    };
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && !isFieldSeparator(static_cast<unsigned char>(text[end]))) ++end;
        const std::string field = text.substr(start, end - start);
        start = end + 1;
        if (trim(field).empty()) continue;
        const std::string lower = lower1252(field);

        std::string code, region;
        if (placeCountry(lower, code, region)) {
            current.countryCode = code;
            current.region = region;
        }
        std::string first, second;
        if (britishPostcode(field, first, second)) {
            current.countryCode = "GB";
            current.postcodeFirst = first;
            current.postcodeSecond = second;
            finish(true);
            continue;
        }
        if (usZip(field, first, second)) {
            current.countryCode = "US";
            current.region = first;
            current.postcodeFirst.clear();
            current.postcodeSecond = second;
            finish(true);
            continue;
        }
        if ((current.countryCode == "DE" || current.countryCode == "IT") &&
            fiveDigitPostcode(field, second)) {
            current.postcodeFirst.clear();
            current.postcodeSecond = second;
            finish(true);
            continue;
        }
        if (isStreetLine(lower)) {
            size_t d = field.find_first_of("0123456789");
            int32_t number = 0;
            size_t dEnd = d;
            if (d != std::string::npos) {
                while (dEnd < field.size() && isDigit(static_cast<unsigned char>(field[dEnd])))
                    ++dEnd;
                number = smallNumber(field.substr(d, dEnd - d));
            }
            if (number != 0) {
                current.houseNumber = number;
                std::string rest = field;
                for (size_t k = d; k < dEnd; ++k) rest[k] = ' ';
                current.street = trim(rest);
                if (current.street.size() < 5) current.street.clear();
            } else {
                current.street = trim(field);
            }
            continue;
        }
        const std::string t = trim(field);
        if (current.houseNumber == 0 && std::all_of(t.begin(), t.end(), [](char c) {
                return isDigit(static_cast<unsigned char>(c));
            }))
            current.houseNumber = smallNumber(t);
    }
    finish(!current.street.empty());
    return found;
}

std::string buildMapUrl(const SettingReader& settings, int32_t houseNumber,
                        const std::string& street, const std::string& region,
                        const std::string& countryCode, const std::string& postcodeFirst,
                        const std::string& postcodeSecond) {
    if (!settings || countryCode.size() != 2) return {};
    const std::string base = "map_" + countryCode + "_";
    std::string url, value;
    if (!settings(base + "prefix", url) || url.empty()) return {};
    if (settings(base + "firstline", value) && !street.empty()) {
        // A line without a house number is the street alone ("0 High Street" would
        // send the map to a house that does not exist).
        std::string line = houseNumber > 0 ? std::to_string(houseNumber) + " " + street : street;
        url += "&" + value + "=" + escapeUrl(line);
    }
    if (settings(base + "region", value) && !region.empty())
        url += "&" + value + "=" + escapeUrl(region);
    if (settings(base + "postcode", value) && !postcodeSecond.empty()) {
        std::string code =
            postcodeFirst.empty() ? postcodeSecond : postcodeFirst + " " + postcodeSecond;
        url += "&" + value + "=" + escapeUrl(code);
    }
    if (settings(base + "suffix", value)) url += value;
    if (url.size() > kMaxMapUrl) return {};
    return url;
}

// ---- generated links ---------------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> readPairsFile(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (path.empty()) return pairs;
    std::ifstream in(path, std::ios::binary);
    if (!in) return pairs;
    std::string text(kMaxPairsFile, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\t\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i + 1 < pieces.size(); i += 2) pairs.emplace_back(pieces[i], pieces[i + 1]);
    return pairs;
}

namespace {

// A list setting: KEY0 .. KEY(max-1), each in its place ("" where missing, so the n-th
// entries of parallel lists stay together), or KEY alone as a one-entry list.
std::vector<std::string> readListSetting(const SettingReader& settings, const std::string& key,
                                         int max) {
    std::vector<std::string> out(static_cast<size_t>(max));
    size_t used = 0;
    std::string value;
    for (int i = 0; i < max; ++i)
        if (settings(key + std::to_string(i), value)) {
            out[static_cast<size_t>(i)] = value;
            used = static_cast<size_t>(i) + 1;
        }
    out.resize(used);
    if (out.empty() && settings(key, value)) out.push_back(value);
    return out;
}

std::string readSetting(const SettingReader& settings, const std::string& key) {
    std::string value;
    if (!settings(key, value)) value.clear();
    return value;
}

bool isStockSeparator(unsigned char c) {
    static const unsigned char kSet[] = {
        0x20, 0x2E, 0x2C, 0x3A, 0x3B, 0x5B, 0x5D, 0x7B, 0x7D, 0x28, 0x29, 0x2A, 0x26, 0x5E, 0x25,
        0x24, 0xA3, 0x22, 0x21, 0xAC, 0x09, 0x0D, 0x0A, 0x2B, 0x7E, 0x40, 0x3C, 0x3E, 0x27, 0x3D};
    return std::memchr(kSet, c, sizeof kSet) != nullptr;
}

std::string describe(const Address& a) {
    std::string out;
    auto add = [&](const std::string& part) {
        if (part.empty()) return;
        if (!out.empty()) out += ", ";
        out += part;
    };
    add(a.houseNumber > 0 && !a.street.empty() ? std::to_string(a.houseNumber) + " " + a.street
                                               : a.street);
    add(a.region);
    add(a.postcodeFirst.empty() ? a.postcodeSecond : a.postcodeFirst + " " + a.postcodeSecond);
    add(a.countryName);
    return out;
}

}  // namespace

void LinkServices::load(const SettingReader& settings) {
    m_stock.clear();
    m_atlas = PairList{};
    m_biography = PairList{};
    m_settings = settings;
    if (!settings) return;
    std::vector<std::string> files =
        readListSetting(settings, "StockSiteSymbolFile", kMaxSymbolFiles);
    std::vector<std::string> prefixes =
        readListSetting(settings, "StockSiteURLPrefix", kMaxSymbolFiles);
    std::vector<std::string> suffixes =
        readListSetting(settings, "StockSiteURLSuffix", kMaxSymbolFiles);
    for (size_t n = 0; n < files.size(); ++n) {
        if (files[n].empty()) continue;
        PairList list;
        list.pairs = readPairsFile(files[n]);
        list.prefix = n < prefixes.size() ? prefixes[n] : "";
        list.suffix = n < suffixes.size() ? suffixes[n] : "";
        if (!list.prefix.empty()) m_stock.push_back(std::move(list));
    }
    m_atlas.pairs = readPairsFile(readSetting(settings, "AtlasFile"));
    m_atlas.prefix = readSetting(settings, "AtlasPrefix");
    m_atlas.suffix = readSetting(settings, "AtlasSuffix");
    m_biography.pairs = readPairsFile(readSetting(settings, "BiographyFile"));
    m_biography.prefix = readSetting(settings, "BiographyPrefix");
    m_biography.suffix = readSetting(settings, "BiographySuffix");
}

std::vector<GeneratedLink> LinkServices::linksFor(const std::string& text) const {
    std::vector<GeneratedLink> links;
    std::set<std::string> seen;
    auto add = [&](int kind, std::string title, std::string url, size_t& count) {
        if (url.empty() || count >= kMaxLinksPerKind || !seen.insert(url).second) return;
        links.push_back({kind, std::move(title), std::move(url)});
        ++count;
    };

    // Stock quotes: whole words equal to a symbol.
    if (!m_stock.empty()) {
        std::set<std::string> words;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = start;
            while (end < text.size() && !isStockSeparator(static_cast<unsigned char>(text[end])))
                ++end;
            if (end > start) words.insert(text.substr(start, end - start));
            start = end + 1;
        }
        size_t count = 0;
        for (const PairList& list : m_stock)
            for (const auto& [symbol, name] : list.pairs)
                if (words.count(symbol))
                    add(kLinkStock,
                        "Quote: " + (name.empty() ? symbol : name + " (" + symbol + ")"),
                        list.prefix + escapeUrl(symbol) + list.suffix, count);
    }

    // Maps of the addresses whose country has map settings.
    if (m_settings) {
        size_t count = 0;
        for (const Address& a : recogniseAddresses(text)) {
            std::string url = buildMapUrl(m_settings, a.houseNumber, a.street, a.region,
                                          a.countryCode, a.postcodeFirst, a.postcodeSecond);
            add(kLinkMap, "Map: " + describe(a), url, count);
        }
    }

    // Atlas and biography pages: an entry found in the text (exact case) links to it.
    auto entries = [&](const PairList& list, int kind, const char* label) {
        if (list.prefix.empty()) return;
        size_t count = 0;
        for (const auto& [entry, name] : list.pairs)
            if (!entry.empty() && text.find(entry) != std::string::npos)
                add(kind, std::string(label) + (name.empty() ? entry : name),
                    list.prefix + escapeUrl(entry) + list.suffix, count);
    };
    entries(m_atlas, kLinkAtlas, "Atlas: ");
    entries(m_biography, kLinkBiography, "Biography: ");
    return links;
}

}  // namespace agent
