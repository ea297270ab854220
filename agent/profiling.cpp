#include "agent/profiling.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "agent/texttoquery.h"
#include "ixo_text.h"
#include "platform/registry.h"
#include "support/fileutil.h"

namespace agent {
namespace {

bool byScore(const ProfileTerm& a, const ProfileTerm& b) {
    return a.score > b.score;
}
bool byTerm(const ProfileTerm& a, const ProfileTerm& b) {
    return a.term < b.term;
}
bool byScoreThenTerm(const ProfileTerm& a, const ProfileTerm& b) {
    return a.score != b.score ? a.score > b.score : a.term < b.term;
}

// Reads one line of a profile file as a number ("%05d"), or one term line.
class LineReader {
  public:
    LineReader(const char* text, size_t length) : p_(text), end_(text + length) {}
    bool line(std::string& out) {
        if (p_ >= end_) return false;
        const char* nl = static_cast<const char*>(std::memchr(p_, '\n', end_ - p_));
        const char* stop = nl ? nl : end_;
        out.assign(p_, stop);
        if (!out.empty() && out.back() == '\r') out.pop_back();
        p_ = nl ? nl + 1 : end_;
        return true;
    }
    bool number(int32_t& value) {
        std::string s;
        if (!line(s)) return false;
        return parse(s.c_str(), value, nullptr);
    }
    static bool parse(const char* s, int32_t& value, const char** rest) {
        errno = 0;
        char* after = nullptr;
        long v = std::strtol(s, &after, 10);
        if (after == s || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
        if (!rest && *after) return false;
        if (rest) *rest = after;
        value = static_cast<int32_t>(v);
        return true;
    }

  private:
    const char* p_;
    const char* end_;
};

}  // namespace

bool profileTermReadable(std::string_view term) {
    if (term.empty() || term.size() > kProfileTermLength) return false;
    return std::none_of(term.begin(), term.end(), [](char c) {
        auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

UserProfile profileCreate(int32_t categories, int32_t termsPerCategory, int32_t threshold) {
    UserProfile profile;
    profile.termsPerCategory = std::max(termsPerCategory, 0);
    profile.threshold = threshold;
    profile.categories.resize(static_cast<size_t>(std::max(categories, 0)));
    return profile;
}

std::vector<ProfileTerm> profileExtractTerms(const char* text, const TermWeightTable* weights) {
    if (!text) return {};
    std::string clean = blankNonAlnum(text);
    std::vector<QueryTerm> counted = countTerms(clean, [](std::string& term) {
        return std::any_of(term.begin(), term.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    });
    // Each term is weighed whole (the table is bucketed by the whole term), then cut to
    // the profile's term length. Terms that become equal are one profile term: their
    // counts add up and the weight is that of the most frequent of them (the first in
    // term order among equally frequent ones).
    struct Group {
        int64_t count = 0;
        int32_t bestCount = 0;
        std::string bestTerm;
        int weight = TermWeightTable::kAbsentWeight;
    };
    std::vector<Group> groups;
    std::vector<QueryTerm> cut;
    std::unordered_map<std::string, size_t> byCut;
    byCut.reserve(counted.size());
    for (QueryTerm& t : counted) {
        std::string key = t.term.substr(0, kProfileTermLength);
        auto [it, fresh] = byCut.emplace(key, groups.size());
        if (fresh) {
            groups.emplace_back();
            cut.push_back(QueryTerm{std::move(key), 0});
        }
        Group& g = groups[it->second];
        g.count += t.value;
        if (t.value > g.bestCount || (t.value == g.bestCount && t.term < g.bestTerm)) {
            g.bestCount = t.value;
            g.bestTerm = t.term;
            g.weight = termWeight(weights, t.term);
        }
    }
    for (size_t i = 0; i < cut.size(); ++i)
        cut[i].value = static_cast<int32_t>(groups[i].weight *
                                            std::sqrt(static_cast<double>(groups[i].count)));
    std::vector<QueryTerm> ranked = sortByValue(std::move(cut));
    std::vector<ProfileTerm> terms;
    terms.reserve(ranked.size());
    for (QueryTerm& t : ranked) terms.push_back(ProfileTerm{t.value, std::move(t.term)});
    return terms;
}

int profileUpdate(const char* text, UserProfile& profile, const TermWeightTable* weights) {
    if (profile.categories.empty()) return -1;
    std::vector<ProfileTerm> terms = profileExtractTerms(text, weights);
    std::unordered_map<std::string, int32_t> textScores;
    textScores.reserve(terms.size());
    for (const auto& t : terms) textScores.emplace(t.term, t.score);

    int chosen = -1;
    int64_t best = 0;
    for (size_t c = 0; c < profile.categories.size(); ++c) {
        int64_t overlap = 0;
        for (const auto& t : profile.categories[c].terms) {
            auto hit = textScores.find(t.term);
            if (hit != textScores.end()) overlap += static_cast<int64_t>(t.score) + hit->second;
        }
        if (overlap > profile.threshold && (chosen < 0 || overlap > best)) {
            chosen = static_cast<int>(c);
            best = overlap;
        }
    }
    if (chosen < 0) {
        chosen = 0;
        for (size_t c = 1; c < profile.categories.size(); ++c)
            if (profile.categories[c].total < profile.categories[chosen].total)
                chosen = static_cast<int>(c);
        profile.categories[chosen] = ProfileCategory{};
    }

    ProfileCategory& category = profile.categories[chosen];
    std::vector<ProfileTerm> all = std::move(category.terms);
    all.insert(all.end(), std::make_move_iterator(terms.begin()),
               std::make_move_iterator(terms.end()));
    // In term order, found on keys so that few comparisons reach the strings; a term
    // both in the category and in the text adds up its two scores.
    struct Key {
        uint64_t prefix;
        size_t index;
    };
    std::vector<Key> order(all.size());
    for (size_t i = 0; i < all.size(); ++i) order[i] = Key{textOrderPrefix(all[i].term), i};
    std::sort(order.begin(), order.end(), [&all](const Key& a, const Key& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return byTerm(all[a.index], all[b.index]);
    });
    std::vector<ProfileTerm> merged;
    merged.reserve(all.size());
    for (const Key& k : order) {
        ProfileTerm& t = all[k.index];
        if (!merged.empty() && merged.back().term == t.term) {
            int64_t sum = static_cast<int64_t>(merged.back().score) + t.score;
            merged.back().score =
                static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
        } else {
            merged.push_back(std::move(t));
        }
    }
    // A full category keeps its strongest terms, equal scores in term order.
    std::sort(merged.begin(), merged.end(), byScoreThenTerm);
    if (merged.size() > static_cast<size_t>(profile.termsPerCategory))
        merged.resize(static_cast<size_t>(profile.termsPerCategory));
    int64_t total = 0;
    for (auto& t : merged) {
        t.score = std::min(static_cast<int32_t>(t.score * 0.9), kProfileScoreCap);
        total += t.score;
    }
    std::stable_sort(merged.begin(), merged.end(), byScore);
    category.terms = std::move(merged);
    category.total = static_cast<int32_t>(std::clamp<int64_t>(total, INT32_MIN, INT32_MAX));
    return chosen;
}

std::string profileFormat(const UserProfile& profile) {
    std::string out;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%05d\n%05d\n%05d\n",
                  static_cast<int>(profile.categories.size()), profile.termsPerCategory,
                  profile.threshold);
    out += buf;
    // Only terms the reader takes are written, and no more than a category may hold,
    // so that a saved profile always reads back.
    const size_t room = static_cast<size_t>(std::max(profile.termsPerCategory, 0));
    for (const auto& c : profile.categories) {
        std::string lines;
        size_t written = 0;
        for (const auto& t : c.terms) {
            if (written == room) break;
            if (!profileTermReadable(t.term)) continue;
            std::snprintf(buf, sizeof buf, "%05d ", std::min(t.score, kProfileScoreCap));
            lines += buf;
            lines += t.term;
            lines += '\n';
            ++written;
        }
        std::snprintf(buf, sizeof buf, "%05d\n", static_cast<int>(written));
        out += buf;
        out += lines;
    }
    return out;
}

std::unique_ptr<UserProfile> profileParse(const char* text, size_t length) {
    if (!text) return nullptr;
    LineReader in(text, length);
    int32_t categories = 0, perCategory = 0, threshold = 0;
    if (!in.number(categories) || !in.number(perCategory) || !in.number(threshold)) return nullptr;
    if (categories < 1 || categories > kMaxProfileCategories || perCategory < 0 ||
        perCategory > kMaxProfileTermsPerCategory)
        return nullptr;
    auto profile = std::make_unique<UserProfile>(profileCreate(categories, perCategory, threshold));
    std::string line;
    for (auto& category : profile->categories) {
        int32_t count = 0;
        if (!in.number(count) || count < 0 || count > perCategory) return nullptr;
        category.terms.reserve(static_cast<size_t>(count));
        int64_t total = 0;
        for (int32_t i = 0; i < count; ++i) {
            if (!in.line(line)) return nullptr;
            ProfileTerm term;
            const char* rest = nullptr;
            if (!LineReader::parse(line.c_str(), term.score, &rest) || *rest != ' ') return nullptr;
            // The term is the rest of the line, zero bytes included; a term that could
            // not be written back as it is (a control byte, a line end) is left out.
            term.term = line.substr(static_cast<size_t>(rest + 1 - line.c_str()));
            if (term.term.empty() || term.term.size() > kProfileTermLength) return nullptr;
            if (!profileTermReadable(term.term)) continue;
            // Scores are capped when kept; a file may hold any number.
            term.score = std::min(term.score, kProfileScoreCap);
            total += term.score;
            category.terms.push_back(std::move(term));
        }
        std::stable_sort(category.terms.begin(), category.terms.end(), byScore);
        category.total = static_cast<int32_t>(std::clamp<int64_t>(total, INT32_MIN, INT32_MAX));
    }
    return profile;
}

std::unique_ptr<UserProfile> profileLoad(const std::string& path) {
    char* buffer = nullptr;
    int64_t length = fileReadMarked(path.c_str(), &buffer);
    if (!buffer) return nullptr;
    auto profile = profileParse(buffer, static_cast<size_t>(length));
    memFree(buffer);
    return profile;
}

bool profileSave(const std::string& path, const UserProfile& profile) {
    std::string text = profileFormat(profile);
    // A file the reader would refuse (a category count it does not take) is not
    // written: it would replace a readable profile by an unreadable one.
    if (!profileParse(text.data(), text.size())) return false;
    std::string bytes(FILE_MARKER_TEXT, FILE_MARKER_LENGTH);
    const size_t start = bytes.size();
    bytes += text;
    fileScrambleBytes(bytes.data() + start, static_cast<int64_t>(text.size()));
    // Written beside the old file and renamed over it, so that a write cut short leaves
    // the old profile; an existing file keeps its permissions, a new one is private.
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? st.st_mode : 0600;
    return platform::writeFileReplacing(path, bytes, mode);
}

std::string profileQueryText(const UserProfile& profile, int category, int maxTerms) {
    std::string out;
    if (category < 0 || static_cast<size_t>(category) >= profile.categories.size()) return out;
    const auto& terms = profile.categories[category].terms;
    int taken = 0;
    for (const auto& t : terms) {
        if (taken >= maxTerms) break;
        ++taken;
        if (t.score <= 10) continue;
        if (!out.empty()) out += '+';
        out += t.term.substr(0, 12);
        out += "~[" + std::to_string(t.score) + "]";
    }
    return out;
}

namespace {

// The values of an IDX document written as the IDX writer writes them: a tag's value
// stays on its line (line ends become blanks), a field value loses its quotes, tabs and
// line ends (blanks too), and a content line that would begin with "#IXO" (and read as
// a tag) has its '#' written as a blank.
std::string tagValue(std::string value) {
    for (char& c : value)
        if (c == '\r' || c == '\n') c = ' ';
    return value;
}

std::string fieldValue(std::string value) {
    for (char& c : value)
        if (c == '\r' || c == '\n' || c == '\t' || c == '"') c = ' ';
    return value;
}

}  // namespace

std::string profileDocument(const UserProfile& profile, int category, const std::string& reference,
                            const std::string& title, const std::string& contact,
                            const std::string& database) {
    if (category < 0 || static_cast<size_t>(category) >= profile.categories.size()) return {};
    const auto& terms = profile.categories[category].terms;
    if (terms.empty()) return {};
    std::string out;
    out += "#IXOREFERENCE " + tagValue(reference) + "\n";
    out += "#IXOTITLE " + tagValue(title) + "\n";
    out += "#IXOSTORECONTENT y\n";
    out += "#IXOFIELD ContactRef=\"" + fieldValue(contact) + "\"\n";
    out += "#IXOFIELD DOCTYPE=\"People\"\n";
    out += "#IXODBNAME " + tagValue(database) + "\n";
    out += "#IXOSECTION " + std::to_string(category) + "\n";
    out += "#IXOTYPE AGENT\n";
    out += "#IXOCONTENT\n";
    for (size_t i = 0; i < terms.size() / 2; ++i) {
        if (terms[i].score <= 10 || !profileTermReadable(terms[i].term)) continue;
        std::string line = terms[i].term;
        if (line.compare(0, 4, "#IXO") == 0) line[0] = ' ';
        out += line + "~[" + std::to_string(terms[i].score) + "]\n";
    }
    out += "#IXOENDDOC\n";
    return out;
}

}  // namespace agent
