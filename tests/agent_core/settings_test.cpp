// Settings: the registry hive files and CAppParameters over them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "agent/AppParameters.h"
#include "agent_test_support.h"
#include "platform/registry.h"
#include "support/diaglog.h"
#include "support/envcfgutil.h"
#include "tests/common/tempdir.h"

using agent::CAppParameters;
using platform::RegHive;
using platform::RegSnapshot;

namespace {

// Runs fn in a child process; true when it returned true there.
template <typename Fn>
bool inChildProcess(Fn fn) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn() ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(Registry, ParsesRegeditTextAndSkipsWhatItCannotRead) {
    RegSnapshot snap = RegSnapshot::parse(
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Halvoran\\Sapiolux\\Suggestions]\r\n"
        "\"NSuggests\"=dword:0000000a\r\n\"UrlPrefix\"=\"say \\\"hi\\\" C:\\\\x\"\r\n"
        "\"Broken\"=dword:zz\r\n\"TooLong\"=dword:123456789\r\n\"Open\"=\"no end\r\n"
        "\"Neg\"=dword:ffffffff\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\Mail\\Mailer\\shell\\open\\command]\r\n"
        "@=\"\\\"C:\\\\Program Files\\\\Mailer\\\\mailer.exe\\\" /m\"\r\n");
    const std::string key = "software\\HALVORAN\\sapiolux\\suggestions";
    EXPECT_EQ(snap.number(key, "nsuggests"), 10u);
    EXPECT_EQ(snap.text(key, "UrlPrefix"), "say \"hi\" C:\\x");
    EXPECT_FALSE(snap.number(key, "Broken"));
    EXPECT_FALSE(snap.number(key, "TooLong"));
    EXPECT_FALSE(snap.text(key, "Open"));
    EXPECT_EQ(static_cast<int32_t>(*snap.number(key, "Neg")), -1);
    // A value of the other type is not there for the caller.
    EXPECT_FALSE(snap.text(key, "NSuggests"));

    RegSnapshot again = RegSnapshot::parse(snap.format("HKEY_CURRENT_USER"));
    EXPECT_EQ(again.text(key, "UrlPrefix"), "say \"hi\" C:\\x");
    EXPECT_EQ(again.number(key, "NSuggests"), 10u);

    // The default value of a key ("@=" in the file) is the value without a name, and
    // is written back in that form.
    const std::string command = "SOFTWARE\\Clients\\Mail\\Mailer\\shell\\open\\command";
    const std::string program = "\"C:\\Program Files\\Mailer\\mailer.exe\" /m";
    EXPECT_EQ(snap.text(command, ""), program);
    const std::string machine = snap.format("HKEY_LOCAL_MACHINE");
    EXPECT_NE(machine.find("\n@=\"\\\"C:"), std::string::npos) << machine;
    EXPECT_EQ(RegSnapshot::parse(machine).text(command, ""), program);
}

TEST(Registry, WritesCreateKeysAndRefuseLineBreaks) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    EXPECT_TRUE(platform::regWriteText(RegHive::User, "Software\\A\\B", "Name", "v1"));
    EXPECT_TRUE(platform::regWriteNumber(RegHive::Machine, "Software\\A\\B", "N", 7));
    EXPECT_EQ(platform::regReadText(RegHive::User, "Software\\A\\B", "Name"), "v1");
    EXPECT_FALSE(platform::regReadText(RegHive::Machine, "Software\\A\\B", "Name"));
    EXPECT_EQ(platform::regReadNumber(RegHive::Machine, "Software\\A\\B", "N"), 7u);
    EXPECT_FALSE(platform::regWriteText(RegHive::User, "Software\\A\\B", "Name", "two\nlines"));
    EXPECT_EQ(platform::regReadText(RegHive::User, "Software\\A\\B", "Name"), "v1");
    std::string text = testing_support::readWholeFile(platform::regHiveFile(RegHive::Machine));
    EXPECT_EQ(text.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\A\\B]\n", 0), 0u) << text;
}

