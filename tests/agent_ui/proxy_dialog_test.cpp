// The detection dialog: its lines, the chosen entry, cancelling, and the message when
// nothing was detected.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "agent/ui/ProxyDetectDialog.h"

using agent::DetectedProxy;
using agent::ui::CProxyDetectDialog;

namespace {

const std::vector<DetectedProxy> kEntries = {
    {"Firefox (manual)", "cache.example.org", 3128},
    {"System settings (desktop and environment)", "ORVIQ_AUTOPROXY", 0},
};

// Runs action on the modal window once it is up.
void whenModal(std::function<void(QWidget*)> action) {
    QTimer::singleShot(50, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal) action(modal);
    });
}

}  // namespace

TEST(ProxyDetectDialog, LinesChoiceAndCancel) {
    CProxyDetectDialog dialog(kEntries);
    EXPECT_EQ(dialog.windowTitle(), "Auto Detect Proxy Settings");
    ASSERT_EQ(dialog.list()->count(), 2);
    EXPECT_EQ(dialog.list()->item(0)->text(), "Firefox (manual): cache.example.org:3128");
    EXPECT_EQ(dialog.list()->item(1)->text(), "System settings (desktop and environment)");
    dialog.list()->setCurrentRow(1);
    ASSERT_TRUE(dialog.selected());
    EXPECT_EQ(dialog.selected()->host, "ORVIQ_AUTOPROXY");

    whenModal([](QWidget* w) {
        auto* d = qobject_cast<CProxyDetectDialog*>(w);
        ASSERT_NE(d, nullptr);
        d->list()->setCurrentRow(0);
        d->buttons()->button(QDialogButtonBox::Ok)->click();
    });
    auto chosen = agent::ui::chooseDetectedProxy(nullptr, kEntries);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->port, 3128);

    whenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(agent::ui::chooseDetectedProxy(nullptr, kEntries));
}

TEST(ProxyDetectDialog, NothingDetected) {
    QString title, text;
    whenModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    EXPECT_FALSE(agent::ui::chooseDetectedProxy(nullptr, {}));
    EXPECT_EQ(title, "Proxy Auto Detect");
    EXPECT_EQ(text, "No proxy settings were detected");
}
