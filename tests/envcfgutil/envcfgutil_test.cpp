#include "support/envcfgutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "support/diaglog.h"
#include "tests/common/tempdir.h"

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

// Owns a loaded configuration for the length of a test.
struct Cfg {
    ConfigFile* cfg = nullptr;
    ~Cfg() { envCfgClose(&cfg); }
    int load(const std::string& path, int32_t flags) {
        envCfgClose(&cfg);
        return envCfgLoad(&cfg, path.c_str(), flags);
    }
    int parse(const std::string& text, int32_t flags, const char* name = nullptr) {
        envCfgClose(&cfg);
        return envCfgLoadFromMemory(&cfg, text.data(), static_cast<int32_t>(text.size()), name,
                                    flags);
    }
    // The value as text; "<absent>" when the lookup failed.
    std::string text(const char* section, const char* key) {
        char* v = nullptr;
        int found = envCfgGetText(cfg, section, key, &v, nullptr);
        std::string out = found ? std::string(v ? v : "<null>") : "<absent>";
        if (v) memFree(v);
        return out;
    }
};

// Routes the diagnostic log to a file for one test.
struct CapturedLog {
    TempDir dir;
    std::string path = dir.file("diag.log");
    CapturedLog() { diagLogSetup(path.c_str(), 0, 0); }
    ~CapturedLog() { diagLogSetup(nullptr, 0, 0); }
    std::string contents() const { return readWholeFile(path); }
};

const char kSample[] =
    "Orphan=before any section\r\n"
    "; a comment\n"
    "[Default]\n"
    "Timeout = 30\n"
    "Shared=from default\n"
    "\n"
    "[ Server ]\r\n"
    "  Host =  example.local  \r\n"
    "# Port=1\n"
    "port=8080\n"
    "no equals sign here\n"
    "_x=not a key\n"
    "[server]\n"
    "Extra=merged\n";

class LineFormLookup : public testing::TestWithParam<int32_t> {};

TEST_P(LineFormLookup, SectionsKeysAndDefaultFallback) {
    Cfg c;
    ASSERT_EQ(c.parse(kSample, GetParam()), 0);
    EXPECT_EQ(c.cfg->readOnly, GetParam() == 0 ? 1 : 0);
    // Case and blanks around names and '=' do not matter.
    EXPECT_EQ(c.text("SERVER", "host"), "example.local");
    EXPECT_EQ(c.text("server", "PORT"), "8080");
    EXPECT_EQ(c.text(" Server ", " Port "), "8080");
    // A repeated header continues the same section.
    EXPECT_EQ(c.text("Server", "Extra"), "merged");
    // Keys missing from the section come from DEFAULT, also for unknown sections.
    EXPECT_EQ(c.text("Server", "Timeout"), "30");
    EXPECT_EQ(c.text("Nowhere", "Shared"), "from default");
    // Lines before any section, comments and malformed lines are not entries.
    EXPECT_EQ(c.text("Server", "Orphan"), "<absent>");
    EXPECT_EQ(c.text("Server", "#Port"), "<absent>");
    EXPECT_EQ(c.text("Server", "_x"), "<absent>");
    EXPECT_EQ(c.text("Server", "Missing"), "<absent>");
    // The default is handed back as a copy when the key is absent.
    char* v = nullptr;
    EXPECT_EQ(envCfgGetText(c.cfg, "Server", "Missing", &v, "fallback"), 0);
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "fallback");
    memFree(v);
    // Lookups mark what they returned.
    ConfigSection* s = envCfgFindSection(c.cfg, "server");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->name, "SERVER");
    EXPECT_STREQ(s->entries->key, "HOST");
    EXPECT_EQ(s->entries->used, 1);
}

INSTANTIATE_TEST_SUITE_P(InPlaceAndOwned, LineFormLookup, testing::Values(0, ENVCFG_OWNED));

