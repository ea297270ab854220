#include "support/dynstring.h"

#include <gtest/gtest.h>

#include <string>

TEST(DynString, GrowthFollowsTheDoublingRule) {
    DynString* s = dynStringCreateWithCapacity(0, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->capacity, 0);
    ASSERT_EQ(dynStringAppend(s, "abcd"), 0);
    EXPECT_EQ(s->capacity, (0 + 4) * 2 + 20);
    EXPECT_STREQ(s->text, "abcd");
    EXPECT_EQ(s->length, 4);
    // Appending bytes grows only when the bytes no longer fit.
    const char bytes[3] = {'x', '\0', 'y'};
    ASSERT_EQ(dynStringAppendBytes(s, bytes, 3), 0);
    EXPECT_EQ(s->length, 7);
    EXPECT_EQ(s->capacity, 28);
    EXPECT_EQ(std::string(s->text, 7), std::string("abcdx\0y", 7));
    dynStringDestroy(&s);
    EXPECT_EQ(s, nullptr);
    dynStringDestroy(&s);  // harmless
}

TEST(DynString, FormattedTextLongerThanTheFirstBuffer) {
    std::string big(5000, 'q');
    DynString* s = dynStringCreateFormatted("%s-%d", big.c_str(), 42);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s->text), big + "-42");
    EXPECT_EQ(s->length, 5003);
    ASSERT_EQ(dynStringAppendFormatted(s, "[%05d]", 7), 0);
    EXPECT_EQ(std::string(s->text + 5003), "[00007]");
    dynStringClear(s);
    EXPECT_EQ(s->length, 0);
    EXPECT_STREQ(s->text, "");
    char* text = dynStringDetach(&s);
    EXPECT_EQ(s, nullptr);
    EXPECT_STREQ(text, "");
    memFree(text);
    EXPECT_EQ(text, nullptr);
}

TEST(DynString, ResizeCutsTheText) {
    DynString* s = dynStringCreate("hello world");
    ASSERT_EQ(dynStringResize(s, 5), 0);
    EXPECT_STREQ(s->text, "hello");
    EXPECT_EQ(s->length, 5);
    ASSERT_EQ(dynStringAppend(s, "!"), 0);
    EXPECT_STREQ(s->text, "hello!");
    dynStringDestroy(&s);
}

TEST(Memory, ZeroSizeGivesNullAndReleaseNullsThePointer) {
    EXPECT_EQ(memAlloc(0), nullptr);
    auto* p = static_cast<unsigned char*>(memAlloc(64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
    memFree(p);
    EXPECT_EQ(p, nullptr);
    memFree(p);
}

TEST(MemoryDeathTest, AssertionPrintsTheCondition) {
    EXPECT_DEATH(ASSERT_a(1 + 1 == 3), "ASSERT_a failed: 1 \\+ 1 == 3");
}

TEST(DynString, AppendingItsOwnTextWhileGrowing) {
    // The source lies in the buffer that the append has to move.
    DynString* s = dynStringCreateWithCapacity(0, nullptr);
    ASSERT_EQ(dynStringAppend(s, "abc"), 0);
    std::string expect = "abc";
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(dynStringAppend(s, s->text), 0);
        expect += expect;
        ASSERT_EQ(dynStringAppendBytes(s, s->text + 1, 2), 0);
        expect += expect.substr(1, 2);
        ASSERT_EQ(dynStringAppendFormatted(s, "<%s>", s->text), 0);
        expect += "<" + expect + ">";
    }
    EXPECT_EQ(std::string(s->text, s->length), expect);
    dynStringDestroy(&s);
}

TEST(DynString, FormattedCreationAndAppendGrowByTheRules) {
    DynString* s = dynStringCreateFormatted("%d", 7);
    EXPECT_EQ(s->capacity, 1024);
    EXPECT_STREQ(s->text, "7");
    dynStringDestroy(&s);
    std::string big(3000, 'x');
    s = dynStringCreateFormatted("%s", big.c_str());
    EXPECT_EQ(s->capacity, 3001);
    dynStringDestroy(&s);

    // Formatted appends double the buffer like text appends, so building a long text
    // reallocates only a logarithmic number of times.
    s = dynStringCreate(nullptr);
    int growths = 0;
    int32_t last = s->capacity;
    for (int i = 0; i < 100000; ++i) {
        ASSERT_EQ(dynStringAppendFormatted(s, "%05d,", i), 0);
        if (s->capacity != last) ++growths;
        last = s->capacity;
    }
    EXPECT_EQ(s->length, 600000);
    EXPECT_LT(growths, 20);
    EXPECT_EQ(std::string(s->text + 6 * 12345, 6), "12345,");
    dynStringDestroy(&s);

    EXPECT_EQ(dynStringCreateFormatted(nullptr), nullptr);
    s = dynStringCreate("keep");
    EXPECT_EQ(dynStringAppendFormatted(s, nullptr), -1);
    EXPECT_EQ(dynStringAppend(s, nullptr), -1);
    EXPECT_EQ(dynStringAppendBytes(s, nullptr, 3), -1);
    EXPECT_STREQ(s->text, "keep");
    dynStringDestroy(&s);
}
