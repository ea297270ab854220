#include "support/dateutil.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/diaglog.h"

namespace {

const char* const kLongMonths[] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                   "MAY",       "JUNE",     "JULY",     "AUGUST",
                                   "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
const char* const kShortMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                    "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
const char* const kDayEndings[] = {"ST", "ND", "RD", "TH"};
const char* const kDayNames[] = {"MONDAY", "TUESDAY",  "WEDNESDAY", "THURSDAY",
                                 "FRIDAY", "SATURDAY", "SUNDAY"};

const DateNames kBuiltinNames = {12, kLongMonths, 12, kShortMonths, 4, kDayEndings, 7, kDayNames};

constexpr int kMaxRepeat = 10;
// Numbers read with '+' stop growing here, so any run of digits stays in range (and
// fails the range checks instead of overflowing).
constexpr long kNumberCeiling = 1000000000L;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string upperCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool startsWith(std::string_view text, size_t at, std::string_view word) {
    return !word.empty() && at <= text.size() && text.substr(at, word.size()) == word;
}

bool localTime(std::time_t t, std::tm* out) {
#ifdef _WIN32
    return localtime_s(out, &t) == 0;
#else
    return localtime_r(&t, out) != nullptr;
#endif
}

// ---- Reading -------------------------------------------------------------------

enum class Kind { LongMonth, ShortMonth, LongDay, Zone, Number, Literal };

struct Element {
    Kind kind;
    char letter = 0;  // Number: D, M, Y, H, N or S; Literal: the character
    int digits = 0;   // Number: most digits read; 0 means "all that follow" ('+')
};

std::vector<Element> parseTemplate(const std::string& t) {
    std::vector<Element> out;
    size_t i = 0;
    while (i < t.size()) {
        std::string_view rest(t.data() + i, t.size() - i);
        if (rest.starts_with("LONGMONTH")) {
            out.push_back({Kind::LongMonth});
            i += 9;
        } else if (rest.starts_with("SHORTMONTH")) {
            out.push_back({Kind::ShortMonth});
            i += 10;
        } else if (rest.starts_with("LONGDAY")) {
            out.push_back({Kind::LongDay});
            i += 7;
        } else if (rest.starts_with("ZZZ")) {
            out.push_back({Kind::Zone});
            i += 3;
        } else if (std::strchr("DMYHNS", t[i])) {
            char letter = t[i];
            if (i + 1 < t.size() && t[i + 1] == '+') {
                out.push_back({Kind::Number, letter, 0});
                i += 2;
            } else {
                int n = 0;
                while (i < t.size() && t[i] == letter && n < kMaxRepeat) {
                    ++n;
                    ++i;
                }
                out.push_back({Kind::Number, letter, n});
            }
        } else {
            out.push_back({Kind::Literal, t[i]});
            ++i;
        }
    }
    return out;
}

// Index of the longest word of the list that starts text at `at`; -1 when none.
int matchName(std::string_view text, size_t at, int32_t count, const char* const* words,
              size_t* length) {
    int best = -1;
    size_t bestLen = 0;
    if (!words) return -1;
    for (int32_t k = 0; k < count; ++k) {
        if (!words[k]) continue;
        std::string_view w(words[k]);
        if (w.size() > bestLen && startsWith(text, at, w)) {
            best = k;
            bestLen = w.size();
        }
    }
    *length = bestLen;
    return best;
}

// Reads digits at `at`: at most `limit` of them (0: no limit); at least one.
std::optional<long> readNumber(std::string_view text, size_t& at, int limit) {
    size_t start = at;
    long value = 0;
    while (at < text.size() && isDigit(text[at]) &&
           (limit == 0 || at - start < static_cast<size_t>(limit))) {
        if (value < kNumberCeiling) value = value * 10 + (text[at] - '0');
        ++at;
    }
    if (at == start) return std::nullopt;
    return value;
}

struct Fields {
    std::optional<long> day, month, year, hour, minute, second;
    int zoneShift = 0;
};

struct Reader {
    const DateNames& names;
    std::string_view text;
    const std::vector<Element>& elements;