TEST(ConfigLookup, ListDefaultsLogsFallbacks) {
    CapturedLog log;
    Cfg c;
    ASSERT_EQ(c.parse("[ConfigHelp]\nListDefaults=on\n[Default]\nShared=1\n[A]\nOwn=2\n", 0), 0);
    EXPECT_EQ(c.text("A", "Own"), "2");
    EXPECT_EQ(c.text("A", "Shared"), "1");
    EXPECT_EQ(c.text("A", "Nothing"), "<absent>");
    std::string text = log.contents();
    EXPECT_NE(text.find("Using Shared from default section"), std::string::npos) << text;
    EXPECT_NE(text.find("Failed to find Nothing in default section"), std::string::npos);
    EXPECT_EQ(text.find("Own"), std::string::npos);
}

TEST(ConfigLookup, UsedEntriesReportOnClose) {
    CapturedLog log;
    Cfg c;
    ASSERT_EQ(c.parse("[ConfigHelp]\nListUnused=yes\n[A]\nRead=1\nUnread=2\n", ENVCFG_OWNED), 0);
    EXPECT_EQ(c.text("A", "Read"), "1");
    envCfgClose(&c.cfg);
    EXPECT_EQ(c.cfg, nullptr);
    std::string text = log.contents();
    EXPECT_NE(text.find("Config entries used this run:"), std::string::npos) << text;
    EXPECT_NE(text.find("Section: A"), std::string::npos);
    EXPECT_NE(text.find("  Y READ=1"), std::string::npos);
    EXPECT_NE(text.find("  N UNREAD=2"), std::string::npos);
}

TEST(ConfigValues, IntegersClampAtIntMaxButNotNegatives) {
    CapturedLog log;
    Cfg c;
    ASSERT_EQ(c.parse("[N]\n"
                      "Max=2147483647\nOver=2147483648\nHuge=99999999999\n"
                      "Neg=-2147483648\nZeros=000000000042\nText=12abc\nEmpty=\n"
                      "Quoted=\"17\"\nPlusHuge=+99999999999\n",
                      0),
              0);
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "Max", nullptr, 0), INT_MAX);
    EXPECT_EQ(log.contents().find("WARNING"), std::string::npos);
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "Over", nullptr, 0), INT_MAX);
    EXPECT_NE(log.contents().find("WARNING: Exceeded INT_MAX=2147483647 at 2147483648 for key "
                                  "Over in section/default N, using INT_MAX"),
              std::string::npos)
        << log.contents();
    EXPECT_EQ(envCfgGetLong(c.cfg, "N", "Huge", nullptr, 0), INT_MAX);
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "PlusHuge", nullptr, 0), INT_MAX);
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "Neg", nullptr, 0), INT_MIN);
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "Zeros", nullptr, 0), 42);
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "Text", nullptr, 0), 12);
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "Empty", nullptr, 5), 0);
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "Quoted", nullptr, 0), 17);
    int32_t out = 0;
    EXPECT_EQ(envCfgGetInt(c.cfg, "N", "Absent", &out, -9), -9);
    EXPECT_EQ(out, -9);
}

TEST(ConfigValues, Booleans) {
    Cfg c;
    ASSERT_EQ(c.parse("[B]\na=yes\nb=ON\nc=1\nd=True\ne=off\nf=No\ng=0\nh=FALSE\ni=\nj=7\n"
                      "k=maybe\nl=Onward\n",
                      0),
              0);
    for (const char* key : {"a", "b", "c", "d", "j", "l"})
        EXPECT_EQ(envCfgGetBool(c.cfg, "B", key, nullptr, 0), 1) << key;
    for (const char* key : {"e", "f", "g", "h", "i", "k"})
        EXPECT_EQ(envCfgGetBool(c.cfg, "B", key, nullptr, 1), 0) << key;
    EXPECT_EQ(envCfgGetBool(c.cfg, "B", "absent", nullptr, 1), 1);
    EXPECT_EQ(envCfgGetBool(c.cfg, "B", "absent", nullptr, 0), 0);
}

