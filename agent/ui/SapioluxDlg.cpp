#include "agent/ui/SapioluxDlg.h"

#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>
#include <optional>
#include <random>
#include <thread>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/adverts.h"
#include "agent/community.h"
#include "agent/mapurl.h"
#include "agent/opener.h"
#include "agent/probe.h"
#include "agent/profiling.h"
#include "agent/service.h"
#include "agent/texttoquery.h"
#include "agent/ui/AboutDlg.h"
#include "agent/ui/AccountFlow.h"
#include "agent/ui/CaptureBitmapButton.h"
#include "agent/ui/SystemTray.h"
#include "agent/ui/TitleTip.h"
#include "agent/ui/qtedge.h"
#include "agent/windowtext.h"
#include "platform/capture.h"
#include "platform/desktop.h"
#include "platform/dock.h"
#include "platform/docopen.h"
#include "platform/hotkeys.h"
#include "platform/mailslot.h"
#include "platform/messagebox.h"
#include "support/diaglog.h"
#include "support/lang2util.h"

namespace agent::ui {

// Hands messages from other threads to the window. Workers and the probe hold it by a
// shared pointer, so a thread that outlives the window posts into nothing instead of
// into a destroyed window.
class MessagePoster {
  public:
    explicit MessagePoster(CSapioluxDlg* window) : m_window(window) {}

    void post(AgentMessage message, uintptr_t wParam, intptr_t lParam) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_window) return;
        CSapioluxDlg* window = m_window;
        // Queued: runs on the window's thread; dropped by Qt if the window goes first.
        QMetaObject::invokeMethod(
            window,
            [window, message, wParam, lParam] { window->OnMessage(message, wParam, lParam); },
            Qt::QueuedConnection);
    }

    // A worker's end: its status is kept by (request, worker id) for the handler.
    void queryDone(const QueryDone& done) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_status[{done.request, done.workerId}] = done.status;
        }
        post(kMsgQueryDone, reinterpret_cast<uintptr_t>(done.request), done.workerId);
    }

    // The status a worker ended with (and forgets it); kStatusQueryFailed when unknown.
    int32_t takeStatus(const void* request, uint32_t workerId) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_status.find({request, workerId});
        if (it == m_status.end()) return kStatusQueryFailed;
        int32_t status = it->second;
        m_status.erase(it);
        return status;
    }

    void detach() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_window = nullptr;
    }

    // The post function handed to the capture plug-ins (context: this poster).
    static void postFromPlugin(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam) {
        static_cast<MessagePoster*>(context)->post(static_cast<AgentMessage>(message), wParam,
                                                   lParam);
    }

  private:
    std::mutex m_lock;
    CSapioluxDlg* m_window;
    std::map<std::pair<const void*, uint32_t>, int32_t> m_status;
};

namespace {

constexpr const char* kTextPersonalNotInstalledExit =
    "PersonalVantri is not installed - this action will exit Vantri";
constexpr int kSelectorRowHeight = 17;  // not counted in the saved height
constexpr int kMinWidth = 180, kMinHeight = 60;
constexpr int kReconnectMs = 10000;
constexpr int kPollMs = 500;
constexpr int kCaptureMs = 1500;
constexpr int kBrowserCaptureMs = 3000;
// Auto-hide: what stays of a strip slid out, and the slides out (moving, shrinking) and
// in (growing), in milliseconds.
constexpr int kEdgeStrip = 2;
constexpr int kSlideOutMs = 400;
constexpr int kSlideInMs = 200;
constexpr int kSlideStepMs = 15;
// How long the pointer must have left a strip before it slides out.
constexpr int kAutoHideDelayMs = 300;
// A floating window dragged by its brand picture docks when the pointer ends this close
// to the top or bottom edge of the screen.
constexpr int kDockSnap = 12;
// Window classes of web browsers, whose pages settle later than other windows' text.
constexpr const char* kBrowserClasses = "firefox,Navigator,Chromium,Google-chrome";

// Seconds of a clock that only moves forward (advert rotation, the community's hour).
int64_t monotonicSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// True when needle is one of the comma-separated names of list, ignoring case.
bool inNameList(const std::string& list, const std::string& needle) {
    if (needle.empty()) return false;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find(',', pos);
        if (end == std::string::npos) end = list.size();
        if (QString::fromStdString(list.substr(pos, end - pos))
                .trimmed()
                .compare(QString::fromStdString(needle), Qt::CaseInsensitive) == 0)
            return true;
        pos = end + 1;
    }
    return false;
}

const char* const kSourceNames[4] = {"My Computer", "Community", "News", "Web"};
const char* const kSourceTips[4] = {
    "My Computer: Select to suggest documents and emails from your hard drive",
    "Community: Select to suggest people with interests relevant to the text",
    "News: Select to suggest news and sports stories",
    "Web: Select to suggest web pages, encyclopedia entries and things to buy"};

// Draws each line's text cut with "..." to its cell, as the list's own measure says.
class LineDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideNone;
        const QFontMetrics metrics(option->font);
        int room = option->rect.width() - option->decorationSize.width() - 12;
        std::string text = toCp1252(option->text);
        std::string cut = shortenToFit(text, [&](const std::string& candidate) {
            return metrics.horizontalAdvance(fromCp1252(candidate)) <= room;
        });
        option->text = fromCp1252(cut);
    }
};

QToolButton* makeButton(QWidget* parent, int id, const QString& caption, const QString& name,
                        const QString& tip, bool checkable = false) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("ctl%1").arg(id));
    button->setText(caption);
    button->setToolTip(tip);
    button->setAccessibleName(name);
    button->setAccessibleDescription(tip);
    button->setCheckable(checkable);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(22, 22);
    return button;
}

// The built-in query logo: the brand's name on a soft tile.
QPixmap builtinLogo(const QString& brand) {
    QPixmap pixmap(120, 48);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0xe3, 0xf2, 0xfd));
    painter.setPen(QColor(0x90, 0xca, 0xf9));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 119, 47), 8, 8);
    painter.setPen(QColor(0x15, 0x65, 0xc0));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(16);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 120, 48), Qt::AlignCenter, brand);
    return pixmap;
}

}  // namespace

CSapioluxDlg::CSapioluxDlg(const Env& env, QWidget* parent)
    : QWidget(parent), m_env(env), m_settings(*env.settings) {
    m_poster = std::make_shared<MessagePoster>(this);
    setObjectName("SapioluxDlg");
    setAttribute(Qt::WA_ShowWithoutActivating);
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
    if (m_settings.GetAlwaysOnTop()) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);

    for (auto& request : m_requests) {
        request = std::make_unique<CSuggestionRequest>();
        std::weak_ptr<MessagePoster> poster = m_poster;
        request->onDone = [poster](const QueryDone& done) {
            if (auto p = poster.lock()) p->queryDone(done);
        };
    }

    // Set-up, in order: the window's id for other programs, a fresh web selection, the
    // query tables, the controls, the placement.
    m_settings.SetMainWnd(static_cast<int32_t>(winId()));
    m_settings.ExtSetText("WEBSELECTION", "");
    m_settings.ExtSave();
    LoadQueryTables();
    BuildControls();
    ApplyPlacement();
    RegisterHotKeys();

    m_openPeriodTimer = new QTimer(this);
    m_openPeriodTimer->setObjectName("timer2");
    connect(m_openPeriodTimer, &QTimer::timeout, this, &CSapioluxDlg::OnOpenPeriodTimer);
    m_pollTimer = new QTimer(this);
    m_pollTimer->setObjectName("timer3");
    connect(m_pollTimer, &QTimer::timeout, this, [this] {
        if (m_env.capture && !m_picked) m_env.capture->pollActiveWindow();
    });
    m_captureTimer = new QTimer(this);
    m_captureTimer->setObjectName("timer9");
    m_captureTimer->setSingleShot(true);
    connect(m_captureTimer, &QTimer::timeout, this, &CSapioluxDlg::OnCaptureTimer);
    // The mailslot the text reader writes into.
    m_mailslot = std::make_unique<platform::Mailslot>();
    if (m_env.capture) {
        std::string path = platform::mailslotPath();
        if (path.empty() || !m_mailslot->create(path))
            diagLog("agent: no mailslot (%s); window text cannot be read\n",
                    path.empty() ? "no private runtime folder" : m_mailslot->error().c_str());
        else
            m_env.capture->attach(m_poster.get(), &MessagePoster::postFromPlugin,
                                  static_cast<int>(::getpid()), path);
    }
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &CSapioluxDlg::OnClipboardChanged);
    m_logoTimer = new QTimer(this);
    m_logoTimer->setObjectName("timer4");
    m_logoTimer->setSingleShot(true);
    connect(m_logoTimer, &QTimer::timeout, this, &CSapioluxDlg::OnLogoTimer);
    m_reconnectTimer = new QTimer(this);
    connect(m_reconnectTimer, &QTimer::timeout, this, [this] {
        if (!m_probeRunning) StartProbe();
    });

    m_tray = std::make_unique<CSystemTray>(kTextNoSuggestions, CSystemTray::Icon::NotConnected);
    m_trayMenu = new QMenu(this);
    connect(m_trayMenu, &QMenu::aboutToShow, this, [this] { FillMenu(m_trayMenu); });
    FillMenu(m_trayMenu);
    m_tray->setMenu(m_trayMenu);
    connect(m_tray.get(), &CSystemTray::activated, this, [this] { RunCommand(kCmdOpenClose); });
    ConnectScreenChanges();

    m_source = m_settings.ExtGetNumber("SOURCE");
    if (m_source < 0 || m_source > 3) m_source = kSourceLocal;
    if (m_selectors[m_source]) m_selectors[m_source]->setChecked(true);
    ShowNotConnected();
    m_setupDone = true;
}

CSapioluxDlg::~CSapioluxDlg() {
    m_poster->detach();
    if (!m_shutDown) Shutdown(0);
    ixoDestroyQueryResult(&m_shown);
    // A request whose worker still waits on its server is kept, never destroyed, for the
    // rest of the process (which is about to end): destroying it, now or at exit, would
    // wait for the worker.
    static auto* leftToWorkers = new std::vector<std::unique_ptr<CSuggestionRequest>>();
    for (auto& request : m_requests)
        if (request && request->Busy()) leftToWorkers->push_back(std::move(request));
}

