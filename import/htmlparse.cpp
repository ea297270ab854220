#include "import/htmlparse.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "import/asciicase.h"
#include "import/charset.h"
#include "import/importctrl.h"
#include "memutil.h"

namespace {

using ascii_case::lowerAscii;

struct Entity {
    const char* name;
    uint16_t codePoint;
};

// The named character references of HTML 4 (and "apos"), sorted by name (byte order).
constexpr Entity kEntities[] = {
    {"AElig", 198},    {"Aacute", 193},  {"Acirc", 194},   {"Agrave", 192},  {"Alpha", 913},
    {"Aring", 197},    {"Atilde", 195},  {"Auml", 196},    {"Beta", 914},    {"Ccedil", 199},
    {"Chi", 935},      {"Dagger", 8225}, {"Delta", 916},   {"ETH", 208},     {"Eacute", 201},
    {"Ecirc", 202},    {"Egrave", 200},  {"Epsilon", 917}, {"Eta", 919},     {"Euml", 203},
    {"Gamma", 915},    {"Iacute", 205},  {"Icirc", 206},   {"Igrave", 204},  {"Iota", 921},
    {"Iuml", 207},     {"Kappa", 922},   {"Lambda", 923},  {"Mu", 924},      {"Ntilde", 209},
    {"Nu", 925},       {"OElig", 338},   {"Oacute", 211},  {"Ocirc", 212},   {"Ograve", 210},
    {"Omega", 937},    {"Omicron", 927}, {"Oslash", 216},  {"Otilde", 213},  {"Ouml", 214},
    {"Phi", 934},      {"Pi", 928},      {"Prime", 8243},  {"Psi", 936},     {"Rho", 929},
    {"Scaron", 352},   {"Sigma", 931},   {"THORN", 222},   {"Tau", 932},     {"Theta", 920},
    {"Uacute", 218},   {"Ucirc", 219},   {"Ugrave", 217},  {"Upsilon", 933}, {"Uuml", 220},
    {"Xi", 926},       {"Yacute", 221},  {"Yuml", 376},    {"Zeta", 918},    {"aacute", 225},
    {"acirc", 226},    {"acute", 180},   {"aelig", 230},   {"agrave", 224},  {"alefsym", 8501},
    {"alpha", 945},    {"amp", 38},      {"and", 8743},    {"ang", 8736},    {"apos", 39},
    {"aring", 229},    {"asymp", 8776},  {"atilde", 227},  {"auml", 228},    {"bdquo", 8222},
    {"beta", 946},     {"brvbar", 166},  {"bull", 8226},   {"cap", 8745},    {"ccedil", 231},
    {"cedil", 184},    {"cent", 162},    {"chi", 967},     {"circ", 710},    {"clubs", 9827},
    {"cong", 8773},    {"copy", 169},    {"crarr", 8629},  {"cup", 8746},    {"curren", 164},
    {"dArr", 8659},    {"dagger", 8224}, {"darr", 8595},   {"deg", 176},     {"delta", 948},
    {"diams", 9830},   {"divide", 247},  {"eacute", 233},  {"ecirc", 234},   {"egrave", 232},
    {"empty", 8709},   {"emsp", 8195},   {"ensp", 8194},   {"epsilon", 949}, {"equiv", 8801},
    {"eta", 951},      {"eth", 240},     {"euml", 235},    {"euro", 8364},   {"exist", 8707},
    {"fnof", 402},     {"forall", 8704}, {"frac12", 189},  {"frac14", 188},  {"frac34", 190},
    {"frasl", 8260},   {"gamma", 947},   {"ge", 8805},     {"gt", 62},       {"hArr", 8660},
    {"harr", 8596},    {"hearts", 9829}, {"hellip", 8230}, {"iacute", 237},  {"icirc", 238},
    {"iexcl", 161},    {"igrave", 236},  {"image", 8465},  {"infin", 8734},  {"int", 8747},
    {"iota", 953},     {"iquest", 191},  {"isin", 8712},   {"iuml", 239},    {"kappa", 954},
    {"lArr", 8656},    {"lambda", 955},  {"lang", 9001},   {"laquo", 171},   {"larr", 8592},
    {"lceil", 8968},   {"ldquo", 8220},  {"le", 8804},     {"lfloor", 8970}, {"lowast", 8727},
    {"loz", 9674},     {"lrm", 8206},    {"lsaquo", 8249}, {"lsquo", 8216},  {"lt", 60},
    {"macr", 175},     {"mdash", 8212},  {"micro", 181},   {"middot", 183},  {"minus", 8722},
    {"mu", 956},       {"nabla", 8711},  {"nbsp", 160},    {"ndash", 8211},  {"ne", 8800},
    {"ni", 8715},      {"not", 172},     {"notin", 8713},  {"nsub", 8836},   {"ntilde", 241},
    {"nu", 957},       {"oacute", 243},  {"ocirc", 244},   {"oelig", 339},   {"ograve", 242},
    {"oline", 8254},   {"omega", 969},   {"omicron", 959}, {"oplus", 8853},  {"or", 8744},
    {"ordf", 170},     {"ordm", 186},    {"oslash", 248},  {"otilde", 245},  {"otimes", 8855},
    {"ouml", 246},     {"para", 182},    {"part", 8706},   {"permil", 8240}, {"perp", 8869},
    {"phi", 966},      {"pi", 960},      {"piv", 982},     {"plusmn", 177},  {"pound", 163},
    {"prime", 8242},   {"prod", 8719},   {"prop", 8733},   {"psi", 968},     {"quot", 34},
    {"rArr", 8658},    {"radic", 8730},  {"rang", 9002},   {"raquo", 187},   {"rarr", 8594},
    {"rceil", 8969},   {"rdquo", 8221},  {"real", 8476},   {"reg", 174},     {"rfloor", 8971},
    {"rho", 961},      {"rlm", 8207},    {"rsaquo", 8250}, {"rsquo", 8217},  {"sbquo", 8218},
    {"scaron", 353},   {"sdot", 8901},   {"sect", 167},    {"shy", 173},     {"sigma", 963},
    {"sigmaf", 962},   {"sim", 8764},    {"spades", 9824}, {"sub", 8834},    {"sube", 8838},
    {"sum", 8721},     {"sup", 8835},    {"sup1", 185},    {"sup2", 178},    {"sup3", 179},
    {"supe", 8839},    {"szlig", 223},   {"tau", 964},     {"there4", 8756}, {"theta", 952},
    {"thetasym", 977}, {"thinsp", 8201}, {"thorn", 254},   {"tilde", 732},   {"times", 215},
    {"trade", 8482},   {"uArr", 8657},   {"uacute", 250},  {"uarr", 8593},   {"ucirc", 251},
    {"ugrave", 249},   {"uml", 168},     {"upsih", 978},   {"upsilon", 965}, {"uuml", 252},
    {"weierp", 8472},  {"xi", 958},      {"yacute", 253},  {"yen", 165},     {"yuml", 255},
    {"zeta", 950},     {"zwj", 8205},    {"zwnj", 8204},
};

constexpr size_t kLongestEntityName = 8;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == '\0';
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
// What a tag does to the text around it.
enum class TagKind {
    Other,      // a blank
    Inline,     // nothing
    Block,      // a blank, or a line feed when lines are kept
    Paragraph,  // a paragraph mark
    Break,      // <br>: a blank, or a line feed when lines are kept
    Anchor,
    Area,
    Title,
    Heading,
    Meta,
    Script,
    Style,
    HeadEnd,  // </head> and <body>: end an unterminated title
};

struct TagEntry {
    const char* name;
    TagKind kind;
};

// Sorted by name.
constexpr TagEntry kTags[] = {
    {"a", TagKind::Anchor},      {"abbr", TagKind::Inline},      {"acronym", TagKind::Inline},
    {"address", TagKind::Block}, {"area", TagKind::Area},        {"article", TagKind::Block},
    {"aside", TagKind::Block},   {"b", TagKind::Inline},         {"base", TagKind::Inline},
    {"bdi", TagKind::Inline},    {"bdo", TagKind::Inline},       {"big", TagKind::Inline},
    {"blink", TagKind::Inline},  {"blockquote", TagKind::Block}, {"body", TagKind::HeadEnd},
    {"br", TagKind::Break},      {"center", TagKind::Block},     {"cite", TagKind::Inline},
    {"code", TagKind::Inline},   {"dd", TagKind::Block},         {"del", TagKind::Inline},
    {"dfn", TagKind::Inline},    {"div", TagKind::Block},        {"dl", TagKind::Block},
    {"dt", TagKind::Block},      {"em", TagKind::Inline},        {"font", TagKind::Inline},
    {"footer", TagKind::Block},  {"form", TagKind::Block},       {"h1", TagKind::Heading},
    {"h2", TagKind::Heading},    {"h3", TagKind::Heading},       {"h4", TagKind::Block},
    {"h5", TagKind::Block},      {"h6", TagKind::Block},         {"head", TagKind::HeadEnd},
    {"header", TagKind::Block},  {"hr", TagKind::Block},         {"html", TagKind::Inline},
    {"i", TagKind::Inline},      {"img", TagKind::Inline},       {"ins", TagKind::Inline},
    {"kbd", TagKind::Inline},    {"label", TagKind::Inline},     {"li", TagKind::Block},
    {"link", TagKind::Inline},   {"main", TagKind::Block},       {"mark", TagKind::Inline},
    {"meta", TagKind::Meta},     {"nav", TagKind::Block},        {"nobr", TagKind::Inline},
    {"ol", TagKind::Block},      {"option", TagKind::Break},     {"p", TagKind::Paragraph},
    {"pre", TagKind::Block},     {"q", TagKind::Inline},         {"s", TagKind::Inline},
    {"samp", TagKind::Inline},   {"script", TagKind::Script},    {"section", TagKind::Block},
    {"small", TagKind::Inline},  {"span", TagKind::Inline},      {"strike", TagKind::Inline},
    {"strong", TagKind::Inline}, {"style", TagKind::Style},      {"sub", TagKind::Inline},
    {"sup", TagKind::Inline},    {"table", TagKind::Block},      {"td", TagKind::Block},
    {"th", TagKind::Block},      {"title", TagKind::Title},      {"tr", TagKind::Block},
    {"tt", TagKind::Inline},     {"u", TagKind::Inline},         {"ul", TagKind::Block},
    {"var", TagKind::Inline},    {"wbr", TagKind::Inline},
};

// The name tables are searched by binary search, so they must stay sorted by name.
template <typename Entry, size_t N>
constexpr bool sortedByName(const Entry (&table)[N]) {
    return std::is_sorted(std::begin(table), std::end(table), [](const Entry& a, const Entry& b) {
        return std::string_view(a.name) < std::string_view(b.name);
    });
}
static_assert(sortedByName(kTags));
static_assert(sortedByName(kEntities));

TagKind tagKind(std::string_view name) {
    auto it = std::lower_bound(std::begin(kTags), std::end(kTags), name,
                               [](const TagEntry& e, std::string_view n) { return e.name < n; });
    if (it != std::end(kTags) && name == it->name) return it->kind;
    return TagKind::Other;
}

enum class Mode { Text, Title, SkipTitle, Heading };

struct Attribute {
    std::string_view name;  // as written
    std::string_view value;
    bool doubleQuoted = false;
};

class Scanner {
  public:
    Scanner(std::string_view input, const HtmlParseOptions& options, HtmlParseRecord& record)
        : in_(input),
          flags_(options.flags),
          rec_(record),
          deadline_(std::chrono::steady_clock::now() + options.timeLimit) {}

