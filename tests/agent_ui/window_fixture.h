// What the window tests share: settings hives, the agent's working folder and a private
// runtime folder in a temporary folder, fake platform seams, and the window made on them.
#pragma once

#include <gtest/gtest.h>

#include <QListWidget>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/ui/SapioluxDlg.h"
#include "platform/capture.h"
#include "platform/desktop.h"
#include "platform/dock.h"
#include "platform/docopen.h"
#include "platform/hotkeys.h"
#include "platform/messagebox.h"
#include "platform/registry.h"
#include "tests/agent_core/agent_test_support.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

namespace agent_ui_test {

using agent::ui::CSapioluxDlg;
using testing_support::LoopbackServer;

inline const char kPassage[] =
    "Granite and basalt are igneous rocks; quartz crystals grow in granite while basalt "
    "cools quickly from lava flows near volcanic ridges.";
inline const char kOtherPassage[] =
    "Marble and limestone are sedimentary or metamorphic stones quarried for sculpture, "
    "and chalk cliffs hold limestone fossils.";

// A results reply: a record block, and n records titled "<prefix> i" with weights from 90.
inline std::string recordBlock(const std::string& title, int weight,
                               const std::string& fields = "") {
    return "Doc_name=http://example/" + std::to_string(weight) + "\nURL_title=" + title +
           "\nDoc_id=" + std::to_string(weight) + "\nDoc_weight=" + std::to_string(weight) +
           "\nlinks=\ndbase=0\n" + fields;
}
inline std::string resultsReply(const std::string& prefix, int n) {
    std::string body = "numhits=" + std::to_string(n) + "\n";
    for (int i = 0; i < n; ++i) body += recordBlock(prefix + " " + std::to_string(i), 90 - i);
    return LoopbackServer::httpReply(body);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hives_ = std::make_unique<agent_test::ScopedHives>(dir_.path());
        std::filesystem::create_directories(dir_.path() / "work");
        std::filesystem::create_directories(dir_.path() / "run");
        std::filesystem::permissions(dir_.path() / "run", std::filesystem::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", (dir_.path() / "run").c_str(), 1);
        oldCwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path() / "work");
        // A short logo period, so results show at once.
        setNumber(platform::RegHive::Machine, "Miscellaneous", "QueryLogoPeriod", 1);
    }
    void TearDown() override {
        dialog_.reset();
        std::filesystem::current_path(oldCwd_);
        ::unsetenv("XDG_RUNTIME_DIR");
    }

    static void setNumber(platform::RegHive hive, const char* section, const char* name, int v) {
        platform::regWriteNumber(hive, agent::settingsKey(section), name, static_cast<uint32_t>(v));
    }

    // Loads the settings with the Extended file pointing the web source at webPort, with
    // plain (unscrambled, uncompressed) requests.
    void loadSettings(int webPort) {
        settings_.Load();
        settings_.ExtSetText("IXO", "127.0.0.1");
        settings_.ExtSetNumber("PORT", webPort);
        settings_.ExtSetNumber("SOURCE", agent::kSourceWeb);
        settings_.ExtSetText("WEBDATABASES", "web");
        settings_.ExtSetFlag("BLOCKPORN", true);
        settings_.ExtSetFlag("NOCOMPRESS", true);
        settings_.ExtSetFlag("NOENCRYPTQUERY", true);
        settings_.ExtSave();
    }

    CSapioluxDlg& makeDialog(agent::CPersonalServer* personal = nullptr) {
        CSapioluxDlg::Env env;
        env.settings = &settings_;
        env.desktop = &desktop_;
        env.messages = &boxes_;
        env.personalServer = personal;
        env.capture = &capture_;
        env.hotKeys = &hotKeys_;
        env.dock = dockSeam_;
        env.opener = &opener_;
        env.dataDir = std::string(SAPIOLUX_SOURCE_DIR) + "/agent/data";
        env.probeTimeoutSeconds = 1;
        dialog_ = std::make_unique<CSapioluxDlg>(env);
        return *dialog_;
    }

    // Connected to the web source at webPort, as after a successful probe.
    CSapioluxDlg& connectedDialog(int webPort) {
        loadSettings(webPort);
        CSapioluxDlg& dlg = makeDialog();
        dlg.ServerLocated();
        return dlg;
    }

    static QStringList lines(const CSapioluxDlg& dlg) {
        QStringList out;
        for (int i = 0; i < dlg.resultsList()->count(); ++i)
            out << dlg.resultsList()->item(i)->text();
        return out;
    }

    testing_support::TempDir dir_;
    std::unique_ptr<agent_test::ScopedHives> hives_;
    std::filesystem::path oldCwd_;
    agent::CAppParameters settings_;
    platform::FakeDesktop desktop_;
    platform::RecordingMessageBox boxes_;
    platform::FakeCapture capture_;
    platform::FakeHotKeys hotKeys_;
    platform::FakeDock dock_;
    platform::Dock* dockSeam_ = &dock_;  // the dock the window is made with
    platform::FakeDocumentOpener opener_;
    std::unique_ptr<CSapioluxDlg> dialog_;
};

}  // namespace agent_ui_test
