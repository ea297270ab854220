// Line ends of message bodies: every CR LF and every lone CR becomes one LF, whatever
// sits around it, checked against a character-by-character model on random text.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "import/emlimport.h"

namespace {

std::string model(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
            continue;
        }
        out += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return out;
}

TEST(EmlLineEnds, CrLfAndLoneCrBecomeOneLf) {
    EXPECT_EQ(emlNormalizeLineEnds(""), "");
    EXPECT_EQ(emlNormalizeLineEnds("no line end"), "no line end");
    EXPECT_EQ(emlNormalizeLineEnds("a\r\nb\r\n"), "a\nb\n");
    EXPECT_EQ(emlNormalizeLineEnds("a\rb\r"), "a\nb\n");
    EXPECT_EQ(emlNormalizeLineEnds("\r\r\n\n\r"), "\n\n\n\n");
    EXPECT_EQ(emlNormalizeLineEnds("\n\r"), "\n\n");
    EXPECT_EQ(emlNormalizeLineEnds(std::string("a\0\r\nb", 5)), std::string("a\0\nb", 4));

    std::mt19937 random(7);
    const char alphabet[] = {'\r', '\n', 'x', ' ', '\0'};
    for (int round = 0; round < 500; ++round) {
        std::string text(random() % 64, ' ');
        for (char& c : text) c = alphabet[random() % sizeof alphabet];
        ASSERT_EQ(emlNormalizeLineEnds(text), model(text)) << round;
    }
}

}  // namespace
