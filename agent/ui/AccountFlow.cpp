#include "agent/ui/AccountFlow.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "agent/AppParameters.h"
#include "agent/ui/qtedge.h"
#include "platform/messagebox.h"

namespace agent::ui {

namespace {

std::string captionOf(const agent::CAppParameters& params) {
    return params.GetBrandName() + " " + params.GetProductName();
}

// The wait cursor for as long as the object lives.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

std::atomic<int> g_jobsRunning{0};

// Sends one prepared account request away from the window; nothing when the
// application quit meanwhile.
std::optional<bool> exchange(agent::CNuvaserverConnection& connection) {
    if (!connection.Prepare()) return false;
    std::optional<agent::HttpFetch> got = awayFromWindow(connection.Job());
    if (!got) return std::nullopt;
    return connection.Finish(std::move(*got));
}

}  // namespace

int accountJobsRunning() {
    return g_jobsRunning.load();
}

template <typename T>
std::optional<T> awayFromWindow(std::function<T()> job) {
    // Shared with the thread, which may outlive this call when the application quits:
    // it then finds no loop to wake.
    struct Shared {
        std::mutex lock;
        QEventLoop* loop = nullptr;
        std::optional<T> result;
    };
    auto shared = std::make_shared<Shared>();
    QEventLoop loop;
    shared->loop = &loop;
    ++g_jobsRunning;
    try {
        std::thread([shared, job = std::move(job)] {
            T value = job();
            {
                std::lock_guard<std::mutex> guard(shared->lock);
                shared->result = std::move(value);
                // Queued: the loop is woken on its own thread; a posted call to a loop
                // that is gone is dropped with it.
                if (shared->loop)
                    QMetaObject::invokeMethod(
                        shared->loop, [loop = shared->loop] { loop->quit(); },
                        Qt::QueuedConnection);
            }
            --g_jobsRunning;
        }).detach();
    } catch (const std::system_error&) {
        --g_jobsRunning;
        return std::nullopt;
    }
    loop.exec();
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->loop = nullptr;
    return std::move(shared->result);
}

template std::optional<int> awayFromWindow(std::function<int()>);
template std::optional<agent::HttpFetch> awayFromWindow(std::function<agent::HttpFetch()>);
template std::optional<agent::CUpgrade::Result> awayFromWindow(
    std::function<agent::CUpgrade::Result()>);

CRegistrationDlg::CRegistrationDlg(agent::CAppParameters& params, platform::MessageBoxes* messages,
                                   QWidget* parent)
    : QDialog(parent), m_params(params), m_messages(messages) {
    setWindowTitle(fromCp1252(captionOf(params)));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        tr("Please choose a user name and password for your account, and enter your email "
           "address."),
        this));
    auto* form = new QFormLayout();
    m_username = new QLineEdit(this);
    m_username->setObjectName("username");
    m_password = new QLineEdit(this);
    m_password->setObjectName("password");
    m_password->setEchoMode(QLineEdit::Password);
    m_password2 = new QLineEdit(this);
    m_password2->setObjectName("password2");
    m_password2->setEchoMode(QLineEdit::Password);
    m_email = new QLineEdit(this);
    m_email->setObjectName("email");
    form->addRow(tr("&User name:"), m_username);
    form->addRow(tr("&Password:"), m_password);
    form->addRow(tr("Password &again:"), m_password2);
    form->addRow(tr("&Email address:"), m_email);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CRegistrationDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CRegistrationDlg::reject);
    layout->addWidget(buttons);
    m_username->setText(fromCp1252(params.GetUsername()));
    m_email->setText(fromCp1252(params.GetEmailAddress()));
}

void CRegistrationDlg::accept() {
    if (m_busy) return;  // the server has not answered the last OK yet
    const std::string caption = captionOf(m_params);
    const std::string username = toCp1252(m_username->text());
    const std::string password = toCp1252(m_password->text());
    const std::string password2 = toCp1252(m_password2->text());
    const std::string email = toCp1252(m_email->text());
    const agent::RegistrationCheck check =
        agent::checkRegistration(username, password, password2, email);
    if (check.field != agent::RegistrationField::None) {
        if (m_messages) m_messages->show(caption, check.message, platform::MsgIcon::Warning);
        QLineEdit* field = m_email;
        switch (check.field) {
            case agent::RegistrationField::Username:
                field = m_username;
                field->clear();
                break;
            case agent::RegistrationField::Password:
                field = m_password;
                field->clear();
                break;
            case agent::RegistrationField::Password2:
                field = m_password2;
                field->clear();
                break;
            default:
                break;
        }
        field->setFocus();
        return;
    }
    agent::RegistrationResult result;
    {
        WaitCursor wait;
        agent::CNuvaserverConnection connection(m_params);
        connection.SetRequest("register", username, password, email);
        // The entries stay as they are until the server has answered.
        m_busy = true;
        setEnabled(false);
        const std::optional<bool> sent = exchange(connection);
        setEnabled(true);
        m_busy = false;
        if (!sent) {  // the agent is ending
            m_endAgent = true;
            QDialog::reject();
            return;
        }
        result = agent::finishRegistration(m_params, connection, *sent, username, password, email);
    }
    switch (result.outcome) {
        case agent::RegistrationOutcome::Success:
            QDialog::accept();
            return;
        case agent::RegistrationOutcome::UserExists:
            if (m_messages) m_messages->show(caption, result.message, platform::MsgIcon::Warning);
            m_username->clear();
            m_username->setFocus();
            return;
        case agent::RegistrationOutcome::EndAgent:
            if (m_messages) m_messages->show(caption, result.message, platform::MsgIcon::Error);
            m_endAgent = true;
            QDialog::reject();
            return;
    }
}

