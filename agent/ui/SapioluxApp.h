// CSapioluxApp: the agent's application. It reads the settings, makes sure only one copy
// runs for the user, loads the capture plug-ins, finds and starts the personal server,
// runs the suggestions window until the user quits, and shuts everything down in order
// (also on SIGTERM, SIGINT and the end of the desktop session).
#pragma once

#include <QApplication>
#include <memory>
#include <string>

#include "platform/instance.h"

namespace platform {
class Desktop;
class DocumentOpener;
class MessageBoxes;
class PluginCapture;
class HotKeys;
class Dock;
}  // namespace platform

namespace agent {
class CAppParameters;
class CPersonalServer;
}  // namespace agent

namespace agent::ui {

class CAccountFlow;
class CSapioluxDlg;
class QtConnectChoices;

class CSapioluxApp : public QApplication {
    Q_OBJECT

  public:
    CSapioluxApp(int& argc, char** argv);
    ~CSapioluxApp() override;

    // The whole life of the agent: start-up, the window, shutdown. The process's exit
    // code. A second copy ends at once with 0 and shows nothing.
    int InitInstance();

    // Where data files shipped with the program are looked for after the working folder.
    void setDataDir(std::string dir) { m_dataDir = std::move(dir); }
    // Message boxes other than real dialogs (tests).
    void setMessageBoxes(platform::MessageBoxes* boxes) { m_messagesOverride = boxes; }

    CSapioluxDlg* dialog() const { return m_dialog.get(); }

  private:
    bool LoadHookLibraries(const std::string& caption);
    void EnableAccessibility();
    void ShowSplash();
    void OnCommitData(class QSessionManager& manager);
    void WatchSignals();
    // Ends the window and the process's work; runs once.
    void Quit();

    std::string m_dataDir;
    platform::MessageBoxes* m_messagesOverride = nullptr;
    std::unique_ptr<platform::MessageBoxes> m_messages;
    std::unique_ptr<platform::Desktop> m_desktop;
    std::unique_ptr<platform::DocumentOpener> m_opener;
    std::unique_ptr<agent::CAppParameters> m_settings;
    std::unique_ptr<agent::CPersonalServer> m_personal;
    std::unique_ptr<QtConnectChoices> m_choices;
    std::unique_ptr<CAccountFlow> m_account;  // with InternetVersion on
    std::unique_ptr<CSapioluxDlg> m_dialog;
    platform::InstanceLock m_instance;
    std::unique_ptr<platform::PluginCapture> m_capture;
    std::unique_ptr<platform::HotKeys> m_hotKeys;
    std::unique_ptr<platform::Dock> m_dock;
    bool m_workersLeft = false;
    bool m_quitting = false;
};

// Installs the handlers that turn SIGTERM and SIGINT into an orderly quit of app.
void installQuitSignals(QApplication* app);

}  // namespace agent::ui
