// The mailfetch program: fetch passes with a status file and a message limit, opening a
// message by reference through the desktop's opener found on PATH, and its failures.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/common/tempdir.h"

namespace {

using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

std::string mail(const std::string& relative) {
    return std::string(SAPIOLUX_SHARED_DIR) + "/testdata/mail/" + relative;
}

int run(const std::string& command, std::string& output) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    output.clear();
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MailfetchTool, FetchPassesStatusAndLimit) {
    TempDir dir;
    const std::string tool = MAILFETCH_BIN;
    const std::string base = tool + " --client maildir --store " + mail("maildir/test1_via_mb2md") +
                             " --status " + dir.file("status");
    std::string out;
    ASSERT_EQ(run(base + " --fetch-dir " + dir.file("a"), out), 0) << out;
    EXPECT_EQ(out, "5\n");
    EXPECT_TRUE(std::filesystem::exists(dir.file("a/email4.eml.idx")));
    // The status file carries over to the next run: nothing new.
    ASSERT_EQ(run(base + " --fetch-dir " + dir.file("b"), out), 0) << out;
    EXPECT_EQ(out, "0\n");

    ASSERT_EQ(run(tool + " --client mbox --store " + mail("mbox") + " --max 2 --fetch-dir " +
                      dir.file("c"),
                  out),
              0)
        << out;
    EXPECT_EQ(out, "2\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("c/email2.eml")));

    // Without the library the Simple MAPI fetch is empty, not an error.
    ASSERT_EQ(run("SAPIOLUX_LIBRARY_PATH=" + dir.file("none") + " " + tool +
                      " --client smapi --fetch-dir " + dir.file("d"),
                  out),
              0)
        << out;
    EXPECT_NE(out.find("Simple MAPI will be used to retrieve messages"), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - 3), "\n0\n") << out;

    EXPECT_EQ(run(tool + " --client pine --fetch-dir " + dir.file("e"), out), 2);
    EXPECT_EQ(run(tool + " --client mbox", out), 2);
    EXPECT_EQ(run(tool + " --client mbox --max -1 --fetch-dir " + dir.file("e"), out), 2);
}

TEST(MailfetchTool, OpenThroughTheDesktopOpenerOnPath) {
    TempDir dir;
    const std::string tool = MAILFETCH_BIN;
    std::string out;
    ASSERT_EQ(
        run(tool + " --client mbox --store " + mail("mbox") + " --fetch-dir " + dir.file("fetch"),
            out),
        0)
        << out;
    std::string side = readWholeFile(dir.file("fetch/email2.eml.idx"));
    std::string reference = side.substr(14, side.find('\n') - 14);

    // A stand-in opener that records the file it was given.
    std::filesystem::create_directories(dir.file("bin"));
    writeWholeFile(dir.file("bin/xdg-open"),
                   "#!/bin/sh\ncp \"$1\" " + dir.file("opened.eml") + "\n");
    std::filesystem::permissions(dir.file("bin/xdg-open"), std::filesystem::perms::owner_all);
    std::filesystem::create_directories(dir.file("tmp"));
    const std::string env =
        "TMPDIR=" + dir.file("tmp") + " PATH=" + dir.file("bin") + ":/usr/bin:/bin ";
    ASSERT_EQ(run(env + tool + " --open '" + reference + "'", out), 0) << out;
    // The opener runs detached: wait for its copy.
    for (int i = 0; i < 200 && !std::filesystem::exists(dir.file("opened.eml")); ++i)
        ::usleep(10000);
    EXPECT_EQ(readWholeFile(dir.file("opened.eml")), readWholeFile(dir.file("fetch/email2.eml")));
    bool kept = false;  // in the process's own folder inside TMPDIR
    for (const auto& own : std::filesystem::directory_iterator(dir.file("tmp")))
        kept = kept || std::filesystem::exists(own.path() / "mail0.eml");
    EXPECT_TRUE(kept);

    // No opener on PATH: the message is written, and the tool says it could not open it.
    ASSERT_EQ(run("TMPDIR=" + dir.file("tmp") + " PATH=" + dir.file("nothing") + " " + tool +
                      " --open '" + reference + "'",
                  out),
              1);
    EXPECT_NE(out.find("could not be opened"), std::string::npos) << out;
    // A message that is gone, and a reference of no known client.
    std::string gone = reference.substr(0, reference.rfind('&')) + "&5";
    ASSERT_EQ(run(env + tool + " --open '" + gone + "'", out), 1);
    EXPECT_NE(out.find("message not found"), std::string::npos) << out;
    ASSERT_EQ(run(env + tool + " --open 'email://pine&x&y&1'", out), 1);
}

// A Simple MAPI message is shown as a page made from the templates named on the command
// line (the stand-in library serves the messages).
TEST(MailfetchTool, OpenSimpleMapiMessageThroughTemplates) {
    TempDir dir;
    const std::string tool = MAILFETCH_BIN;
    std::filesystem::create_directories(dir.file("tpl"));
    writeWholeFile(dir.file("tpl/outlook.template"),
                   "<h1><ORVIQSMAPISubject></h1><ul><ORVIQSMAPIRecips></ul>");
    writeWholeFile(dir.file("tpl/tooutlook.template"), "<li><ORVIQSMAPIRecipName></li>");
    writeWholeFile(dir.file("tpl/attoutlook.template"), "");
    std::filesystem::create_directories(dir.file("bin"));
    writeWholeFile(dir.file("bin/xdg-open"),
                   "#!/bin/sh\ncp \"$1\" " + dir.file("opened.html") + "\n");
    std::filesystem::permissions(dir.file("bin/xdg-open"), std::filesystem::perms::owner_all);
    std::filesystem::create_directories(dir.file("tmp"));
    const std::string env = "SAPIOLUX_LIBRARY_PATH=" + std::string(FAKE_MAPI_DIR) +
                            " TMPDIR=" + dir.file("tmp") + " PATH=" + dir.file("bin") +
                            ":/usr/bin:/bin ";
    std::string out;
    ASSERT_EQ(
        run(env + tool + " --open 'email://SMAPI&AAAA0001' --templates " + dir.file("tpl"), out), 0)
        << out;
    for (int i = 0; i < 200 && !std::filesystem::exists(dir.file("opened.html")); ++i)
        ::usleep(10000);
    EXPECT_EQ(readWholeFile(dir.file("opened.html")),
              "<h1>First #1</h1><ul><li>Bob</li><li>Carol</li></ul>");

    // Without templates the tool says what is missing; templates for another client's
    // reference, or without --open, are usage errors.
    EXPECT_EQ(run(env + tool + " --open 'email://SMAPI&AAAA0001'", out), 2);
    EXPECT_NE(out.find("--templates DIR"), std::string::npos) << out;
    EXPECT_EQ(
        run(env + tool + " --open 'email://SMAPI&AAAA0001' --templates " + dir.file("bin"), out),
        1);
    EXPECT_NE(out.find("cannot read " + dir.file("bin") + "/outlook.template"), std::string::npos)
        << out;
    EXPECT_EQ(run(env + tool + " --open 'email://mbox&x&y&1' --templates " + dir.file("tpl"), out),
              2);
    EXPECT_EQ(run(tool + " --client mbox --fetch-dir " + dir.file("f") + " --templates x", out), 2);
}

}  // namespace