std::string CSapioluxDlg::DataFile(const std::string& name) const {
    if (QFile::exists(QString::fromStdString(name))) return name;
    std::string shipped = m_env.dataDir + "/" + name;
    if (!m_env.dataDir.empty() && QFile::exists(QString::fromStdString(shipped))) return shipped;
    return name;
}

void CSapioluxDlg::LoadQueryTables() {
    auto dataFile = [&](const std::string& name) { return DataFile(name); };
    lang2LoadStoplist(dataFile("english.dat").c_str());
    m_weights = TermWeightTable::load(dataFile("enc.dat"));
    if (!m_weights) diagLog("agent: no term weights (enc.dat); every term weighs the same\n");
    m_userStoplist.clear();
    if (m_settings.GetUseStoplist() && !m_settings.GetStoplistFilename().empty())
        loadUserStoplist(dataFile(m_settings.GetStoplistFilename()), m_userStoplist);
    m_profile = profileLoad("profile.dat");
    if (!m_profile) m_profile = std::make_unique<UserProfile>(profileCreate());
    m_builder = std::make_unique<QueryBuilder>(m_weights.get(), m_userStoplist, m_profile.get(),
                                               "profile.dat");
}

void CSapioluxDlg::BuildControls() {
    const QString brand = QString::fromStdString(m_settings.GetBrandName());
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 2, 2, 2);
    outer->setSpacing(2);
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    outer->addLayout(row, 1);
    m_outerLayout = outer;
    m_rowLayout = row;

    // Left: the brand picture above the query logo's corner.
    auto* left = new QVBoxLayout;
    m_brand = new QLabel(this);
    m_brand->setObjectName(QStringLiteral("ctl%1").arg(kIdBrand));
    m_brand->setText(QStringLiteral("<b>%1</b>").arg(brand.toHtmlEscaped()));
    m_brand->setAccessibleName(brand);
    m_brand->setToolTip(
        "Double-click to dock at the screen's edge or float again; drag to the top or "
        "bottom edge of the screen to dock there, or a docked strip away to float it");
    m_brand->installEventFilter(this);
    left->addWidget(m_brand);
    left->addStretch(1);
    row->addLayout(left);

    // Middle: results, status line, query box or logo, one at a time.
    m_stack = new QStackedWidget(this);
    m_list = new QListWidget(m_stack);
    m_list->setObjectName(QStringLiteral("ctl%1").arg(kIdResults));
    m_list->setAccessibleName("Results");
    m_list->setToolTip(
        "Results: Click on a link to display the document or click elsewhere to type in a query");
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setItemDelegate(new LineDelegate(m_list));
    m_list->setMouseTracking(true);
    m_list->viewport()->installEventFilter(this);
    m_list->setFocusPolicy(Qt::ClickFocus);
    QFont listFont = m_list->font();
    listFont.setPointSizeF(std::max(7.0, listFont.pointSizeF() - 1));
    m_list->setFont(listFont);
    m_status = new QLabel(m_stack);
    m_status->setObjectName(QStringLiteral("ctl%1").arg(kIdStatus));
    m_status->setWordWrap(true);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setToolTip("Message: Click and start typing to enter a query");
    m_status->installEventFilter(this);
    m_queryBox = new QPlainTextEdit(m_stack);
    m_queryBox->setObjectName(QStringLiteral("ctl%1").arg(kIdQueryBox));
    m_queryBox->setAccessibleName("Query box");
    m_queryBox->setToolTip(
        "Query box: Type in your query text. The more you type the better the results");
    m_queryBox->installEventFilter(this);
    m_logo = new QLabel(m_stack);
    m_logo->setObjectName(QStringLiteral("ctl%1").arg(kIdQueryLogo));
    m_logo->setAlignment(Qt::AlignCenter);
    m_logo->setAccessibleName("Searching");
    QPixmap logo(QString::fromStdString(m_settings.GetQueryLogoPath()));
    m_logo->setPixmap(logo.isNull() ? builtinLogo(brand) : logo);
    m_stack->addWidget(m_list);
    m_stack->addWidget(m_status);
    m_stack->addWidget(m_queryBox);
    m_stack->addWidget(m_logo);
    row->addWidget(m_stack, 1);
    connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        // The line's result record decides what opens; a refusal or failure is told on
        // the status line.
        const int row = item->data(Qt::UserRole).toInt();
        if (row < 0 || row >= m_shown.hitCount || !m_shown.records) return;
        platform::DocumentOpener& opener = m_env.opener ? *m_env.opener : *m_ownOpener;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        std::string message = agent::openResult(
            m_shown.records[row], agent::OpenSettings::fromParameters(m_settings), opener);
        QApplication::restoreOverrideCursor();
        diagLog("agent: line %d opened%s%s\n", row, message.empty() ? "" : ": ", message.c_str());
        if (!message.empty()) ShowStatus(message);
    });

    // Right: the buttons (one column while floating, two rows while docked).
    auto* right = new QGridLayout;
    right->setSpacing(1);
    m_buttonGrid = right;
    m_quit = makeButton(this, kIdQuit, "x", "Exit", "Exit");
    m_pushpin = makeButton(this, kIdPushpin, "Pin", "Push-pin",
                           "Push-pin: Select to keep this window on top of all others", true);
    m_pause = makeButton(this, kIdPlayPause, "||", "Pause",
                         "Pause: Click to stop automatic suggestions", true);
    m_options =
        makeButton(this, kIdSettings, "Opt", "Options", "Options: Click to configure Vantri");
    m_hitTool = new CCaptureBitmapButton(this);
    {
        const QString tip = "Hit-tool: Drag onto a window to suggest with it's text";
        m_hitTool->setObjectName(QStringLiteral("ctl%1").arg(kIdHitTool));
        m_hitTool->setToolTip(tip);
        m_hitTool->setAccessibleName("Hit-tool");
        m_hitTool->setAccessibleDescription(tip);
        m_hitTool->setAutoRaise(true);
        m_hitTool->setFocusPolicy(Qt::NoFocus);
        m_hitTool->setFixedSize(22, 22);
        m_hitTool->windowRectAt = [this](const QPoint& at) -> QRect {
            if (!m_env.capture) return {};
            uint64_t window = m_env.capture->windowAt(at.x(), at.y());
            if (window == 0 || IsOwnWindow(window)) return {};
            platform::WindowInfo info = m_env.capture->describe(window);
            return QRect(info.x, info.y, info.width, info.height);
        };
        connect(m_hitTool, &CCaptureBitmapButton::dropped, this, &CSapioluxDlg::OnHitToolDropped);
        connect(m_hitTool, &CCaptureBitmapButton::clickedAt, this, &CSapioluxDlg::OnHitToolClicked);
        connect(m_hitTool, &CCaptureBitmapButton::releasePicked, this,
                &CSapioluxDlg::OnHitToolReleased);
    }
    m_webMenu = makeButton(this, kIdWebMenu, "v", "Web databases", "Web databases");
    m_info = makeButton(this, kIdInfo, "i", "Info",
                        "Info: When lit, click to display a list of information sources relevant "
                        "to the text");
    m_info->setEnabled(false);
    if (!m_env.opener) m_ownOpener = std::make_unique<platform::XdgDocumentOpener>();
    connect(m_info, &QToolButton::clicked, this, [this] {
        // One item per generated link (ids 8000 + index), a separator between kinds.
        if (m_infoSources.empty()) return;
        QMenu menu(this);
        for (size_t i = 0; i < m_infoSources.size(); ++i) {
            if (i > 0 && m_infoSources[i].kind != m_infoSources[i - 1].kind) menu.addSeparator();
            QString text = fromCp1252(m_infoSources[i].title);
            text.replace("&", "&&");
            menu.addAction(text)->setData(static_cast<int>(8000 + i));
        }
        QAction* chosen = menu.exec(m_info->mapToGlobal(QPoint(0, m_info->height())));
        if (!chosen) return;
        const size_t index = static_cast<size_t>(chosen->data().toInt() - 8000);
        if (index >= m_infoSources.size()) return;
        platform::DocumentOpener& opener = m_env.opener ? *m_env.opener : *m_ownOpener;
        std::string message =
            agent::carryOut(agent::checkTarget(m_infoSources[index].url),
                            agent::OpenSettings::fromParameters(m_settings), opener);
        if (!message.empty()) ShowStatus(message);
    });
    row->addLayout(right);
    m_pushpin->setChecked(m_settings.GetPushpinStatus() != 0);
    connect(m_pushpin, &QToolButton::toggled, this,
            [this](bool on) { m_settings.SetPushpinStatus(on ? 1 : 0); });
    connect(m_pause, &QToolButton::toggled, this, [this](bool paused) {
        m_paused = paused;
        m_pause->setText(paused ? ">" : "||");
        m_pause->setAccessibleName(paused ? "Continue" : "Pause");
        QString tip = paused ? "Pause: Click to restart automatic suggestions"
                             : "Pause: Click to stop automatic suggestions";
        m_pause->setToolTip(tip);
        m_pause->setAccessibleDescription(tip);
    });
    connect(m_quit, &QToolButton::clicked, this, [this] { RunCommand(kCmdExit); });
    connect(m_options, &QToolButton::clicked, this, [this] { RunCommand(kCmdOptions); });
    connect(m_webMenu, &QToolButton::clicked, this, [this] {
        if (!m_connected) return;
        SelectSource(kSourceWeb);
        QMenu menu(this);
        std::string all = m_settings.ExtGetText("WEBDATABASES");
        std::string selection = m_settings.ExtGetText("WEBSELECTION");
        std::vector<std::string> names;
        size_t pos = 0;
        while (pos <= all.size()) {
            size_t end = all.find_first_of(",+", pos);
            if (end == std::string::npos) end = all.size();
            if (end > pos) names.push_back(all.substr(pos, end - pos));
            pos = end + 1;
        }
        for (size_t i = 0; i < names.size(); ++i) {
            QAction* action = menu.addAction(fromCp1252(names[i]));
            action->setData(static_cast<int>(6000 + i));
            action->setCheckable(true);
            action->setChecked(names[i] == selection);
        }
        menu.addSeparator();
        QAction* allAction = menu.addAction("All");
        allAction->setData(7000);
        allAction->setCheckable(true);
        allAction->setChecked(selection.empty() || selection == all);
        QAction* chosen = menu.exec(m_webMenu->mapToGlobal(QPoint(0, m_webMenu->height())));
        if (!chosen) return;
        int id = chosen->data().toInt();
        m_settings.ExtSetText("WEBSELECTION", id == 7000 ? all : names[id - 6000]);
        m_settings.ExtSave();
        SelectSource(kSourceWeb);
    });

    // Bottom: the source selectors, in source order.
    m_sourceRow = new QWidget(this);
    auto* sources = new QGridLayout(m_sourceRow);
    sources->setContentsMargins(2, 0, 2, 0);
    sources->setVerticalSpacing(0);
    m_sourceGrid = sources;
    m_sourceGroup = new QButtonGroup(this);
    m_sourceGroup->setExclusive(true);
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(kSourceNames[i], m_sourceRow);
        radio->setObjectName(QStringLiteral("ctl%1").arg(kSourceSelectorIds[i]));
        radio->setToolTip(kSourceTips[i]);
        radio->setAccessibleDescription(kSourceTips[i]);
        radio->setFocusPolicy(Qt::NoFocus);
        m_sourceGroup->addButton(radio, i);
        m_selectors[i] = radio;
    }
    // Until a retrieval server is located only the local source can be chosen.
    for (int i = 1; i < 4; ++i) m_selectors[i]->setEnabled(false);
    m_selectors[0]->setEnabled(m_env.personalServer != nullptr);
    connect(m_sourceGroup, &QButtonGroup::idClicked, this, [this](int id) { SelectSource(id); });
    m_sourceRow->setVisible(m_settings.GetShowSourceCheckboxesOnMainDialog() != 0);
    outer->addWidget(m_sourceRow);

    m_titleTip = new CTitleTip(this);
    m_stack->setCurrentWidget(m_status);
    ArrangeControls(false);
}

