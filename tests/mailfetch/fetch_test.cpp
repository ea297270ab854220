// The store fetchers: status rules, fetch passes over the real stores, side files,
// reset, cancel, opening a message by reference, the factory and mailbox discovery.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "import/mailref.h"
#include "mailfetch/emailclient.h"
#include "support/envcfgutil.h"
#include "tests/common/tempdir.h"

namespace {

using mailfetch::StoreFetcher;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

std::string shared(const std::string& relative) {
    return std::string(SAPIOLUX_SHARED_DIR) + "/testdata/mail/" + relative;
}

std::unique_ptr<StoreFetcher> eudoraFetcher(const TempDir& dir) {
    auto f = mailfetch::createStoreFetcher("eudora");
    f->setStores({shared("eudora/eudora2unix_win71")});
    EXPECT_TRUE(f->setFetchDirectory(dir.file("fetch")));
    f->setStatusFile(dir.file("status.txt"));
    return f;
}

TEST(FetchStatus, SameTimeSkippedEarlierTimeFetchedAgain) {
    StoreFetcher f("oe5");
    EXPECT_TRUE(f.isNew("r", 1000));
    EXPECT_FALSE(f.isNew("r", 1000));
    EXPECT_FALSE(f.isNew("r", 940));  // stored time 60 seconds later: not new
    EXPECT_TRUE(f.isNew("r", 939));   // 61 seconds later: new again
    EXPECT_FALSE(f.isNew("r", 5000));
    EXPECT_TRUE(f.isNew("zero", 0));
    EXPECT_TRUE(f.isNew("zero", 7));  // a stored time of 0 is always new
    EXPECT_EQ(f.statusCount(), 2u);
}

TEST(StoreFetch, EudoraFolderSideFilesStatusAndReset) {
    TempDir dir;
    auto f = eudoraFetcher(dir);
    f->fetch(100);
    EXPECT_TRUE(f->finished());
    ASSERT_EQ(f->written(), 5);
    // Out, Junk and Trash are listed too; Trash is excluded, the others are empty.
    std::string side = readWholeFile(dir.file("fetch/email3.eml.idx"));
    std::string in = shared("eudora/eudora2unix_win71/In");
    char* folder = mailrefUrlEncode(in.c_str());
    std::string expected = std::string("#IXOREFERENCE email://eudora&") + folder;
    memFree(folder);
    expected +=
        "&This+is+a+test&1292307265\n#IXOFIELD DocType=\"EMAIL\"\n#IXOFIELD Folder=\"In\"\n"
        "#IXOFIELD CreationDate=\"1292307265\"\n#IXOENDDOC\n";
    EXPECT_EQ(side, expected);
    std::string eml = readWholeFile(dir.file("fetch/email3.eml"));
    EXPECT_EQ(eml.size(), 1150u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("fetch/email5.eml")));

    // The status file: two lines per message.
    std::string status = readWholeFile(dir.file("status.txt"));
    EXPECT_EQ(std::count(status.begin(), status.end(), '\n'), 10);
    EXPECT_NE(status.find("&1292307265\n1292307265\n"), std::string::npos);

    // Nothing new on the next pass, also for a new fetcher that loads the status file.
    f->fetch(100);
    EXPECT_EQ(f->written(), 0);
    EXPECT_TRUE(f->finished());
    auto again = eudoraFetcher(dir);
    ASSERT_TRUE(again->loadStatus());
    again->fetch(100);
    EXPECT_EQ(again->written(), 0);

    // Reset forgets everything: all five again, base names from 0.
    f->reset();
    EXPECT_FALSE(std::filesystem::exists(dir.file("status.txt")));
    std::filesystem::remove_all(dir.file("fetch"));
    ASSERT_TRUE(f->setFetchDirectory(dir.file("fetch")));
    f->fetch(100);
    EXPECT_EQ(f->written(), 5);
    EXPECT_TRUE(std::filesystem::exists(dir.file("fetch/email0.eml.idx")));
}

