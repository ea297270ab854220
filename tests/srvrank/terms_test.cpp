// Index terms of free text against a plain model of the client's word cutting: fold the
// whole text, split it, filter each piece, add the parts of punctuated pieces.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "server/terms.h"
#include "support/lang2util.h"

using namespace ixoserver;

namespace {

bool alnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::vector<std::string> modelTerms(const std::string& text) {
    std::string folded;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 127) {
            folded += ch;
        } else {
            char second = 0;
            folded += lang2ConvertChar(c, &second);
            if (second) folded += second;
        }
    }
    const std::string split = " []<>#\n\r\t";
    std::vector<std::string> out;
    size_t pos = 0;
    while (true) {
        pos = folded.find_first_not_of(split, pos);
        if (pos == std::string::npos) break;
        size_t end = folded.find_first_of(split, pos);
        if (end == std::string::npos) end = folded.size();
        std::string piece = folded.substr(pos, std::min<size_t>(end - pos, 511));
        pos = end;
        for (auto& c : piece)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        std::string word;
        for (char c : piece)
            if (alnum(c) || c == '~') word += c;
        if (!word.empty() && !isStopWord(word)) {
            if (word.find('~') != std::string::npos)
                word.erase(word.find('~'));
            else
                stemWord(word);
            if (word.size() > 240) word.resize(240);
        } else {
            word.clear();
        }
        if (!word.empty()) out.push_back(word);
        bool punctuated = false;
        for (char c : piece) punctuated = punctuated || !alnum(c);
        if (!punctuated || piece.find('~') != std::string::npos) continue;
        std::string part;
        for (size_t i = 0; i <= piece.size(); ++i) {
            if (i < piece.size() && alnum(piece[i])) {
                part += piece[i];
                continue;
            }
            if (!part.empty() && part.size() <= 240 && !isStopWord(part)) {
                stemWord(part);
                if (!part.empty() && part != word) out.push_back(part);
            }
            part.clear();
        }
    }
    return out;
}

TEST(TextTerms, MatchTheModelOnMixedText) {
    // Words, stop words, punctuation inside words, '~', accented bytes that fold to one
    // or two letters or to a blank, separators of every kind, very long pieces.
    const std::vector<std::string> atoms = {"the",
                                            "Running",
                                            "printf(3),",
                                            "a.b.c",
                                            "x~y",
                                            "caf\xe9",
                                            "Stra\xdf"
                                            "e",
                                            "\xa0",
                                            "\xff",
                                            "\x7f",
                                            "[tag]",
                                            "<b>",
                                            "#anchor",
                                            "and/or",
                                            "C++",
                                            "42",
                                            "e-mail",
                                            "don't",
                                            "~",
                                            "..",
                                            "m\xfc"
                                            "de",
                                            "HTTP/1.0",
                                            std::string(300, 'k'),
                                            std::string(200, 'q') + "-" + std::string(250, 'r'),
                                            std::string(600, 'z') + "." + "tail"};
    const std::string separators = " \n\r\t[]<>#";
    std::mt19937 rng(31);
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 30);
        for (int i = 0; i < n; ++i) {
            if (rng() % 4 == 0) {
                text += static_cast<char>(rng() % 256);
            } else {
                text += atoms[rng() % atoms.size()];
            }
            if (rng() % 3) text += separators[rng() % separators.size()];
        }
        std::vector<std::string> got;
        textToTerms(text, got);
        ASSERT_EQ(got, modelTerms(text)) << "round " << round;
    }
}

TEST(TextTerms, FilterWordKeepsTheClientsRules) {
    EXPECT_EQ(filterWord("THE"), "");
    EXPECT_EQ(filterWord("DBUS~"), "DBUS");
    EXPECT_EQ(filterWord("PRINTF(3),"), "PRINTF3");
    EXPECT_EQ(filterWord(std::string(300, 'K')).size(), 240u);
    std::string running = "RUNNING";
    stemWord(running);
    EXPECT_EQ(filterWord("running"), running);
}

}  // namespace
