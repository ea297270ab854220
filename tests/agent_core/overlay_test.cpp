// Machine-wide values set by a normal user land in an overlay and win over the
// administrator's hive at the next start; the user's files stay private whatever the umask.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "agent/AppParameters.h"
#include "agent_test_support.h"
#include "platform/registry.h"
#include "tests/common/tempdir.h"

using agent::CAppParameters;
using platform::RegHive;

namespace {

// Runs fn in a child process, as a new start of the agent; true when it returned true.
template <typename Fn>
bool inNewProcess(Fn fn) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn() ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Without the variable the machine hive is read from the install's configuration folder,
// where the install puts it; the variable still overrides that.
TEST(MachineHive, DefaultIsTheInstallsConfigurationFolder) {
    ::unsetenv("SAPIOLUX_MACHINE_HIVE_DIR");
    EXPECT_EQ(platform::regHiveFile(RegHive::Machine),
              std::string(INSTALL_SYSCONFDIR) + "/sapiolux/machine.reg");
    ::setenv("SAPIOLUX_MACHINE_HIVE_DIR", "/srv/hive", 1);
    EXPECT_EQ(platform::regHiveFile(RegHive::Machine), "/srv/hive/machine.reg");
    ::unsetenv("SAPIOLUX_MACHINE_HIVE_DIR");
}

TEST(MachineOverlay, AUsersChangeOutlivesARestartWithTheMachineHiveUnwritable) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    std::filesystem::create_directories(hives.machineDir);
    const std::string machineFile = platform::regHiveFile(RegHive::Machine);
    const std::string head =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Halvoran\\Sapiolux\\Miscellaneous]\n";
    const std::string adminHive =
        head + "\"MinWordsForQuery\"=dword:00000005\n\"WindowChangedInterval\"=dword:00000320\n";
    testing_support::writeWholeFile(machineFile, adminHive);
    ::chmod(machineFile.c_str(), 0444);
    ::chmod(hives.machineDir.c_str(), 0555);

    {
        CAppParameters p;
        p.Load();
        EXPECT_EQ(p.GetMinWordsForQuery(), 5);
        EXPECT_TRUE(p.SetMinWordsForQuery(7));
        EXPECT_TRUE(p.SetProxyHost("proxy.lan"));
    }
    EXPECT_TRUE(inNewProcess([] {
        CAppParameters p;
        p.Load();
        // The user's values win; what the user left alone is still the administrator's.
        return p.GetMinWordsForQuery() == 7 && p.GetProxyHost() == "proxy.lan" &&
               p.GetWindowChangedInterval() == 800;
    }));
    ::chmod(hives.machineDir.c_str(), 0755);
    EXPECT_EQ(testing_support::readWholeFile(machineFile), adminHive);

    // A later default of the administrator reaches the user for values the user never set.
    ::chmod(machineFile.c_str(), 0644);
    testing_support::writeWholeFile(
        machineFile,
        head + "\"WindowChangedInterval\"=dword:00000384\n\"OutputDebugInfo\"=dword:00000001\n");
    CAppParameters p;
    p.Load();
    EXPECT_EQ(p.GetWindowChangedInterval(), 900);
    EXPECT_EQ(p.GetMinWordsForQuery(), 7);
    // Values read on demand take the overlay first too.
    EXPECT_TRUE(p.SetOutputDebugInfo(0));
    EXPECT_EQ(p.ReadOutputDebugInfo(), 0);
}

TEST(MachineOverlay, UserFilesArePrivateWhateverTheUmaskAndStaySoWhenRewritten) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    // The user folder two levels deep, neither level there yet.
    const std::string userDir = (dir.path() / "config" / "sapiolux").string();
    ::setenv("SAPIOLUX_USER_HIVE_DIR", userDir.c_str(), 1);
    const mode_t oldMask = ::umask(0);
    {
        CAppParameters p;
        p.Load();
        EXPECT_TRUE(p.SetPassword("secret"));
        EXPECT_TRUE(p.SetProxyPassword("proxy-secret"));
    }
    EXPECT_EQ(modeOf(userDir), 0700u);
    EXPECT_EQ(modeOf((dir.path() / "config").string()), 0700u);
    EXPECT_EQ(modeOf(platform::regHiveFile(RegHive::User)), 0600u);
    EXPECT_EQ(modeOf(platform::regHiveFile(RegHive::MachineOverlay)), 0600u);
    {
        CAppParameters p;
        p.Load();
        EXPECT_TRUE(p.SetPassword("another"));
        EXPECT_TRUE(p.SetProxyUsername("me"));
        EXPECT_EQ(p.GetProxyPassword(), "proxy-secret");
    }
    // After a rewrite nothing there, the files and their locks, is open to others.
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(userDir)) {
        ++entries;
        EXPECT_EQ(modeOf(e.path().string()) & 077, 0u) << e.path();
    }
    EXPECT_EQ(entries, 4u);
    ::umask(oldMask);
}

}  // namespace
