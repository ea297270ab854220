// Adverts in the window: fetched once a server is located, drawn during the logo
// period, and nothing at all while they are switched off. New text contributes to the
// community source.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QThread>
#include <chrono>
#include <filesystem>
#include <functional>

#include "tests/agent_ui/window_fixture.h"

namespace {

using namespace agent_ui_test;

std::string bitmapOf(QColor colour) {
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes.toStdString();
}

bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
    for (int waited = 0; waited < ms; waited += 20) {
        QCoreApplication::processEvents();
        if (done()) return true;
        QThread::msleep(20);
    }
    return done();
}

class AdvertWindowTest : public WindowTest {
  protected:
    // The advert server answers every query with two adverts and serves their banners.
    void switchAdvertsOn() {
        adverts_.setHandler([](const std::string& request) {
            if (request.rfind("GET /banners/red.bmp ", 0) == 0)
                return LoopbackServer::httpReply(bitmapOf(Qt::red), "image/bmp");
            if (request.rfind("GET /banners/blue.bmp ", 0) == 0)
                return LoopbackServer::httpReply(bitmapOf(Qt::blue), "image/bmp");
            return LoopbackServer::httpReply(
                "numhits=2\nDoc_name=red.bmp\nURL_title=Red\nDoc_weight=50\n"
                "Doc_name=blue.bmp\nURL_title=Blue\nDoc_weight=40\n");
        });
        settings_.ExtSetText("ADVERTIXO", "127.0.0.1");
        settings_.ExtSetNumber("ADVERTQUERYPORT", adverts_.port());
        settings_.ExtSetText("ADVERTDOWNLOADHOST", "127.0.0.1:" + std::to_string(adverts_.port()));
        settings_.ExtSetText("ADVERTPREFIX", "/banners/");
        settings_.ExtSetText("ADVERTDATABASE", "Adverts");
        settings_.ExtSave();
    }
    LoopbackServer web_, adverts_;
};

TEST_F(AdvertWindowTest, TheFetchedAdvertIsDrawnInTheLogoPeriod) {
    web_.setReply(resultsReply("Hit", 3));
    loadSettings(web_.port());
    switchAdvertsOn();
    settings_.ExtSetFlag("SHOWADVERTS", true);
    settings_.ExtSetNumber("ADVERTSHOWTIME", 2000);
    settings_.ExtSave();
    CSapioluxDlg& dlg = makeDialog();
    EXPECT_EQ(dlg.currentAdvert(), -1);
    dlg.ServerLocated();
    ASSERT_TRUE(waitUntil([&] { return dlg.advertCount() == 2; }));
    EXPECT_EQ(dlg.currentAdvert(), 0);
    EXPECT_TRUE(std::filesystem::exists("BannerAds/red.bmp"));

    auto* logo = dlg.findChild<QLabel*>(QStringLiteral("ctl%1").arg(agent::ui::kIdQueryLogo));
    ASSERT_TRUE(logo);
    dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange);
    EXPECT_EQ(logo->pixmap().toImage().pixelColor(1, 1), QColor(Qt::red));
    EXPECT_EQ(logo->toolTip(), "Red");
    // A second located server starts no second fetch.
    const size_t requests = adverts_.requestCount();
    dlg.ServerLocated();
    QThread::msleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(adverts_.requestCount(), requests);
}

TEST_F(AdvertWindowTest, SwitchedOffNothingIsAskedOrWritten) {
    web_.setReply(resultsReply("Hit", 3));
    loadSettings(web_.port());
    switchAdvertsOn();
    settings_.ExtSetFlag("SHOWADVERTS", true);  // ADVERTSHOWTIME stays 0
    settings_.ExtSave();
    CSapioluxDlg& dlg = makeDialog();
    dlg.ServerLocated();
    dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange);
    QThread::msleep(300);
    QCoreApplication::processEvents();
    EXPECT_EQ(adverts_.connectionCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists("BannerAds"));
    EXPECT_EQ(dlg.currentAdvert(), -1);
}

TEST_F(AdvertWindowTest, NewTextContributesToTheCommunityOnceAnHour) {
    web_.setReply(resultsReply("Hit", 3));
    loadSettings(web_.port());
    LoopbackServer community;
    community.setReply(LoopbackServer::httpReply("INDEXID=1\nDOCUMENTS=1\n"));
    settings_.ExtSetFlag("SHOWCOMMUNITY", true);
    settings_.ExtSetFlag("COMMUNITYSHOWME", true);
    settings_.ExtSetText("COMMUNITYIXO", "127.0.0.1");
    settings_.ExtSetNumber("COMMUNITYQUERYPORT", community.port());
    settings_.ExtSetNumber("COMMUNITYINDEXPORT", community.port());
    settings_.ExtSave();
    settings_.SetUsername("ann");
    CSapioluxDlg& dlg = makeDialog();
    dlg.ServerLocated();
    dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange);
    ASSERT_TRUE(community.waitForRequests(1, std::chrono::seconds(10)));
    const std::string request = community.lastRequest();
    EXPECT_EQ(request.rfind("POST /IXOADDDATA?", 0), 0u) << request;
    EXPECT_NE(request.find("\r\n\r\n#IXOREFERENCE ann-"), std::string::npos) << request;
    EXPECT_NE(request.find("#IXOFIELD DOCTYPE=\"People\""), std::string::npos) << request;
    // The next text within the hour updates the profile but sends nothing.
    dlg.OnNewText(kOtherPassage, agent::ui::kOriginWindowChange);
    QThread::msleep(300);
    EXPECT_EQ(community.requestCount(), 1u);
}

}  // namespace