    void run();

  private:
    static constexpr size_t kMaxTagName = 15;
    static constexpr size_t kMaxAttributes = 256;
    static constexpr unsigned kClockEvery = 1024;

    bool keepLines() const { return (flags_ & kHtmlKeepLines) != 0; }
    bool decode() const { return (flags_ & kHtmlDecodeReferences) != 0; }

    void appendRun(std::string_view text);
    void appendBlank();
    void appendBodyBlank();
    void paragraphMark();
    void appendDecoded(std::string_view text);

    void scanMarkup();
    size_t parseTag(size_t pos, std::string_view& name, bool& longName);
    size_t findQuote(size_t from, char quote);
    void skipRawText(std::string_view endTag);
    void onTag(std::string_view name, bool closing);
    void onAnchor();
    void onMeta();
    const Attribute* attribute(std::string_view lowerName) const;
    std::string attributeText(std::string_view raw) const;
    void finishHeading();

    std::string_view in_;
    size_t pos_ = 0;
    int flags_;
    HtmlParseRecord& rec_;
    std::chrono::steady_clock::time_point deadline_;

    Mode mode_ = Mode::Text;
    bool link_ = false;
    int headingSlot_ = -1;
    std::string headingText_;
    size_t headingStart_ = 0;  // body size when the current heading began
    // First positions from which no double / single quote follows (npos: unknown).
    size_t noDoubleQuoteFrom_ = std::string_view::npos;
    size_t noSingleQuoteFrom_ = std::string_view::npos;
    std::vector<Attribute> attrs_;
    std::string decoded_;
    char nameBuffer[kMaxTagName + 1] = {};
};

void Scanner::appendRun(std::string_view text) {
    switch (mode_) {
        case Mode::Text:
            rec_.body.append(text);
            if (link_) rec_.linkLength += static_cast<long>(text.size());
            break;
        case Mode::Heading:
            rec_.body.append(text);
            if (link_) rec_.linkLength += static_cast<long>(text.size());
            headingText_.append(text);
            if (headingSlot_ >= 0) rec_.headings[headingSlot_].append(text);
            break;
        case Mode::Title:
            rec_.title.append(text);
            break;
        case Mode::SkipTitle:
            break;
    }
}

void Scanner::appendBodyBlank() {
    if (!rec_.body.empty() && rec_.body.back() != ' ' && rec_.body.back() != '\n')
        rec_.body.push_back(' ');
}

void Scanner::appendBlank() {
    switch (mode_) {
        case Mode::Text:
            appendBodyBlank();
            break;
        case Mode::Heading:
            appendBodyBlank();
            if (!headingText_.empty() && headingText_.back() != ' ') {
                headingText_.push_back(' ');
                if (headingSlot_ >= 0) rec_.headings[headingSlot_].push_back(' ');
            }
            break;
        case Mode::Title:
            if (rec_.title.empty() || rec_.title.back() != ' ') rec_.title.push_back(' ');
            break;
        case Mode::SkipTitle:
            break;
    }
}

void Scanner::paragraphMark() {
    if (mode_ == Mode::Title || mode_ == Mode::SkipTitle) {
        appendBlank();
        return;
    }
    if (rec_.body.empty()) return;
    if (rec_.body.back() == ' ')
        rec_.body.back() = '\n';
    else if (rec_.body.back() != '\n')
        rec_.body.push_back('\n');
    if (mode_ == Mode::Heading) appendBlank();
}

// Decoded reference text: white space in it counts as white space.
void Scanner::appendDecoded(std::string_view text) {
    for (char c : text) {
        if (isBlank(c))
            appendBlank();
        else
            appendRun(std::string_view(&c, 1));
    }
}

void Scanner::run() {
    const size_t n = in_.size();
    unsigned tokens = 0;
    while (pos_ < n) {
        if (++tokens % kClockEvery == 0 && std::chrono::steady_clock::now() >= deadline_) {
            rec_.timedOut = true;
            break;
        }
        char c = in_[pos_];
        if (c == '<') {
            scanMarkup();
        } else if (c == '&' && decode()) {
            decoded_.clear();
            size_t used = htmlDecodeReference(in_.substr(pos_), decoded_);
            if (used == 0) {
                appendRun("&");
                ++pos_;
            } else {
                appendDecoded(decoded_);
                pos_ += used;
            }
        } else if (isBlank(c)) {
            appendBlank();
            ++pos_;
            while (pos_ < n && isBlank(in_[pos_])) ++pos_;
        } else {
            size_t end = pos_ + 1;
            while (end < n) {
                char d = in_[end];
                if (d == '<' || (d == '&' && decode()) || isBlank(d)) break;
                ++end;
            }
            appendRun(in_.substr(pos_, end - pos_));
            pos_ = end;
        }
    }
    if (mode_ == Mode::Heading) finishHeading();
    while (!rec_.body.empty() && (rec_.body.back() == ' ' || rec_.body.back() == '\n'))
        rec_.body.pop_back();
    for (auto& a : rec_.anchors)
        a.offset =
            std::min(a.offset, static_cast<int32_t>(std::min<size_t>(rec_.body.size(), INT32_MAX)));
    for (auto& h : rec_.headings) {
        while (!h.empty() && h.back() == ' ') h.pop_back();
    }
    rec_.bodyLength = static_cast<long>(rec_.body.size());
    rec_.titleLength = static_cast<long>(rec_.title.size());
}

// Position of the next quote character at or after from, or npos. Remembers when a
// quote character does not occur any more, so a page full of stray quotes is still
// scanned in linear time.
size_t Scanner::findQuote(size_t from, char quote) {
    size_t& none = quote == '"' ? noDoubleQuoteFrom_ : noSingleQuoteFrom_;
    if (none != std::string_view::npos && from >= none) return std::string_view::npos;
    size_t found = in_.find(quote, from);
    if (found == std::string_view::npos) none = from;
    return found;
}

// Parses the tag whose name starts at pos (just after "<" or "</"). Fills name (lower
// case, at most kMaxTagName characters; longName when it was longer) and attrs_.
// Returns the position after the closing ">", or the end of the input when the tag is
// not closed.
size_t Scanner::parseTag(size_t pos, std::string_view& name, bool& longName) {
    const size_t n = in_.size();
    size_t len = 0;
    longName = false;
    while (pos < n) {
        char c = in_[pos];
        if (isBlank(c) || c == '>' || c == '/') break;
        if (len < kMaxTagName)
            nameBuffer[len++] = lowerAscii(c);
        else
            longName = true;
        ++pos;
    }
    name = std::string_view(nameBuffer, len);
    attrs_.clear();
    while (pos < n) {
        char c = in_[pos];
        if (c == '>') return pos + 1;
        if (isBlank(c) || c == '/') {
            ++pos;
            continue;
        }
        size_t nameStart = pos;
        while (pos < n && !isBlank(in_[pos]) && in_[pos] != '>' && in_[pos] != '=' &&
               (in_[pos] != '/' || pos == nameStart))
            ++pos;
        Attribute attr;
        attr.name = in_.substr(nameStart, pos - nameStart);
        size_t look = pos;
        while (look < n && isBlank(in_[look])) ++look;
        if (look < n && in_[look] == '=') {
            pos = look + 1;
            while (pos < n && isBlank(in_[pos])) ++pos;
            if (pos < n && (in_[pos] == '"' || in_[pos] == '\'')) {
                char quote = in_[pos];
                size_t close = findQuote(pos + 1, quote);
                if (close != std::string_view::npos) {
                    attr.value = in_.substr(pos + 1, close - pos - 1);
                    attr.doubleQuoted = quote == '"';
                    pos = close + 1;
                } else {
                    // A quote that is never closed is taken as part of an unquoted value.
                    size_t start = pos;
                    while (pos < n && !isBlank(in_[pos]) && in_[pos] != '>') ++pos;
                    attr.value = in_.substr(start, pos - start);
                }
            } else {
                size_t start = pos;
                while (pos < n && !isBlank(in_[pos]) && in_[pos] != '>') ++pos;
                attr.value = in_.substr(start, pos - start);
            }
        }
        if (attrs_.size() < kMaxAttributes) attrs_.push_back(attr);
    }
    return n;
}

const Attribute* Scanner::attribute(std::string_view lowerName) const {
    for (const auto& a : attrs_) {
        if (a.name.size() != lowerName.size()) continue;
        bool same = true;
        for (size_t i = 0; i < a.name.size() && same; ++i)
            same = lowerAscii(a.name[i]) == lowerName[i];
        if (same) return &a;
    }
    return nullptr;
}

// An attribute value as stored: references decoded when asked, at most
// kHtmlMaxAttributeText characters.
std::string Scanner::attributeText(std::string_view raw) const {
    raw = raw.substr(0, std::min(raw.size(), kHtmlMaxAttributeText));
    if (!decode() || raw.find('&') == std::string_view::npos) return std::string(raw);
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size();) {
        if (raw[i] == '&') {
            size_t used = htmlDecodeReference(raw.substr(i), out);
            if (used > 0) {
                i += used;
                continue;
            }
        }
        out.push_back(raw[i++]);
    }
    return out;
}

