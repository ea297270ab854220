#include <gtest/gtest.h>

#include <string>

#include "ixo_api.h"
#include "tests/common/tempdir.h"

using testing_support::TempDir;
using testing_support::writeWholeFile;

namespace {

class IxoFromConfig : public testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("client.ini");
    IXO ixo{};
    void TearDown() override { ixoDestroyIxo(&ixo); }
    int32_t load(const std::string& text, const char* section) {
        writeWholeFile(path, text);
        return ixoCreateIxoFromConfigFile(&ixo, path.c_str(), section);
    }
};

TEST_F(IxoFromConfig, ReadsEveryKey) {
    ASSERT_EQ(load("[Client]\nIxoHost=search.example\nQueryPort=6223\nIndexPort=6224\n"
                   "IxoRequestMethod=1\nIxoProxyHost=proxy.example\nIxoProxyPort=3128\n"
                   "IxoProxyUser=pu\nIxoProxyPass=pp\n",
                   "client"),
              IXO_OK);
    EXPECT_STREQ(ixo.host, "search.example");
    EXPECT_STREQ(ixo.address, "search.example");  // no address given: the host name
    EXPECT_EQ(ixo.queryPort, 6223);
    EXPECT_EQ(ixo.indexPort, 6224);
    EXPECT_EQ(ixo.requestMethod, 1);
    EXPECT_EQ(ixo.timeout, 60);
    EXPECT_STREQ(ixo.proxyHost, "proxy.example");
    EXPECT_EQ(ixo.proxyPort, 3128);
    EXPECT_STREQ(ixo.proxyUser, "pu");
    EXPECT_STREQ(ixo.proxyPassword, "pp");
}

TEST_F(IxoFromConfig, HostFallsBackThroughHostAndAddressAndDefault) {
    ASSERT_EQ(load("[A]\nIxoHost=\nHost=second.example\n", "A"), IXO_OK);
    EXPECT_STREQ(ixo.host, "second.example");
    EXPECT_EQ(ixo.queryPort, 0);
    EXPECT_EQ(ixo.requestMethod, 0);
    EXPECT_STREQ(ixo.proxyHost, "");

    ASSERT_EQ(load("[A]\nIPAddress=127.0.0.1\nQueryPort=80\n", "A"), IXO_OK);
    EXPECT_STREQ(ixo.host, "127.0.0.1");
    EXPECT_EQ(ixo.queryPort, 80);

    // Keys the section lacks come from DEFAULT.
    ASSERT_EQ(load("[Default]\nHost=shared.example\nIndexPort=9\n[B]\nQueryPort=8\n", "b"), IXO_OK);
    EXPECT_STREQ(ixo.host, "shared.example");
    EXPECT_EQ(ixo.queryPort, 8);
    EXPECT_EQ(ixo.indexPort, 9);
}

TEST_F(IxoFromConfig, FailuresGiveBadParameter) {
    EXPECT_EQ(load("[A]\nQueryPort=80\n", "A"), IXO_ERR_PARAMETER);  // no host key
    EXPECT_EQ(load("[A]\nHost=x\n", "Other"), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoCreateIxoFromConfigFile(&ixo, dir.file("missing.ini").c_str(), "A"),
              IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoCreateIxoFromConfigFile(&ixo, nullptr, "A"), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoCreateIxoFromConfigFile(&ixo, path.c_str(), nullptr), IXO_ERR_PARAMETER);
    EXPECT_EQ(ixoCreateIxoFromConfigFile(nullptr, path.c_str(), "A"), IXO_ERR_PARAMETER);
}

TEST_F(IxoFromConfig, OverlongHostOrProxyIsRefused) {
    // A cut name would send the requests (or the proxy traffic) to another host.
    std::string longHost(IXO_PROXY_SIZE, 'p');
    EXPECT_EQ(load("[A]\nHost=h\nIxoProxyHost=" + longHost + "\nIxoProxyPort=1\n", "A"),
              IXO_ERR_PARAMETER);
    EXPECT_STREQ(ixo.proxyHost, "");
    EXPECT_EQ(load("[A]\nIxoHost=" + std::string(IXO_HOST_SIZE, 'h') + "\n", "A"),
              IXO_ERR_PARAMETER);
}

}  // namespace
