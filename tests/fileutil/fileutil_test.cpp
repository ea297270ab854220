#include "support/fileutil.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/tempdir.h"

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

std::string takeText(char*& p, int64_t n) {
    std::string s(p, static_cast<size_t>(n));
    memFree(p);
    return s;
}

std::string allByteValues(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 7 + 3) & 0xFF);
    return s;
}

TEST(FileUtil, WholeFileReadAndWrite) {
    TempDir dir;
    std::string name = dir.file("data.bin");
    std::string bytes = allByteValues(5000);
    ASSERT_EQ(fileWriteWhole(name.c_str(), bytes.data(), int64_t(bytes.size())), 1);

    char* buf = nullptr;
    int64_t n = fileReadWhole(name.c_str(), &buf);
    ASSERT_EQ(n, 5000);
    EXPECT_EQ(buf[n], '\0');  // always terminated
    EXPECT_EQ(takeText(buf, n), bytes);

    // An empty file gives 0 bytes and a buffer holding one zero byte.
    ASSERT_EQ(fileWriteWhole(name.c_str(), nullptr, 0), 1);
    n = fileReadWhole(name.c_str(), &buf);
    EXPECT_EQ(n, 0);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(buf[0], '\0');
    memFree(buf);

    // Missing files, directories and null names give 0 and no buffer.
    buf = reinterpret_cast<char*>(1);
    EXPECT_EQ(fileReadWhole(dir.file("missing").c_str(), &buf), 0);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(fileReadWhole(dir.path().c_str(), &buf), 0);
    EXPECT_EQ(fileReadWhole(nullptr, &buf), 0);
    EXPECT_EQ(fileWriteWhole(nullptr, "x", 1), 0);
    EXPECT_EQ(fileWriteWhole(dir.file("no/such/dir").c_str(), "x", 1), 0);
}

TEST(FileUtil, CopyAppendsOrReplacesAndReportsFailures) {
    TempDir dir;
    std::string src = dir.file("src"), dst = dir.file("dst");
    std::string bytes = allByteValues(2047 * 3 + 5);  // several copy blocks and a tail
    writeWholeFile(src, bytes);

    EXPECT_EQ(fileCopy(src.c_str(), dst.c_str(), "w"), 1);
    EXPECT_EQ(readWholeFile(dst), bytes);
    EXPECT_EQ(fileCopy(src.c_str(), dst.c_str(), "a"), 1);
    EXPECT_EQ(readWholeFile(dst), bytes + bytes);

    // Modes without 'w' or 'a' copy nothing.
    EXPECT_EQ(fileCopy(src.c_str(), dir.file("other").c_str(), "r"), 0);
    EXPECT_FALSE(fs::exists(dir.file("other")));

    // An empty source is copied too, and that is a success.
    std::string empty = dir.file("empty");
    writeWholeFile(empty, "");
    EXPECT_EQ(fileCopy(empty.c_str(), dst.c_str(), "wb"), 1);
    EXPECT_EQ(readWholeFile(dst), "");

    EXPECT_EQ(fileCopy(dir.file("missing").c_str(), dst.c_str(), "w"), 0);
    EXPECT_EQ(fileCopy(src.c_str(), dir.file("no/dir/x").c_str(), "w"), 0);
    // A full device is a failure, not a success because "something" was copied.
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(fileCopy(src.c_str(), "/dev/full", "w"), 0);
    }
}

// A copy onto the source itself, by name or through a hard or symbolic link, would
// empty the file (or grow it without end): it is refused and the file keeps its bytes.
TEST(FileUtil, CopyOntoItselfIsRefused) {
    TempDir dir;
    const std::string src = dir.file("src"), hard = dir.file("hard"), soft = dir.file("soft");
    const std::string bytes = allByteValues(5000);
    writeWholeFile(src, bytes);
    fs::create_hard_link(src, hard);
    fs::create_symlink(src, soft);
    for (const std::string& target : {src, hard, soft, dir.file("./src")}) {
        for (const char* mode : {"w", "wb", "a", "w+"}) {
            SCOPED_TRACE(target + " " + mode);
            EXPECT_EQ(fileCopy(src.c_str(), target.c_str(), mode), 0);
            EXPECT_EQ(readWholeFile(src), bytes);
        }
    }
    EXPECT_EQ(fileCopy(hard.c_str(), src.c_str(), "w"), 0);
    EXPECT_EQ(readWholeFile(src), bytes);
    // A copy of the same bytes under another inode is fine.
    EXPECT_EQ(fileCopy(hard.c_str(), dir.file("copy").c_str(), "w"), 1);
    EXPECT_EQ(readWholeFile(dir.file("copy")), bytes);
}

