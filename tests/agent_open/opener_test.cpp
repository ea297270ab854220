// Opening results: what reaches the desktop's opener (a fake xdg-open first on PATH
// records its arguments), what is refused, people and mail results.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "agent/opener.h"
#include "mailfetch/emailclient.h"
#include "platform/docopen.h"
#include "tests/common/tempdir.h"

namespace {

namespace fs = std::filesystem;
using agent::OpenKind;
using agent::OpenSettings;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

// The shared test data beside the project; SAPIOLUX_SHARED_DIR in the environment names
// it for checkouts that do not sit beside it.
std::string shared(const std::string& relative) {
    const char* override = std::getenv("SAPIOLUX_SHARED_DIR");
    std::string base = override && *override ? override : SAPIOLUX_SHARED_DIR;
    return base + "/testdata/mail/" + relative;
}

// A result record with further fields; the texts live as long as the object.
class Record {
  public:
    Record(std::string name, std::vector<std::pair<std::string, std::string>> fields = {},
           std::string links = "")
        : name_(std::move(name)), links_(std::move(links)), pairs_(std::move(fields)) {
        for (auto& p : pairs_) fields_.push_back({p.first.data(), p.second.data()});
        record_.name = name_.data();
        record_.links = links_.data();
        record_.fieldCount = static_cast<int32_t>(fields_.size());
        record_.fields = fields_.empty() ? nullptr : fields_.data();
    }
    const IxoResultRecord& get() const { return record_; }
    IxoResultRecord& get() { return record_; }