    // Walks the template from `at`; fills f and returns true when every element fits.
    bool match(size_t at, Fields& f) const {
        for (const Element& e : elements) {
            size_t len = 0;
            switch (e.kind) {
                case Kind::LongMonth:
                case Kind::ShortMonth: {
                    bool isLong = e.kind == Kind::LongMonth;
                    int k =
                        matchName(text, at, isLong ? names.longMonthCount : names.shortMonthCount,
                                  isLong ? names.longMonths : names.shortMonths, &len);
                    if (k < 0) return false;
                    f.month = k + 1;
                    at += len;
                    break;
                }
                case Kind::LongDay: {
                    auto v = readNumber(text, at, 0);
                    if (!v) return false;
                    if (matchName(text, at, names.dayEndingCount, names.dayEndings, &len) < 0)
                        return false;
                    f.day = *v;
                    at += len;
                    break;
                }
                case Kind::Zone: {
                    if (text.size() - at < 3) return false;
                    std::string_view zone = text.substr(at, 3);
                    if (zone == "PST")
                        f.zoneShift = -8;
                    else if (zone == "EST")
                        f.zoneShift = -5;
                    else
                        f.zoneShift = 0;  // GMT, and zones not known here
                    at += 3;
                    break;
                }
                case Kind::Number: {
                    auto v = readNumber(text, at, e.digits);
                    if (!v) return false;
                    switch (e.letter) {
                        case 'D':
                            f.day = v;
                            break;
                        case 'M':
                            f.month = v;
                            break;
                        case 'Y':
                            f.year = v;
                            break;
                        case 'H':
                            f.hour = v;
                            break;
                        case 'N':
                            f.minute = v;
                            break;
                        default:
                            f.second = v;
                            break;
                    }
                    break;
                }
                case Kind::Literal:
                    if (at >= text.size() || text[at] != e.letter) return false;
                    ++at;
                    break;
            }
        }
        return true;
    }

    // The next place after `after` (or from 0 when after is npos) where the first
    // element could start; npos when there is none.
    size_t nextCandidate(size_t after) const {
        size_t from = after == std::string_view::npos ? 0 : after + 1;
        const Element& first = elements.front();
        for (size_t p = from; p < text.size(); ++p) {
            size_t len = 0;
            switch (first.kind) {
                case Kind::LongMonth:
                    if (matchName(text, p, names.longMonthCount, names.longMonths, &len) >= 0)
                        return p;
                    break;
                case Kind::ShortMonth:
                    if (matchName(text, p, names.shortMonthCount, names.shortMonths, &len) >= 0)
                        return p;
                    break;
                case Kind::LongDay:
                case Kind::Number: {
                    // A text that starts with the template's own letter is tried there
                    // first. Otherwise numbers are tried from the start of each run of
                    // digits, never from inside one ("45" does not offer "5").
                    if (p == 0 && first.kind == Kind::Number && text[0] == first.letter) return 0;
                    if (!isDigit(text[p]) || (p > 0 && isDigit(text[p - 1]))) break;
                    if (first.kind == Kind::Number) return p;
                    size_t q = p;
                    while (q < text.size() && isDigit(text[q])) ++q;
                    if (matchName(text, q, names.dayEndingCount, names.dayEndings, &len) >= 0)
                        return p;
                    break;
                }
                case Kind::Zone:
                    if (text[p] == 'Z') return p;
                    break;
                case Kind::Literal:
                    if (text[p] == first.letter) return p;
                    break;
            }
        }
        return std::string_view::npos;
    }
};

// Applies the year window, zone shift and range checks, then converts. Fails for
// fields out of range or a time the local conversion cannot represent.
bool toSeconds(const Fields& f, int64_t* seconds) {
    std::tm now{};
    if (!localTime(std::time(nullptr), &now)) return false;
    std::tm t = now;
    if (f.day) t.tm_mday = static_cast<int>(*f.day);
    if (f.month) t.tm_mon = static_cast<int>(*f.month) - 1;
    if (f.year) {
        long y = *f.year;
        if (y < 70)
            y += 100;  // 5 means 2005
        else if (y >= 1000)
            y -= 1900;  // a full year
        // 70 to 999 are already years since 1900
        t.tm_year = static_cast<int>(y);
    }
    if (f.hour) t.tm_hour = static_cast<int>(*f.hour);
    if (f.minute) t.tm_min = static_cast<int>(*f.minute);
    if (f.second) t.tm_sec = static_cast<int>(*f.second);
    t.tm_hour += f.zoneShift;

    if (t.tm_mday < 1 || t.tm_mday > 31) return false;
    if (t.tm_mon < 0 || t.tm_mon > 11) return false;
    if (t.tm_year < 0 || t.tm_year > 9999) return false;

    t.tm_isdst = -1;  // the season of the date read decides, not today's
    std::time_t r = std::mktime(&t);
    if (r == static_cast<std::time_t>(-1)) return false;
    *seconds = static_cast<int64_t>(r);
    return true;
}

// ---- Writing -------------------------------------------------------------------

bool startsWithCaseBlind(std::string_view s, size_t at, std::string_view word) {
    if (at + word.size() > s.size()) return false;
    for (size_t k = 0; k < word.size(); ++k) {
        if (std::toupper(static_cast<unsigned char>(s[at + k])) != word[k]) return false;
    }
    return true;
}

// The template with its elements replaced by strftime conversions; literal '%' are
// doubled so they are printed, not taken as conversions.
std::string toStrftime(std::string_view t) {
    struct Code {
        const char* element;
        const char* code;
    };
    static const Code kCodes[] = {
        {"LONGMONTH", "%B"}, {"SHORTMONTH", "%b"}, {"MONTH", "%B"}, {"YYYY", "%Y"}, {"YY", "%y"},
        {"DD", "%d"},        {"D+", "%d"},         {"MM", "%m"},    {"M+", "%m"},   {"HH", "%H"},
        {"H+", "%H"},        {"NN", "%M"},         {"N+", "%M"},    {"SS", "%S"},   {"S+", "%S"},
    };
    std::string out;
    size_t i = 0;
    while (i < t.size()) {
        bool replaced = false;
        for (const Code& c : kCodes) {
            if (startsWithCaseBlind(t, i, c.element)) {
                out += c.code;
                i += std::strlen(c.element);
                replaced = true;
                break;
            }
        }
        if (replaced) continue;
        if (t[i] == '%') out += '%';
        out += t[i++];
    }
    return out;
}

}  // namespace