void CSapioluxDlg::ArrangeControls(bool docked) {
    // Buttons: a column while floating; two rows beside the list while docked.
    QToolButton* buttons[] = {
        m_quit,    m_pushpin, m_pause, m_options, static_cast<QToolButton*>(m_hitTool),
        m_webMenu, m_info};
    for (QToolButton* b : buttons) m_buttonGrid->removeWidget(b);
    int at = 0;
    for (QToolButton* b : buttons) {
        if (docked && b == m_pushpin) {
            b->hide();  // a docked window is always shown
            continue;
        }
        b->show();
        if (docked)
            m_buttonGrid->addWidget(b, at % 2, at / 2);
        else
            m_buttonGrid->addWidget(b, at, 0);
        ++at;
    }
    m_buttonGrid->setRowStretch(docked ? 2 : at, 1);
    // Selectors: a row under the list while floating; a square of two beside it docked.
    for (QRadioButton* radio : m_selectors) {
        m_sourceGrid->removeWidget(radio);
        radio->setMaximumHeight(docked ? 24 : QWIDGETSIZE_MAX);
    }
    m_outerLayout->setContentsMargins(docked ? 1 : 2, docked ? 1 : 2, docked ? 1 : 2,
                                      docked ? 1 : 2);
    for (int i = 0; i < 4; ++i) {
        if (docked)
            m_sourceGrid->addWidget(m_selectors[i], i / 2, i % 2);
        else
            m_sourceGrid->addWidget(m_selectors[i], 0, i);
    }
    m_outerLayout->removeWidget(m_sourceRow);
    m_rowLayout->removeWidget(m_sourceRow);
    if (docked)
        m_rowLayout->insertWidget(m_rowLayout->indexOf(m_stack) + 1, m_sourceRow);
    else
        m_outerLayout->addWidget(m_sourceRow);
    // Long lists run in columns across a docked strip.
    m_list->setFlow(docked ? QListView::LeftToRight : QListView::TopToBottom);
    m_list->setWrapping(docked);
    m_list->setResizeMode(docked ? QListView::Adjust : QListView::Fixed);
    m_list->setGridSize(docked ? QSize(320, m_list->fontMetrics().height() + 4) : QSize());
    m_brand->setCursor(docked ? Qt::SizeVerCursor : Qt::ArrowCursor);
}

void CSapioluxDlg::PostMessage(AgentMessage message, uintptr_t wParam, intptr_t lParam) {
    m_poster->post(message, wParam, lParam);
}

void CSapioluxDlg::OnMessage(AgentMessage message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case kMsgQueryDone:
            OnQueryDone(wParam, static_cast<uint32_t>(lParam));
            break;
        case kMsgShowWindow:
            PopUp(wParam != 0);
            break;
        case kMsgProbeDone:
            OnProbeDone(wParam != 0);
            break;
        case kMsgWindowChanged:
            OnWindowChanged(static_cast<uint64_t>(wParam));
            break;
        case kMsgMailslotText:
            OnMailslotText();
            break;
        case kMsgHotKey:
            OnHotKey(static_cast<int>(wParam));
            break;
        case kMsgAdvertsReady:
            OnAdvertsReady();
            break;
        case kMsgAppBarCallback:
            // A burst of changes (a panel appearing changes the work area several times)
            // is handled once.
            m_appBarCallback->start();
            break;
        case kMsgTrayCallback:
            break;
    }
}

void CSapioluxDlg::Start() {
    ShowStatus(kTextNoSuggestions);
    if (m_env.personalServer) SelectSource(kSourceLocal, false);
    if (!m_connected) HideWindow();
    m_pollTimer->start(kPollMs);
    // Changes of the active window arrive as they happen; the poll stays as a fallback.
    if (m_env.capture) m_env.capture->followActiveWindow();
    LocateServer();
}

void CSapioluxDlg::LocateServer() {
    if (m_env.account) {
        ShowStatus(kTextLocatingServer);
        if (m_tray) m_tray->setTip(fromCp1252(kTextLocatingServer));
        const CAccountFlow::CheckResult result = m_env.account->Check(this);
        if (result == CAccountFlow::CheckResult::EndAgent) {
            emit quitRequested();
            return;
        }
        if (result == CAccountFlow::CheckResult::Failed) {
            // Without a valid account the agent stays off-line until the user goes
            // on-line again; the reconnect probe alone would skip the account.
            OfflineFallback(true);
            m_reconnectTimer->stop();
            m_offline = true;
            return;
        }
        // A query logo the account server handed out is shown from now on.
        QPixmap logo(QString::fromStdString(m_settings.GetQueryLogoPath()));
        if (!logo.isNull()) m_logo->setPixmap(logo);
    }
    StartProbe();
}

void CSapioluxDlg::GoOnline() {
    const std::string caption = m_settings.GetBrandName() + " " + m_settings.GetProductName();
    ShowNotConnected();
    ShowStatus(kTextNoSuggestions);
    for (;;) {
        const CAccountFlow::CheckResult result = m_env.account->Check(this);
        if (result == CAccountFlow::CheckResult::EndAgent) {
            emit quitRequested();
            return;
        }
        if (result == CAccountFlow::CheckResult::Ok) break;
        const ConnectChoice choice = m_env.account->AskAfterFailure();
        if (choice == ConnectChoice::Options) {
            RunCommand(kCmdOptions);
            continue;
        }
        if (choice == ConnectChoice::WorkOffline) {
            if (!m_env.personalServer) {
                if (m_env.messages)
                    m_env.messages->show(caption, kTextPersonalNotInstalledExit,
                                         platform::MsgIcon::Warning);
                emit quitRequested();
                return;
            }
            m_offline = true;
            return;
        }
    }
    m_offline = false;
    if (m_tray) m_tray->setIcon(CSystemTray::Icon::Connected);
    StartProbe();
}

int CSapioluxDlg::OnNewText(std::string text, int origin) {
    m_textOrigin = origin;
    if (m_shutDown || (!m_connected && !m_env.personalServer)) return 0;
    m_statusText = kTextNoSuggestions;
    m_lastText = text;
    if (m_advertRotation) m_advertRotation->OnNewText(monotonicSeconds());
    if (!text.empty()) {
        // The generated links for this text; the Info button is lit when there are any.
        if (!m_linkServices) {
            m_linkServices = std::make_unique<agent::LinkServices>();
            m_linkServices->load(agent::extendedSettings(m_settings));
        }
        m_infoSources = m_linkServices->linksFor(text);
        m_info->setEnabled(!m_infoSources.empty());
    }
    std::string query;
    if (!text.empty()) {
        query = m_builder->build(text, QueryOptions::fromParameters(m_settings)).text;
        // The builder updated the profile with the text (when it has term weights).
        if (m_weights) ContributeToCommunity(false);
    }
    m_currentQuery = query;
    int started = 0;
    if (query.empty()) {
        m_statusText = kTextNoWindowText;
        m_openPeriodTimer->stop();
        ShowNoNewSuggestions();
        ShowStatus(m_statusText);
    } else if (origin == kOriginHotKey && query == m_lastQuery) {
        ShowNoNewSuggestions();
        m_noResults = false;
        StartLogoPeriod();
    } else {
        m_openPeriodTimer->stop();
        StartLogoPeriod();
        m_queryOutstanding = true;
        started = StartQuery();
    }
    m_lastQuery = query;
    return started;
}

CSuggestionRequest* CSapioluxDlg::RequestFor(int source) const {
    switch (source) {
        case kSourceLocal:
            return m_requests[0].get();
        case kSourceCommunity:
            return m_requests[1].get();
        default:
            return m_requests[2].get();
    }
}

int CSapioluxDlg::StartQuery() {
    int source = m_settings.ExtGetNumber("SOURCE");
    if (source < 0 || source > 3) source = kSourceLocal;
    CSuggestionRequest* request = RequestFor(source);
    RequestParams params = requestParamsForSource(m_settings, source, m_currentQuery);
    m_titleSuffix = kSuffixQuerying;
    UpdateTitle();
    request->Fill(params);
    uint32_t id = request->Start();
    if (id == 0) {
        // No worker could start: nothing is outstanding, and the failure shows as one.
        diagLog("agent: cannot start a query worker\n");
        m_queryOutstanding = false;
        m_currentRequest = request;
        m_currentWorker = 0;
        ErrorPath();
        return 0;
    }
    m_currentRequest = request;
    m_currentWorker = id;
    return 1;
}