// Skips the contents of a script or style element up to its end tag (or the end of the
// input) and the end tag itself.
void Scanner::skipRawText(std::string_view endTag) {
    const size_t n = in_.size();
    size_t pos = pos_;
    while (true) {
        pos = in_.find("</", pos);
        if (pos == std::string_view::npos) {
            pos_ = n;
            return;
        }
        size_t k = 0;
        while (k < endTag.size() && pos + 2 + k < n && lowerAscii(in_[pos + 2 + k]) == endTag[k])
            ++k;
        size_t after = pos + 2 + k;
        if (k == endTag.size() &&
            (after >= n || isBlank(in_[after]) || in_[after] == '>' || in_[after] == '/')) {
            size_t close = in_.find('>', after);
            pos_ = close == std::string_view::npos ? n : close + 1;
            return;
        }
        pos += 2;
    }
}

void Scanner::scanMarkup() {
    const size_t n = in_.size();
    size_t next = pos_ + 1;
    if (next >= n) {
        appendRun("<");
        pos_ = n;
        return;
    }
    char c = in_[next];
    if (c == '!') {
        if (in_.compare(pos_, 4, "<!--") == 0) {
            size_t end = in_.find("-->", pos_ + 2);
            pos_ = end == std::string_view::npos ? n : end + 3;
        } else {
            size_t end = in_.find('>', next);
            pos_ = end == std::string_view::npos ? n : end + 1;
        }
        return;
    }
    if (c == '?') {
        size_t end = in_.find('>', next);
        pos_ = end == std::string_view::npos ? n : end + 1;
        return;
    }
    bool closing = false;
    if (c == '/') {
        closing = true;
        ++next;
        if (next >= n || !isAsciiLetter(in_[next])) {
            appendRun("<");
            ++pos_;
            return;
        }
    } else if (!isAsciiLetter(c)) {
        appendRun("<");
        ++pos_;
        return;
    }
    std::string_view name;
    bool longName = false;
    pos_ = parseTag(next, name, longName);
    if (longName) {
        if (mode_ != Mode::Title && mode_ != Mode::SkipTitle) appendBlank();
        return;
    }
    onTag(name, closing);
}