extern "C" {

const DateNames* dateBuiltinNames(void) {
    return &kBuiltinNames;
}

int dateParse(const DateNames* names, const char* text, const char* format, int64_t* seconds) {
    if (!text || !format || !seconds) return 0;
    try {
        std::string upperText = upperCopy(text);
        std::string upperTemplate = upperCopy(format);
        std::vector<Element> elements = parseTemplate(upperTemplate);
        if (elements.empty() || upperText.empty()) return 0;

        Reader reader{names ? *names : kBuiltinNames, upperText, elements};
        for (size_t at = reader.nextCandidate(std::string_view::npos); at != std::string_view::npos;
             at = reader.nextCandidate(at)) {
            Fields f;
            if (reader.match(at, f) && toSeconds(f, seconds)) return 1;
        }
    } catch (...) {
        // Out of memory: no date found.
    }
    return 0;
}

char* dateFormat(const char* format, int64_t seconds) {
    if (!format) return nullptr;
    try {
        std::string_view t(format);
        if (t.size() == 12 && startsWithCaseBlind(t, 0, "EPOCHSECONDS")) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(seconds));
            return memStrDup(buf);
        }
        std::tm tm{};
        if (!localTime(static_cast<std::time_t>(seconds), &tm)) return nullptr;
        std::string code = toStrftime(t);
        if (code.empty()) return memStrDup("");

        // Twice the template's length is the usual size; names longer than their
        // elements (or conversions from single letters) get a larger buffer.
        size_t size = 2 * t.size() + 1;
        for (int attempt = 0; attempt < 8; ++attempt, size *= 2) {
            std::vector<char> buf(size + 64);
            size_t n = std::strftime(buf.data(), buf.size(), code.c_str(), &tm);
            if (n > 0) return memStrNDup(buf.data(), n);
        }
        return memStrDup("");
    } catch (...) {
        return nullptr;
    }
}

char* dateTimeStamp(void) {
    std::tm tm{};
    if (!localTime(std::time(nullptr), &tm)) return memStrDup("");
    char buf[64];
    diagLogFormatStamp(&tm, buf, sizeof buf);
    return memStrDup(buf);
}

}  // extern "C"
