// The detection dialog: its lines, the chosen entry, cancelling, and nothing detected.
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
    {"Browser (manual)", "cache.example.org", 3128},
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

TEST(ProxyDetectDialog, LinesChoiceCancelAndNothingDetected) {
    CProxyDetectDialog dialog(kEntries);
    ASSERT_EQ(dialog.list()->count(), 2);
    EXPECT_EQ(dialog.list()->item(0)->text(), "Browser (manual): cache.example.org:3128");
    EXPECT_EQ(dialog.list()->item(1)->text(), "System settings (desktop and environment)");
    whenModal([](QWidget* w) {
        auto* d = qobject_cast<CProxyDetectDialog*>(w);
        ASSERT_NE(d, nullptr);
        d->list()->setCurrentRow(1);
        d->buttons()->button(QDialogButtonBox::Ok)->click();
    });
    auto chosen = agent::ui::chooseDetectedProxy(nullptr, kEntries);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->host, "ORVIQ_AUTOPROXY");
    whenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(agent::ui::chooseDetectedProxy(nullptr, kEntries));

    QString text;
    whenModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        text = box->text();
        box->accept();
    });
    EXPECT_FALSE(agent::ui::chooseDetectedProxy(nullptr, {}));
    EXPECT_EQ(text, "No proxy settings were detected");
}
