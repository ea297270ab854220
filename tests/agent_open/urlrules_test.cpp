// URL rules, address recognition, map links and the other generated links.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "agent/mapurl.h"
#include "support/envcfgutil.h"
#include "tests/common/tempdir.h"

namespace {

using agent::Address;
using agent::escapeUrl;
using agent::manipulateUrl;
using agent::UrlRules;
using testing_support::TempDir;
using testing_support::writeWholeFile;

agent::SettingReader mapReader(const std::map<std::string, std::string>& values) {
    return [values](const std::string& key, std::string& value) {
        auto it = values.find(key);
        if (it == values.end()) return false;
        value = it->second;
        return true;
    };
}

TEST(EscapeUrl, EveryByteButLettersAndDigits) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"aZ09", "aZ09"},
        {"http://a.b/c", "http%3A%2F%2Fa%2Eb%2Fc"},
        {"a b&c=d~-_", "a%20b%26c%3Dd%7E%2D%5F"},
        {"\xe9\xff", "%E9%FF"},
        {std::string("x\0y", 3), "x%00y"},
    };
    for (const auto& c : cases) EXPECT_EQ(escapeUrl(c.in), c.out) << c.in;
}

TEST(ManipulateUrl, RulesTable) {
    UrlRules on;
    on.useManipulation = true;
    on.prefix = "http://gw/?u=";
    on.postfix = "&src=agent";
    UrlRules escaped = on;
    escaped.escape = true;
    UrlRules links = on;
    links.insertLinks = true;
    UrlRules named = links;
    named.linksVarName = "L";
    UrlRules bare;
    bare.useManipulation = true;  // no prefix or postfix
    bare.insertLinks = true;

    const struct {
        const char* what;
        const UrlRules& rules;
        std::string url, links, out;
    } cases[] = {
        {"off", UrlRules{}, "http://a.com/x.html", "1,2", "http://a.com/x.html"},
        {"html", on, "http://a.com/x.html", "", "http://gw/?u=http://a.com/x.html&src=agent"},
        {"escaped", escaped, "http://a.com/x.html", "",
         "http://gw/?u=http%3A%2F%2Fa%2Ecom%2Fx%2Ehtml&src=agent"},
        {"pdf not listed", escaped, "http://a.com/c.pdf", "", "http://a.com/c.pdf"},
        {"ASP with query", on, "http://a.com/c.ASP?x=1.pdf", "",
         "http://gw/?u=http://a.com/c.ASP?x=1.pdf&src=agent"},
        {"host dot", on, "http://www.a.com", "", "http://www.a.com"},
        {"no dot", on, "intranet/page", "", "http://gw/?u=intranet/page&src=agent"},
        {"links", links, "http://a.com/x.htm", "1,2+3",
         "http://gw/?u=http://a.com/x.htm&src=agent&links=1,2,3"},
        {"empty links", links, "http://a.com/x.htm", ",+",
         "http://gw/?u=http://a.com/x.htm&src=agent"},
        {"links name", named, "x.cgi", "7", "http://gw/?u=x.cgi&src=agent&L=7"},
        {"bare", bare, "x.xml", "4", "x.xml&links=4"},
    };
    for (const auto& c : cases) EXPECT_EQ(manipulateUrl(c.url, c.links, c.rules), c.out) << c.what;

    UrlRules types = on;
    types.docTypes = " PDF + doc ,";
    EXPECT_EQ(manipulateUrl("f.pdf", "", types), "http://gw/?u=f.pdf&src=agent");
    EXPECT_EQ(manipulateUrl("f.html", "", types), "f.html");
}

// The proxy account is appended encoded, and only towards the configured gateway.
TEST(ManipulateUrl, ProxyValuesOnlyWithPrefixAndEncoded) {
    UrlRules r;
    r.useManipulation = true;
    r.prefix = "http://gw/?u=";
    r.useProxy = 2;
    r.proxyHost = "proxy.example";
    r.proxyPort = 8080;
    r.proxyUser = "me";
    r.proxyPass = "p&ss=1 #";
    EXPECT_EQ(manipulateUrl("a.htm", "", r),
              "http://gw/?u=a.htm&ProxyHost=proxy%2Eexample&ProxyPort=8080&ProxyUser=me"
              "&ProxyPass=p%26ss%3D1%20%23");
    r.prefix.clear();
    EXPECT_EQ(manipulateUrl("http://elsewhere.example/a.htm", "", r),
              "http://elsewhere.example/a.htm");
    r.prefix = "http://gw/?u=";
    r.useProxy = 0;
    EXPECT_EQ(manipulateUrl("a.htm", "", r), "http://gw/?u=a.htm");
}

struct AddressCase {
    const char* what;
    std::string text;
    bool found;
    std::string country = {}, region = {}, first = {}, second = {}, street = {};
    int house = 0;
};