void Scanner::finishHeading() {
    while (!headingText_.empty() && headingText_.back() == ' ') headingText_.pop_back();
    // The heading names the anchors that open it: those without a heading yet with no
    // text between them and the heading's start.
    for (size_t i = rec_.anchors.size(); i-- > 0;) {
        HtmlAnchorSection& anchor = rec_.anchors[i];
        if (!anchor.heading.empty()) break;
        size_t from = static_cast<size_t>(anchor.offset);
        bool onlyBlanks = true;
        for (size_t k = from; k < headingStart_ && k < rec_.body.size() && onlyBlanks; ++k)
            onlyBlanks = rec_.body[k] == ' ' || rec_.body[k] == '\n';
        if (!onlyBlanks && from < headingStart_) break;
        anchor.heading = headingText_;
    }
    headingText_.clear();
    headingSlot_ = -1;
    mode_ = Mode::Text;
}

void Scanner::onTag(std::string_view name, bool closing) {
    TagKind kind = tagKind(name);
    if (mode_ == Mode::Title || mode_ == Mode::SkipTitle) {
        // Inside a title only its end counts; a missing end stops at the body.
        if ((kind == TagKind::Title && closing) ||
            (kind == TagKind::HeadEnd && (closing || name == "body"))) {
            rec_.titleSeen = true;
            mode_ = Mode::Text;
            appendBlank();
        }
        return;
    }
    switch (kind) {
        case TagKind::Inline:
        case TagKind::HeadEnd:
            return;
        case TagKind::Title:
            if (closing) return;
            if (mode_ == Mode::Heading) finishHeading();
            if (rec_.titleSeen) {
                mode_ = Mode::SkipTitle;
            } else {
                mode_ = Mode::Title;
                rec_.title.push_back(' ');
            }
            return;
        case TagKind::Heading:
            if (closing) {
                if (mode_ == Mode::Heading) {
                    finishHeading();
                    if (keepLines())
                        paragraphMark();
                    else
                        appendBlank();
                }
                return;
            }
            if (mode_ == Mode::Heading) return;
            if (keepLines())
                paragraphMark();
            else
                appendBlank();
            mode_ = Mode::Heading;
            headingStart_ = rec_.body.size();
            headingText_.clear();
            headingSlot_ = rec_.headingCount < 4 ? rec_.headingCount++ : -1;
            return;
        case TagKind::Anchor:
            if (closing) {
                link_ = false;
                appendBlank();
            } else {
                onAnchor();
            }
            return;
        case TagKind::Area:
            if (!closing) {
                if (const Attribute* href = attribute("href")) {
                    rec_.links.push_back(attributeText(href->value));
                    appendBlank();
                }
            }
            return;
        case TagKind::Meta:
            if (!closing) onMeta();
            return;
        case TagKind::Script:
            appendBlank();
            if (!closing) skipRawText("script");
            return;
        case TagKind::Style:
            appendBlank();
            if (!closing) skipRawText("style");
            return;
        case TagKind::Paragraph:
            paragraphMark();
            return;
        case TagKind::Break:
        case TagKind::Block:
            if (keepLines())
                paragraphMark();
            else
                appendBlank();
            return;
        case TagKind::Other:
            appendBlank();
            return;
    }
}