// A hive as another program leaves it: comments, the value kinds of mail programs'
// keys, blanks around "=", CRLF line ends and no line end at the very end.
const std::string kForeignHive =
    "REGEDIT4\r\n"
    "\r\n"
    "; written by hand, keep me\r\n"
    "[HKEY_CURRENT_USER\\Software\\Halvoran\\Sapiolux\\Suggestions]\r\n"
    "\"NSuggests\" = dword:00000006\r\n"
    "\"Threshold\"=hex(4):25,00,00,00\r\n"
    "\"Unknown kind\"=weird:12\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Clients\\Mail\\Mailer\\shell\\open\\command]\r\n"
    "@=hex(2):25,50,72,6f,67,25,5c,6d,61,69,6c,65,72,2e,65,78,65,20,\\\r\n"
    "  2f,6d,00\r\n"
    "\"Blob\"=hex:de,ad,be,ef\r\n"
    "\"List\"=hex(7):61,00,62,00,00,00\r\n"
    "\"Last\"=\"no line end\"";

TEST(Registry, ReadsEveryValueKindOfAHive) {
    RegSnapshot snap = RegSnapshot::parse(kForeignHive);
    const std::string key = "Software\\Halvoran\\Sapiolux\\Suggestions";
    const std::string command = "Software\\Clients\\Mail\\Mailer\\shell\\open\\command";
    EXPECT_EQ(snap.number(key, "NSuggests"), 6u);
    EXPECT_EQ(snap.number(key, "Threshold"), 37u);               // hex(4): a little-endian number
    EXPECT_EQ(snap.text(command, ""), "%Prog%\\mailer.exe /m");  // hex(2), continued
    EXPECT_FALSE(snap.text(command, "Blob"));
    EXPECT_FALSE(snap.number(command, "List"));
    EXPECT_EQ(snap.text(command, "Last"), "no line end");
    // Unchanged, the text formats back byte for byte.
    EXPECT_EQ(snap.format("HKEY_CURRENT_USER"), kForeignHive);
    // A version 5 export holds its hex(2) texts as UTF-16.
    RegSnapshot five = RegSnapshot::parse(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K\\L]\n"
        "\"E\"=hex(2):41,00,42,00,00,00\n");
    EXPECT_EQ(five.text("K\\L", "E"), "AB");
}

TEST(Registry, AWriteChangesOnlyTheLineOfItsValue) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    const std::string file = platform::regHiveFile(RegHive::User);
    std::filesystem::create_directories(hives.userDir);
    testing_support::writeWholeFile(file, kForeignHive);
    const std::string key = "Software\\Halvoran\\Sapiolux\\Suggestions";
    const std::string command = "Software\\Clients\\Mail\\Mailer\\shell\\open\\command";

    // A value in place, keeping its line end; a hex(4) value becomes a dword.
    ASSERT_TRUE(platform::regWriteNumber(RegHive::User, key, "NSuggests", 9));
    std::string expected = kForeignHive;
    expected.replace(expected.find("\"NSuggests\" = dword:00000006"), 28,
                     "\"NSuggests\"=dword:00000009");
    EXPECT_EQ(testing_support::readWholeFile(file), expected);
    ASSERT_TRUE(platform::regWriteNumber(RegHive::User, key, "threshold", 40));
    expected.replace(expected.find("\"Threshold\"=hex(4):25,00,00,00"), 30,
                     "\"Threshold\"=dword:00000028");
    EXPECT_EQ(testing_support::readWholeFile(file), expected);

    // A continued value becomes one line; a new value goes after the key's last value,
    // the last line getting its line end; a new key goes at the end.
    ASSERT_TRUE(platform::regWriteText(RegHive::User, command, "", "mailer /m"));
    ASSERT_TRUE(platform::regWriteText(RegHive::User, command, "New", "n"));
    ASSERT_TRUE(platform::regWriteNumber(RegHive::User, "Software\\Other", "X", 1));
    std::string text = testing_support::readWholeFile(file);
    EXPECT_NE(text.find("; written by hand, keep me\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Unknown kind\"=weird:12\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("command]\r\n@=\"mailer /m\"\r\n\"Blob\"=hex:de,ad,be,ef\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"List\"=hex(7):61,00,62,00,00,00\r\n\"Last\"=\"no line end\"\r\n"
                        "\"New\"=\"n\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                        "\"X\"=dword:00000001\r\n"),
              std::string::npos)
        << text;
    RegSnapshot snap = RegSnapshot::load(RegHive::User);
    EXPECT_EQ(snap.number(key, "NSuggests"), 9u);
    EXPECT_EQ(snap.text(command, ""), "mailer /m");
    EXPECT_EQ(snap.text(command, "New"), "n");
    EXPECT_EQ(snap.number("Software\\Other", "X"), 1u);
}