TEST(AddressRecognition, PerCountryMustAndMustNot) {
    const AddressCase cases[] = {
        // Britain: postcodes, and regions revealing the country.
        {"gb full", "10 Downing Street\nLondon SW1A 2AA", true, "GB", "", "SW1A", "2AA",
         "Downing Street", 10},
        {"gb short", "Piccadilly, Manchester M1 1AE", true, "GB", "", "M1", "1AE", "", 0},
        {"gb region", "Lakeside, Lake District\n12 Fell Road", true, "GB", "Lake District", "", "",
         "Fell Road", 12},
        {"gb excluded letter", "Call AB12 3CD now", false},
        {"gb lower case", "sw1a 2aa", false},
        {"gb letter after", "W1A 1AAB", false},
        // United States: state and ZIP, names standing for abbreviations.
        {"us", "1600 Pennsylvania Avenue NW\nWashington, DC 20500", true, "US", "DC", "", "20500",
         "Pennsylvania Avenue NW", 1600},
        {"us name", "Springfield, Illinois 62701", true, "US", "IL", "", "62701", "", 0},
        {"us dots", "Albany, N.Y. 12207", true, "US", "NY", "", "12207", "", 0},
        {"us west virginia", "Charleston, West Virginia 25301", true, "US", "WV", "", "25301", "",
         0},
        {"us unknown state", "Form MX 12345", false},
        {"us six digits", "Albany NY 122070", false},
        {"us inside word", "Remained in Arkansas\n", false},  // no ZIP, no street
        // Germany: a town, then a five-digit code.
        {"de", "Platz der Republik 1\n11011 Berlin", true, "DE", "berlin", "", "11011",
         "Platz der Republik", 1},
        {"de umlaut", "80331 M\xfcnchen", true, "DE", "m\xfcnchen", "", "80331", "", 0},
        {"de more digits", "11011 Berlin 2", false},
        {"de no town", "80331 Springfield", false},
        // Italy.
        {"it", "Via Roma 12\n66100 Chieti CH", true, "IT", "chieti", "", "66100", "Via Roma", 12},
        {"it l'aquila", "67100 L'Aquila", true, "IT", "l'aquila", "", "67100", "", 0},
        {"it no code", "Chieti 1234567", false},
        // Street lines.
        {"not a street", "Suite 4 12 Main Street\nYorkshire", false},
        {"road not roadster", "Yorkshire\n12 Roadster Lane", false},
    };
    for (const auto& c : cases) {
        std::vector<Address> found = agent::recogniseAddresses(c.text);
        if (!c.found) {
            EXPECT_TRUE(found.empty()) << c.what << ": " << (found.empty() ? "" : found[0].street);
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << c.what;
        const Address& a = found[0];
        EXPECT_EQ(a.countryCode, c.country) << c.what;
        EXPECT_EQ(a.region, c.region) << c.what;
        EXPECT_EQ(a.postcodeFirst, c.first) << c.what;
        EXPECT_EQ(a.postcodeSecond, c.second) << c.what;
        EXPECT_EQ(a.street, c.street) << c.what;
        EXPECT_EQ(a.houseNumber, c.house) << c.what;
        EXPECT_FALSE(a.countryName.empty()) << c.what;
    }
    // Two addresses in one text.
    auto two = agent::recogniseAddresses("London SW1A 2AA\nAlbany NY 12207\n");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].countryCode, "US");
}

TEST(MapUrl, KeysEscapingAndLimit) {
    auto reader = mapReader({{"map_GB_prefix", "http://maps.example/?v=1"},
                             {"map_GB_firstline", "addr"},
                             {"map_GB_region", "area"},
                             {"map_GB_postcode", "pc"},
                             {"map_GB_suffix", "&z=9"},
                             {"map_US_prefix", "http://us.example/?"},
                             {"map_DE_prefix", ""}});
    EXPECT_EQ(agent::buildMapUrl(reader, 10, "Downing Street", "", "GB", "SW1A", "2AA"),
              "http://maps.example/?v=1&addr=10%20Downing%20Street&pc=SW1A%202AA&z=9");
    EXPECT_EQ(agent::buildMapUrl(reader, 0, "High Street", "Kent", "GB", "", "1AA"),
              "http://maps.example/?v=1&addr=High%20Street&area=Kent&pc=1AA&z=9");
    EXPECT_EQ(agent::buildMapUrl(reader, 1, "Main Street", "NY", "US", "", "12207"),
              "http://us.example/?");
    EXPECT_EQ(agent::buildMapUrl(reader, 1, "Main Street", "", "DE", "", "11011"), "");
    EXPECT_EQ(agent::buildMapUrl(reader, 1, "Main Street", "", "IT", "", "11011"), "");
    EXPECT_EQ(agent::buildMapUrl(reader, 1, "Main Street", "", "", "", "11011"), "");

    // 1023 characters are allowed, 1024 give nothing.
    const std::string head = "http://maps.example/?v=1&addr=1%20";
    const std::string tail = "&z=9";
    std::string street(1023 - head.size() - tail.size(), 'a');
    EXPECT_EQ(agent::buildMapUrl(reader, 1, street, "", "GB", "", "").size(), 1023u);
    EXPECT_EQ(agent::buildMapUrl(reader, 1, street + "a", "", "GB", "", ""), "");
}

