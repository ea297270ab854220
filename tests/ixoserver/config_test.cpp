// The server's start-up settings read from ixo/ixo.ini.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "server/srvconfig.h"
#include "tests/common/tempdir.h"

using namespace ixoserver;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

namespace {

std::string iniOf(const testing_support::TempDir& dir) {
    return (dir.path() / "ixo" / "ixo.ini").string();
}

}  // namespace

TEST(ServerConfig, AMissingFileIsWrittenWithTheDefaults) {
    testing_support::TempDir dir;
    ServerConfig config;
    std::string error;
    ASSERT_TRUE(loadServerConfig(dir.path().string(), config, error)) << error;
    // The defaults, with the index and query pairs generated at this first start.
    std::string written = defaultIniText();
    for (const auto& [key, value] : {std::pair{"INDEXUSER", config.indexUser},
                                     {"INDEXPASSWORD", config.indexPassword},
                                     {"QUERYUSER", config.queryUser},
                                     {"QUERYPASSWORD", config.queryPassword}})
        written = setIniServerValue(written, key, value);
    EXPECT_EQ(readWholeFile(iniOf(dir)), written);
    const ServerConfig defaults;
    EXPECT_EQ(config.queryPort, 6223);
    EXPECT_EQ(config.indexPort, 6224);
    EXPECT_EQ(config.directory, defaults.directory);
    EXPECT_EQ(config.bindAddress, "127.0.0.1");
    EXPECT_EQ(config.workerThreads, defaults.workerThreads);
    EXPECT_EQ(config.maxBodyBytes, defaults.maxBodyBytes);
    EXPECT_EQ(config.maxHeaderBytes, defaults.maxHeaderBytes);
    EXPECT_EQ(config.commitIntervalMs, defaults.commitIntervalMs);
    EXPECT_FALSE(config.indexUser.empty());
    EXPECT_FALSE(config.indexPassword.empty());
    EXPECT_EQ(config.dataPath(), (dir.path() / "ixo/data").string());

    // Read again, the written file gives the same settings and stays as it is.
    ServerConfig again;
    ASSERT_TRUE(loadServerConfig(dir.path().string(), again, error));
    EXPECT_EQ(again.queryPort, 6223);
    EXPECT_EQ(readWholeFile(iniOf(dir)), written);
}

TEST(ServerConfig, ReadsEveryKeyAndKeepsDefaultsForBadValues) {
    testing_support::TempDir dir;
    std::filesystem::create_directories(dir.path() / "ixo");
    writeWholeFile(iniOf(dir),
                   "[other]\nQUERYPORT=1\n"
                   "[ server ]\r\n"
                   "; a comment line\n"
                   "  queryport = 7000  \n"
                   "IndexPort=0\n"
                   "DIRECTORY=C:\\ixo\\store\n"
                   "BINDADDRESS=0.0.0.0\n"
                   "WORKERTHREADS=500\n"    // out of range: default
                   "MAXBODYBYTES=12ab\n"    // a number with junk after it
                   "MAXHEADERBYTES=lots\n"  // not a number: default
                   "COMMITINTERVALMS=99999999999999999999\n"
                   "INDEXUSER=admin\n"
                   "INDEXPASSWORD=\"p\\\"w\"\n"
                   "[DEFAULT]\nCOMMITINTERVALMS=5\n");
    ServerConfig config;
    std::string error;
    ASSERT_TRUE(loadServerConfig(dir.path().string(), config, error)) << error;
    EXPECT_EQ(config.queryPort, 7000);
    EXPECT_EQ(config.indexPort, 0);
    EXPECT_EQ(config.directory, "C:/ixo/store");
    EXPECT_EQ(config.bindAddress, "0.0.0.0");
    EXPECT_EQ(config.workerThreads, 4);
    EXPECT_EQ(config.maxBodyBytes, 64u << 20);  // 12 is below the smallest allowed
    EXPECT_EQ(config.maxHeaderBytes, 64u << 10);
    EXPECT_EQ(config.commitIntervalMs, 500);
    EXPECT_EQ(config.indexUser, "admin");
    EXPECT_EQ(config.indexPassword, "p\"w");

    // A key missing from SERVER is taken from DEFAULT.
    writeWholeFile(iniOf(dir), "[DEFAULT]\nQUERYPORT=7100\n[SERVER]\nINDEXPORT=7101\n");
    ServerConfig fallback;
    ASSERT_TRUE(loadServerConfig(dir.path().string(), fallback, error));
    EXPECT_EQ(fallback.queryPort, 7100);
    EXPECT_EQ(fallback.indexPort, 7101);
}

TEST(ServerConfig, AnUnreadableFileIsAnErrorAndIsNotReplaced) {
    testing_support::TempDir dir;
    std::filesystem::create_directories(dir.path() / "ixo" / "ixo.ini");
    ServerConfig config;
    std::string error;
    EXPECT_FALSE(loadServerConfig(dir.path().string(), config, error));
    EXPECT_NE(error.find("ixo.ini"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "ixo" / "ixo.ini"));
}