TEST(StoreFetch, BatchesAndCancel) {
    TempDir dir;
    auto f = mailfetch::createStoreFetcher("oe5");
    f->setStores({shared("dbx")});
    ASSERT_TRUE(f->setFetchDirectory(dir.file("fetch")));
    std::vector<int> batches;
    for (int i = 0; i < 10 && !f->finished(); ++i) {
        f->fetch(12);
        batches.push_back(f->written());
    }
    EXPECT_EQ(batches, (std::vector<int>{12, 12, 6}));
    EXPECT_TRUE(f->finished());
    ASSERT_EQ(f->mailboxes().size(), 2u);

    // A cancel from another thread stops the next fetch before its first message; the
    // fetch after that runs normally.
    auto g = mailfetch::createStoreFetcher("mbox");
    g->setStores({shared("mbox/eudora2unix_test1.mbox")});
    ASSERT_TRUE(g->setFetchDirectory(dir.file("fetch2")));
    std::thread other([&] { g->cancel(); });
    other.join();
    g->fetch(100);
    EXPECT_EQ(g->written(), 0);
    EXPECT_FALSE(g->finished());
    g->fetch(100);
    EXPECT_EQ(g->written(), 5);
}

TEST(StoreFetch, AllKindsOfRealStores) {
    TempDir dir;
    struct Case {
        const char* tag;
        std::string store;
        int messages;
    } cases[] = {{"oe5", shared("dbx/iped_test_OutlookDBX.dbx"), 28},
                 {"eudora", shared("eudora/eudora2unix_win71/In.toc"), 5},
                 {"mbox", shared("mbox"), 5},
                 {"maildir", shared("maildir/test1_via_mb2md"), 5}};
    for (const Case& c : cases) {
        auto f = mailfetch::createStoreFetcher(c.tag);
        f->setStores({c.store});
        ASSERT_TRUE(f->setFetchDirectory(dir.file(std::string("f_") + c.tag)));
        f->fetch(1000);
        EXPECT_EQ(f->written(), c.messages) << c.tag;
        EXPECT_TRUE(f->finished()) << c.tag;
    }
}

// Messages that cannot be written are not remembered as fetched; a folder name with a
// line end cannot add lines to a side file.
TEST(StoreFetch, UnwritableFolderAndLineEndsInFolderNames) {
    TempDir dir;
    std::string store = dir.file("store");
    std::filesystem::create_directories(store);
    std::filesystem::copy_file(shared("mbox/eudora2unix_test1.mbox"),
                               store + "/Odd\n#IXOENDDOC\nname");
    auto f = mailfetch::createStoreFetcher("mbox");
    f->setStores({store});
    ASSERT_TRUE(f->setFetchDirectory(dir.file("fetch")));
    std::filesystem::remove(dir.file("fetch"));
    writeWholeFile(dir.file("fetch"), "a file where the folder was");
    f->fetch(100);
    EXPECT_EQ(f->written(), 0);
    EXPECT_EQ(f->statusCount(), 0u);
    EXPECT_TRUE(f->finished());

    std::filesystem::remove(dir.file("fetch"));
    ASSERT_TRUE(f->setFetchDirectory(dir.file("fetch")));
    f->fetch(100);
    ASSERT_EQ(f->written(), 5);
    std::string side = readWholeFile(dir.file("fetch/email0.eml.idx"));
    EXPECT_NE(side.find("\n#IXOFIELD Folder=\"Odd #IXOENDDOC name\"\n#IXOFIELD CreationDate="),
              std::string::npos)
        << side;
    EXPECT_EQ(std::count(side.begin(), side.end(), '\n'), 5);
}