TEST(MapUrl, ConfigFileKeysAnyCase) {
    const std::string text = "[Settings]\nMAP_IT_PREFIX=http://it.example/?\nmap_it_postcode=cap\n";
    ConfigFile* cfg = nullptr;
    ASSERT_EQ(envCfgLoadFromMemory(&cfg, text.data(), static_cast<int32_t>(text.size()), nullptr,
                                   ENVCFG_OWNED),
              0);
    auto reader = agent::configSettings(cfg, "Settings");
    EXPECT_EQ(agent::buildMapUrl(reader, 12, "Via Roma", "chieti", "IT", "", "66100"),
              "http://it.example/?&cap=66100");
    envCfgClose(&cfg);
}

TEST(Countries, JsonTableAndFallback) {
    std::vector<agent::Country> out;
    EXPECT_TRUE(agent::parseCountryJson(
        "{\"3166-1\": [{\"alpha_2\": \"CI\", \"name\": \"C\\u00f4te d'Ivoire\", \"n\": 1},"
        " {\"alpha_2\": \"FR\", \"name\": \"France\", \"flag\": \"\xf0\x9f\x87\xab\"},"
        " {\"alpha_2\": \"bad\", \"name\": \"x\"}, [], null]}",
        out));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].name, "C\xf4te d'Ivoire");
    EXPECT_EQ(out[1].code, "FR");
    for (const char* bad : {"", "[]", "{\"3166-1\": [", "{\"3166-1\": []}", "{\"a\":\"\\u12\"}",
                            "{\"3166-1\": [{\"alpha_2\": \"FR\", \"name\": \"F\"}]} x"})
        EXPECT_FALSE(agent::parseCountryJson(bad, out)) << bad;
    EXPECT_EQ(agent::countryName("GB"), "United Kingdom");
    EXPECT_EQ(agent::countryName("US"), "United States");
    EXPECT_EQ(agent::countryName("ZZ"), "");
}

TEST(GeneratedLinks, StockMapAtlasBiography) {
    TempDir dir;
    writeWholeFile(dir.file("nyse.txt"), "IBM\tInternational Business Machines\r\nT\tAT&T\n");
    writeWholeFile(dir.file("lse.txt"), "VOD\tVodafone\n");
    writeWholeFile(dir.file("atlas.txt"), "France\tFrance (country)\nNew York\tNew York City\n");
    writeWholeFile(dir.file("bio.txt"), "Ada Lovelace\tAda Lovelace, mathematician\n");
    agent::LinkServices services;
    services.load(mapReader({{"StockSiteSymbolFile0", dir.file("nyse.txt")},
                             {"StockSiteSymbolFile1", dir.file("lse.txt")},
                             {"StockSiteSymbolFile2", dir.file("missing.txt")},
                             {"StockSiteURLPrefix0", "http://q.example/?s="},
                             {"StockSiteURLPrefix1", "http://l.example/"},
                             {"StockSiteURLSuffix1", ".html"},
                             {"AtlasFile", dir.file("atlas.txt")},
                             {"AtlasPrefix", "http://atlas.example/"},
                             {"BiographyFile", dir.file("bio.txt")},
                             {"BiographyPrefix", "http://bio.example/?n="},
                             {"map_GB_prefix", "http://maps.example/?"},
                             {"map_GB_postcode", "pc"}}));
    auto links = services.linksFor(
        "IBM and VOD (not ibm, not IBMX) met in France and New York; Ada Lovelace wrote; "
        "IBM again.\nLondon SW1A 2AA");
    std::vector<std::pair<int, std::string>> got;
    for (const auto& l : links) got.emplace_back(l.kind, l.url);
    std::vector<std::pair<int, std::string>> want = {
        {agent::kLinkStock, "http://q.example/?s=IBM"},
        {agent::kLinkStock, "http://l.example/VOD.html"},
        {agent::kLinkMap, "http://maps.example/?&pc=SW1A%202AA"},
        {agent::kLinkAtlas, "http://atlas.example/France"},
        {agent::kLinkAtlas, "http://atlas.example/New%20York"},
        {agent::kLinkBiography, "http://bio.example/?n=Ada%20Lovelace"},
    };
    EXPECT_EQ(got, want);
    ASSERT_EQ(links.size(), want.size());
    EXPECT_EQ(links[0].title, "Quote: International Business Machines (IBM)");
    EXPECT_EQ(links[4].title, "Atlas: New York City");

    // One plain key serves as a one-entry list; no configuration gives no links.
    agent::LinkServices single;
    single.load(mapReader({{"StockSiteSymbolFile", dir.file("lse.txt")},
                           {"StockSiteURLPrefix", "http://l.example/"}}));
    EXPECT_EQ(single.linksFor("VOD").size(), 1u);
    agent::LinkServices none;
    none.load(mapReader({}));
    EXPECT_TRUE(none.linksFor("IBM London SW1A 2AA France").empty());
}

}  // namespace