TEST(Registry, AHiveThatCannotBeReadOrIsReadOnlyIsNeverReplaced) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    const std::string file = platform::regHiveFile(RegHive::User);
    std::filesystem::create_directories(hives.userDir);
    testing_support::writeWholeFile(file, kForeignHive);
    const std::string key = "Software\\Halvoran\\Sapiolux\\Suggestions";
    namespace fs = std::filesystem;
    diagLogSetup(dir.file("diag.log").c_str(), 0, 4);
    for (fs::perms mode : {fs::perms::none, fs::perms::owner_read | fs::perms::group_read |
                                                fs::perms::others_read}) {
        fs::permissions(file, mode);
        EXPECT_FALSE(platform::regWriteNumber(RegHive::User, key, "NSuggests", 9));
        // The refusal is logged.
        char message[256] = {0};
        ASSERT_EQ(diagLogRingGet(diagLogRingCount() - 1, message, sizeof message, nullptr, 0), 1);
        EXPECT_NE(std::string(message).find("was not written"), std::string::npos) << message;
        CAppParameters p;
        EXPECT_FALSE(p.SetNSuggests(9));
        EXPECT_EQ(fs::status(file).permissions(), mode);
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(testing_support::readWholeFile(file), kForeignHive);
    }
    diagLogSetup(nullptr, 0, 0);
    // A hive that is not a file cannot be read either.
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_FALSE(platform::regWriteNumber(RegHive::User, key, "NSuggests", 9));
    EXPECT_TRUE(fs::is_directory(file));
    fs::remove(file);
    // A writable hive keeps its permissions; a new user hive is private.
    ASSERT_TRUE(platform::regWriteNumber(RegHive::User, key, "NSuggests", 9));
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(platform::regWriteNumber(RegHive::User, key, "NSuggests", 10));
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // No temporary file is left beside the hive.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(hives.userDir)) ++entries;
    EXPECT_EQ(entries, 2u);  // the hive and its lock
}

TEST(Registry, TwoProcessesWritingAtOnceLoseNothing) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    constexpr int kWrites = 60;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        if (children[c] == 0) {
            bool ok = true;
            for (int i = 0; i < kWrites; ++i)
                ok = platform::regWriteNumber(RegHive::User, "Software\\Race",
                                              "P" + std::to_string(c) + "_" + std::to_string(i),
                                              static_cast<uint32_t>(i)) &&
                     ok;
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegSnapshot snap = RegSnapshot::load(RegHive::User);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(
                snap.number("Software\\Race", "P" + std::to_string(c) + "_" + std::to_string(i)),
                static_cast<uint32_t>(i));
}

