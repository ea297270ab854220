// The imex program's exit status: an input that is missing or not of its type fails
// the run with a message, never "0 No error.".
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/common/tempdir.h"

namespace {

using testing_support::TempDir;
using testing_support::writeWholeFile;

int run(const std::string& command, std::string& output) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    output.clear();
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ImexTool, MissingAndWrongFormatInputsFailTheRun) {
#ifndef IMEX_BIN
    GTEST_SKIP() << "imex is not built";
#else
    TempDir dir;
    const std::string tool = std::string(IMEX_BIN) + " -o " + dir.file("out.idx") + " ";
    std::string out;
    EXPECT_EQ(run(tool + dir.file("none/file.txt"), out), 1) << out;
    EXPECT_NE(out.find("-4 Content not found."), std::string::npos) << out;
    EXPECT_NE(out.find("File not found"), std::string::npos) << out;
    EXPECT_EQ(out.find("No error"), std::string::npos) << out;

    // An IDX file without a single tag, and a file of no known type.
    writeWholeFile(dir.file("junk.ndx"), "just some words, no tags at all\n");
    EXPECT_EQ(run(tool + dir.file("junk.ndx"), out), 1) << out;
    EXPECT_NE(out.find("-16 Parse failed."), std::string::npos) << out;
    writeWholeFile(dir.file("x.zzz"), "odd");
    EXPECT_EQ(run(tool + dir.file("x.zzz"), out), 1) << out;

    // A good input beside a missing one: the good one is imported, the run still fails.
    writeWholeFile(dir.file("ok.txt"), "ordinary words");
    EXPECT_EQ(run(tool + dir.file("ok.txt") + " " + dir.file("gone.txt"), out), 1) << out;
    EXPECT_NE(out.find("imported 1 of 2"), std::string::npos) << out;
    EXPECT_EQ(run(tool + dir.file("ok.txt"), out), 0) << out;
#endif
}

}  // namespace
