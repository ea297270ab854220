// The options sheet: page flags, range checks, OK storing everything or nothing, the
// hot-key and IXO pages, proxy detection, and the window taking the changes over.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "agent/ui/SettingsSheet.h"
#include "tests/agent_ui/window_fixture.h"

namespace {

using namespace agent_ui_test;
using agent::ui::CSettingsSheet;
using agent::ui::SettingsSheetEnv;
using platform::RegHive;

// A file's bytes, or a marker when it does not exist.
std::string bytesOf(RegHive hive) {
    const std::string file = platform::regHiveFile(hive);
    return std::filesystem::exists(file) ? testing_support::readWholeFile(file) : "(none)";
}

class SettingsSheetTest : public WindowTest {
  protected:
    void showPages(bool on) {
        for (const char* flag :
             {"ShowIxoSettingsPage", "ShowProxySettingsPage", "ShowPreferencesSettingsPage",
              "ShowHotKeySettingsPage", "ShowAdvancedSettingsPage", "ShowStrippingSettingsPage",
              "ShowUrlManipulationSettingsPage"})
            setNumber(RegHive::User, "Pages", flag, on ? 1 : 0);
    }
    SettingsSheetEnv env() {
        SettingsSheetEnv e;
        e.settings = &settings_;
        e.messages = &boxes_;
        e.hotKeys = &hotKeys_;
        return e;
    }
    template <typename T = QLineEdit>
    static T* control(QWidget& sheet, const char* name) {
        T* c = sheet.findChild<T*>(name);
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    std::string lastMessage() const { return boxes_.shown.empty() ? "" : boxes_.shown.back().text; }
    // Opens the window's sheet and lets fill act on it while it runs.
    static void runSheet(CSapioluxDlg& dlg, const std::function<void(CSettingsSheet&)>& fill) {
        QTimer::singleShot(0, [&] {
            if (auto* sheet = dlg.findChild<CSettingsSheet*>()) fill(*sheet);
        });
        dlg.OpenOptions();
    }
};

TEST_F(SettingsSheetTest, PagesFollowTheirFlagsInOrder) {
    showPages(true);
    settings_.Load();
    settings_.ExtSetFlag("ShowCommunity", true);
    CSettingsSheet sheet(nullptr, env());
    QStringList titles;
    for (int i = 0; i < sheet.pageCount(); ++i) titles << sheet.page(i)->title();
    EXPECT_EQ(titles, QStringList({"Proxy", "Preferences", "HotKey", "IXO", "Advanced", "Stripping",
                                   "URL Manipulation", "Community"}));
}

TEST_F(SettingsSheetTest, RefusedValuesKeepTheSheetOpenAndCancelKeepsNothing) {
    showPages(true);
    settings_.Load();
    const std::string userBefore = bytesOf(RegHive::User);
    const std::string overlayBefore = bytesOf(RegHive::MachineOverlay);
    CSettingsSheet sheet(nullptr, env());
    control(sheet, "NSuggests")->setText("12");  // valid, on a page checked first

    const struct {
        const char *field, *value, *page, *message;
    } refused[] = {
        {"Threshold", "100", "Preferences", "You must specify a similarity between 0% and 99%"},
        {"WindowChangedInterval", "49", "Advanced",
         "You must specify a window changed interval between 50 and 5000 milliseconds"},
        {"ClientCacheTime", "7201", "Advanced",
         "You must specify a IXO client cache time between 0 and 7200 seconds"},
        {"StoplistFilename", "", "Stripping", "You must specify a stoplist filename"},
    };
    control<QCheckBox>(sheet, "UseStoplist")->setChecked(true);
    for (const auto& c : refused) {
        QLineEdit* field = control(sheet, c.field);
        const QString good = field->text();
        field->setText(c.value);
        sheet.accept();
        EXPECT_NE(sheet.result(), QDialog::Accepted) << c.field;
        EXPECT_EQ(lastMessage(), c.message);
        EXPECT_EQ(sheet.tabs()->currentWidget()->objectName(), c.page);
        EXPECT_EQ(field->selectedText(), field->text());
        field->setText(good);
    }
    // The bounds themselves pass: the refusal now comes from the last page checked.
    control(sheet, "Threshold")->setText("99");
    control(sheet, "WindowChangedInterval")->setText("50");
    control(sheet, "ClientCacheTime")->setText("7200");
    control(sheet, "StoplistFilename")->clear();
    sheet.accept();
    EXPECT_EQ(lastMessage(), "You must specify a stoplist filename");
    sheet.reject();
    EXPECT_EQ(bytesOf(RegHive::User), userBefore);
    EXPECT_EQ(bytesOf(RegHive::MachineOverlay), overlayBefore);
    EXPECT_EQ(settings_.GetNSuggests(), 6);
}

TEST_F(SettingsSheetTest, HotKeyPageReadsTheSeamAndTakesTheKeyOnOk) {
    settings_.Load();
    hotKeys_.registerKey(agent::ui::kHotKeyId, 'G', 3);  // the agent's own key
    hotKeys_.takenElsewhere.insert({'J', 3});
    CSettingsSheet sheet(nullptr, env());
    QLineEdit* key = control(sheet, "HotKeyCode");
    QLabel* status = control<QLabel>(sheet, "HotKeyStatus");
    EXPECT_EQ(key->text(), "G");
    EXPECT_EQ(status->text(), "Current selection");
    auto type = [&](const char* text) {
        key->clear();
        QTest::keyClicks(key, text);
        return status->text();
    };
    EXPECT_EQ(type("h"), "Available for use");
    EXPECT_EQ(key->text(), "H");  // a lower-case letter would name another key
    EXPECT_EQ(type("J"), "Already in use by another application");

    // A key another program holds is refused at OK and the old key stays.
    type("j");
    sheet.accept();
    EXPECT_NE(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(lastMessage(),
              "Unable to register Sapiolux Suggestion HotKey. Please select another.");
    EXPECT_EQ(hotKeys_.held[agent::ui::kHotKeyId], std::make_pair(int('G'), 3));

    type("k");
    control<QCheckBox>(sheet, "HotKeyShift")->setChecked(true);
    sheet.accept();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(hotKeys_.held[agent::ui::kHotKeyId], std::make_pair(int('K'), 7));
    agent::CAppParameters again;
    again.Load();
    EXPECT_EQ(again.GetHotKeyCode(), 'K');
    EXPECT_EQ(again.GetHotKeyModifier(), 7);
}

// Taking the server's databases on OK is shown by the window test below.
TEST_F(SettingsSheetTest, IxoPageRefusesAPortWhereNoServerAnswers) {
    settings_.Load();
    settings_.ExtSetText("IXO", "127.0.0.1");
    settings_.ExtSetNumber("PORT", 1);
    CSettingsSheet sheet(nullptr, env());
    control(sheet, "IxoPort")->setText(QString::number(agent_test::freePort()));
    sheet.accept();
    EXPECT_NE(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(lastMessage(), "Ixo not found!");
    EXPECT_EQ(settings_.ExtGetNumber("PORT"), 1);
}

TEST_F(SettingsSheetTest, AutoDetectFillsTheProxyPage) {
    settings_.Load();
    const agent::ui::DetectedProxyEntry manual{"Netscape 4.x (Manual)", "cache", 3128};
    const agent::ui::DetectedProxyEntry system{"Microsoft Internet Explorer (System Settings)",
                                               "ORVIQ_AUTOPROXY", 80};
    agent::ui::DetectedProxyEntry pick = manual;
    SettingsSheetEnv e = env();
    e.proxyDetection.detect = [&] { return std::vector{manual, system}; };
    e.proxyDetection.choose = [&](QWidget*, const auto& list) {
        EXPECT_EQ(list.size(), 2u);
        return std::optional(pick);
    };
    CSettingsSheet sheet(nullptr, e);
    control(sheet, "ProxyUsername")->setText("me");
    QTest::mouseClick(control<QPushButton>(sheet, "AutoDetect"), Qt::LeftButton);
    EXPECT_TRUE(control<QRadioButton>(sheet, "CustomProxy")->isChecked());
    EXPECT_EQ(control(sheet, "ProxyHost")->text(), "cache");
    EXPECT_EQ(control(sheet, "ProxyPort")->text(), "3128");
    pick = system;
    QTest::mouseClick(control<QPushButton>(sheet, "AutoDetect"), Qt::LeftButton);
    EXPECT_TRUE(control<QRadioButton>(sheet, "SystemProxy")->isChecked());
    EXPECT_TRUE(control(sheet, "ProxyHost")->text().isEmpty());
    EXPECT_TRUE(control(sheet, "ProxyUsername")->text().isEmpty());
    sheet.accept();
    ASSERT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(settings_.GetUseProxy(), 1);
    EXPECT_EQ(settings_.GetProxyHost(), "ORVIQ_AUTOPROXY");
    EXPECT_EQ(settings_.GetProxyPort(), 0);
}

TEST_F(SettingsSheetTest, AdultFilterNeedsTheRegistrationPassword) {
    settings_.Load();
    settings_.SetPassword("Secret1");
    agent::ui::CAdultContentDialog dialog(nullptr, settings_.GetPassword(), &boxes_);
    dialog.field()->setText("secret1");
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(boxes_.shown.empty() ? "" : boxes_.shown.back().caption, "Password incorrect");
    dialog.field()->setText("Secret1");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// The window opens the sheet from its Options button; after OK its changes take effect
// and a machine-wide change outlives a restart with the machine hive read-only.
TEST_F(SettingsSheetTest, OkTakesEffectInTheWindowAndLastsForANormalUser) {
    setNumber(RegHive::User, "Window", "IsAppBar", 0);
    setNumber(RegHive::User, "Pages", "ShowAdvancedSettingsPage", 1);
    ::chmod(platform::regHiveFile(RegHive::Machine).c_str(), 0444);
    const std::string machineBefore = bytesOf(RegHive::Machine);
    settings_.Load();
    CSapioluxDlg& dlg = makeDialog();
    dlg.show();
    ASSERT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
    const int heightBefore = dlg.height();

    bool sawSheet = false;
    QTimer::singleShot(0, [&] {
        auto* sheet = dlg.findChild<CSettingsSheet*>();
        if (!sheet) return;
        sawSheet = dlg.isSheetOpen();
        control<QCheckBox>(*sheet, "AlwaysOnTop")->setChecked(false);
        control(*sheet, "MinWordsForQuery")->setText("5");
        control(*sheet, "HotKeyCode")->setText("Q");
        sheet->accept();
    });
    QTest::mouseClick(dlg.findChild<QWidget*>("ctl1009"), Qt::LeftButton);
    EXPECT_TRUE(sawSheet);
    EXPECT_FALSE(dlg.isSheetOpen());
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.height(), heightBefore);
    EXPECT_EQ(hotKeys_.held[agent::ui::kHotKeyId], std::make_pair(int('Q'), 3));

    agent::CAppParameters again;
    again.Load();
    EXPECT_EQ(again.GetMinWordsForQuery(), 5);
    EXPECT_EQ(again.GetAlwaysOnTop(), 0);
    EXPECT_EQ(bytesOf(RegHive::Machine), machineBefore);
}

TEST_F(SettingsSheetTest, AValueThatCannotBeSavedIsReported) {
    setNumber(RegHive::User, "Suggestions", "Threshold", 37);
    ::chmod(platform::regHiveFile(RegHive::User).c_str(), 0444);
    settings_.Load();
    CSettingsSheet sheet(nullptr, env());
    control(sheet, "NSuggests")->setText("9");
    sheet.accept();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_NE(lastMessage().find("could not be saved: NSuggests"), std::string::npos)
        << lastMessage();
    EXPECT_EQ(settings_.GetNSuggests(), 9);  // for the rest of the run
}

TEST_F(SettingsSheetTest, TheWindowRelaysItsLinesAndAsksTheNewServerAgain) {
    LoopbackServer first, second;
    first.setReply(resultsReply("Rock", 3));
    // The new server answers the information request as a retrieval server, then queries.
    second.setHandler([](const std::string& request) {
        if (request.find("qmethod=V") != std::string::npos)
            return LoopbackServer::httpReply("PRODUCT=test server\nDATABASES=1[web]\n");
        return resultsReply("Other", 3);
    });
    CSapioluxDlg& dlg = connectedDialog(first.port());
    QSignalSpy filled(&dlg, &CSapioluxDlg::listFilled);
    ASSERT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange), 1);
    dlg.endLogoPeriod();
    ASSERT_TRUE(filled.wait(10000));
    ASSERT_EQ(lines(dlg).value(0), "90%   Rock 0");

    runSheet(dlg, [&](CSettingsSheet& sheet) {
        control<QCheckBox>(sheet, "ShowSimilarity")->setChecked(false);
        sheet.accept();
    });
    EXPECT_EQ(lines(dlg).value(0), "Rock 0");

    runSheet(dlg, [&](CSettingsSheet& sheet) {
        control(sheet, "IxoPort")->setText(QString::number(second.port()));
        sheet.accept();
    });
    EXPECT_EQ(settings_.GetIxoDatabasesSelected(), "web");
    ASSERT_TRUE(filled.wait(10000));
    EXPECT_EQ(lines(dlg).value(0), "Other 0");
}

TEST_F(SettingsSheetTest, AccountPageChecksItsFieldsAndTheServerBeforeStoring) {
    setNumber(RegHive::Machine, "AppInternetVersion", "InternetVersion", 1);
    settings_.Load();
    SettingsSheetEnv e = env();
    std::string serverSays = "The password you have supplied is incorrect.";
    int asked = 0;
    e.accountCheck = [&](const std::string& user, const std::string& password,
                         const std::string& email) {
        ++asked;
        EXPECT_EQ(user + "/" + password + "/" + email, "reader-1/abcde/r@example.org");
        return serverSays;
    };
    CSettingsSheet sheet(nullptr, e);
    ASSERT_NE(sheet.page("Account"), nullptr);
    auto refusedWith = [&] {
        sheet.accept();
        return sheet.result() == QDialog::Accepted ? std::string("(accepted)") : lastMessage();
    };
    control(sheet, "Username")->setText("reader 1");
    EXPECT_EQ(refusedWith(), "Your user name can only contain the characters a-Z, 0-9.");
    control(sheet, "Username")->setText("reader-1");
    control(sheet, "Password")->setText("abcde");
    control(sheet, "PasswordAgain")->setText("abcde");
    control(sheet, "EmailAddress")->setText("r@example.org");
    EXPECT_EQ(refusedWith(), serverSays);
    EXPECT_EQ(settings_.GetUsername(), "");
    serverSays.clear();
    EXPECT_EQ(refusedWith(), "(accepted)");
    EXPECT_EQ(asked, 2);
    agent::CAppParameters again;
    again.Load();
    EXPECT_EQ(again.GetPassword(), "abcde");
    struct stat st {};
    ASSERT_EQ(::stat(platform::regHiveFile(RegHive::User).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
