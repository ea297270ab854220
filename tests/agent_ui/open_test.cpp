// Clicking a suggestion opens it through the window's document opener; refusals show on
// the status line; the Info button offers the generated links of the last text.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/opener.h"
#include "agent/service.h"
#include "agent/ui/SapioluxDlg.h"
#include "platform/desktop.h"
#include "platform/docopen.h"
#include "platform/messagebox.h"
#include "platform/registry.h"
#include "tests/agent_core/agent_test_support.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

namespace {

using agent::ui::CSapioluxDlg;
using testing_support::LoopbackServer;
using testing_support::TempDir;

const char kPassage[] =
    "Granite and basalt are igneous rocks; quartz crystals grow in granite while basalt "
    "cools quickly from lava flows near volcanic ridges.\nLondon SW1A 2AA";

class OpenFromWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        hives_ = std::make_unique<agent_test::ScopedHives>(dir_.path());
        std::filesystem::create_directories(dir_.path() / "work");
        oldCwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path() / "work");
        platform::regWriteNumber(platform::RegHive::Machine, agent::settingsKey("Miscellaneous"),
                                 "QueryLogoPeriod", 1);
    }
    void TearDown() override {
        dialog_.reset();
        std::filesystem::current_path(oldCwd_);
    }

    CSapioluxDlg& connectedDialog(int port) {
        settings_.Load();
        settings_.ExtSetText("IXO", "127.0.0.1");
        settings_.ExtSetNumber("PORT", port);
        settings_.ExtSetNumber("SOURCE", agent::kSourceWeb);
        settings_.ExtSetText("WEBDATABASES", "web");
        settings_.ExtSetFlag("NOCOMPRESS", true);
        settings_.ExtSetFlag("NOENCRYPTQUERY", true);
        settings_.ExtSetText("map_GB_prefix", "http://maps.example/?x=1");
        settings_.ExtSetText("map_GB_postcode", "pc");
        settings_.ExtSave();
        CSapioluxDlg::Env env;
        env.settings = &settings_;
        env.desktop = &desktop_;
        env.messages = &boxes_;
        env.dataDir = std::string(SAPIOLUX_SOURCE_DIR) + "/agent/data";
        env.probeTimeoutSeconds = 1;
        env.opener = &opener_;
        dialog_ = std::make_unique<CSapioluxDlg>(env);
        dialog_->ServerLocated();
        return *dialog_;
    }

    TempDir dir_;
    std::unique_ptr<agent_test::ScopedHives> hives_;
    std::filesystem::path oldCwd_;
    agent::CAppParameters settings_;
    platform::FakeDesktop desktop_;
    platform::RecordingMessageBox boxes_;
    platform::FakeDocumentOpener opener_;
    std::unique_ptr<CSapioluxDlg> dialog_;
};

TEST_F(OpenFromWindow, ClickOpensOrTellsWhyNot) {
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply(
        "numhits=3\n"
        "Doc_name=http://example.org/page.html\nURL_title=Page\nDoc_id=1\nDoc_weight=90\n"
        "links=\ndbase=0\n"
        "Doc_name=javascript:alert(1)\nURL_title=Script\nDoc_id=2\nDoc_weight=80\nlinks=\n"
        "dbase=0\n"
        "Doc_name=x\nURL_title=Person\nDoc_id=3\nDoc_weight=70\nlinks=\ndbase=0\n"
        "DocType=PEOPLE\n"));
    CSapioluxDlg& dlg = connectedDialog(server.port());
    dlg.resize(300, 160);
    dlg.show();
    QSignalSpy filled(&dlg, &CSapioluxDlg::listFilled);
    dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange);
    dlg.endLogoPeriod();
    ASSERT_TRUE(filled.wait(10000));
    QListWidget* list = dlg.resultsList();
    ASSERT_EQ(list->count(), 3);

    emit list->itemClicked(list->item(0));
    EXPECT_EQ(opener_.opened, std::vector<std::string>{"http://example.org/page.html"});
    emit list->itemClicked(list->item(1));
    EXPECT_EQ(dlg.statusText(), agent::kTextUnsafeAddress);
    dlg.ShowResults(false);
    emit list->itemClicked(list->item(2));
    EXPECT_EQ(dlg.statusText(), agent::kTextNoContact);
    EXPECT_EQ(opener_.opened.size(), 1u);

    // The postal address in the text gave a map link: the Info button is lit, and its
    // menu item (id 8000) opens the link.
    auto* info = dlg.findChild<QToolButton*>("ctl1099");
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(info->isEnabled());
    QString itemText;
    int itemId = -1;
    QTimer::singleShot(100, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || menu->actions().isEmpty()) return;
        QAction* first = menu->actions().first();
        itemText = first->text();
        itemId = first->data().toInt();
        menu->setActiveAction(first);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    info->click();
    EXPECT_EQ(itemId, 8000);
    EXPECT_TRUE(itemText.startsWith("Map: ")) << itemText.toStdString();
    ASSERT_EQ(opener_.opened.size(), 2u);
    EXPECT_EQ(opener_.opened[1], "http://maps.example/?x=1&pc=SW1A%202AA");
}

}  // namespace