void Scanner::onAnchor() {
    const Attribute* href = attribute("href");
    const Attribute* name = attribute("name");
    if (name != nullptr && !name->value.empty()) {
        HtmlAnchorSection section;
        section.offset = static_cast<int32_t>(std::min<size_t>(rec_.body.size(), INT32_MAX));
        section.name = attributeText(name->value);
        rec_.anchors.push_back(std::move(section));
    }
    if (href != nullptr) {
        link_ = true;
        rec_.links.push_back(attributeText(href->value));
        appendBlank();
    }
}

void Scanner::onMeta() {
    const Attribute* name = attribute("name");
    const Attribute* content = attribute("content");
    if (name == nullptr || content == nullptr || !name->doubleQuoted || !content->doubleQuoted)
        return;
    std::string metaName = attributeText(name->value);
    std::string metaValue = attributeText(content->value);
    rec_.metaLength += static_cast<long>(metaName.size() + metaValue.size());
    rec_.metaNames.push_back(std::move(metaName));
    rec_.metaValues.push_back(std::move(metaValue));
}

}  // namespace

std::mutex& htmlScannerMutex() {
    return importScannerLock();
}

size_t htmlDecodeReference(std::string_view text, std::string& out) {
    if (text.size() < 3 || text[0] != '&') return 0;
    if (text[1] == '#') {
        size_t i = 2;
        bool hex = text[i] == 'x' || text[i] == 'X';
        if (hex) ++i;
        size_t start = i;
        uint32_t value = 0;
        while (i < text.size() && i - start < 8) {
            char c = text[i];
            int digit;
            if (isAsciiDigit(c))
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                break;
            value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
            ++i;
        }
        if (i == start || i >= text.size() || text[i] != ';') return 0;
        std::string one;
        if (!charsetAppendCodePoint(one, value)) return 0;
        out.append(one);
        return i + 1;
    }
    size_t i = 1;
    while (i < text.size() && i - 1 < kLongestEntityName &&
           (isAsciiLetter(text[i]) || isAsciiDigit(text[i])))
        ++i;
    if (i == 1 || i >= text.size() || text[i] != ';') return 0;
    std::string_view name = text.substr(1, i - 1);
    auto it = std::lower_bound(std::begin(kEntities), std::end(kEntities), name,
                               [](const Entity& e, std::string_view n) { return e.name < n; });
    if (it == std::end(kEntities) || name != it->name) return 0;
    if (it->codePoint == 160)
        out.push_back(' ');
    else
        charsetAppendCodePoint(out, it->codePoint);
    return i + 1;
}

