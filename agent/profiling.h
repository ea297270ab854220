// The interest profile: categories of scored terms built from the texts the user
// reads, kept in "profile.dat" (a marked file), rendered as a query text or as a
// "People" IDX document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace agent {

class TermWeightTable;

struct ProfileTerm {
    int32_t score = 0;
    std::string term;  // at most 11 characters
};

struct ProfileCategory {
    int32_t total = 0;               // sum of the kept scores
    std::vector<ProfileTerm> terms;  // highest score first
};

struct UserProfile {
    int32_t termsPerCategory = 200;
    int32_t threshold = 1500;
    std::vector<ProfileCategory> categories;
};

inline constexpr size_t kProfileTermLength = 11;
inline constexpr int32_t kProfileScoreCap = 700;

// Largest figures a profile file may announce; larger ones make the file unreadable.
inline constexpr int32_t kMaxProfileCategories = 1000;
inline constexpr int32_t kMaxProfileTermsPerCategory = 100000;

// Whether a profile file can hold the term as it is: 1 to 11 bytes, none of them a
// control byte (a line end or a zero byte would change the term or the file's lines).
bool profileTermReadable(std::string_view term);

UserProfile profileCreate(int32_t categories = 10, int32_t termsPerCategory = 200,
                          int32_t threshold = 1500);

// The scored terms of a text (terms cut to 11 characters), highest score first.
std::vector<ProfileTerm> profileExtractTerms(const char* text, const TermWeightTable* weights);

// Merges the text's terms into the best-matching category (or the emptied weakest one)
// and returns its index; -1 when the profile has no categories.
int profileUpdate(const char* text, UserProfile& profile, const TermWeightTable* weights);

// "profile.dat": read through the marked-file reader (plain files accepted); null when
// the file is missing or malformed. Terms a file cannot hold are left out and scores
// are capped at kProfileScoreCap when read. Saving writes a marked file beside the old
// one and renames it over it; it fails, writing nothing, for a profile whose file would
// not read back.
std::unique_ptr<UserProfile> profileLoad(const std::string& path);
std::unique_ptr<UserProfile> profileParse(const char* text, size_t length);
std::string profileFormat(const UserProfile& profile);
bool profileSave(const std::string& path, const UserProfile& profile);

// At most maxTerms terms of the category that score above 10, "TERM~[score]" joined
// by "+". Empty for a category out of range.
std::string profileQueryText(const UserProfile& profile, int category, int maxTerms);

// The category as an IDX "People" document; empty for a category out of range or an
// empty category.
std::string profileDocument(const UserProfile& profile, int category, const std::string& reference,
                            const std::string& title, const std::string& contact,
                            const std::string& database);

}  // namespace agent
