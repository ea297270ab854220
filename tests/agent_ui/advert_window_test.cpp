// Adverts in the window: nothing is asked while off; once on, fetched once per run when a
// server is located and drawn during the logo period.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QThread>

#include "tests/agent_ui/window_fixture.h"

namespace {

using namespace agent_ui_test;

std::string redBitmap() {
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes.toStdString();
}

TEST_F(WindowTest, AdvertsAreFetchedWhenOnAndDrawnInTheLogoPeriod) {
    LoopbackServer web, adverts;
    web.setReply(resultsReply("Hit", 3));
    // Every query finds two adverts; only the red one has a banner.
    adverts.setHandler([](const std::string& request) {
        if (request.rfind("GET /banners/red.bmp ", 0) == 0)
            return LoopbackServer::httpReply(redBitmap(), "image/bmp");
        if (request.rfind("GET /banners/", 0) == 0)
            return LoopbackServer::httpReply("<html>gone</html>", "text/html", 404);
        return LoopbackServer::httpReply(
            "numhits=2\nDoc_name=red.bmp\nURL_title=Red\nDoc_weight=50\n"
            "Doc_name=gone.bmp\nURL_title=Gone\nDoc_weight=40\n");
    });
    loadSettings(web.port());
    settings_.ExtSetText("ADVERTIXO", "127.0.0.1");
    settings_.ExtSetNumber("ADVERTQUERYPORT", adverts.port());
    settings_.ExtSetText("ADVERTDOWNLOADHOST", "127.0.0.1:" + std::to_string(adverts.port()));
    settings_.ExtSetText("ADVERTPREFIX", "/banners/");
    settings_.ExtSetText("ADVERTDATABASE", "Adverts");
    settings_.ExtSetFlag("SHOWADVERTS", true);  // ADVERTSHOWTIME stays 0: still off
    CSapioluxDlg& dlg = makeDialog();
    dlg.ServerLocated();
    dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange);
    QThread::msleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(adverts.connectionCount(), 0u);

    settings_.ExtSetNumber("ADVERTSHOWTIME", 2000);
    dlg.ServerLocated();
    for (int waited = 0; dlg.advertCount() == 0 && waited < 10000; waited += 20) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    ASSERT_EQ(dlg.advertCount(), 1u);
    EXPECT_EQ(dlg.currentAdvert(), 0);
    auto* logo = dlg.findChild<QLabel*>(QStringLiteral("ctl%1").arg(agent::ui::kIdQueryLogo));
    ASSERT_TRUE(logo);
    dlg.OnNewText(kOtherPassage, agent::ui::kOriginWindowChange);
    EXPECT_EQ(logo->pixmap().toImage().pixelColor(1, 1), QColor(Qt::red));
    EXPECT_EQ(logo->toolTip(), "Red");
    const size_t requests = adverts.requestCount();
    dlg.ServerLocated();
    QThread::msleep(200);
    EXPECT_EQ(adverts.requestCount(), requests);
}

}  // namespace
