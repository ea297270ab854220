#include "agent/ui/SapioluxApp.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPixmap>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QSplashScreen>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "agent/AppParameters.h"
#include "agent/proxysetup.h"
#include "agent/service.h"
#include "agent/ui/AccountFlow.h"
#include "agent/ui/ProxyDetectDialog.h"
#include "agent/ui/SapioluxDlg.h"
#include "agent/ui/qtedge.h"
#include "platform/capture.h"
#include "platform/desktop.h"
#include "platform/docopen.h"
#include "platform/x11/x11desktop.h"
#include "platform/x11/x11dock.h"
#include "platform/x11/x11hotkeys.h"
#include "support/diaglog.h"
#include "support/userdirs.h"

namespace agent::ui {
namespace {

int g_signalPipe[2] = {-1, -1};

void onQuitSignal(int) {
    char byte = 1;
    // Only async-signal-safe work here: the event loop reads the pipe.
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

constexpr int kShutdownWaitMs = 2000;
// The most one call to another program over the accessibility bus may take.
constexpr int kAccessibilityTimeoutMs = 1500;

}  // namespace

void installQuitSignals(QApplication* app) {
    if (g_signalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    ::fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

CSapioluxApp::CSapioluxApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("sapiolux");
    setQuitOnLastWindowClosed(false);
}

CSapioluxApp::~CSapioluxApp() {
    m_dialog.reset();
}

bool CSapioluxApp::LoadHookLibraries(const std::string& caption) {
    // The capture plug-ins: the active-window watcher and the text reader, beside the
    // program's libraries. They need the X11 desktop. Without them the window still works
    // (typed queries); the failure is logged with the text the user would be shown.
    if (platformName() != "xcb") {
        diagLog("agent: no X11 display; windows' text cannot be read\n");
        return false;
    }
    m_capture = std::make_unique<platform::PluginCapture>();
    // An installed copy keeps them in its own library folder; a build tree beside the
    // other libraries.
    std::string libDir = userdirs::installedFolder(userdirs::Installed::Plugins);
    if (libDir.empty())
        libDir = QDir(applicationDirPath()).absoluteFilePath("../lib").toStdString();
    if (m_capture->load(libDir, kAccessibilityTimeoutMs)) return true;
    for (const std::string& error : m_capture->errors())
        diagLog("%s: A required DLL, %s could not be initialised. Error code is: %d\n",
                caption.c_str(), error.c_str(), 126);
    m_capture.reset();
    return false;
}

void CSapioluxApp::EnableAccessibility() {
    // Programs started from now on serve their text on the accessibility bus only when
    // the session says it is wanted.
    QDBusInterface status("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                          QDBusConnection::sessionBus());
    if (!status.isValid()) return;
    QDBusReply<QDBusVariant> enabled = status.call("Get", "org.a11y.Status", "IsEnabled");
    if (enabled.isValid() && enabled.value().variant().toBool()) return;
    status.call("Set", "org.a11y.Status", "IsEnabled", QVariant::fromValue(QDBusVariant(true)));
}

void CSapioluxApp::ShowSplash() {
    // A splash logo handed out by the account server takes the place of the shipped one.
    QPixmap picture;
    if (!m_settings->GetSplashLogoAddress().empty())
        picture.load(QString::fromStdString(m_settings->GetSplashLogoPath()));
    if (picture.isNull()) picture.load("branding/splash.bmp");
    int period = m_settings->GetSplashScreenPeriod();
    if (picture.isNull() || period <= 0) return;
    auto* splash = new QSplashScreen(picture);
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    QTimer::singleShot(period, splash, &QSplashScreen::close);
}

void CSapioluxApp::OnCommitData(QSessionManager& manager) {
    // The session may end only when none of the agent's own dialogs is open.
    if (!activeModalWidget()) return;
    const std::string product = m_settings->GetProductName();
    if (manager.allowsInteraction()) {
        QMessageBox::warning(activeModalWidget(),
                             fromCp1252(m_settings->GetBrandName() + " " + product),
                             fromCp1252("You must close all windows before you quit " + product));
        manager.release();
    }
    manager.cancel();
}

void CSapioluxApp::Quit() {
    if (m_quitting) return;
    m_quitting = true;
    if (m_dialog) {
        m_workersLeft = !m_dialog->Shutdown(kShutdownWaitMs);
        m_dialog->hide();
    }
    quit();
}

int CSapioluxApp::InitInstance() {
    readScreenMetrics();
    m_settings = std::make_unique<agent::CAppParameters>();
    m_settings->Load();
    const std::string caption = m_settings->GetBrandName() + " " + m_settings->GetProductName();

    switch (m_instance.acquire("Sapiolux Mutex")) {
        case platform::InstanceLock::Result::HeldElsewhere:
            return 0;  // the running copy is left alone, silently
        case platform::InstanceLock::Result::Failed:
            diagLog("agent: no single-instance lock (%s); starting anyway\n",
                    m_instance.error().c_str());
            break;
        case platform::InstanceLock::Result::Acquired:
            break;
    }

    if (LoadHookLibraries(caption))
        EnableAccessibility();
    else
        diagLog("agent: text capture is not available; typed queries still work\n");

    if (m_messagesOverride == nullptr) m_messages = std::make_unique<QtMessageBoxes>();
    platform::MessageBoxes* boxes = m_messagesOverride ? m_messagesOverride : m_messages.get();

    if (platformName() == "xcb") {
        m_desktop = platform::openX11Desktop();
        m_hotKeys = platform::openX11HotKeys();
        m_dock = platform::openX11Dock();
    }
    if (!m_desktop) m_desktop = std::make_unique<platform::FakeDesktop>();
    diagLog("agent: desktop %s\n", m_desktop->name());

    m_personal = std::make_unique<agent::CPersonalServer>(*m_settings);
    m_personal->onMessage = [boxes, caption](const std::string& title, const std::string& text) {
        boxes->show(title, text, platform::MsgIcon::Information);
    };
    const bool personal = m_personal->Detect(true);

    // The account server may be chosen at each start.
    if (m_settings->GetServerSelect())
        agent::applyServerSelection(*m_settings, askWhichServer(m_settings->GetInternetHost()));

    ShowSplash();

    CSapioluxDlg::Env env;
    env.settings = m_settings.get();
    env.desktop = m_desktop.get();
    env.messages = boxes;
    env.personalServer = personal ? m_personal.get() : nullptr;
    env.capture = m_capture.get();
    env.hotKeys = m_hotKeys.get();
    env.dock = m_dock.get();
    env.dataDir = m_dataDir;
    m_opener = std::make_unique<platform::XdgDocumentOpener>();
    env.opener = m_opener.get();
    // "Auto Detect...." on the options sheet's Proxy page: the browsers', the desktop's and
    // the environment's proxy settings, and the list to choose from.
    env.proxyDetection.detect = [] { return agent::detectProxies(agent::systemProxyDetectEnv()); };
    env.proxyDetection.choose = chooseDetectedProxy;
    if (m_settings->GetInternetVersion()) {
        // The account server: registration, configuration and upgrades (stored in the
        // working folder, the agent's data folder).
        m_choices = std::make_unique<QtConnectChoices>();
        m_account = std::make_unique<CAccountFlow>(*m_settings, boxes, m_choices.get(), ".");
        env.account = m_account.get();
    }
    m_dialog = std::make_unique<CSapioluxDlg>(env);
    if (auto* qtBoxes = dynamic_cast<QtMessageBoxes*>(m_messages.get()))
        qtBoxes->setParent(m_dialog.get());
    if (m_choices) m_choices->setParent(m_dialog.get());
    connect(m_dialog.get(), &CSapioluxDlg::quitRequested, this, [this] { Quit(); });
    connect(this, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager& manager) { OnCommitData(manager); });
    // SIGTERM, SIGINT and the session's end all leave the event loop: shut down then.
    connect(this, &QCoreApplication::aboutToQuit, this, [this] { Quit(); });
    installQuitSignals(this);

    m_dialog->ShowAtStart();
    m_dialog->Start();
    // Something that calls exit() while the window runs (the display connection breaking
    // under Qt, say) would run every destructor with the workers and readers still going;
    // the program ends at once instead. Settings are written as they change; only this
    // run's window placement is not saved.
    static std::atomic<bool> running{false};
    static std::once_flag registered;
    std::call_once(registered, [] {
        std::atexit([] {
            if (running.load()) {
                std::fflush(nullptr);
                ::_exit(1);
            }
        });
    });
    running = true;
    exec();
    running = false;
    Quit();

    if (m_capture) m_capture->shutdown();
    m_dialog.reset();
    // An upgrade downloaded in this run starts now that the agent has let go of everything.
    if (m_account) m_account->RunUpgradeAtExit();
    m_hotKeys.reset();
    m_instance.release();
    if (m_workersLeft || accountJobsRunning() > 0) {
        // A worker or an account exchange still waits on its server: destructors would
        // wait for it or pull the ground from under it. Everything worth keeping is
        // saved; end now.
        std::fflush(nullptr);
        ::_exit(0);
    }
    return 0;
}

}  // namespace agent::ui