TEST(AppParameters, FreshMachineGivesTheDefaults) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    CAppParameters p;
    p.Load();
    EXPECT_EQ(p.GetConfigFile(), "Extended.cfg");
    EXPECT_EQ(p.GetBrandName(), "Halvoran");
    EXPECT_EQ(p.GetProductName(), "Vantri");
    EXPECT_EQ(p.GetClientCacheSize(), 12);
    EXPECT_EQ(p.GetClientCacheTime(), 7200);
    EXPECT_EQ(p.GetPersonalIxoQueryPort(), 6223);
    EXPECT_EQ(p.GetMinWordsForQuery(), 2);
    EXPECT_EQ(p.GetStoplistFilename(), "english.dat");
    EXPECT_EQ(p.GetWindowChangedInterval(), 1500);
    EXPECT_EQ(p.GetNSuggests(), 6);
    EXPECT_EQ(p.GetThreshold(), 37);
    EXPECT_EQ(p.GetHotKeyCode(), 71);
    EXPECT_EQ(p.GetHotKeyModifier(), 3);
    EXPECT_EQ(p.GetFirstTime(), 1);
    EXPECT_EQ(p.GetAppBarSide(), 3);
    EXPECT_EQ(p.GetRasConnectionCheckInterval(), 5);
    EXPECT_EQ(p.GetDocTypes(), "htm,html,shtml,stm,cfm,cfml,xml,cgi,asp");
    EXPECT_EQ(p.GetLinksVarName(), "links");
    EXPECT_EQ(p.GetQueryLogoPath(), "QueryLogo.bmp");
    EXPECT_EQ(p.GetBadWindowClasses().substr(0, 28), "SysTreeView32,SysListView32,");
    EXPECT_EQ(p.GetPersonalIxoPath(), "");
    // Window defaults from the screen figures: 1024 wide, 16 scroll bar, 18 caption.
    EXPECT_EQ(p.GetWidth(), 512);
    EXPECT_EQ(p.GetXPosition(), 1024 - 512 - 16);
    EXPECT_EQ(p.GetYPosition(), 18);
    EXPECT_EQ(p.GetHeight(), 77);
    EXPECT_EQ(p.GetDeskBandWindowHandle(), 0);
    // Loading on a fresh machine writes nothing.
    EXPECT_FALSE(std::filesystem::exists(platform::regHiveFile(RegHive::User)));
}

TEST(AppParameters, SettersWriteThroughAndANewProcessReadsThemBack) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    {
        CAppParameters p;
        p.Load();
        EXPECT_TRUE(p.SetNSuggests(12));
        EXPECT_TRUE(p.SetMinWordsForQuery(4));
        EXPECT_TRUE(p.SetUrlPrefix("http://x/?q="));
        EXPECT_TRUE(p.SetProxyHost("proxy.lan"));
        EXPECT_TRUE(p.SetPersonalIxoPath("/opt/personal"));
        EXPECT_TRUE(p.SetOpenPeriod(9));
        EXPECT_TRUE(p.SetQueryLogoPath("mine.bmp"));
        EXPECT_TRUE(p.SetBrandName(""));
        EXPECT_EQ(p.GetNSuggests(), 12);
    }
    EXPECT_TRUE(inChildProcess([] {
        CAppParameters p;
        p.Load();
        return p.GetNSuggests() == 12 && p.GetMinWordsForQuery() == 4 &&
               p.GetUrlPrefix() == "http://x/?q=" && p.GetProxyHost() == "proxy.lan" &&
               p.GetPersonalIxoPath() == "/opt/personal" && p.GetOpenPeriod() == 9 &&
               p.GetQueryLogoPath() == "mine.bmp" && p.GetBrandName() == "Halvoran";
    }));
    // Store and key as named: NSuggests in the user hive, the personal server's key in
    // the user's overlay of the machine hive (the machine hive is not written).
    EXPECT_EQ(platform::regReadNumber(RegHive::User, "Software\\Halvoran\\Sapiolux\\Suggestions",
                                      "NSuggests"),
              12u);
    EXPECT_EQ(
        platform::regReadText(RegHive::MachineOverlay, "Software\\Halvoran\\PersonalIXO", "Path"),
        "/opt/personal");
    EXPECT_FALSE(std::filesystem::exists(platform::regHiveFile(RegHive::Machine)));
}