TEST(ConfigValues, QuotedValuesAndEscapes) {
    Cfg c;
    ASSERT_EQ(c.parse("[Q]\n"
                      "Tab=\"a\\tb\"\n"
                      "All=\"\\n\\r\\\\\\\"\\q\"\n"
                      "Lone=\"\n"
                      "Pair=\"\"\n"
                      "TrailingSlash=\"ab\\\"\n"
                      "Inner=say \"hi\"\n",
                      0),
              0);
    EXPECT_EQ(c.text("Q", "Tab"), "a\tb");
    EXPECT_EQ(c.text("Q", "All"), "\n\r\\\"q");
    EXPECT_EQ(c.text("Q", "Lone"), "\"");
    EXPECT_EQ(c.text("Q", "Pair"), "");
    EXPECT_EQ(c.text("Q", "TrailingSlash"), "ab\\");
    EXPECT_EQ(c.text("Q", "Inner"), "say \"hi\"");
}

TEST(ConfigValues, NumberedKeysAndRuns) {
    Cfg c;
    ASSERT_EQ(c.parse("[L]\nItem0=a\nItem1=b\nItem3=d\nNum0=10\nNum2=30\n", 0), 0);
    char** texts = nullptr;
    int32_t count = 6;
    EXPECT_EQ(envCfgGetNumberedTexts(c.cfg, "L", "Item", &count, &texts, "dflt"), 4);
    ASSERT_EQ(count, 4);
    ASSERT_NE(texts, nullptr);
    EXPECT_STREQ(texts[0], "a");
    EXPECT_STREQ(texts[2], "dflt");
    EXPECT_STREQ(texts[3], "d");
    envCfgFreeTexts(&texts, 6);
    EXPECT_EQ(texts, nullptr);

    EXPECT_EQ(envCfgGetNumberedRun(c.cfg, "L", "Item", &count, &texts, nullptr), 2);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(texts[1], "b");
    envCfgFreeTexts(&texts, count);

    EXPECT_EQ(envCfgGetNumberedRun(c.cfg, "L", "None", &count, &texts, nullptr), 0);
    EXPECT_EQ(texts, nullptr);

    int32_t nums[4];
    EXPECT_EQ(envCfgGetNumberedInts(c.cfg, "L", "Num", 4, nums, -1), 2);
    EXPECT_EQ(nums[0], 10);
    EXPECT_EQ(nums[1], -1);
    EXPECT_EQ(nums[2], 30);
    EXPECT_EQ(nums[3], -1);
}

TEST(ConfigChange, ReadOnlyRefusesChangesAndSaving) {
    TempDir dir;
    std::string path = dir.file("ro.ini");
    writeWholeFile(path, "[A]\nK=1\n");
    Cfg c;
    ASSERT_EQ(c.load(path, 0), 0);
    EXPECT_EQ(envCfgSetText(c.cfg, "A", "K", "2"), -4);
    EXPECT_EQ(envCfgSave(c.cfg), -4);
    EXPECT_EQ(readWholeFile(path), "[A]\nK=1\n");
    EXPECT_EQ(envCfgSave(nullptr), -1);
}