void CSapioluxDlg::OnQueryDone(uintptr_t requestValue, uint32_t workerId) {
    auto* request = reinterpret_cast<CSuggestionRequest*>(requestValue);
    int32_t status = m_poster->takeStatus(request, workerId);
    const bool current =
        request == m_currentRequest && workerId == m_currentWorker && !m_windowChangePending;
    if (current) {
        m_queryOutstanding = false;
        m_shownRequest = request;
        if (request->HasResult() && (status == kStatusHits || status == kStatusNoHits)) {
            m_notConnected = false;
            if (m_titleSuffix == kSuffixNotConnected || m_titleSuffix == kSuffixQuerying)
                m_titleSuffix.clear();
            if (status == kStatusHits) {
                if (m_listFree)
                    ShowResults(true);
                else
                    m_noResults = false;
                if (m_settings.GetAutoPopup() && !KeptAtEdge()) PostMessage(kMsgShowWindow);
            } else {
                m_noResults = true;
                if (m_listFree) EmptyListShowStatus();
            }
            UpdateTitle();
        } else {
            ErrorPath();
        }
        m_openPeriodTimer->start(std::max(1, m_settings.GetOpenPeriod()) * 1000);
    } else if (status != kStatusHits && status != kStatusNoHits) {
        // An older worker's failure still tells that the server cannot be reached.
        ErrorPath();
    }
    emit queryHandled();
}

void CSapioluxDlg::ErrorPath() {
    CSuggestionRequest* shown = m_shownRequest ? m_shownRequest : m_currentRequest;
    int sourceKind = shown ? shown->SourceKind() : m_source;
    if (sourceKind != kSourceLocal) OfflineFallback(false);
    m_notConnected = true;
    m_statusText = kTextNotConnected;
    ShowNotConnected();
    m_noResults = true;
    if (m_listFree) EmptyListShowStatus();
    HideWindow();
}

void CSapioluxDlg::EmptyListShowStatus() {
    m_list->clear();
    ShowStatus(m_statusText);
}

void CSapioluxDlg::ShowResults(bool newResult) {
    ixoDestroyQueryResult(&m_shown);
    CSuggestionRequest* request = m_shownRequest ? m_shownRequest : m_currentRequest;
    if (!request || !request->CopyResult(&m_shown)) return;
    if (m_shown.hitCount <= 0) {
        EmptyListShowStatus();
        return;
    }
    m_titleTip->hide();
    m_stack->setCurrentWidget(m_list);
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    const std::string titleField = m_settings.GetTitleFieldName();
    const bool similarity = m_settings.GetShowSimilarity() != 0;
    const int limit = std::min(m_settings.GetNSuggests(), m_shown.hitCount);
    for (int i = 0; i < limit; ++i) {
        auto* item = new QListWidgetItem(docTypeIcon(agent::docTypeIcon(m_shown.records[i])),
                                         fromCp1252(lineText(m_shown, titleField, i, similarity)));
        item->setData(Qt::UserRole, i);
        item->setData(Qt::AccessibleTextRole, item->text());
        m_list->addItem(item);
    }
    m_list->setUpdatesEnabled(true);
    m_list->scrollToTop();
    if (newResult)
        MarkNewSuggestions();
    else
        ShowNoNewSuggestions();
    emit listFilled();
}

void CSapioluxDlg::MarkNewSuggestions() {
    if (!isVisible() && !m_settings.GetAutoPopup()) {
        m_tray->startFlashing();
    } else {
        m_tray->stopFlashing();
        m_tray->setIcon(CSystemTray::Icon::NewSuggestions);
    }
    m_tray->setTip(kTextNewSuggestions);
    m_titleSuffix = kSuffixNewSuggestions;
    m_newSuggestions = true;
    UpdateTitle();
}

void CSapioluxDlg::ShowStatus(const std::string& text) {
    m_statusText = text.empty() ? std::string(kTextNoSuggestions) : text;
    m_status->setText(fromCp1252(m_statusText));
    m_status->setAccessibleName(fromCp1252(m_statusText));
    m_titleTip->hide();
    m_stack->setCurrentWidget(m_status);
}

QString CSapioluxDlg::statusText() const {
    return fromCp1252(m_statusText);
}

void CSapioluxDlg::UpdateTitle() {
    std::string title =
        agent::windowTitle(m_settings.GetBrandName(), m_settings.GetProductName(), m_titleSuffix,
                           m_settings.GetShowSelectedSourcesInTitleBar() != 0,
                           m_settings.GetIxoDatabasesSelectedNames());
    setWindowTitle(fromCp1252(title));
}

void CSapioluxDlg::ShowNoNewSuggestions() {
    m_tray->stopFlashing();
    if (!m_notConnected) {
        m_tray->setIcon(CSystemTray::Icon::Connected);
        m_tray->setTip(kTextNoNewSuggestions);
        m_titleSuffix.clear();
        UpdateTitle();
    }
    m_newSuggestions = false;
}

void CSapioluxDlg::ShowNotConnected(const std::string& tip) {
    if (!tip.empty()) {
        m_tray->setTip(fromCp1252(tip));  // a caller's own text changes only the tip
        return;
    }
    m_tray->setIcon(CSystemTray::Icon::NotConnected);
    m_tray->setTip(kTextNotConnectedTip);
    m_statusText = kTextNotConnected;
    m_status->setText(fromCp1252(m_statusText));
    m_status->setAccessibleName(fromCp1252(m_statusText));
    m_titleSuffix = kSuffixNotConnected;
    UpdateTitle();
}

void CSapioluxDlg::StartLogoPeriod() {
    m_titleTip->hide();
    m_list->clear();
    ShowAdvertOrLogo();
    m_stack->setCurrentWidget(m_logo);
    if (m_logoTimer->isActive()) return;
    // The advert show time when adverts set one, else the query logo's own period.
    int period = m_settings.ExtGetNumber("ADVERTSHOWTIME");
    if (period <= 0) period = m_settings.GetQueryLogoPeriod();
    if (period <= 0) period = 3000;
    m_listFree = false;
    m_logoTimer->start(period);
}

void CSapioluxDlg::OnLogoTimer() {
    m_logoTimer->stop();
    m_listFree = true;
    if (m_queryOutstanding || m_windowChangePending) return;
    if (m_noResults) {
        EmptyListShowStatus();
        m_noResults = false;
    } else {
        ShowResults(false);
    }
}

void CSapioluxDlg::endLogoPeriod() {
    if (m_logoTimer->isActive()) OnLogoTimer();
}

void CSapioluxDlg::OnOpenPeriodTimer() {
    if (m_connected && !m_queryOutstanding && !m_typedMode) ShowNoNewSuggestions();
    const bool mouseOver = isVisible() && frameGeometry().contains(QCursor::pos());
    if (m_pushpin->isChecked() || KeptAtEdge() || mouseOver) return;
    m_openPeriodTimer->stop();
    HideWindow();
}

bool CSapioluxDlg::KeptAtEdge() const {
    // Docked; or set to be docked where no dock can be had: then the window stays where
    // it is, as a docked one would.
    return m_docked || (!m_env.dock && m_settings.GetIsAppBar() != 0);
}

void CSapioluxDlg::HideWindow() {
    if (KeptAtEdge() || m_pushpin->isChecked()) return;
    if (!isVisible() || isMinimized()) return;
    if (m_tray->available()) {
        hide();
        return;
    }
    // Without a tray icon to bring it back, a hidden window could never be reached
    // again: it is minimised instead.
    if (!m_toldNoTray) {
        m_toldNoTray = true;
        diagLog("agent: the desktop has no tray; the window is minimised instead of hidden\n");
        ShowStatus("This desktop has no tray: the window is minimised instead of hidden");
    }
    showMinimized();
}

void CSapioluxDlg::PopUp(bool force) {
    if (m_settings.GetDeskBandWindowHandle() != 0 && !force) return;
    if (isMinimized()) showNormal();
    show();
    if (m_notConnected) {
        ShowNotConnected();
    } else if (m_newSuggestions) {
        m_tray->stopFlashing();
        m_tray->setIcon(CSystemTray::Icon::NewSuggestions);
    } else {
        m_tray->setIcon(CSystemTray::Icon::Connected);
    }
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect area = screen->geometry();
        QPoint pos = this->pos();
        if (pos.x() >= area.right()) pos.setX(area.right() - 20 - width());
        if (pos.y() >= area.bottom()) pos.setY(area.bottom() - 20 - height());
        if (pos != this->pos()) move(pos);
    }
}

void CSapioluxDlg::SelectSource(int index, bool requery) {
    if (index < 0 || index > 3) return;
    for (QRadioButton* radio : m_selectors) radio->setChecked(false);
    m_selectors[index]->setChecked(true);
    m_source = index;
    m_settings.ExtSetNumber("SOURCE", index);
    m_settings.ExtSave();
    m_settings.SetUsingPersonalIxo(index == kSourceLocal ? 1 : 0);
    if (m_typedMode) LeaveTypedQuery(false);
    UpdateTitle();
    if (requery && !m_lastText.empty()) OnNewText(m_lastText, kOriginSourceChange);
}

void CSapioluxDlg::ServerLocated() {
    m_statusText = kTextAttemptingConnection;
    m_connected = true;
    m_offline = false;
    m_reconnectTimer->stop();
    m_selectors[kSourceNews]->setEnabled(true);
    m_selectors[kSourceWeb]->setEnabled(true);
    m_selectors[kSourceCommunity]->setEnabled(m_settings.ExtGetFlag("SHOWCOMMUNITY"));
    m_notConnected = false;
    m_titleSuffix.clear();
    // The saved remote source stays chosen; a local or unusable choice becomes the Web.
    int source = m_settings.ExtGetNumber("SOURCE");
    if (source == kSourceLocal || !m_selectors[source]->isEnabled()) source = kSourceWeb;
    SelectSource(source, false);
    ShowStatus(kTextNoSuggestions);
    // The upgrade offer waits until this handler is done: it opens dialogs.
    if (m_env.account)
        QTimer::singleShot(0, this, [this] {
            if (m_env.account && !m_shutDown && m_env.account->OfferUpgrade()) emit quitRequested();
        });
    StartAdvertFetch();
}

void CSapioluxDlg::StartAdvertFetch() {
    // Once per run, and only when adverts are switched on.
    if ((m_advertFetcher && m_advertFetcher->HasRun()) || !agent::advertsEnabled(m_settings))
        return;
    if (!m_advertFetcher) m_advertFetcher = std::make_unique<agent::CAdvertFetcher>();
    std::weak_ptr<MessagePoster> poster = m_poster;
    m_advertFetcher->Start(agent::advertConfigFromSettings(m_settings),
                           agent::advertTerms(m_profile.get()), [poster] {
                               if (auto p = poster.lock()) p->post(kMsgAdvertsReady, 0, 0);
                           });
}