int htmlParse(std::string_view html, const HtmlParseOptions& options, HtmlParseRecord& record) {
    std::lock_guard<std::mutex> guard(htmlScannerMutex());
    record = HtmlParseRecord{};
    try {
        record.body.reserve(html.size() / 2 + 16);
        Scanner scanner(html, options, record);
        scanner.run();
    } catch (const std::bad_alloc&) {
        record = HtmlParseRecord{};
        return kHtmlParseNoMemory;
    } catch (const std::length_error&) {
        record = HtmlParseRecord{};
        return kHtmlParseNoMemory;
    }
    return kHtmlParseOk;
}

int htmlParse(std::string_view html, int flags, HtmlParseRecord& record) {
    HtmlParseOptions options;
    options.flags = flags;
    return htmlParse(html, options, record);
}

std::string htmlToTextString(std::string_view html, int flags) {
    HtmlParseRecord record;
    if (htmlParse(html, flags, record) != kHtmlParseOk) return {};
    std::string out;
    out.reserve(record.body.size());
    bool keep = (flags & kHtmlKeepLines) != 0;
    for (char c : record.body) {
        if (c == '\n' && keep) {
            while (!out.empty() && out.back() == ' ') out.pop_back();
            // At most one empty line in a row.
            size_t len = out.size();
            if (len >= 2 && out[len - 1] == '\n' && out[len - 2] == '\n') continue;
            if (!out.empty()) out.push_back('\n');
        } else if (c == '\n' || c == ' ') {
            if (!out.empty() && out.back() != ' ' && out.back() != '\n') out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
    return out;
}

char* htmlToText(const char* text, int flags) {
    if (text == nullptr) return nullptr;
    try {
        std::string plain = htmlToTextString(text, flags);
        return memStrNDup(plain.data(), plain.size());
    } catch (const std::exception&) {
        return nullptr;
    }
}
