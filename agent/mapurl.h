// Rewriting the address of a clicked result (URL manipulation), and the generated links
// offered beside the results: stock quotes, maps of postal addresses found in the text,
// atlas and biography pages. Texts are single-byte (Windows-1252), as the agent keeps
// them; nothing here has a window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ConfigFile;

namespace agent {

class CAppParameters;

// The URL manipulation and proxy settings that manipulateUrl applies.
struct UrlRules {
    bool useManipulation = false;
    bool escape = false;
    std::string prefix;
    std::string postfix;
    std::string docTypes = "htm,html,shtml,stm,cfm,cfml,xml,cgi,asp";
    bool insertLinks = false;
    std::string linksVarName = "links";
    int32_t useProxy = 0;
    std::string proxyHost;  // as the settings report it (the auto-proxy name in mode 1)
    int32_t proxyPort = 0;
    std::string proxyUser;
    std::string proxyPass;

    static UrlRules fromParameters(const CAppParameters& settings);
};

// text with every byte that is not an ASCII letter or digit written as "%" and two
// upper-case hexadecimal digits.
std::string escapeUrl(const std::string& text);

// The address to open for url: unchanged unless manipulation is on and the address's
// extension (after the last "." of the part before any "?") is empty or one of the
// document types (split at "," and "+", any case). Then: escaped when asked, prefix and
// postfix around it, "&<links name>=<links joined with ",">" when links are inserted,
// and, only when a prefix is set (the gateway is the organisation's own), the proxy
// values as "&ProxyHost=..&ProxyPort=..&ProxyUser=..&ProxyPass=.." percent-encoded.
std::string manipulateUrl(const std::string& url, const std::string& links, const UrlRules& rules);

// Reads one setting: true and value when the key is present.
using SettingReader = std::function<bool(const std::string& key, std::string& value)>;
// The "Settings" section of the Extended file (a key counts as present when not empty,
// which is all the settings object can tell).
SettingReader extendedSettings(const CAppParameters& settings);
// A section of a configuration file (the caller keeps the configuration alive).
SettingReader configSettings(ConfigFile* config, const std::string& section);

// Countries by their two-letter ISO 3166 code, with their English names (Windows-1252).
struct Country {
    std::string code;
    std::string name;
};
// The countries of an ISO 3166-1 JSON file as iso-codes ships it ({"3166-1": [{"alpha_2":
// .., "name": ..}, ..]}). False for text that is not such a file.
bool parseCountryJson(const std::string& text, std::vector<Country>& out);
// The country table: /usr/share/iso-codes/json/iso_3166-1.json, read once; when that
// cannot be read, a built-in table of the countries the address rules know.
const std::vector<Country>& countries();
// The English name of a country code, or empty.
std::string countryName(const std::string& code);

// A postal address found in text.
struct Address {
    std::string countryCode;  // "GB", "US", "DE", "IT"
    std::string countryName;
    std::string region;  // a place name, or the US state's abbreviation
    std::string postcodeFirst;
    std::string postcodeSecond;
    int32_t houseNumber = 0;  // 0: none
    std::string street;
};

// The postal addresses found in text: the text is cut into fields at line ends and the
// separators , TAB ; : > - | and 0xA6; an address ends at its postcode (British,
// US ZIP after a state, five-digit German and Italian codes) or at the end of the text
// when its country and street are known.
std::vector<Address> recogniseAddresses(const std::string& text);

// The map link of an address from the keys "map_XX_prefix", "map_XX_firstline",
// "map_XX_region", "map_XX_postcode" and "map_XX_suffix" (XX the country code). Empty
// when the country or its prefix is missing, or when the link would be longer than
// 1023 characters.
std::string buildMapUrl(const SettingReader& settings, int32_t houseNumber,
                        const std::string& street, const std::string& region,
                        const std::string& countryCode, const std::string& postcodeFirst,
                        const std::string& postcodeSecond);

// The generated links and the services that find them.
enum LinkKind : int { kLinkStock = 1, kLinkMap = 2, kLinkAtlas = 3, kLinkBiography = 4 };
struct GeneratedLink {
    int kind = 0;
    std::string title;  // the menu text
    std::string url;
};

class LinkServices {
  public:
    static constexpr int kMaxSymbolFiles = 10;
    static constexpr size_t kMaxLinksPerKind = 20;

    // Reads the services' settings from the Extended file's keys: StockSiteSymbolFile,
    // StockSiteURLPrefix and StockSiteURLSuffix (lists: KEY0 .. KEY9, or KEY alone for
    // one), AtlasFile/Prefix/Suffix, BiographyFile/Prefix/Suffix, and the map keys. The
    // reader is kept for the map keys. Missing files give no links.
    void load(const SettingReader& settings);
    // The links for a captured text: stock quotes, maps, atlas, biography, in that order.
    std::vector<GeneratedLink> linksFor(const std::string& text) const;

  private:
    struct PairList {
        std::vector<std::pair<std::string, std::string>> pairs;  // (entry, name)
        std::string prefix;
        std::string suffix;
    };
    std::vector<PairList> m_stock;
    PairList m_atlas;
    PairList m_biography;
    SettingReader m_settings;
};

// Reads a pairs file (split at TAB, CR and LF, taken two at a time); empty when the
// file cannot be read. At most 4 MB are read.
std::vector<std::pair<std::string, std::string>> readPairsFile(const std::string& path);

namespace places {
// Regional tables (agent/placetables.cpp, generated).
const std::vector<std::string>& britishNames();
const std::vector<std::pair<std::string, std::string>>& usStates();  // (name, code)
const std::vector<std::string>& germanTowns();
const std::vector<std::string>& italianProvinces();
}  // namespace places

}  // namespace agent
