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