void CSapioluxDlg::OnAdvertsReady() {
    if (!m_advertFetcher) return;
    std::optional<agent::AdvertSet> set = m_advertFetcher->Take();
    if (!set) return;
    // The new set replaces the old one whole; a banner Qt cannot read is left out.
    std::vector<QPixmap> pictures;
    std::vector<QString> titles;
    for (const agent::Advert& advert : *set) {
        QPixmap picture;
        if (!picture.loadFromData(reinterpret_cast<const uchar*>(advert.picture.data()),
                                  static_cast<uint>(advert.picture.size()), "BMP"))
            continue;
        pictures.push_back(std::move(picture));
        titles.push_back(fromCp1252(advert.title));
    }
    m_advertPictures = std::move(pictures);
    m_advertTitles = std::move(titles);
    if (!m_advertRotation) m_advertRotation = std::make_unique<agent::CAdvertRotation>();
    m_advertRotation->Reset(m_advertPictures.size(), monotonicSeconds());
}

int CSapioluxDlg::currentAdvert() const {
    return m_advertRotation ? m_advertRotation->Current() : -1;
}

void CSapioluxDlg::ShowAdvertOrLogo() {
    const int current = currentAdvert();
    if (current >= 0 && static_cast<size_t>(current) < m_advertPictures.size()) {
        if (!m_showingAdvert) m_queryLogoPicture = m_logo->pixmap();
        QPixmap picture = m_advertPictures[static_cast<size_t>(current)];
        const QSize room = m_logo->size();
        if (room.isValid() && (picture.width() > room.width() || picture.height() > room.height()))
            picture = picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        m_logo->setPixmap(picture);
        m_logo->setToolTip(m_advertTitles[static_cast<size_t>(current)]);
        m_showingAdvert = true;
    } else if (m_showingAdvert) {
        m_logo->setPixmap(m_queryLogoPicture);
        m_logo->setToolTip(QString());
        m_showingAdvert = false;
    }
}

void CSapioluxDlg::ContributeToCommunity(bool forced) {
    if (m_shutDown) return;
    if (!m_community) m_community = std::make_unique<agent::CCommunity>();
    static std::mt19937 random{std::random_device{}()};
    m_community->Contribute(forced, m_settings, m_profile.get(), m_notConnected, m_connected,
                            monotonicSeconds(), static_cast<uint32_t>(random()));
}

void CSapioluxDlg::OfflineFallback(bool forced) {
    if (!m_connected && !forced) return;
    for (QRadioButton* radio : m_selectors) radio->setChecked(false);
    m_connected = false;
    if (m_env.personalServer) {
        SelectSource(kSourceLocal, false);
        int documents = -1;
        if (m_env.personalServer->WaitReady(0, &documents) && documents == 0 && m_env.messages) {
            m_env.messages->show(
                "Analysing Local Content",
                "To get suggestions from local content, PersonalVantri must first analyse your "
                "hard drive. Please configure the file options and start the analysis by "
                "pressing the play button on the next screen.",
                platform::MsgIcon::Information);
            m_env.personalServer->Start(true);
        }
        m_settings.SetUsingPersonalIxo(1);
    } else {
        ShowNotConnected();
        HideWindow();
    }
    m_openPeriodTimer->stop();
    m_reconnectTimer->start(kReconnectMs);
    update();
}

void CSapioluxDlg::StartProbe() {
    if (m_probeRunning) return;
    m_probeRunning = true;
    ProbeTarget target = probeTargetFor(m_settings);
    int timeout = std::max(1, m_env.probeTimeoutSeconds);
    std::weak_ptr<MessagePoster> poster = m_poster;
    try {
        std::thread([poster, target, timeout] {
            bool reachable = probeConnection(target, timeout);
            if (auto p = poster.lock()) p->post(kMsgProbeDone, reachable ? 1 : 0, 0);
        }).detach();
    } catch (...) {
        m_probeRunning = false;
        diagLog("agent: cannot start the connectivity probe\n");
    }
}

void CSapioluxDlg::OnProbeDone(bool reachable) {
    m_probeRunning = false;
    if (reachable) {
        ServerLocated();
        return;
    }
    OfflineFallback(!m_probeFailedOnce);
    m_probeFailedOnce = true;
}

void CSapioluxDlg::EnterTypedQuery(const QString& first) {
    m_typedMode = true;
    m_titleTip->hide();
    m_queryBox->setPlainText(first);
    m_stack->setCurrentWidget(m_queryBox);
    m_queryBox->setFocus();
    m_queryBox->moveCursor(QTextCursor::End);
    // The next window change is taken as new.
    m_windowChangePending = false;
}

void CSapioluxDlg::LeaveTypedQuery(bool submit) {
    if (!m_typedMode) return;
    m_typedMode = false;
    std::string text = toCp1252(m_queryBox->toPlainText());
    m_queryBox->clear();
    m_stack->setCurrentWidget(m_list->count() > 0 ? static_cast<QWidget*>(m_list)
                                                  : static_cast<QWidget*>(m_status));
    if (submit) OnNewText(text, kOriginHotKey);
}

void CSapioluxDlg::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    if (!m_typedMode && event->key() != Qt::Key_Escape && !text.isEmpty() && text[0].isPrint()) {
        EnterTypedQuery(text);
        return;
    }
    QWidget::keyPressEvent(event);
}

bool CSapioluxDlg::eventFilter(QObject* watched, QEvent* event) {
    // The brand picture stands in for the title bar, which window managers keep for
    // themselves: a double click docks or floats, a drag docks, floats or moves the strip.
    if (watched == m_brand && BrandDragEvent(event)) return true;
    if (watched == m_queryBox && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            LeaveTypedQuery(true);
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            LeaveTypedQuery(false);
            return true;
        }
        return false;
    }
    if (watched == m_list->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && !m_list->itemAt(mouse->position().toPoint())) {
                EnterTypedQuery(QString());
                return true;
            }
        } else if (event->type() == QEvent::MouseMove) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            ShowTitleTip(m_list->itemAt(mouse->position().toPoint()));
        } else if (event->type() == QEvent::Leave) {
            m_titleTip->hide();
        }
    }
    if (watched == m_status && event->type() == QEvent::MouseButtonPress) {
        EnterTypedQuery(QString());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CSapioluxDlg::ShowTitleTip(QListWidgetItem* item) {
    if (!item) {
        m_titleTip->hide();
        return;
    }
    int index = item->data(Qt::UserRole).toInt();
    QString text = fromCp1252(tipText(m_shown, m_settings.GetTitleFieldName(), index,
                                      m_settings.GetShowSimilarity() != 0));
    QRect cell = m_list->visualItemRect(item);
    int textLeft = cell.left() + m_list->iconSize().width() + 8;
    int needed = QFontMetrics(m_list->font()).horizontalAdvance(text) + 1 + 3;
    if (textLeft + needed <= cell.right() + 3) {
        m_titleTip->hide();
        return;
    }
    QRect global(m_list->viewport()->mapToGlobal(QPoint(textLeft, cell.top())),
                 QSize(needed, cell.height()));
    m_titleTip->showOver(global, text, m_list->font());
}

void CSapioluxDlg::contextMenuEvent(QContextMenuEvent* event) {
    ShowContextMenu(event->globalPos());
}

void CSapioluxDlg::FillMenu(QMenu* menu) {
    menu->clear();
    auto add = [&](int id, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
        return action;
    };
    add(kCmdAbout, "&About...");
    add(kCmdHomePage, "Home &Page...");
    QAction* openClose = add(kCmdOpenClose, "Open/&Close");
    menu->setDefaultAction(openClose);
    QAction* toolbar = add(kCmdShowAsToolbar, "Show as &Toolbar");
    toolbar->setCheckable(true);
    toolbar->setChecked(KeptAtEdge());
    add(kCmdOptions, "&Options...");
    add(kCmdMyComputer, "&My Computer...");
    add(kCmdHelp, "&Help...");
    add(kCmdExit, "E&xit");
    add(kCmdGoOnlineOffline, m_offline || !m_connected ? "&Go Online" : "&Go Offline");
}

void CSapioluxDlg::ShowContextMenu(const QPoint& globalPos) {
    QMenu menu(this);
    FillMenu(&menu);
    menu.exec(globalPos);
}

void CSapioluxDlg::RunCommand(int id) {
    const std::string caption = m_settings.GetBrandName() + " " + m_settings.GetProductName();
    switch (id) {
        case kCmdAbout:
            // One modal window at a time (the tray menu stays usable under one).
            if (!QApplication::activeModalWidget()) {
                CAboutDlg about(m_settings, this);
                about.exec();
            }
            break;
        case kCmdOpenClose:
            if (m_hiddenAtEdge)
                SlideIn();  // a strip slid out against its edge comes back
            else if (isVisible() && !isMinimized())
                HideWindow();
            else
                PopUp(true);
            break;
        case kCmdShowAsToolbar:
            if (m_docked)
                Undock();
            else if (m_env.dock)
                Dock();
            else
                m_settings.SetIsAppBar(m_settings.GetIsAppBar() ? 0 : 1);
            break;
        case kCmdMyComputer:
            if (m_env.personalServer) m_env.personalServer->Start(true);
            break;
        case kCmdExit:
            emit quitRequested();
            break;
        case kCmdOptions:
            OpenOptions();
            break;
        case kCmdGoOnlineOffline:
            // While the account server is being asked, the command waits for its answer.
            if (m_env.account && m_env.account->Busy()) break;
            if (m_connected && !m_offline) {
                if (m_env.account && !m_env.personalServer) {
                    // Off-line without local content leaves nothing to do: the agent ends.
                    if (m_env.messages &&
                        m_env.messages->show(
                            caption, kTextPersonalNotInstalledExit, platform::MsgIcon::Warning,
                            platform::MsgButtons::OkCancel) == platform::MsgAnswer::Ok)
                        emit quitRequested();
                    break;
                }
                m_offline = true;
                OfflineFallback(true);
            } else if (m_env.account) {
                GoOnline();
            } else {
                m_statusText = kTextLocatingServer;
                ShowStatus(m_statusText);
                StartProbe();
            }
            break;
        default:
            // The options sheet, the home page and help come with their own windows.
            diagLog("agent: command %d is not available yet\n", id);
            break;
    }
}

void CSapioluxDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) {
        // The open period runs only while another window is active.
        if (isActiveWindow())
            m_openPeriodTimer->stop();
        else if (m_setupDone && isVisible())
            m_openPeriodTimer->start(std::max(1, m_settings.GetOpenPeriod()) * 1000);
        // An auto-hiding strip shows while it is the active window.
        if (m_autoHide && isActiveWindow())
            SlideIn();
        else if (m_autoHide)
            m_autoHideCheck->start();
    }
    QWidget::changeEvent(event);
}

