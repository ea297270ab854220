// The account server's windows: the registration dialog (CRegistrationDlg), the
// Retry / Work Offline / Options... choice when the server cannot be reached, and
// CAccountFlow, which runs the account part of locating the server (register when no
// account exists yet, then "update") and the upgrade offer, download and start at exit.
// Every message goes through the message-box seam, the choice through ConnectChoices,
// so all of it runs offscreen in tests.
//
// The exchanges with the account server ("register", "update", the logos, the upgrade
// download) run on worker threads; meanwhile the window thread keeps handling events in
// a local event loop, as under a modal dialog, so the window stays alive for as long as
// a slow server takes.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/NuvaserverConnection.h"

class QLineEdit;

namespace platform {
class MessageBoxes;
}

namespace agent {
class CAppParameters;
}

namespace agent::ui {

// The registration dialog: user name, password, the password again, e-mail address.
// OK checks the entries (a failed rule is shown, its field cleared where it is a user
// name or a password, and focused), then registers with the account server.
class CRegistrationDlg : public QDialog {
    Q_OBJECT

  public:
    CRegistrationDlg(agent::CAppParameters& params, platform::MessageBoxes* messages,
                     QWidget* parent = nullptr);

    // Set when the server's answer (or no answer) means the agent must end.
    bool endAgent() const { return m_endAgent; }

    QLineEdit* usernameEdit() const { return m_username; }
    QLineEdit* passwordEdit() const { return m_password; }
    QLineEdit* password2Edit() const { return m_password2; }
    QLineEdit* emailEdit() const { return m_email; }

  public slots:
    void accept() override;
    // Ignored while the exchange runs (its outcome decides how the dialog ends).
    void reject() override;

  private:
    agent::CAppParameters& m_params;
    platform::MessageBoxes* m_messages;
    QLineEdit* m_username = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_password2 = nullptr;
    QLineEdit* m_email = nullptr;
    bool m_endAgent = false;
    bool m_busy = false;
};

enum class ConnectChoice { Retry, WorkOffline, Options };

// Asks what to do when the server cannot be reached.
class ConnectChoices {
  public:
    virtual ~ConnectChoices() = default;
    virtual ConnectChoice ask(const std::string& caption, const std::string& text) = 0;
};

// The choice as a Qt dialog with the buttons "Retry", "Work Offline" and "Options...".
class QtConnectChoices : public ConnectChoices {
  public:
    explicit QtConnectChoices(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    ConnectChoice ask(const std::string& caption, const std::string& text) override;

  private:
    QWidget* m_parent;
};

// The "Which Server?" dialog of the start-up; the name entered, empty when cancelled.
std::string askWhichServer(const std::string& current, QWidget* parent = nullptr);

// Runs job on a thread of its own and handles the window thread's events until it has
// ended; its result. Nothing when the application quit meanwhile: the job then ends on
// its own and its result is dropped.
template <typename T>
std::optional<T> awayFromWindow(std::function<T()> job);

// Account jobs still running on their threads (the agent's exit does not wait for them).
int accountJobsRunning();

class CAccountFlow {
  public:
    enum class CheckResult { Ok, Failed, EndAgent };

    // dataFolder: where an upgrade is stored (the agent's data folder).
    CAccountFlow(agent::CAppParameters& params, platform::MessageBoxes* messages,
                 ConnectChoices* choices, std::string dataFolder);

    // The account part of the connection check: the registration dialog when no
    // account is registered yet (Cancel fails the check), then "update".
    CheckResult Check(QWidget* parent);
    // "... could not establish a connection with the server. Do you want to try again
    // or work offline?"
    ConnectChoice AskAfterFailure();
    // The upgrade offer when the Extended file holds one: ask, download, and ask to
    // quit. True when the user chose to quit now.
    bool OfferUpgrade();
    // The exit step: starts the program downloaded in this run, if any.
    bool RunUpgradeAtExit();
    bool upgradeDownloaded() const { return m_upgrade.Downloaded(); }
    // True while Check or OfferUpgrade waits for the account server.
    bool Busy() const { return m_busy || m_offering; }

    // Runs the registration dialog; tests replace it. Returns the dialog's outcome:
    // Ok when registered, Failed when cancelled, EndAgent when the agent must end.
    std::function<CheckResult(QWidget* parent)> runRegistration;

  private:
    agent::CAppParameters& m_params;
    platform::MessageBoxes* m_messages;
    ConnectChoices* m_choices;
    agent::CUpgrade m_upgrade;
    bool m_offering = false;
    bool m_busy = false;
};

}  // namespace agent::ui