TEST(FileUtil, TouchExistsTimesDeleteMove) {
    TempDir dir;
    std::string name = dir.file("beat");
    EXPECT_EQ(fileExists(name.c_str()), -1);
    EXPECT_EQ(fileModificationTime(name.c_str()), 0);

    ASSERT_EQ(fileTouch(name.c_str()), 1);  // created empty
    EXPECT_EQ(fileExists(name.c_str()), 0);
    EXPECT_EQ(readWholeFile(name), "");

    writeWholeFile(name, "keep me");
    fs::last_write_time(name, fs::file_time_type::clock::now() - std::chrono::hours(48));
    int64_t old = fileModificationTime(name.c_str());
    EXPECT_LT(old, int64_t(std::time(nullptr)) - 40 * 3600);
    ASSERT_EQ(fileTouch(name.c_str()), 1);
    EXPECT_GE(fileModificationTime(name.c_str()), int64_t(std::time(nullptr)) - 60);
    EXPECT_EQ(readWholeFile(name), "keep me");  // content unchanged

    std::string moved = dir.file("moved");
    EXPECT_EQ(fileMove(name.c_str(), moved.c_str()), 1);
    EXPECT_EQ(fileExists(name.c_str()), -1);
    EXPECT_EQ(readWholeFile(moved), "keep me");
    writeWholeFile(name, "other");
    EXPECT_EQ(fileMove(name.c_str(), moved.c_str()), 0);  // the target exists
    EXPECT_EQ(readWholeFile(moved), "keep me");

    EXPECT_EQ(fileDelete(moved.c_str()), 1);
    EXPECT_EQ(fileDelete(moved.c_str()), 0);
    EXPECT_EQ(fileExists(nullptr), -1);
}

TEST(FileUtil, SizeKeepsTheFilePosition) {
    TempDir dir;
    std::string name = dir.file("f");
    writeWholeFile(name, "0123456789");
    FILE* f = std::fopen(name.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 4, SEEK_SET);
    EXPECT_EQ(fileSize(f), 10);
    EXPECT_EQ(std::fgetc(f), '4');
    std::fclose(f);
    EXPECT_EQ(fileSize(nullptr), -1);
}

TEST(FileUtil, TempNamesDifferBetweenThreadsAndCalls) {
    std::mutex lock;
    std::set<std::string> names;
    int total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                char* n = fileTempName("base");
                std::lock_guard<std::mutex> g(lock);
                ASSERT_NE(n, nullptr);
                names.insert(n);
                ++total;
                memFree(n);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(names.size(), size_t(total));
    EXPECT_EQ(fileTempName(nullptr), nullptr);
}

TEST(FileUtil, MakeDirectoryPathAndSplitPath) {
    TempDir dir;
    std::string deep = dir.path().string() + "/a\\b/c/";
    EXPECT_EQ(fileMakeDirectoryPath(deep.c_str()), 1);
    EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b" / "c"));
    EXPECT_EQ(fileMakeDirectoryPath(deep.c_str()), 1);  // existing ones are fine
    writeWholeFile(dir.file("plain"), "x");
    EXPECT_EQ(fileMakeDirectoryPath((dir.file("plain") + "/sub").c_str()), 0);
    EXPECT_EQ(fileMakeDirectoryPath(nullptr), 0);

    char *drive, *directory, *name, *ext;
    ASSERT_EQ(fileSplitPath("C:\\docs/mail\\note.v2.txt", &drive, &directory, &name, &ext), 0);
    EXPECT_STREQ(drive, "C:");
    EXPECT_STREQ(directory, "\\docs/mail\\");
    EXPECT_STREQ(name, "note.v2");
    EXPECT_STREQ(ext, ".txt");
    memFree(drive);
    memFree(directory);
    memFree(name);
    memFree(ext);

    // Parts longer than the customary 256 bytes get buffers that fit them.
    std::string longPath = "/" + std::string(600, 'd') + "/" + std::string(400, 'n') + ".e";
    ASSERT_EQ(fileSplitPath(longPath.c_str(), nullptr, &directory, &name, nullptr), 0);
    EXPECT_EQ(std::string(directory), "/" + std::string(600, 'd') + "/");
    EXPECT_EQ(std::string(name), std::string(400, 'n'));
    memFree(directory);
    memFree(name);
    EXPECT_EQ(fileSplitPath(nullptr, &drive, nullptr, nullptr, nullptr), -1);
}