void CSapioluxDlg::closeEvent(QCloseEvent* event) {
    // The window manager's close button quits, as the window's own "x" does.
    event->ignore();
    emit quitRequested();
}

void CSapioluxDlg::ApplyPlacement() {
    const bool selectors = m_settings.GetShowSourceCheckboxesOnMainDialog() != 0;
    int width = m_settings.GetWidth(), height = m_settings.GetHeight();
    // The saved height leaves out the selector row; it is added back here.
    if (selectors) height += kSelectorRowHeight;
    width = std::max(width, kMinWidth);
    height = std::max(height, kMinHeight);
    if (m_settings.GetRememberSize() || !m_setupDone) resize(width, height);
    if (!m_settings.GetRememberPosition()) return;
    QScreen* screen =
        QGuiApplication::screenAt(QPoint(m_settings.GetXPosition(), m_settings.GetYPosition()));
    if (!screen) screen = QGuiApplication::primaryScreen();
    int x = m_settings.GetXPosition(), y = m_settings.GetYPosition();
    if (screen) {
        // A position saved on a screen that is gone, or partly off this one, is pulled in.
        QRect area = screen->availableGeometry();
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - this->width()));
        y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - this->height()));
    }
    move(x, y);
}

QRect CSapioluxDlg::placementToSave() const {
    QRect place = m_docked ? m_floatingRect : QRect(pos(), size());
    if (m_settings.GetShowSourceCheckboxesOnMainDialog())
        place.setHeight(place.height() - kSelectorRowHeight);
    return place;
}

void CSapioluxDlg::SavePlacement() {
    if (!m_setupDone) return;
    QRect place = placementToSave();
    if (m_settings.GetRememberSize()) {
        m_settings.SetWidth(place.width());
        m_settings.SetHeight(place.height());
    }
    if (m_settings.GetRememberPosition()) {
        m_settings.SetXPosition(place.x());
        m_settings.SetYPosition(place.y());
    }
}

bool CSapioluxDlg::Shutdown(int waitMs) {
    if (m_shutDown) return true;
    m_shutDown = true;
    // The personal server: the shutdown request, the stop file, and its control window.
    if (m_env.personalServer) m_env.personalServer->Stop();
    if (m_env.desktop) m_env.desktop->closeWindowsTitled("Halvoran Personal Vantri");
    for (QTimer* timer : {m_openPeriodTimer, m_pollTimer, m_logoTimer, m_reconnectTimer,
                          m_captureTimer, m_slideTimer, m_autoHideCheck, m_appBarCallback})
        if (timer) timer->stop();
    if (m_env.capture) m_env.capture->shutdown();
    if (m_mailslot) m_mailslot->close();
    SavePlacement();
    if (m_env.hotKeys) {
        m_env.hotKeys->unregisterKey(kHotKeyId);
        m_env.hotKeys->unregisterKey(kDebugHotKeyId);
    }
    if (m_docked && m_env.dock) m_env.dock->undock(static_cast<uint64_t>(winId()));
    // Running workers get a short while to finish; one stuck on its server is left.
    if (m_advertFetcher) m_advertFetcher->Cancel();
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!workersIdle() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    m_builder.reset();
    m_weights.reset();
    m_profile.reset();
    return workersIdle();
}

bool CSapioluxDlg::workersIdle() const {
    for (const auto& request : m_requests)
        if (request && request->Busy()) return false;
    // The advert and community threads too: shutdown gives them the same while to end.
    if (m_advertFetcher && !m_advertFetcher->Idle()) return false;
    if (m_community && !m_community->Idle()) return false;
    return true;
}

bool CSapioluxDlg::IsOwnWindow(uint64_t window) const {
    if (window == 0) return false;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->internalWinId() && static_cast<uint64_t>(top->internalWinId()) == window)
            return true;
    if (m_env.capture) {
        platform::WindowInfo info = m_env.capture->describe(window);
        if (info.pid != 0 && info.pid == static_cast<int>(::getpid())) return true;
    }
    return false;
}

bool CSapioluxDlg::AgentIsActive() {
    if (!isActiveWindow()) return false;
    // Qt's idea of the active window can lag behind the window manager's (seen after a
    // click into the agent followed by a switch to a program that stopped answering);
    // when the desktop names another program's window as active, that holds.
    if (m_env.desktop) {
        const uint64_t active = m_env.desktop->activeWindow().id;
        if (active != 0 && !IsOwnWindow(active)) return false;
    }
    return true;
}

bool CSapioluxDlg::IsFiltered(uint64_t window) {
    if (window == 0 || !m_settings.GetFilterOutCommonControls() || !m_env.capture) return false;
    // The class of the focused object as the reader last saw it, else the window's own.
    std::string cls = m_env.capture->lastClass(window);
    if (cls.empty() || cls == "browser") cls = m_env.capture->describe(window).windowClass;
    if (cls.empty()) return false;  // an unknown class matches no filter
    return m_settings.GetBadWindowClasses().find(cls) != std::string::npos;
}

bool CSapioluxDlg::IsBrowser(uint64_t window) {
    if (!m_env.capture) return false;
    if (m_env.capture->lastClass(window) == "browser") return true;
    std::string list = m_settings.ExtGetText("BROWSERCLASSES");
    if (list.empty()) list = kBrowserClasses;
    return inNameList(list, m_env.capture->describe(window).windowClass);
}

int CSapioluxDlg::captureTimerInterval() const {
    return m_captureTimer->isActive() ? m_captureTimer->interval() : 0;
}

void CSapioluxDlg::OnWindowChanged(uint64_t window) {
    if (window == 0 || window == m_currentWindow || IsOwnWindow(window)) return;
    m_currentWindow = window;
    if (m_modalOpen || QApplication::activeModalWidget()) return;
    m_captureTimer->start(IsBrowser(window) ? kBrowserCaptureMs : kCaptureMs);
    // Any result still on its way belongs to the window that was left.
    m_windowChangePending = true;
}

void CSapioluxDlg::OnCaptureTimer() {
    if (m_typedMode) LeaveTypedQuery(false);
    m_windowChangePending = false;
    m_captureTimer->stop();
    if (AgentIsActive() || m_modalOpen || QApplication::activeModalWidget() || m_paused) return;
    m_textOrigin = kOriginWindowChange;
    CaptureText(m_settings.GetSuggestFromClipboard() != 0, 0);
}

std::string CSapioluxDlg::ReadClipboard() {
    // The clipboard is read once per change (reading it asks its owner, which may be
    // slow); a capture takes the text kept then, once.
    std::string text = std::move(m_newClipboard);
    m_newClipboard.clear();
    return text;
}

void CSapioluxDlg::OnClipboardChanged() {
    if (!m_settings.GetSuggestFromClipboard() || m_shutDown) return;
    QString text = QGuiApplication::clipboard()->text(QClipboard::Clipboard).trimmed();
    if (text.isEmpty()) return;
    std::string bytes = toCp1252(text);
    if (m_hasLastClipboard && bytes == m_lastClipboard) return;  // the same text again
    m_lastClipboard = bytes;
    m_hasLastClipboard = true;
    m_newClipboard = bytes;
    if (m_paused) return;
    // New clipboard text is a source of suggestions at once.
    OnNewText(ReadClipboard(), kOriginHotKey);
}

int CSapioluxDlg::CaptureText(bool useClipboard, uint64_t window) {
    if (window != 0 && m_typedMode) LeaveTypedQuery(false);
    m_info->setEnabled(false);
    int result = 0;
    std::string clipboardText = useClipboard ? ReadClipboard() : std::string();
    if (!clipboardText.empty()) {
        result = OnNewText(clipboardText, m_textOrigin);
    } else {
        uint64_t chosen = 0;
        if (window != 0 && !IsFiltered(window) && !IsOwnWindow(window)) {
            chosen = window;
            m_currentWindow = window;
        } else if (m_picked) {
            chosen = m_pickedWindow;
            m_currentWindow = chosen;
        } else if (m_currentWindow != 0 && !IsFiltered(m_currentWindow)) {
            chosen = m_currentWindow;
        }
        if (chosen != 0 && m_env.capture && m_env.capture->requestText(chosen)) result = 1;
    }
    if (IsFiltered(m_currentWindow)) ShowStatus(kTextNoStrongTheme);
    return result;
}

void CSapioluxDlg::OnMailslotText() {
    if (!m_mailslot) return;
    std::optional<std::string> text = m_mailslot->readNext();
    if (!text) return;
    // The reader now knows the focused object's class: a list or tree gives no query.
    if (!m_picked && IsFiltered(m_currentWindow)) {
        ShowStatus(kTextNoStrongTheme);
        return;
    }
    OnNewText(*text, m_textOrigin);
}

void CSapioluxDlg::OnHitToolDropped(const QPoint& globalPos) {
    uint64_t window = m_env.capture ? m_env.capture->windowAt(globalPos.x(), globalPos.y()) : 0;
    if (window == 0 || IsOwnWindow(window)) {
        // Let go over the agent itself: back to following the active window.
        OnHitToolReleased();
        return;
    }
    m_env.capture->activate(window);
    m_pollTimer->stop();
    m_pickedWindow = window;
    m_picked = true;
    m_hitTool->setPicked(true);
    m_textOrigin = kOriginHotKey;
    CaptureText(false, 0);
}

void CSapioluxDlg::OnHitToolClicked(const QPoint& globalPos) {
    uint64_t window = m_env.capture ? m_env.capture->windowAt(globalPos.x(), globalPos.y()) : 0;
    m_pollTimer->start(std::max(50, m_settings.GetWindowChangedInterval()));
    m_picked = false;
    m_pickedWindow = 0;
    m_hitTool->setPicked(false);
    if (window == 0 || IsOwnWindow(window)) return;
    m_textOrigin = kOriginHotKey;
    CaptureText(false, window);
}