void CRegistrationDlg::reject() {
    if (!m_busy) QDialog::reject();
}

ConnectChoice QtConnectChoices::ask(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::Question, fromCp1252(caption), fromCp1252(text),
                    QMessageBox::NoButton, m_parent);
    QPushButton* retry = box.addButton(QObject::tr("Retry"), QMessageBox::AcceptRole);
    QPushButton* offline = box.addButton(QObject::tr("Work Offline"), QMessageBox::RejectRole);
    QPushButton* options = box.addButton(QObject::tr("Options..."), QMessageBox::ActionRole);
    box.setDefaultButton(retry);
    box.setEscapeButton(offline);
    box.exec();
    if (box.clickedButton() == options) return ConnectChoice::Options;
    if (box.clickedButton() == retry) return ConnectChoice::Retry;
    return ConnectChoice::WorkOffline;
}

std::string askWhichServer(const std::string& current, QWidget* parent) {
    bool ok = false;
    const QString name = QInputDialog::getText(parent, QObject::tr("Which Server?"),
                                               QObject::tr("Choose the Server to connect with:"),
                                               QLineEdit::Normal, fromCp1252(current), &ok);
    return ok ? toCp1252(name.trimmed()) : std::string();
}

CAccountFlow::CAccountFlow(agent::CAppParameters& params, platform::MessageBoxes* messages,
                           ConnectChoices* choices, std::string dataFolder)
    : m_params(params),
      m_messages(messages),
      m_choices(choices),
      m_upgrade(params, std::move(dataFolder)) {
    runRegistration = [this](QWidget* parent) {
        CRegistrationDlg dialog(m_params, m_messages, parent);
        if (dialog.exec() == QDialog::Accepted) return CheckResult::Ok;
        return dialog.endAgent() ? CheckResult::EndAgent : CheckResult::Failed;
    };
}

CAccountFlow::CheckResult CAccountFlow::Check(QWidget* parent) {
    if (!m_params.GetRegistered()) {
        CheckResult registered = runRegistration(parent);
        if (registered != CheckResult::Ok) return registered;
    }
    WaitCursor wait;
    agent::CNuvaserverConnection connection(m_params);
    connection.SetUpdateRequest();
    m_busy = true;
    const std::optional<bool> sent = exchange(connection);
    bool applied = sent && agent::finishUpdate(m_params, m_messages, connection, *sent);
    // The logos the reply names are in place before the window shows them.
    const bool ending = !sent || (applied && !awayFromWindow(agent::logoJob(m_params)));
    m_busy = false;
    if (ending) return CheckResult::EndAgent;
    return applied ? CheckResult::Ok : CheckResult::Failed;
}

ConnectChoice CAccountFlow::AskAfterFailure() {
    const std::string caption = captionOf(m_params);
    if (!m_choices) return ConnectChoice::WorkOffline;
    return m_choices->ask(caption, caption +
                                       " could not establish a connection with the server. Do you "
                                       "want to try again or work offline?");
}

bool CAccountFlow::OfferUpgrade() {
    if (m_offering || m_upgrade.Downloaded() || m_upgrade.Address().empty() || !m_messages)
        return false;
    m_offering = true;
    const std::string product = m_params.GetProductName();
    const std::string title = "Upgrading " + product;
    bool quitNow = false;
    if (m_messages->show("Upgrade",
                         "An upgrade for " + product + " from " + m_params.GetBrandName() +
                             " is available. Do you wish to download this now?",
                         platform::MsgIcon::Information,
                         platform::MsgButtons::YesNo) != platform::MsgAnswer::Yes) {
        m_upgrade.Decline();
    } else {
        std::optional<agent::CUpgrade::Result> done;
        {
            WaitCursor wait;
            done = awayFromWindow(m_upgrade.DownloadJob());
        }
        // When the agent ends meanwhile nothing is recorded: a program stored after all
        // is not run, and the offer comes again.
        const agent::CUpgrade::Result result =
            m_upgrade.Complete(done.value_or(agent::CUpgrade::Result::Failed));
        if (!done) {
            m_offering = false;
            return false;
        }
        if (result == agent::CUpgrade::Result::Done) {
            quitNow = m_messages->show(title,
                                       "Download complete. Upgrading will start when you quit " +
                                           product + ". Do you want to quit now?",
                                       platform::MsgIcon::Information,
                                       platform::MsgButtons::OkCancel) == platform::MsgAnswer::Ok;
        } else {
            // An address that can never be stored safely is not offered again.
            if (result == agent::CUpgrade::Result::Refused) m_upgrade.Decline();
            m_messages->show(title, "Download failed. Please try again later.",
                             platform::MsgIcon::Warning);
        }
    }
    m_offering = false;
    return quitNow;
}

bool CAccountFlow::RunUpgradeAtExit() {
    return m_upgrade.RunAtExit();
}

}  // namespace agent::ui
