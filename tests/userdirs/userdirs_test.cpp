// The user's folders after the XDG rules, the expansion of a registered folder name,
// and the private folders made for the agent and the server.
#include "support/userdirs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "tests/common/tempdir.h"

namespace {

// Sets environment variables (nullptr: unset) and puts the old values back afterwards.
class EnvGuard {
  public:
    ~EnvGuard() {
        for (const auto& [name, old] : saved_) put(name, old ? old->c_str() : nullptr);
    }
    void set(const std::string& name, const char* value) {
        const char* old = std::getenv(name.c_str());
        saved_.try_emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
        put(name, value);
    }

  private:
    static void put(const std::string& name, const char* value) {
        value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(UserDirs, XdgFoldersAndTheirDefaults) {
    EnvGuard env;
    env.set("HOME", "/home/ann");
    env.set("XDG_DATA_HOME", nullptr);
    env.set("XDG_CONFIG_HOME", "");
    EXPECT_EQ(userdirs::dataHome(), "/home/ann/.local/share");
    EXPECT_EQ(userdirs::configHome(), "/home/ann/.config");
    EXPECT_EQ(userdirs::personalServerHome(), "/home/ann/.local/share/sapiolux/personal");
    // A relative value is ignored, as the XDG rules ask.
    env.set("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(userdirs::dataHome(), "/home/ann/.local/share");
    env.set("XDG_DATA_HOME", "/srv/ann/data");
    EXPECT_EQ(userdirs::personalServerHome(), "/srv/ann/data/sapiolux/personal");
    // Without a home there is no folder to give.
    env.set("HOME", nullptr);
    env.set("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(userdirs::dataHome(), "");
    EXPECT_EQ(userdirs::personalServerHome(), "");
    // The runtime folder only when it names an existing folder.
    env.set("XDG_RUNTIME_DIR", "/no/such/runtime/folder");
    EXPECT_EQ(userdirs::runtimeDir(), "");
}

TEST(UserDirs, RegisteredFolderNamesExpandOnlyTheirUserPart) {
    EnvGuard env;
    env.set("HOME", "/home/ann");
    env.set("XDG_DATA_HOME", nullptr);
    env.set("XDG_CONFIG_HOME", "/cfg");
    // Only a leading user part expands; anything else is left as written.
    const std::pair<const char*, const char*> cases[] = {
        {"$XDG_DATA_HOME/sapiolux/personal", "/home/ann/.local/share/sapiolux/personal"},
        {"${XDG_CONFIG_HOME}/x", "/cfg/x"},
        {"~/server", "/home/ann/server"},
        {"~", "/home/ann"},
        {"$HOME", "/home/ann"},
        {"/opt/personal", "/opt/personal"},
        {"~bob/server", "~bob/server"},
        {"$HOMEWORK/x", "$HOMEWORK/x"},
        {"/a/$HOME", "/a/$HOME"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(userdirs::expandUserFolder(in), out) << in;
    // A user part with no folder behind it stays visible instead of becoming "/...".
    env.set("HOME", nullptr);
    env.set("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(userdirs::expandUserFolder("$XDG_DATA_HOME/x"), "$XDG_DATA_HOME/x");
}

TEST(UserDirs, PrivateFoldersAndInstalledFolders) {
    testing_support::TempDir dir;
    const std::string deep = dir.file("a/b/c");
    ASSERT_TRUE(userdirs::makePrivateFolders(deep));
    struct stat st {};
    ASSERT_EQ(::stat(deep.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(userdirs::makePrivateFolders(deep));  // again: already there
    // A file in the way is a failure, not a folder.
    testing_support::writeWholeFile(dir.file("file"), "x");
    EXPECT_FALSE(userdirs::makePrivateFolders(dir.file("file/sub")));
    EXPECT_FALSE(userdirs::makePrivateFolders(""));
    // A build tree has no installed folders beside its libraries.
    EXPECT_EQ(userdirs::installedFolder(userdirs::Installed::Data), "");
    EXPECT_EQ(userdirs::installedFolder(userdirs::Installed::Helpers), "");
}

}  // namespace