TEST(FileUtil, CutAtMarker) {
    TempDir dir;
    std::string name = dir.file("reply.txt");
    std::string head = "line one\nline two\n" + std::string(5000, 'x') + "tail ";
    writeWholeFile(name, head + "***Original Query abc\nmore\n");
    EXPECT_EQ(fileCutAtMarker(name.c_str(), "***Original Query"), 1);
    EXPECT_EQ(readWholeFile(name), head);  // a marker past 2046 characters is still found

    std::string text = "nothing\r\nto cut\n\x01\x02 binary";
    writeWholeFile(name, text);
    EXPECT_EQ(fileCutAtMarker(name.c_str(), "***Original Query"), 1);
    EXPECT_EQ(readWholeFile(name), text);
    EXPECT_EQ(fileCutAtMarker(name.c_str(), ""), 1);
    EXPECT_EQ(readWholeFile(name), text);

    EXPECT_EQ(fileCutAtMarker(dir.file("missing").c_str(), "x"), 0);
    // No temporary files are left behind.
    int files = 0;
    for (auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

struct WalkLog {
    std::vector<std::string> calls;
    std::string stopAt;
};

int record(const char* directory, const char* name, void* context) {
    auto* log = static_cast<WalkLog*>(context);
    std::string d = directory;
    log->calls.push_back(d + "|" + name);
    return !log->stopAt.empty() && log->stopAt == name;
}

TEST(FileUtil, DirectoryWalkWithPatternLists) {
    TempDir dir;
    std::string root = dir.path().string();
    for (const char* f : {"a.txt", "B.TXT", "c.htm", "notes.txt.bak", "report_2001.doc"})
        writeWholeFile(dir.file(f), "x");
    fs::create_directories(dir.path() / "sub" / "deeper");
    writeWholeFile((dir.path() / "sub" / "d.txt").string(), "x");
    writeWholeFile((dir.path() / "sub" / "deeper" / "e.htm").string(), "x");
    fs::create_directory(dir.path() / "empty");

    WalkLog log;  // case-blind patterns, recursion, an end call per directory
    EXPECT_EQ(fileWalkDirectory(root.c_str(), "*.txt,*.htm", record, &log, 1), 0);
    std::string sub = root + "/sub";
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{root + "|B.TXT", root + "|a.txt", root + "|c.htm",
                                        root + "/empty|", sub + "|d.txt", sub + "/deeper|e.htm",
                                        sub + "/deeper|", sub + "|", root + "|"}));

    // " AND " joins patterns that must all match.
    log.calls.clear();
    EXPECT_EQ(fileWalkDirectory(root.c_str(), "report* AND *.doc,*.bak AND x*", record, &log, 0),
              0);
    EXPECT_EQ(log.calls, (std::vector<std::string>{root + "|report_2001.doc", root + "|"}));

    // An empty directory gives exactly one call, with an empty name.
    log.calls.clear();
    std::string empty = root + "/empty";
    EXPECT_EQ(fileWalkDirectory(empty.c_str(), "*", record, &log, 1), 0);
    EXPECT_EQ(log.calls, (std::vector<std::string>{empty + "|"}));

    // The callback can stop the walk.
    log.calls.clear();
    log.stopAt = "a.txt";
    EXPECT_EQ(fileWalkDirectory(root.c_str(), nullptr, record, &log, 1), 1);
    EXPECT_EQ(log.calls.back(), root + "|a.txt");

    EXPECT_EQ(fileWalkDirectory((root + "/missing").c_str(), "*", record, &log, 1), -1);
    EXPECT_EQ(fileWalkDirectory(nullptr, "*", record, &log, 1), -1);
}

TEST(FileUtil, WalkDoesNotFollowDirectoryLinksInCircles) {
    TempDir dir;
    fs::create_directory(dir.path() / "loop");
    fs::create_directory_symlink(dir.path(), dir.path() / "loop" / "back");
    writeWholeFile(dir.file("f.txt"), "x");
    WalkLog log;
    EXPECT_EQ(fileWalkDirectory(dir.path().c_str(), "*", record, &log, 1), 0);
    EXPECT_EQ(log.calls.size(), 3u);  // f.txt, end of loop, end of root
}

TEST(FileUtil, MarkedFilesRoundTripAndPlainFilesReadAsIs) {
    TempDir dir;
    std::string name = dir.file("profile.dat");
    std::string data = allByteValues(1000);  // runs past the 254-byte period
    std::string original = data;
    ASSERT_EQ(fileWriteMarked(data.data(), int64_t(data.size()), name.c_str()), 1);
    EXPECT_EQ(data, original);  // the caller's bytes are not scrambled in place

    std::string raw = readWholeFile(name);
    ASSERT_EQ(raw.size(), FILE_MARKER_LENGTH + data.size());
    EXPECT_EQ(raw.substr(0, FILE_MARKER_LENGTH), std::string("HALVORANFILEX1\0", 15));
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(static_cast<unsigned char>(raw[FILE_MARKER_LENGTH + i]),
                  static_cast<unsigned char>(data[i]) ^ static_cast<unsigned char>(i % 254))
            << "byte " << i;
    }

    char* buf = nullptr;
    int64_t n = fileReadMarked(name.c_str(), &buf);
    ASSERT_EQ(n, int64_t(data.size()));
    EXPECT_EQ(buf[n], '\0');
    EXPECT_EQ(takeText(buf, n), data);

    // A plain file, and one shorter than the marker, come back unchanged.
    for (std::string plain : {std::string("TERM 12\nOTHER 7\n"), std::string("HALVORAN"),
                              std::string("HALVORANFILEX1"), std::string()}) {
        writeWholeFile(name, plain);
        n = fileReadMarked(name.c_str(), &buf);
        ASSERT_NE(buf, nullptr);
        EXPECT_EQ(takeText(buf, n), plain);
    }

    // A marked file without data.
    ASSERT_EQ(fileWriteMarked(nullptr, 0, name.c_str()), 1);
    n = fileReadMarked(name.c_str(), &buf);
    EXPECT_EQ(n, 0);
    memFree(buf);
    EXPECT_EQ(fileReadMarked(dir.file("missing").c_str(), &buf), 0);
    EXPECT_EQ(buf, nullptr);
}

}  // namespace