void CSapioluxDlg::OnHitToolReleased() {
    m_picked = false;
    m_pickedWindow = 0;
    m_hitTool->setPicked(false);
    m_pollTimer->start(std::max(50, m_settings.GetWindowChangedInterval()));
}

void CSapioluxDlg::RegisterHotKeys() {
    if (!m_env.hotKeys) return;
    std::weak_ptr<MessagePoster> poster = m_poster;
    m_env.hotKeys->pressed = [poster](int id) {
        if (auto p = poster.lock()) p->post(kMsgHotKey, static_cast<uintptr_t>(id), 0);
    };
    // Failures are not reported here; the options sheet reports them when the key changes.
    m_env.hotKeys->registerKey(kHotKeyId, m_settings.GetHotKeyCode(),
                               m_settings.GetHotKeyModifier());
    if (m_settings.ExtGetFlag("AllowDebug"))
        m_env.hotKeys->registerKey(
            kDebugHotKeyId, 'D',
            platform::kHotKeyControl | platform::kHotKeyAlt | platform::kHotKeyShift);
}

void CSapioluxDlg::OnHotKey(int id) {
    if (id == kDebugHotKeyId && !m_logoTimer->isActive()) {
        if (!m_settings.ExtGetFlag("AllowDebug") || !m_env.messages) return;
        std::string dump;
        if (m_shown.hitCount > 0 && m_list->count() > 0) {
            for (int i = 0; i < m_shown.hitCount; ++i) {
                const IxoResultRecord& r = m_shown.records[i];
                char block[4096];
                std::snprintf(
                    block, sizeof block,
                    "Reference: %s\r\nTitle: %s\r\nDocID: %d\r\nWeight: %d\r\nLinks: %s\r\n\r\n",
                    r.name ? r.name : "", r.title ? r.title : "", r.docId, r.weight,
                    r.links ? r.links : "");
                dump += block;
            }
        }
        char head[64];
        std::snprintf(head, sizeof head, "hwnd: 0x%llx\r\nQuery text:\r\n",
                      static_cast<unsigned long long>(m_currentWindow));
        m_env.messages->show(m_settings.GetBrandName() + " " + m_settings.GetProductName(),
                             dump + head + m_lastQuery + "\r\n", platform::MsgIcon::Information);
        return;
    }
    m_textOrigin = kOriginHotKey;
    if (!m_docked) PopUp(true);
    if (!AgentIsActive() && !QApplication::activeModalWidget()) {
        CaptureText(m_settings.GetSuggestFromClipboard() != 0, 0);
    } else if (m_typedMode) {
        LeaveTypedQuery(true);
    }
}

void CSapioluxDlg::ShowAtStart() {
    if (m_settings.GetIsAppBar() && m_env.dock)
        Dock();
    else
        show();
}

void CSapioluxDlg::Dock() {
    if (m_docked || !m_env.dock) return;
    m_floatingRect = QRect(pos(), size());
    m_settings.SetPushpinStatus(m_pushpin->isChecked() ? 1 : 0);
    hide();
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    ArrangeControls(true);
    int side = m_settings.GetAppBarSide();
    if (side < 0 || side > 3) side = 3;
    const uint64_t window = static_cast<uint64_t>(winId());
    platform::ScreenRect place = m_env.dock->placeFor(window, side, kDockThickness);
    // The window manager reads the dock properties when the window is mapped.
    m_env.dock->dock(window, side, place);
    // The strip's thickness wins over the controls' wishes.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(0, 0);
    m_dockRect = QRect(place.x, place.y, place.width, place.height);
    m_placeRetries = 0;
    setGeometry(m_dockRect);
    m_docked = true;
    m_settings.SetIsAppBar(1);
    show();
}

void CSapioluxDlg::Undock() {
    if (!m_docked) return;
    // Auto-hide belongs to the docked strip.
    m_slideTimer->stop();
    m_autoHideCheck->stop();
    m_autoHide = m_hiddenAtEdge = false;
    hide();
    m_env.dock->undock(static_cast<uint64_t>(winId()));
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
    if (m_settings.GetAlwaysOnTop()) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    ArrangeControls(false);
    m_pushpin->setChecked(m_settings.GetPushpinStatus() != 0);
    m_docked = false;
    m_settings.SetIsAppBar(0);
    layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    if (m_floatingRect.isValid()) {
        resize(m_floatingRect.size());
        move(m_floatingRect.topLeft());
    }
    show();
}

void CSapioluxDlg::MoveDockTo(int edge) {
    if (!m_docked || edge == m_settings.GetAppBarSide()) return;
    m_settings.SetAppBarSide(edge);
    // Docked again at the new edge: the window manager reads the reservation on mapping.
    hide();
    const uint64_t window = static_cast<uint64_t>(winId());
    m_env.dock->undock(window);
    platform::ScreenRect place = m_env.dock->placeFor(window, edge, kDockThickness);
    m_env.dock->dock(window, edge, place);
    // An auto-hiding strip keeps no reservation; it shows at the new edge, then slides out
    // once the pointer is elsewhere.
    m_slideTimer->stop();
    if (m_autoHide) m_env.dock->release(window);
    m_hiddenAtEdge = false;
    m_dockRect = QRect(place.x, place.y, place.width, place.height);
    m_placeRetries = 0;
    setGeometry(m_dockRect);
    show();
    if (m_autoHide) m_autoHideCheck->start();
}

// ---- Docking by dragging, auto-hide, and work-area changes ----

namespace {

// The edge a docked strip takes (0 left, 1 top, 2 right, 3 bottom; bottom when the
// stored value is none of these).
int dockEdge(const CAppParameters& settings) {
    const int side = settings.GetAppBarSide();
    return side >= 0 && side <= 3 ? side : 3;
}

QRect toQRect(const platform::ScreenRect& r) {
    return QRect(r.x, r.y, r.width, r.height);
}

}  // namespace

void CSapioluxDlg::ConnectScreenChanges() {
    m_slideTimer = new QTimer(this);
    m_slideTimer->setInterval(kSlideStepMs);
    connect(m_slideTimer, &QTimer::timeout, this, &CSapioluxDlg::OnSlideStep);
    m_autoHideCheck = new QTimer(this);
    m_autoHideCheck->setSingleShot(true);
    m_autoHideCheck->setInterval(kAutoHideDelayMs);
    connect(m_autoHideCheck, &QTimer::timeout, this, &CSapioluxDlg::CheckAutoHide);
    m_appBarCallback = new QTimer(this);
    m_appBarCallback->setSingleShot(true);
    m_appBarCallback->setInterval(100);
    connect(m_appBarCallback, &QTimer::timeout, this, &CSapioluxDlg::OnAppBarCallback);

    // A change of a screen's size or of its work area (a panel reserving a strip, or
    // giving it back) reaches the window as the application bar's callback message.
    auto watch = [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this,
                [this] { PostMessage(kMsgAppBarCallback); });
        connect(screen, &QScreen::availableGeometryChanged, this,
                [this] { PostMessage(kMsgAppBarCallback); });
    };
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen* screen) {
        watch(screen);
        PostMessage(kMsgAppBarCallback);
    });
    connect(qApp, &QGuiApplication::screenRemoved, this,
            [this] { PostMessage(kMsgAppBarCallback); });
}

void CSapioluxDlg::OnAppBarCallback() {
    if (m_shutDown) return;
    if (!m_docked) {
        KeepFloatingOnScreen();
        return;
    }
    // The strip follows the work area: along the edge of what other panels leave.
    const uint64_t window = static_cast<uint64_t>(winId());
    const int edge = dockEdge(m_settings);
    const platform::ScreenRect place = m_env.dock->placeFor(window, edge, kDockThickness);
    if (toQRect(place) == m_dockRect) {
        // Where it belongs already; or put back there, when the window was told of a move
        // that went astray (a window manager's late answer to a request made before it
        // was docked). A few times only: a window manager that insists on another place
        // keeps it.
        if (!isSliding() && geometry() != DockedGeometry() && m_placeRetries < 3) {
            ++m_placeRetries;
            PlaceDocked(m_dockRect);
        }
        return;
    }
    if (!m_autoHide) m_env.dock->dock(window, edge, place);
    m_placeRetries = 0;
    PlaceDocked(toQRect(place));
}

QRect CSapioluxDlg::DockedGeometry() const {
    return m_hiddenAtEdge ? EdgeStrip(m_dockRect, false) : m_dockRect;
}

void CSapioluxDlg::KeepFloatingOnScreen() {
    if (m_draggingFloat) return;
    const QRect frame = frameGeometry();
    QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const int x =
        std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() + 1 - frame.width()));
    const int y =
        std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height()));
    if (QPoint(x, y) != frame.topLeft()) move(x, y);
}

void CSapioluxDlg::PlaceDocked(const QRect& place) {
    m_dockRect = place;
    m_slideTimer->stop();
    setGeometry(DockedGeometry());
}

QRect CSapioluxDlg::EdgeStrip(const QRect& d, bool offScreen) const {
    // The strip slid out: only kEdgeStrip pixels of it stay on the screen. offScreen: at
    // its full size, the rest beyond the edge (where a slide ends and begins); otherwise
    // just those pixels.
    const int w = offScreen ? d.width() : kEdgeStrip;
    const int h = offScreen ? d.height() : kEdgeStrip;
    switch (dockEdge(m_settings)) {
        case 0:
            return QRect(d.x() - (offScreen ? d.width() - kEdgeStrip : 0), d.y(), w, d.height());
        case 1:
            return QRect(d.x(), d.y() - (offScreen ? d.height() - kEdgeStrip : 0), d.width(), h);
        case 2:
            return QRect(d.x() + d.width() - kEdgeStrip, d.y(), w, d.height());
        default:
            return QRect(d.x(), d.y() + d.height() - kEdgeStrip, d.width(), h);
    }
}

