// Text at the command-line edge: UTF-8 in, Windows-1252 inside, the locale's set out.
#include "support/cp1252.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

TEST(Cp1252, Utf8InTheSingleByteSetAndBack) {
    EXPECT_EQ(utf8ToCp1252("Stra\xC3\x9F"
                           "e"),
              "Stra\xDF"
              "e");
    EXPECT_EQ(utf8ToCp1252("caf\xC3\xA9 \xE2\x82\xAC 5"), "caf\xE9 \x80 5");
    // The typographic characters of 0x80-0x9F.
    EXPECT_EQ(utf8ToCp1252("\xE2\x80\x9Cq\xE2\x80\x9D \xE2\x80\x94 \xC5\xA0 \xE2\x84\xA2"),
              "\x93q\x94 \x97 \x8A \x99");
    // Characters the set lacks: one '?' each, however long their UTF-8 form.
    EXPECT_EQ(utf8ToCp1252("\xE6\x97\xA5\xF0\x9F\x98\x80x"), "??x");
    EXPECT_EQ(utf8ToCp1252("\xC2\x80"), "?");  // a C1 control Windows-1252 uses otherwise
    // Bytes that are not UTF-8 (single-byte text, overlong forms, surrogates, cut
    // sequences) pass unchanged.
    EXPECT_EQ(utf8ToCp1252("Stra\xDF"
                           "e"),
              "Stra\xDF"
              "e");
    EXPECT_EQ(utf8ToCp1252("\xC0\xAF"), "\xC0\xAF");
    EXPECT_EQ(utf8ToCp1252("\xED\xA0\x80"), "\xED\xA0\x80");
    EXPECT_EQ(utf8ToCp1252("ab\xE2\x82"), "ab\xE2\x82");
    EXPECT_EQ(utf8ToCp1252(std::string("a\0b", 3)), std::string("a\0b", 3));

    EXPECT_EQ(cp1252ToUtf8("Stra\xDF"
                           "e \x80\x93\x9F"),
              "Stra\xC3\x9F"
              "e \xE2\x82\xAC\xE2\x80\x9C\xC5\xB8");
    // Every byte survives the way out and back in.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
}

// The way out follows the locale; the set is read once per process, so each locale
// is tried in a child process of its own.
std::string inLocale(const char* locale, const std::string& text) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        setenv("LC_ALL", locale, 1);
        const std::string out = cp1252ToLocale(text);
        ssize_t ignored = write(fds[1], out.data(), out.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return out;
}

TEST(Cp1252, OutputInTheLocalesCharacterSet) {
    EXPECT_EQ(inLocale("C.UTF-8", "Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
    // An ASCII locale gets ASCII: transliterated where it can be, '?' where not.
    const std::string ascii = inLocale("C", "Caf\xE9 ok");
    EXPECT_EQ(ascii.substr(0, 3), "Caf");
    EXPECT_EQ(ascii.substr(ascii.size() - 3), " ok");
    for (char c : ascii) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << ascii;
    EXPECT_EQ(inLocale("C", "plain"), "plain");
}

}  // namespace
