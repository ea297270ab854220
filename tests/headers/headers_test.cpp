// Header hygiene: the one-header includes bring every family in (a missing part is a
// compile error, not a silently smaller interface), the headers compile as C, and the
// version macros agree with each other.
#include <gtest/gtest.h>

#include <string>

#include "imex.h"
#include "ixo.h"

extern "C" int headersCompileAsC(void);

namespace {

TEST(PublicHeaders, EveryFamilyThroughOneHeaderAndAVersion) {
    // One function of each part of ixo.h and imex.h: none may be missing.
    EXPECT_NE(reinterpret_cast<void*>(&ixoCreateIxo), nullptr);              // ixo_api.h
    EXPECT_NE(reinterpret_cast<void*>(&ixoSetMaxReplySize), nullptr);        // ixo_api.h
    EXPECT_NE(reinterpret_cast<void*>(&ixoGetResultsFromBuffer), nullptr);   // ixo_results.h
    EXPECT_NE(reinterpret_cast<void*>(&ixoProcessContentToQuery), nullptr);  // ixo_text.h
    EXPECT_NE(reinterpret_cast<void*>(&ixoSetClientCache), nullptr);         // ixo_cache.h
    EXPECT_NE(reinterpret_cast<void*>(&ixoDoQueryToStructure), nullptr);     // ixo_query.h
    EXPECT_NE(reinterpret_cast<void*>(&ixoDeleteDocuments), nullptr);        // ixo_index.h
    EXPECT_NE(reinterpret_cast<void*>(&ixoGetInfoToStructure), nullptr);     // ixo_info.h
    EXPECT_EQ(headersCompileAsC(), 1);

    const std::string version = std::to_string(SAPIOLUX_VERSION_MAJOR) + "." +
                                std::to_string(SAPIOLUX_VERSION_MINOR) + "." +
                                std::to_string(SAPIOLUX_VERSION_PATCH);
    EXPECT_EQ(version, SAPIOLUX_VERSION);
    EXPECT_EQ(SAPIOLUX_VERSION_NUMBER,
              SAPIOLUX_MAKE_VERSION(SAPIOLUX_VERSION_MAJOR, SAPIOLUX_VERSION_MINOR,
                                    SAPIOLUX_VERSION_PATCH));
}

}  // namespace