TEST(ConfigChange, SettersValidateNames) {
    Cfg c;
    ASSERT_EQ(c.parse("", ENVCFG_OWNED), 0);
    EXPECT_EQ(envCfgSetText(c.cfg, "", "K", "v"), -1);
    EXPECT_EQ(envCfgSetText(c.cfg, "A", "  ", "v"), -1);
    EXPECT_EQ(envCfgSetText(c.cfg, nullptr, "K", "v"), -1);
    // Names the file could not hold would corrupt or lose entries on the next load.
    EXPECT_EQ(envCfgSetText(c.cfg, "A]B", "K", "v"), -1);
    EXPECT_EQ(envCfgSetText(c.cfg, "A", "K=J", "v"), -1);
    EXPECT_EQ(envCfgSetText(c.cfg, "A", "K\nJ", "v"), -1);
    EXPECT_EQ(envCfgSetText(c.cfg, "A", "_K", "v"), -1);
    EXPECT_EQ(envCfgFindSection(c.cfg, "A"), nullptr);
    // Setting replaces: one entry per key.
    EXPECT_EQ(envCfgSetText(c.cfg, "a", "k", "1"), 0);
    EXPECT_EQ(envCfgSetInt(c.cfg, "A", "K", -42), 0);
    EXPECT_EQ(c.text("A", "K"), "-42");
    EXPECT_EQ(envCfgSetBool(c.cfg, "A", "Flag", 1), 0);
    EXPECT_EQ(c.text("A", "flag"), "on");
    ConfigSection* s = envCfgFindSection(c.cfg, "A");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->entries->next->next, nullptr);
}

TEST(ConfigSave, LineFormRoundTripKeepsAwkwardValues) {
    TempDir dir;
    std::string path = dir.file("rt.ini");
    Cfg c;
    ASSERT_EQ(c.load(path, ENVCFG_OWNED | ENVCFG_CREATE), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "Main", "Plain", "value"), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "Main", "Multi", "line1\r\nINJECTED=1\nline3"), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "Main", "Padded", "  spaced\t"), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "Main", "Slashes", "C:\\dir\\n"), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "Main", "Null", nullptr), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "Other", "K", "v"), 0);
    ASSERT_EQ(envCfgSave(c.cfg), 0);
    std::string bytes = readWholeFile(path);
    EXPECT_EQ(bytes.substr(0, 21), "[MAIN]\r\nPLAIN=value\r\n");
    EXPECT_NE(bytes.find("NULL=\r\n\r\n[OTHER]\r\nK=v\r\n\r\n"), std::string::npos) << bytes;

    Cfg r;
    ASSERT_EQ(r.load(path, 0), 0);
    EXPECT_EQ(r.text("Main", "Plain"), "value");
    EXPECT_EQ(r.text("Main", "Multi"), "line1\r\nINJECTED=1\nline3");
    EXPECT_EQ(r.text("Main", "Injected"), "<absent>");
    EXPECT_EQ(r.text("Main", "Padded"), "  spaced\t");
    EXPECT_EQ(r.text("Main", "Slashes"), "C:\\dir\\n");
    EXPECT_EQ(r.text("Main", "Null"), "");
    EXPECT_EQ(r.text("Other", "K"), "v");
}

TEST(ConfigSave, ScrambledFileReadsBackByteForByte) {
    TempDir dir;
    std::string plainPath = dir.file("plain.cfg");
    std::string scrambledPath = dir.file("scrambled.cfg");
    Cfg c;
    ASSERT_EQ(c.load(scrambledPath, ENVCFG_OWNED | ENVCFG_SCRAMBLED | ENVCFG_CREATE), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "Settings", "ServerURL", "http://zz.example/Z?q=1"), 0);
    ASSERT_EQ(envCfgSetInt(c.cfg, "Settings", "Port", 6223), 0);
    ASSERT_EQ(envCfgSave(c.cfg), 0);
    c.cfg->scrambled = 0;
    memFree(c.cfg->fileName);
    c.cfg->fileName = memStrDup(plainPath.c_str());
    ASSERT_EQ(envCfgSave(c.cfg), 0);

    std::string plain = readWholeFile(plainPath);
    std::string scrambled = readWholeFile(scrambledPath);
    ASSERT_EQ(plain.size(), scrambled.size());
    for (size_t i = 0; i < plain.size(); ++i)
        ASSERT_EQ(static_cast<char>(plain[i] ^ 0x5A), scrambled[i]) << i;
    // 'Z' scrambles to a zero byte; reading must not stop there.
    EXPECT_NE(scrambled.find('\0'), std::string::npos);

    Cfg r;
    ASSERT_EQ(r.load(scrambledPath, ENVCFG_OWNED | ENVCFG_SCRAMBLED), 0);
    EXPECT_EQ(r.text("settings", "serverurl"), "http://zz.example/Z?q=1");
    EXPECT_EQ(envCfgGetInt(r.cfg, "Settings", "Port", nullptr, 0), 6223);
    ASSERT_EQ(envCfgSave(r.cfg), 0);
    EXPECT_EQ(readWholeFile(scrambledPath), scrambled);
    // Read without the flag the file is noise, not an error.
    Cfg n;
    ASSERT_EQ(n.load(scrambledPath, 0), 0);
    EXPECT_EQ(n.text("Settings", "Port"), "<absent>");
}