TEST(StoreFetch, OpenMessageByReference) {
    TempDir dir;
    std::string tmp = dir.file("tmp");
    std::filesystem::create_directories(tmp);
    const char* oldTmp = std::getenv("TMPDIR");
    std::string saved = oldTmp ? oldTmp : "";
    setenv("TMPDIR", tmp.c_str(), 1);

    std::vector<std::string> opened;
    auto capture = [&](const std::string& file) {
        opened.push_back(file);
        return true;
    };
    std::string side;
    {
        auto f = mailfetch::createStoreFetcher("mbox");
        f->setStores({shared("mbox/eudora2unix_test1.mbox")});
        ASSERT_TRUE(f->setFetchDirectory(dir.file("fetch")));
        f->fetch(100);
        side = readWholeFile(dir.file("fetch/email4.eml.idx"));
    }
    std::string reference = side.substr(14, side.find('\n') - 14);
    auto f = mailfetch::createFetcher(reference);
    ASSERT_NE(f, nullptr);
    f->setOpener(capture);
    ASSERT_TRUE(f->openMessage(reference));
    ASSERT_EQ(opened.size(), 1u);
    // In a folder of the process's own inside the temporary folder, closed to others.
    const std::filesystem::path own = std::filesystem::path(opened[0]).parent_path();
    EXPECT_EQ(own.parent_path(), tmp);
    EXPECT_EQ(std::filesystem::status(own).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    EXPECT_EQ(opened[0], (own / "mail0.eml").string());
    EXPECT_EQ(readWholeFile(opened[0]), readWholeFile(dir.file("fetch/email4.eml")));
    ASSERT_TRUE(f->openMessage(reference));
    EXPECT_EQ(opened.back(), (own / "mail1.eml").string());

    // A deleted message: false and no temporary file left behind.
    std::string gone = reference.substr(0, reference.rfind('&')) + "&12";
    EXPECT_FALSE(f->openMessage(gone));
    EXPECT_FALSE(std::filesystem::exists(own / "mail2.eml"));

    // The table-of-contents store opens only the part after the header block, as a page.
    // (Its messages go to a fresh folder: in the old one they would follow the others.)
    std::filesystem::remove_all(dir.file("fetch"));
    auto e = eudoraFetcher(dir);
    e->fetch(1);
    std::string eudoraRef = readWholeFile(dir.file("fetch/email0.eml.idx"));
    eudoraRef = eudoraRef.substr(14, eudoraRef.find('\n') - 14);
    auto opener = mailfetch::createFetcher(eudoraRef);
    opener->setOpener(capture);
    ASSERT_TRUE(opener->openMessage(eudoraRef));
    EXPECT_EQ(opened.back(), (own / "mail0.htm").string());
    EXPECT_EQ(readWholeFile(opened.back()).find("Message-ID:"), std::string::npos);

    if (oldTmp)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(StoreFetch, FactoryAndConfiguration) {
    EXPECT_NE(mailfetch::createFetcher("email://OE5&a&b&1"), nullptr);
    EXPECT_NE(mailfetch::createFetcher("email://eudora&a&b&1"), nullptr);
    EXPECT_EQ(mailfetch::createFetcher("email:/oe5&a&b&1"), nullptr);
    EXPECT_EQ(mailfetch::createFetcher("email://pine&a&b&1"), nullptr);
    EXPECT_EQ(mailfetch::createStoreFetcher("OE4")->tag(), "oe4");

    TempDir dir;
    std::string text = "[Mail]\nEmailClientFetchDir=" + dir.file("made/here") +
                       "\nEmailClientStatusFile=" + dir.file("st") + "\n";
    writeWholeFile(dir.file("st"), "email://oe5&a&b&100\n100\nbroken\n");
    ConfigFile* cfg = nullptr;
    ASSERT_EQ(envCfgLoadFromMemory(&cfg, text.data(), static_cast<int32_t>(text.size()), nullptr,
                                   ENVCFG_OWNED),
              0);
    StoreFetcher f("oe5");
    ASSERT_TRUE(f.configure(cfg, "Mail"));
    envCfgClose(&cfg);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("made/here")));
    EXPECT_EQ(f.fetchDirectory(), dir.file("made/here"));
    EXPECT_EQ(f.statusCount(), 1u);
    EXPECT_FALSE(f.isNew("email://oe5&a&b&100", 100));
}

TEST(Discovery, DescmapFoldersAndMaildirs) {
    TempDir dir;
    writeWholeFile(dir.file("DESCMAP.PCE"),
                   "In,In.mbx,S,Y\r\nTrash,Trash.mbx,S,N\r\nTwo fields,Two.mbx\r\n"
                   "Sub,Sub.fol,F,N\r\nBad,../x,S\r\n\r\n");
    std::filesystem::create_directories(dir.path() / "Sub.fol");
    writeWholeFile(dir.file("Sub.fol/descmap.pce"), "Deep,Deep.mbx,S,N\n");
    auto boxes = mailfetch::readDescmap(dir.path().string());
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].path, dir.file("In"));
    EXPECT_EQ(boxes[1].displayName, "Trash");
    EXPECT_EQ(boxes[2].displayName, "Two fields");  // no type: a mailbox
    EXPECT_EQ(boxes[3].path, dir.file("Sub.fol/Deep"));
    EXPECT_EQ(boxes[3].displayName, "Sub\\Deep");

    // A fetcher leaves the excluded folder out.
    StoreFetcher f("eudora");
    f.setStores({dir.path().string()});
    f.restart();
    EXPECT_EQ(f.mailboxes().size(), 3u);

    // Maildir++ sub-folders.
    for (const char* sub : {"md/cur", "md/new", "md/.Sent/cur", "md/.Trash/cur"})
        std::filesystem::create_directories(dir.path() / sub);
    auto md = mailfetch::discoverMailboxes("maildir", {dir.file("md")});
    ASSERT_EQ(md.size(), 3u);
    EXPECT_EQ(md[0].displayName, "Inbox");
    EXPECT_EQ(md[1].displayName, "Sent");

    // Thunderbird folders: mbox files, not their ".msf" indexes; sub-folders in ".sbd".
    std::filesystem::create_directories(dir.path() / "tb/Inbox.sbd");
    writeWholeFile(dir.file("tb/Inbox"), "From a Mon Dec 13 05:42:55 2010\n\n");
    writeWholeFile(dir.file("tb/Inbox.msf"), "// <!-- <mdb:mork");
    writeWholeFile(dir.file("tb/Inbox.sbd/Lists"), "");
    writeWholeFile(dir.file("tb/prefs.js"), "user_pref");
    auto tb = mailfetch::discoverMailboxes("mbox", {dir.file("tb")});
    ASSERT_EQ(tb.size(), 2u);
    EXPECT_EQ(tb[0].displayName, "Inbox");
    EXPECT_EQ(tb[1].displayName, "Inbox/Lists");
}

