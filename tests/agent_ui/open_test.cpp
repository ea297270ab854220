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

#include "agent/opener.h"
#include "tests/agent_ui/window_fixture.h"

namespace {

using namespace agent_ui_test;

class OpenFromWindow : public WindowTest {
  protected:
    CSapioluxDlg& connectedDialog(int port) {
        loadSettings(port);
        settings_.ExtSetText("map_GB_prefix", "http://maps.example/?x=1");
        settings_.ExtSetText("map_GB_postcode", "pc");
        settings_.ExtSave();
        CSapioluxDlg& dlg = makeDialog();
        dlg.ServerLocated();
        return dlg;
    }
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
    dlg.OnNewText(std::string(kPassage) + "\nLondon SW1A 2AA", agent::ui::kOriginWindowChange);
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