TEST(ConfigSave, TagFormParsesAndRoundTrips) {
    Cfg c;
    ASSERT_EQ(c.parse("<Top>loose value </Top>\n"
                      "<Server>\n  <Host> h.example </Host>\n  <Port>80</Port>\n"
                      "  <Open>runs to the next tag\n  <After>x</After>\n</Server>\n"
                      "<Unclosed>tail",
                      ENVCFG_TAGFORM),
              0);
    EXPECT_EQ(c.text("Anything", "Top"), "loose value");
    EXPECT_EQ(c.text("Server", "Host"), "h.example");
    EXPECT_EQ(c.text("Server", "Port"), "80");
    EXPECT_EQ(c.text("Server", "Open"), "runs to the next tag");
    EXPECT_EQ(c.text("Server", "After"), "x");
    EXPECT_EQ(c.text("Default", "Unclosed"), "tail");

    TempDir dir;
    std::string path = dir.file("tags.xml");
    memFree(c.cfg->fileName);
    c.cfg->fileName = memStrDup(path.c_str());
    ASSERT_EQ(envCfgSetText(c.cfg, "Server", "Note", " padded "), 0);
    ASSERT_EQ(envCfgSave(c.cfg), 0);
    std::string bytes = readWholeFile(path);
    EXPECT_NE(bytes.find("<SERVER>\n<HOST>h.example</HOST>\n<PORT>80</PORT>\n"), std::string::npos)
        << bytes;
    EXPECT_NE(bytes.find("</SERVER> \n\n"), std::string::npos);

    Cfg r;
    ASSERT_EQ(r.load(path, ENVCFG_TAGFORM), 0);
    for (const char* key : {"Host", "Port", "Open", "After", "Note"})
        EXPECT_EQ(r.text("Server", key), c.text("Server", key)) << key;
    EXPECT_EQ(r.text("Server", "Note"), " padded ");
    EXPECT_EQ(r.text("x", "Top"), "loose value");
    ASSERT_EQ(envCfgSave(r.cfg), 0);
    EXPECT_EQ(readWholeFile(path), bytes);

    // A value holding '<' cannot be written in this form: refused, file untouched.
    ASSERT_EQ(envCfgSetText(r.cfg, "Server", "Bad", "a<b>c</b>"), 0);
    EXPECT_EQ(envCfgSave(r.cfg), -4);
    EXPECT_EQ(readWholeFile(path), bytes);
}

TEST(ConfigSave, DecodedValuesAreEncodedAgain) {
    TempDir dir;
    std::string path = dir.file("enc.ini");
    writeWholeFile(path, "[E]\nV=50%25%0Anext%zz\nW=%00\n");
    Cfg c;
    ASSERT_EQ(c.load(path, ENVCFG_OWNED | ENVCFG_DECODE_VALUES), 0);
    EXPECT_EQ(c.text("E", "V"), "50%\nnext%zz");
    EXPECT_EQ(c.text("E", "W"), "%00");
    ASSERT_EQ(envCfgSave(c.cfg), 0);
    EXPECT_EQ(readWholeFile(path), "[E]\r\nV=50%25%0Anext%25zz\r\nW=%2500\r\n\r\n");
    Cfg r;
    ASSERT_EQ(r.load(path, ENVCFG_DECODE_VALUES), 0);
    EXPECT_EQ(r.text("E", "V"), "50%\nnext%zz");
}