  private:
    std::string name_, links_;
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::vector<IxoResultField> fields_;
    IxoResultRecord record_{};
};

void writeFile(const std::string& path, const std::string& text, mode_t mode) {
    writeWholeFile(path, text);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// A fake xdg-open first on PATH: each call writes its argument count and arguments, one
// a line, to a file of its own in the record folder.
class FakeXdgOpen : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_.path() / "bin");
        fs::create_directories(dir_.path() / "calls");
        writeFile(dir_.file("bin/xdg-open"),
                  "#!/bin/sh\n"
                  "f=\"$FAKE_XDG_CALLS/$$\"\n"
                  "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$f.tmp\"\n"
                  "mv \"$f.tmp\" \"$f.call\"\n",
                  0755);
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        setenv("PATH", (dir_.file("bin") + ":" + savedPath_).c_str(), 1);
        setenv("FAKE_XDG_CALLS", dir_.file("calls").c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", savedPath_.c_str(), 1);
        unsetenv("FAKE_XDG_CALLS");
    }
    // The arguments of the next recorded call (waits up to 10 s; empty when none came).
    std::vector<std::string> nextCall() {
        for (int i = 0; i < 1000; ++i) {
            for (const auto& e : fs::directory_iterator(dir_.path() / "calls")) {
                if (e.path().extension() != ".call") continue;
                std::string text = readWholeFile(e.path().string());
                fs::remove(e.path());
                std::vector<std::string> lines;
                size_t start = 0;
                while (start < text.size()) {
                    size_t end = text.find('\n', start);
                    lines.push_back(text.substr(start, end - start));
                    start = end + 1;
                }
                if (lines.empty() || std::to_string(lines.size() - 1) != lines[0]) return {"bad"};
                return std::vector<std::string>(lines.begin() + 1, lines.end());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }
    bool noCalls() const { return fs::is_empty(dir_.path() / "calls"); }

    TempDir dir_;
    std::string savedPath_;
    platform::XdgDocumentOpener xdg_;
    OpenSettings settings_;
};

TEST_F(FakeXdgOpen, WebResultAndLocalFilesAsOneArgument) {
    EXPECT_EQ(
        agent::openResult(Record("http://example.org/a b.html?x=1&y=$(id)").get(), settings_, xdg_),
        "");
    EXPECT_EQ(nextCall(), std::vector<std::string>{"http://example.org/a b.html?x=1&y=$(id)"});

    writeFile(dir_.file("doc one.txt"), "text", 0644);
    EXPECT_EQ(agent::openResult(Record(dir_.file("doc one.txt")).get(), settings_, xdg_), "");
    EXPECT_EQ(nextCall(), std::vector<std::string>{agent::fileUrl(dir_.file("doc one.txt"))});
    EXPECT_EQ(agent::fileUrl("/a b/-x%.txt"), "file:///a%20b/-x%25.txt");

    // A file whose name starts with '-' goes as a file:// URL, never as an option.
    writeFile(dir_.file("-n.pdf"), "%PDF", 0600);
    EXPECT_EQ(agent::openResult(Record(dir_.file("-n.pdf")).get(), settings_, xdg_), "");
    std::vector<std::string> call = nextCall();
    ASSERT_EQ(call.size(), 1u);
    EXPECT_EQ(call[0], "file://" + dir_.file("-n.pdf"));
    // The same through a file: URL with an encoded name.
    EXPECT_EQ(agent::openResult(Record("file://localhost" + dir_.file("%2Dn.pdf")).get(), settings_,
                                xdg_),
              "");
    EXPECT_EQ(nextCall(), call);

    // Refused targets start nothing.
    EXPECT_EQ(agent::openResult(Record("javascript:alert(1)").get(), settings_, xdg_),
              agent::kTextUnsafeAddress);
    EXPECT_EQ(agent::openResult(Record("-n.pdf").get(), settings_, xdg_),
              agent::kTextUnsafeAddress);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(noCalls());

    // Without xdg-open the failure is told, not hidden.
    setenv("PATH", "/nonexistent", 1);
    EXPECT_EQ(agent::openResult(Record("https://example.org/").get(), settings_, xdg_),
              agent::kTextNoOpener);
}

TEST(SafeTargets, OnlyWebMailAndDocuments) {
    TempDir dir;
    writeFile(dir.file("tool"), "#!/bin/sh\n", 0755);
    writeFile(dir.file("group.txt"), "x", 0610);
    writeFile(dir.file("app.desktop"), "[Desktop Entry]\nExec=xterm\n", 0644);
    writeFile(dir.file("page.html"), "<p>", 0644);
    fs::create_symlink(dir.file("app.desktop"), dir.file("innocent.txt"));
    fs::create_directories(dir.path() / "folder");

    const struct {
        std::string address;
        OpenKind kind;
        std::string target;
    } cases[] = {
        {"", OpenKind::Nothing, ""},
        {"http://a.example/x", OpenKind::Url, "http://a.example/x"},
        {"HTTPS://a.example/", OpenKind::Url, "HTTPS://a.example/"},
        {"ftp://a.example/f.zip", OpenKind::Url, "ftp://a.example/f.zip"},
        {"mailto:ann@example.org?subject=Hi", OpenKind::Url, "mailto:ann@example.org?subject=Hi"},
        {"mailto:ann@example.org?%61ttach=/etc/passwd", OpenKind::Status,
         agent::kTextUnsafeAddress},
        {"mailto:", OpenKind::Status, agent::kTextUnsafeAddress},
        {"http:/x", OpenKind::Status, agent::kTextUnsafeAddress},
        {"http:///etc/passwd", OpenKind::Status, agent::kTextUnsafeAddress},
        {"http://a.example/\nx", OpenKind::Status, agent::kTextUnsafeAddress},
        {"javascript:alert(1)", OpenKind::Status, agent::kTextUnsafeAddress},
        {"JaVaScRiPt:alert(1)", OpenKind::Status, agent::kTextUnsafeAddress},
        {"data:text/html,<script>", OpenKind::Status, agent::kTextUnsafeAddress},
        {"smb://host/share", OpenKind::Status, agent::kTextUnsafeAddress},
        {"C:\\Windows\\notepad.exe", OpenKind::Status, agent::kTextUnsafeAddress},
        {"relative/page.html", OpenKind::Status, agent::kTextUnsafeAddress},
        {"file://otherhost" + dir.file("page.html"), OpenKind::Status, agent::kTextUnsafeAddress},
        {"file:" + dir.file("page.html"), OpenKind::Url, "file://" + dir.file("page.html")},
        {"file://" + dir.file("page%00.html"), OpenKind::Status, agent::kTextUnsafeAddress},
        {dir.file("tool"), OpenKind::Status, agent::kTextUnsafeFile},
        {"file://" + dir.file("tool"), OpenKind::Status, agent::kTextUnsafeFile},
        {dir.file("group.txt"), OpenKind::Status, agent::kTextUnsafeFile},
        {dir.file("app.desktop"), OpenKind::Status, agent::kTextUnsafeFile},
        {dir.file("innocent.txt"), OpenKind::Status, agent::kTextUnsafeFile},
        {dir.file("folder"), OpenKind::Status, agent::kTextUnsafeFile},
        {dir.file("missing.html"), OpenKind::Status, agent::kTextUnsafeFile},
    };
    for (const auto& c : cases) {
        agent::OpenAction a = agent::checkTarget(c.address);
        EXPECT_EQ(a.kind, c.kind) << c.address;
        EXPECT_EQ(a.target, c.target) << c.address;
    }
}

TEST(OpenResult, PeopleDocIdAndUrlRules) {
    platform::FakeDocumentOpener fake;
    OpenSettings s;
    Record ann("ignored", {{"doctype", "People"}, {"CONTACTREF", "ann@example.org"}});
    EXPECT_EQ(agent::openResult(ann.get(), s, fake), "");
    Record page("ignored", {{"DocType", "PEOPLE"}, {"ContactRef", "http://home.example/~bob@x"}});
    EXPECT_EQ(agent::openResult(page.get(), s, fake), "");
    Record nobody("http://a.example/", {{"DocType", "PEOPLE"}, {"ContactRef", ""}});
    EXPECT_EQ(agent::openResult(nobody.get(), s, fake), agent::kTextNoContact);
    Record noField("http://a.example/", {{"DocType", "PEOPLE"}});
    EXPECT_EQ(agent::openResult(noField.get(), s, fake), agent::kTextNoContact);
    // A contact written by another user of a community server is checked like any address.
    Record evil("x", {{"DocType", "PEOPLE"}, {"ContactRef", "file:///usr/bin/xterm"}});
    EXPECT_EQ(agent::openResult(evil.get(), s, fake), agent::kTextUnsafeFile);
    EXPECT_EQ(fake.opened,
              (std::vector<std::string>{"mailto:ann@example.org", "http://home.example/~bob@x"}));

    // Document ids as names, then the URL rules, then the safety check.
    fake.opened.clear();
    Record byId("ignored");
    byId.get().docId = 42;
    s.useDocIdAsName = true;
    EXPECT_EQ(agent::openResult(byId.get(), s, fake), agent::kTextUnsafeAddress);
    s.rules.useManipulation = true;
    s.rules.prefix = "http://gw.example/doc?id=";
    EXPECT_EQ(agent::openResult(byId.get(), s, fake), "");
    s.useDocIdAsName = false;
    s.rules.insertLinks = true;
    Record linked("http://a.example/p.htm", {}, "3+4");
    EXPECT_EQ(agent::openResult(linked.get(), s, fake), "");
    Record empty("");
    EXPECT_EQ(agent::decideOpen(empty.get(), s).kind, OpenKind::Nothing);
    EXPECT_EQ(fake.opened, (std::vector<std::string>{
                               "http://gw.example/doc?id=42",
                               "http://gw.example/doc?id=http://a.example/p.htm&links=3,4"}));
}

// Mail results open through the fetcher of their store, in process, with the message
// written to a temporary file that the opener receives as a file:// URL.
class MailResults : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_.path() / "tmp");
        const char* old = std::getenv("TMPDIR");
        hadTmp_ = old != nullptr;
        if (old) savedTmp_ = old;
        setenv("TMPDIR", dir_.file("tmp").c_str(), 1);
    }
    void TearDown() override {
        if (hadTmp_)
            setenv("TMPDIR", savedTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    // The reference of the first message a store fetcher writes.
    std::string firstReference(const std::string& tag, const std::string& store) {
        auto f = mailfetch::createStoreFetcher(tag);
        f->setStores({store});
        std::string fetch = dir_.file("fetch-" + tag);
        EXPECT_TRUE(f->setFetchDirectory(fetch));
        f->fetch(1);
        std::string side = readWholeFile(fetch + "/email0.eml.idx");
        return side.substr(14, side.find('\n') - 14);
    }

    TempDir dir_;
    bool hadTmp_ = false;
    std::string savedTmp_;
};

TEST_F(MailResults, EudoraAndOutlookExpressStores) {
    platform::FakeDocumentOpener fake;
    OpenSettings s;
    s.personalPath = dir_.file("no-such-folder");  // not created by opening

    std::string eudora = firstReference("eudora", shared("eudora/eudora2unix_win71"));
    ASSERT_EQ(eudora.rfind("email://eudora&", 0), 0u) << eudora;
    Record mail(eudora, {{"DocType", "Email"}});
    EXPECT_EQ(agent::openResult(mail.get(), s, fake), "");
    ASSERT_EQ(fake.opened.size(), 1u);
    // Written into a folder of the agent's own inside the temporary folder.
    const std::string prefix = "file://";
    ASSERT_EQ(fake.opened[0].rfind(prefix, 0), 0u);
    const fs::path htm = fake.opened[0].substr(prefix.size());
    EXPECT_EQ(htm.filename(), "mail0.htm");
    EXPECT_EQ(htm.parent_path().parent_path(), dir_.file("tmp"));
    EXPECT_NE(readWholeFile(htm.string()).size(), 0u);

    std::string oe = firstReference("oe5", shared("dbx"));
    ASSERT_EQ(oe.rfind("email://oe5&", 0), 0u) << oe;
    Record oeMail(oe, {{"DOCTYPE", "EMAIL"}});
    EXPECT_EQ(agent::openResult(oeMail.get(), s, fake), "");
    ASSERT_EQ(fake.opened.size(), 2u);
    EXPECT_EQ(fake.opened[1], prefix + (htm.parent_path() / "mail0.eml").string());
    EXPECT_EQ(readWholeFile((htm.parent_path() / "mail0.eml").string()),
              readWholeFile(dir_.file("fetch-oe5/email0.eml")));
    EXPECT_FALSE(fs::exists(dir_.file("no-such-folder")));

    // Failures: an unknown mail program, a message no longer in the store, an opener that
    // cannot start.
    Record unknown("email://pine&a&b&1", {{"DocType", "EMAIL"}});
    EXPECT_EQ(agent::openResult(unknown.get(), s, fake), agent::kTextMailUnknown);
    // email://oe5&FOLDER&KEY&TIME with a key the store does not hold.
    size_t folderEnd = oe.find('&', 12);
    size_t keyEnd = oe.find('&', folderEnd + 1);
    ASSERT_NE(keyEnd, std::string::npos);
    std::string goneRef = oe.substr(0, folderEnd + 1) + "99999999" + oe.substr(keyEnd);
    Record missing(goneRef, {{"DocType", "EMAIL"}});
    EXPECT_EQ(agent::openResult(missing.get(), s, fake), agent::kTextMailNotFound);
    fake.result = false;
    std::string text = agent::openResult(mail.get(), s, fake);
    EXPECT_EQ(text, std::string(agent::kTextMailNotOpened) +
                        (htm.parent_path() / "mail1.htm").string() + ".");
    EXPECT_EQ(fake.opened.size(), 3u);
}

}  // namespace
