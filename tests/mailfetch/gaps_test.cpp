// The fetch pieces built late: the index-and-data store's maximum message length from
// the import settings, and Eudora found through the open
// command of "mailto" links in the classes root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "import/outlookparse.h"
#include "mailfetch/emailclient.h"
#include "support/envcfgutil.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

void put32(std::string& s, size_t at, uint32_t v) {
    if (s.size() < at + 4) s.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// An index-and-data store (".idx" and ".mbx") of the given messages, made from the
// documented layout: keys are "Message N", times one day apart.
std::string oe4Store(const TempDir& dir, const std::vector<std::string>& texts) {
    std::string idx(OE4_IDX_HEADER_SIZE, '\0'), mbx(OE4_MBX_HEADER_SIZE, '\0');
    idx.replace(0, 4, "JMF9");
    mbx.replace(0, 4, "JMF6");
    put32(idx, 8, static_cast<uint32_t>(texts.size()));
    for (size_t n = 0; n < texts.size(); ++n) {
        const size_t position = mbx.size();
        mbx += std::string(16, '\x01') + texts[n];
        std::string r(OE4_RECORD_HEADER_SIZE + OE4_ENTRY_SIZE, '\x02');
        put32(r, 20, static_cast<uint32_t>(position));
        put32(r, 42, static_cast<uint32_t>(texts[n].size()));
        put32(r, 46, static_cast<uint32_t>(r.size() - 50));
        put32(r, 98, 1);
        std::string block(OE4_TIME_BLOCK_SIZE, '\0');
        const uint64_t ft = (1000000000ULL + n * 86400 + 11644473600ULL) * 10000000ULL;
        put32(block, 8, static_cast<uint32_t>(ft));
        put32(block, 12, static_cast<uint32_t>(ft >> 32));
        r += block;
        for (int i = 0; i < OE4_TEXT_ITEMS; ++i) {
            const std::string item = i == 0 ? "Message " + std::to_string(n) : "item";
            std::string len;
            put32(len, 0, static_cast<uint32_t>(item.size()));
            r += len + item;
        }
        put32(r, 16, static_cast<uint32_t>(r.size()));
        idx += r;
    }
    fs::create_directories(dir.path() / "store");
    writeWholeFile(dir.file("store/Inbox.idx"), idx);
    writeWholeFile(dir.file("store/Inbox.mbx"), mbx);
    return dir.file("store");
}

ConfigFile* config(const std::string& text) {
    ConfigFile* cfg = nullptr;
    EXPECT_EQ(envCfgLoadFromMemory(&cfg, text.data(), static_cast<int32_t>(text.size()), nullptr,
                                   ENVCFG_OWNED),
              0);
    return cfg;
}

TEST(FetchGaps, TheMaximumLengthOfTheImportSettingsSkipsLongOutlookMessages) {
    TempDir dir;
    const std::string shortText = "Subject: short\r\n\r\nbrief\r\n";
    const std::string longText = "Subject: long\r\n\r\n" + std::string(500, 'x') + "\r\n";
    const std::string store = oe4Store(dir, {shortText, longText, shortText});
    ConfigFile* cfg = config("[Mail]\nEmailClientFetchDir=" + dir.file("fetch") +
                             "\nImportMaxLength=200\n[Default]\nImportMaxLength=100\n");

    // Configured for its section: the 500-byte message is not copied.
    mailfetch::StoreFetcher f("oe4");
    f.setStores({store});
    ASSERT_TRUE(f.configure(cfg, "Mail"));
    EXPECT_EQ(f.maxLength(), 200);
    f.fetch(10);
    EXPECT_EQ(f.written(), 2);
    EXPECT_EQ(readWholeFile(dir.file("fetch/email0.eml")), shortText);
    EXPECT_EQ(readWholeFile(dir.file("fetch/email1.eml")), shortText);
    EXPECT_FALSE(fs::exists(dir.file("fetch/email2.eml")));

    // The factory loads section "Default" for the store's references.
    auto opener = mailfetch::createFetcher("email://oe4&a&b&1", cfg);
    auto* oe4 = dynamic_cast<mailfetch::StoreFetcher*>(opener.get());
    ASSERT_NE(oe4, nullptr);
    EXPECT_EQ(oe4->maxLength(), 100);
    auto plain = mailfetch::createFetcher("email://oe5&a&b&1", cfg);
    EXPECT_EQ(dynamic_cast<mailfetch::StoreFetcher*>(plain.get())->maxLength(), 0);
    envCfgClose(&cfg);

    // Without settings nothing is skipped.
    mailfetch::StoreFetcher all("oe4");
    all.setStores({store});
    ASSERT_TRUE(all.setFetchDirectory(dir.file("all")));
    all.fetch(10);
    EXPECT_EQ(all.written(), 3);
}

TEST(FetchGaps, EudoraThroughTheMailtoCommandOfTheClassesRoot) {
    TempDir dir;
    fs::create_directories(dir.path() / "Eudora Mail");
    fs::copy_file(
        std::string(SAPIOLUX_SHARED_DIR) + "/testdata/mail/eudora/eudora2unix_win71/descmap.pce",
        dir.path() / "Eudora Mail/descmap.pce");
    fs::create_directories(dir.path() / "hive");
    // Only the user's classes name the program; the machine's "mailto" names another
    // one, which is passed over.
    writeWholeFile(dir.file("hive/user.reg"),
                   "REGEDIT4\n\n"
                   "[HKEY_CURRENT_USER\\Software\\Classes\\mailto\\shell\\open\\command]\n"
                   "@=\"\\\"" +
                       dir.file("Eudora Mail/Eudora.exe") + "\\\" /m \\\"%1\\\"\"\n");
    writeWholeFile(dir.file("hive/machine.reg"),
                   "REGEDIT4\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\mailto\\shell\\open\\command]\n"
                   "@=\"/usr/bin/othermail %1\"\n");
    setenv("SAPIOLUX_USER_HIVE_DIR", dir.file("hive").c_str(), 1);
    setenv("SAPIOLUX_MACHINE_HIVE_DIR", dir.file("hive").c_str(), 1);
    unsetenv("WINEPREFIX");
    auto eudora = mailfetch::discoverMailboxes("eudora", {});
    unsetenv("SAPIOLUX_USER_HIVE_DIR");
    unsetenv("SAPIOLUX_MACHINE_HIVE_DIR");
    ASSERT_EQ(eudora.size(), 4u);
    EXPECT_EQ(eudora[0].path, dir.file("Eudora Mail/In"));
}

}  // namespace