TEST(ConfigFiles, MissingAndUnreadableFiles) {
    TempDir dir;
    Cfg c;
    std::string missing = dir.file("missing.ini");
    EXPECT_EQ(c.load(missing, 0), -3);
    EXPECT_EQ(c.cfg, nullptr);
    EXPECT_EQ(envCfgLoad(nullptr, missing.c_str(), 0), -1);
    EXPECT_EQ(envCfgLoad(&c.cfg, nullptr, 0), -1);

    // Flag 8: an empty configuration that can be filled and saved, even with flags 0.
    ASSERT_EQ(c.load(missing, ENVCFG_CREATE), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "S", "K", "v"), 0);
    ASSERT_EQ(envCfgSave(c.cfg), 0);
    EXPECT_EQ(readWholeFile(missing), "[S]\r\nK=v\r\n\r\n");

    // Something that exists but cannot be read is an error, not an empty file to
    // overwrite later.
    EXPECT_EQ(c.load(dir.path().string(), ENVCFG_OWNED | ENVCFG_CREATE), -3);
}

TEST(ConfigFiles, SaveReplacesAtomicallyAndKeepsPermissions) {
    TempDir dir;
    std::string path = dir.file("secret.ini");
    writeWholeFile(path, "[A]\nPassword=old\n");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    Cfg c;
    ASSERT_EQ(c.load(path, ENVCFG_OWNED), 0);
    ASSERT_EQ(envCfgSetText(c.cfg, "A", "Password", "new"), 0);
    ASSERT_EQ(envCfgSave(c.cfg), 0);
    EXPECT_EQ(readWholeFile(path), "[A]\r\nPASSWORD=new\r\n\r\n");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary files are left beside it.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);

    // A folder that does not exist: failure reported, nothing written.
    memFree(c.cfg->fileName);
    c.cfg->fileName = memStrDup(dir.file("no/such/dir/x.ini").c_str());
    EXPECT_EQ(envCfgSave(c.cfg), -4);
}

TEST(ConfigChange, CopyEntries) {
    Cfg src, dst;
    ASSERT_EQ(src.parse("[A]\nK=1\nL=2\n[B]\nM=3\n", 0), 0);
    ASSERT_EQ(dst.parse("[A]\nK=old\nKeep=yes\n", ENVCFG_OWNED), 0);
    ASSERT_EQ(envCfgCopyEntries(dst.cfg, src.cfg), 0);
    EXPECT_EQ(dst.text("A", "K"), "1");
    EXPECT_EQ(dst.text("A", "L"), "2");
    EXPECT_EQ(dst.text("A", "Keep"), "yes");
    EXPECT_EQ(dst.text("B", "M"), "3");
    EXPECT_EQ(envCfgCopyEntries(src.cfg, dst.cfg), -4);
}

TEST(ConfigParse, LongLinesAndOddBytesStayInBounds) {
    std::string longValue(1 << 20, 'v');
    std::string text = "[S]\nK=" + longValue + "\n[" + std::string(5000, 'n');
    text.push_back('\0');
    text += "\nAfterZero=1\n\"=\"\n=\n[\n]\n";
    for (int32_t flags : {0, ENVCFG_OWNED, ENVCFG_TAGFORM, ENVCFG_OWNED | ENVCFG_DECODE_VALUES}) {
        Cfg c;
        ASSERT_EQ(c.parse(text, flags), 0) << flags;
        if (!(flags & ENVCFG_TAGFORM)) {
            EXPECT_EQ(c.text("S", "K").size(), longValue.size());
            EXPECT_EQ(c.text("S", "AfterZero"), "1");
        }
    }
}

}  // namespace