TEST(AppParameters, BuiltInNamesProxyMarkerAndOnDemandValues) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    CAppParameters p;
    p.Load();
    p.SetProductName("");
    EXPECT_EQ(p.GetProductName(), "Vantri");
    p.SetProductName("Finder");
    EXPECT_EQ(p.GetProductName(), "Finder");
    p.SetProxyHost("proxy.lan");
    p.SetUseProxy(1);
    EXPECT_EQ(p.GetProxyHost(), "ORVIQ_AUTOPROXY");
    p.SetUseProxy(2);
    EXPECT_EQ(p.GetProxyHost(), "proxy.lan");

    // Another writer changes OutputDebugInfo and the desk band handle: the field keeps
    // its value until asked to read again.
    platform::regWriteNumber(RegHive::Machine, "Software\\Halvoran\\Sapiolux\\Miscellaneous",
                             "OutputDebugInfo", 1);
    platform::regWriteNumber(RegHive::Machine, "Software\\Halvoran\\Sapiolux\\DeskBand",
                             "WindowHandle", 4242);
    EXPECT_EQ(p.GetOutputDebugInfo(), 0);
    EXPECT_EQ(p.ReadOutputDebugInfo(), 1);
    EXPECT_EQ(p.GetOutputDebugInfo(), 1);
    EXPECT_EQ(p.GetDeskBandWindowHandle(), 4242);
}

TEST(AppParameters, ExtendedFileIsCreatedEncipheredSavedAndMerged) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    std::string ext = dir.file("ext.cfg");
    {
        CAppParameters p;
        p.SetConfigFile(ext);
        p.Load();
        ASSERT_TRUE(p.HasExtended());
        EXPECT_EQ(p.ExtGetText("IXO"), "");
        EXPECT_EQ(p.ExtGetNumber("SOURCE"), 0);
        EXPECT_TRUE(p.ExtSetText("IXO", "server.example"));
        EXPECT_TRUE(p.ExtSetNumber("SOURCE", 3));
        EXPECT_TRUE(p.ExtSetFlag("BLOCKPORN", true));
        EXPECT_TRUE(p.ExtSave());
    }
    std::string raw = testing_support::readWholeFile(ext);
    EXPECT_EQ(raw.find("server.example"), std::string::npos) << "saved enciphered";
    {
        CAppParameters p;
        p.Load();
        EXPECT_EQ(p.ExtGetText("IXO"), "server.example");
        EXPECT_EQ(p.ExtGetNumber("SOURCE"), 3);
        EXPECT_TRUE(p.ExtGetFlag("BLOCKPORN"));

        ConfigFile* other = nullptr;
        std::string text = "[Settings]\nPORT=6300\nIXO=other.example\n[Extra]\nK=v\n";
        ASSERT_EQ(envCfgLoadFromMemory(&other, text.data(), static_cast<int32_t>(text.size()),
                                       nullptr, ENVCFG_OWNED),
                  0);
        EXPECT_TRUE(p.ExtMerge(other));
        envCfgClose(&other);
    }
    CAppParameters p;
    p.Load();
    EXPECT_EQ(p.ExtGetText("IXO"), "other.example");
    EXPECT_EQ(p.ExtGetNumber("PORT"), 6300);
    EXPECT_EQ(p.ExtGetNumber("SOURCE"), 3);

    // An administrator's Extended file written in clear, with DECRYPT set so that it stays
    // so: it must read as text, not as noise that the next save would write over it.
    testing_support::writeWholeFile(ext, "[Settings]\nDECRYPT=1\nIXO=clear.example\nSOURCE=2\n");
    for (int restart = 0; restart < 2; ++restart) {
        CAppParameters again;
        again.Load();
        EXPECT_EQ(again.ExtGetText("IXO"), "clear.example");
        EXPECT_EQ(again.ExtGetNumber("SOURCE"), 2);
        EXPECT_TRUE(again.ExtSave());
        EXPECT_NE(testing_support::readWholeFile(ext).find("clear.example"), std::string::npos);
    }

    // Without a file every accessor reads empty and every write fails.
    CAppParameters none;
    none.OpenExtended("");
    EXPECT_EQ(none.ExtGetText("IXO"), "");
    EXPECT_FALSE(none.ExtSetText("IXO", "x"));
    EXPECT_FALSE(none.ExtSave());
}