// Stores of mail programs installed under Wine: the prefix's registry files name them
// with Windows paths, which lead through the prefix's drive links.
TEST(Discovery, WinePrefixStores) {
    TempDir dir;
    std::filesystem::path prefix = dir.path() / "wine";
    std::filesystem::create_directories(prefix / "drive_c/users/me/Mail Store");
    std::filesystem::create_directories(prefix / "drive_c/Program Files/Eudora");
    std::filesystem::create_directories(prefix / "dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    std::filesystem::copy_file(shared("dbx/dbxconvert_fixtures_test.dbx"),
                               prefix / "drive_c/users/me/Mail Store/Inbox.dbx");
    std::filesystem::copy_file(shared("eudora/eudora2unix_win71/descmap.pce"),
                               prefix / "drive_c/Program Files/Eudora/descmap.pce");
    writeWholeFile(
        (prefix / "user.reg").string(),
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0\n\n"
        "#arch=win64\n\n[Identities] 1700000000\n#time=1d9\n"
        "\"Default User ID\"=\"{ABC}\"\n\n"
        "[Identities\\\\{ABC}\\\\Software\\\\Microsoft\\\\Outlook Express\\\\5.0] 1700000000\n"
        "\"Store Root\"=\"C:\\\\users\\\\me\\\\Mail Store\\\\\"\n");
    writeWholeFile(
        (prefix / "system.reg").string(),
        "WINE REGISTRY Version 2\n\n"
        "[Software\\\\Clients\\\\Mail\\\\Eudora\\\\shell\\\\open\\\\command] 1700000000\n"
        "@=\"\\\"C:\\\\Program Files\\\\Eudora\\\\Eudora.exe\\\" /m \\\"%1\\\"\"\n");
    std::filesystem::create_directories(dir.path() / "hive");
    setenv("SAPIOLUX_USER_HIVE_DIR", dir.file("hive").c_str(), 1);
    setenv("SAPIOLUX_MACHINE_HIVE_DIR", dir.file("hive").c_str(), 1);
    setenv("WINEPREFIX", prefix.c_str(), 1);

    auto oe5 = mailfetch::discoverMailboxes("oe5", {});
    ASSERT_EQ(oe5.size(), 1u);
    EXPECT_EQ(oe5[0].displayName, "Inbox");
    auto f = mailfetch::createStoreFetcher("oe5");
    ASSERT_TRUE(f->setFetchDirectory(dir.file("fetch")));
    f->fetch(10);
    EXPECT_EQ(f->written(), 2);

    auto eudora = mailfetch::discoverMailboxes("eudora", {});
    ASSERT_EQ(eudora.size(), 4u);
    EXPECT_EQ(eudora[0].path, (prefix / "dosdevices/c:/Program Files/Eudora/In").string());

    unsetenv("WINEPREFIX");
    unsetenv("SAPIOLUX_USER_HIVE_DIR");
    unsetenv("SAPIOLUX_MACHINE_HIVE_DIR");
}

// The program's own settings hive names the mail program as the default value ("@=")
// of its open command, as a registry export writes it.
TEST(Discovery, EudoraThroughTheMachineHiveDefaultValue) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "Eudora Mail");
    std::filesystem::copy_file(shared("eudora/eudora2unix_win71/descmap.pce"),
                               dir.path() / "Eudora Mail/descmap.pce");
    std::filesystem::create_directories(dir.path() / "hive");
    writeWholeFile(dir.file("hive/machine.reg"),
                   "REGEDIT4\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\Mail\\Eudora\\shell\\open\\command]\n"
                   "@=\"\\\"" +
                       dir.file("Eudora Mail/Eudora.exe") + "\\\" /m \\\"%1\\\"\"\n");
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