bool CSapioluxDlg::SetAutoHide(bool on) {
    if (!m_docked || !m_env.dock) return false;
    if (on == m_autoHide) return true;
    const uint64_t window = static_cast<uint64_t>(winId());
    if (on) {
        // Other windows get the whole screen back; the strip lies over them when shown.
        if (!m_env.dock->release(window)) return false;
        m_autoHide = true;
        m_hiddenAtEdge = false;
        if (!frameGeometry().contains(QCursor::pos())) SlideOut();
        return true;
    }
    m_slideTimer->stop();
    m_autoHideCheck->stop();
    m_autoHide = m_hiddenAtEdge = false;
    const int edge = dockEdge(m_settings);
    const platform::ScreenRect place = m_env.dock->placeFor(window, edge, kDockThickness);
    m_env.dock->dock(window, edge, place);
    PlaceDocked(toQRect(place));
    return true;
}

bool CSapioluxDlg::isSliding() const {
    return m_slideTimer && m_slideTimer->isActive();
}

void CSapioluxDlg::SlideOut() {
    if (!m_autoHide || m_hiddenAtEdge) return;
    m_hiddenAtEdge = true;
    SlideTo(geometry(), EdgeStrip(m_dockRect, true), kSlideOutMs);
}

void CSapioluxDlg::SlideIn() {
    if (!m_autoHide || !m_hiddenAtEdge) return;
    m_hiddenAtEdge = false;
    // Growing: the strip first takes its full size where it lies (beyond the edge), then
    // moves in. A slide out under way turns round where it is.
    QRect from = geometry();
    if (from.size() != m_dockRect.size()) {
        from = EdgeStrip(m_dockRect, true);
        setGeometry(from);
    }
    SlideTo(from, m_dockRect, kSlideInMs);
}

void CSapioluxDlg::SlideTo(const QRect& from, const QRect& to, int durationMs) {
    m_slideFrom = from;
    m_slideTo = to;
    m_slideMs = durationMs;
    m_slideClock.start();
    if (durationMs < 1) {
        OnSlideStep();
        return;
    }
    m_slideTimer->start();
}

void CSapioluxDlg::OnSlideStep() {
    const qint64 elapsed = std::min<qint64>(m_slideClock.elapsed(), m_slideMs);
    if (m_slideMs < 1 || elapsed >= m_slideMs) {
        // The end: exactly the strip as shown, or its few pixels at the edge.
        m_slideTimer->stop();
        setGeometry(DockedGeometry());
        return;
    }
    const qint64 x = m_slideFrom.x() + (m_slideTo.x() - m_slideFrom.x()) * elapsed / m_slideMs;
    const qint64 y = m_slideFrom.y() + (m_slideTo.y() - m_slideFrom.y()) * elapsed / m_slideMs;
    move(static_cast<int>(x), static_cast<int>(y));
}

void CSapioluxDlg::CheckAutoHide() {
    if (!m_autoHide || m_hiddenAtEdge || m_shutDown) return;
    if (frameGeometry().contains(QCursor::pos())) return;  // it leaves again later
    // Not while the user works with it: a menu of its own, a dialog, a drag, a query
    // being typed into it. Looked at again shortly.
    if (QApplication::activePopupWidget() || QApplication::activeModalWidget() || m_draggingDock ||
        (m_typedMode && AgentIsActive())) {
        m_autoHideCheck->start();
        return;
    }
    SlideOut();
}

void CSapioluxDlg::enterEvent(QEnterEvent* event) {
    if (m_autoHide) {
        m_autoHideCheck->stop();
        SlideIn();
    }
    QWidget::enterEvent(event);
}

void CSapioluxDlg::leaveEvent(QEvent* event) {
    if (m_autoHide) m_autoHideCheck->start();
    QWidget::leaveEvent(event);
}

void CSapioluxDlg::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // The docked strip stays where it belongs; a move elsewhere is looked at shortly.
    if (m_docked && !isSliding() && !m_draggingDock && geometry() != DockedGeometry())
        m_appBarCallback->start();
}

void CSapioluxDlg::DockAt(int edge) {
    if (m_docked) {
        MoveDockTo(edge);
        return;
    }
    m_settings.SetAppBarSide(edge);
    Dock();
}

bool CSapioluxDlg::BrandDragEvent(QEvent* event) {
    // A double click docks or floats. A drag of the floating window moves it, and docks it
    // when it ends at the top or bottom edge of the screen; a drag of the docked strip
    // moves it to the top edge (ended in the upper third of the screen) or the bottom
    // edge (lower third), or floats the window where it ends (between them).
    switch (event->type()) {
        case QEvent::MouseButtonDblClick:
            m_draggingDock = m_draggingFloat = false;
            RunCommand(kCmdShowAsToolbar);
            return true;
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) return false;
            m_dragStart = mouse->globalPosition().toPoint();
            m_dragOffset = m_dragStart - pos();
            m_dragMoved = false;
            m_draggingDock = m_docked;
            m_draggingFloat = !m_docked;
            return true;
        }
        case QEvent::MouseMove: {
            if (!m_draggingDock && !m_draggingFloat) return false;
            const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
            if ((at - m_dragStart).manhattanLength() >= QApplication::startDragDistance())
                m_dragMoved = true;
            if (m_draggingFloat && m_dragMoved) move(at - m_dragOffset);
            return true;
        }
        case QEvent::MouseButtonRelease: {
            if (!m_draggingDock && !m_draggingFloat) return false;
            const bool wasDocked = m_draggingDock;
            m_draggingDock = m_draggingFloat = false;
            const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
            if (!m_dragMoved &&
                (at - m_dragStart).manhattanLength() < QApplication::startDragDistance())
                return true;  // a click, not a drag
            if (!wasDocked) move(at - m_dragOffset);
            QScreen* screen = QGuiApplication::screenAt(at);
            if (!screen)
                screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
            if (!screen) return true;
            const QRect area = screen->geometry();
            if (wasDocked) {
                const int third = area.height() / 3;
                if (at.y() < area.top() + third) {
                    MoveDockTo(1);
                } else if (at.y() > area.bottom() - third) {
                    MoveDockTo(3);
                } else {
                    // Floating again, with the brand picture under the pointer.
                    const QPoint offset = m_brand->mapTo(this, QPoint(0, 0)) + QPoint(8, 8);
                    m_floatingRect.moveTopLeft(at - offset);
                    Undock();
                    KeepFloatingOnScreen();
                }
                return true;
            }
            const QPoint windowStart = m_dragStart - m_dragOffset;
            int edge = -1;
            if (at.y() <= area.top() + kDockSnap) edge = 1;
            if (at.y() >= area.bottom() - kDockSnap) edge = 3;
            if (edge < 0) return true;
            DockAt(edge);
            // Floating again later, the window goes back to where the drag began.
            if (m_docked) m_floatingRect.moveTopLeft(windowStart);
            return true;
        }
        default:
            return false;
    }
}

void CSapioluxDlg::OpenOptions() {
    if (m_modalOpen) return;
    const SheetWatch before = SheetWatch::Take(m_settings);
    SettingsSheetEnv env;
    env.settings = &m_settings;
    env.messages = m_env.messages;
    env.hotKeys = m_env.hotKeys;
    env.personalServer = m_env.personalServer;
    env.proxyDetection = m_env.proxyDetection;
    env.accountCheck = m_env.accountCheck;
    env.serverCheck = m_env.serverCheck;
    env.hotKeyId = kHotKeyId;
    int answer = QDialog::Rejected;
    {
        CSettingsSheet sheet(this, env);
        // While the sheet is open no window text is captured.
        m_modalOpen = true;
        answer = sheet.exec();
        m_modalOpen = false;
    }
    if (m_shutDown) return;
    if (answer == QDialog::Accepted) {
        UpdateTitle();
        ApplySheetChanges(before);
    }
    // A changed community entry is sent (or withdrawn) at once, not at the next hour.
    if (m_settings.ExtGetFlag("ShowCommunity") &&
        before.CommunityChanged(SheetWatch::Take(m_settings)))
        ContributeToCommunity(true);
}

void CSapioluxDlg::ReloadUserStoplist() {
    m_userStoplist.clear();
    if (m_settings.GetUseStoplist() && !m_settings.GetStoplistFilename().empty())
        loadUserStoplist(DataFile(m_settings.GetStoplistFilename()), m_userStoplist);
    m_builder = std::make_unique<QueryBuilder>(m_weights.get(), m_userStoplist, m_profile.get(),
                                               "profile.dat");
}

void CSapioluxDlg::ApplySheetChanges(const SheetWatch& before) {
    const SheetWatch after = SheetWatch::Take(m_settings);
    // 1. The source selectors: the window grows or shrinks by their row.
    const bool selectorsChanged = before.showSelectors != after.showSelectors;
    if (selectorsChanged) {
        const bool shown = after.showSelectors != 0;
        m_sourceRow->setVisible(shown);
        if (!m_docked)
            resize(width(), height() + (shown ? kSelectorRowHeight : -kSelectorRowHeight));
        if (shown) ArrangeControls(m_docked);
    }
    // 2. On top of other windows or not (a docked strip always is); place and size stay.
    if (before.alwaysOnTop != after.alwaysOnTop && !m_docked) {
        const QRect place = geometry();
        const bool visible = isVisible();
        Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
        if (after.alwaysOnTop) flags |= Qt::WindowStaysOnTopHint;
        setWindowFlags(flags);
        setGeometry(place);
        if (visible) show();
    }
    // 3. The automatic suggestion period: the window runs no timer on it, so there is
    // nothing to restart.
    // 4. The user's stop list, when its file or its use changed.
    if (before.stoplistFilename != after.stoplistFilename ||
        before.useStoplist != after.useStoplist)
        ReloadUserStoplist();
    if (before.SourceChanged(after)) {
        // 5. Another server, source or databases: the last text is asked for again.
        if (after.showSelectors && !selectorsChanged) ArrangeControls(m_docked);
        if (!m_lastText.empty()) OnNewText(m_lastText, kOriginSourceChange);
    } else if (before.showSimilarity != after.showSimilarity && m_shown.hitCount > 0 &&
               m_stack->currentWidget() == m_list) {
        // 6. The lines are written again with or without the percentages.
        const std::string titleField = m_settings.GetTitleFieldName();
        for (int i = 0; i < m_list->count(); ++i) {
            QListWidgetItem* item = m_list->item(i);
            const int record = item->data(Qt::UserRole).toInt();
            if (record < 0 || record >= m_shown.hitCount) continue;
            item->setText(
                fromCp1252(lineText(m_shown, titleField, record, after.showSimilarity != 0)));
            item->setData(Qt::AccessibleTextRole, item->text());
        }
    }
}

}  // namespace agent::ui
