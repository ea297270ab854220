#include "agent/ui/SapioluxDlg.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
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
#include <thread>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/mapurl.h"
#include "agent/opener.h"
#include "agent/probe.h"
#include "agent/profiling.h"
#include "agent/service.h"
#include "agent/texttoquery.h"
#include "agent/ui/TitleTip.h"
#include "agent/ui/qtedge.h"
#include "agent/windowtext.h"
#include "platform/desktop.h"
#include "platform/docopen.h"
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

  private:
    std::mutex m_lock;
    CSapioluxDlg* m_window;
    std::map<std::pair<const void*, uint32_t>, int32_t> m_status;
};

namespace {

constexpr int kSelectorRowHeight = 17;  // not counted in the saved height
constexpr int kMinWidth = 180, kMinHeight = 60;
constexpr int kReconnectMs = 10000;
constexpr int kPollMs = 500;

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

    m_openPeriodTimer = new QTimer(this);
    m_openPeriodTimer->setObjectName("timer2");
    connect(m_openPeriodTimer, &QTimer::timeout, this, &CSapioluxDlg::OnOpenPeriodTimer);
    m_pollTimer = new QTimer(this);
    m_pollTimer->setObjectName("timer3");
    m_logoTimer = new QTimer(this);
    m_logoTimer->setObjectName("timer4");
    m_logoTimer->setSingleShot(true);
    connect(m_logoTimer, &QTimer::timeout, this, &CSapioluxDlg::OnLogoTimer);
    m_reconnectTimer = new QTimer(this);
    connect(m_reconnectTimer, &QTimer::timeout, this, [this] {
        if (!m_probeRunning) StartProbe();
    });

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

void CSapioluxDlg::LoadQueryTables() {
    auto dataFile = [&](const std::string& name) {
        if (QFile::exists(QString::fromStdString(name))) return name;
        std::string shipped = m_env.dataDir + "/" + name;
        if (!m_env.dataDir.empty() && QFile::exists(QString::fromStdString(shipped)))
            return shipped;
        return name;
    };
    lang2LoadStoplist(dataFile("english.dat").c_str());
    m_weights = TermWeightTable::load(dataFile("enc.dat"));
    if (!m_weights) diagLog("agent: no term weights (enc.dat); every term weighs the same");
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

    // Left: the brand picture above the query logo's corner.
    auto* left = new QVBoxLayout;
    m_brand = new QLabel(this);
    m_brand->setObjectName(QStringLiteral("ctl%1").arg(kIdBrand));
    m_brand->setText(QStringLiteral("<b>%1</b>").arg(brand.toHtmlEscaped()));
    m_brand->setAccessibleName(brand);
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
        diagLog("agent: line %d opened%s%s", row, message.empty() ? "" : ": ", message.c_str());
        if (!message.empty()) ShowStatus(message);
    });

    // Right: the buttons.
    auto* right = new QVBoxLayout;
    right->setSpacing(1);
    m_quit = makeButton(this, kIdQuit, "x", "Exit", "Exit");
    m_pushpin = makeButton(this, kIdPushpin, "Pin", "Push-pin",
                           "Push-pin: Select to keep this window on top of all others", true);
    m_pause = makeButton(this, kIdPlayPause, "||", "Pause",
                         "Pause: Click to stop automatic suggestions", true);
    m_options =
        makeButton(this, kIdSettings, "Opt", "Options", "Options: Click to configure Vantri");
    m_hitTool = makeButton(this, kIdHitTool, "+", "Hit-tool",
                           "Hit-tool: Drag onto a window to suggest with it's text");
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
    for (QToolButton* b : {m_quit, m_pushpin, m_pause, m_options, m_hitTool, m_webMenu, m_info})
        right->addWidget(b);
    right->addStretch(1);
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
    auto* sources = new QHBoxLayout(m_sourceRow);
    sources->setContentsMargins(2, 0, 2, 0);
    m_sourceGroup = new QButtonGroup(this);
    m_sourceGroup->setExclusive(true);
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(kSourceNames[i], m_sourceRow);
        radio->setObjectName(QStringLiteral("ctl%1").arg(kSourceSelectorIds[i]));
        radio->setToolTip(kSourceTips[i]);
        radio->setAccessibleDescription(kSourceTips[i]);
        radio->setFocusPolicy(Qt::NoFocus);
        m_sourceGroup->addButton(radio, i);
        sources->addWidget(radio);
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
            // A new window became active: its text is read by the capture timer, and any
            // result still on its way belongs to the old window.
            m_windowChangePending = true;
            if (m_typedMode) LeaveTypedQuery(false);
            break;
        case kMsgTrayCallback:
        case kMsgMailslotText:
        case kMsgAdvertsReady:
        case kMsgAppBarCallback:
            break;
    }
}

void CSapioluxDlg::Start() {
    ShowStatus(kTextNoSuggestions);
    if (m_env.personalServer) SelectSource(kSourceLocal, false);
    if (!m_connected) HideWindow();
    m_pollTimer->start(kPollMs);
    StartProbe();
}

int CSapioluxDlg::OnNewText(std::string text, int origin) {
    m_textOrigin = origin;
    if (m_shutDown || (!m_connected && !m_env.personalServer)) return 0;
    m_statusText = kTextNoSuggestions;
    m_lastText = text;
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
    if (!text.empty())
        query = m_builder->build(text, QueryOptions::fromParameters(m_settings)).text;
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
        diagLog("agent: cannot start a query worker");
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
    if (!m_notConnected) {
        m_titleSuffix.clear();
        UpdateTitle();
    }
    m_newSuggestions = false;
}

void CSapioluxDlg::ShowNotConnected(const std::string& tip) {
    if (!tip.empty()) return;  // only the tray's tip would change
    m_statusText = kTextNotConnected;
    m_status->setText(fromCp1252(m_statusText));
    m_status->setAccessibleName(fromCp1252(m_statusText));
    m_titleSuffix = kSuffixNotConnected;
    UpdateTitle();
}

void CSapioluxDlg::StartLogoPeriod() {
    m_titleTip->hide();
    m_list->clear();
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
    // Until docking to a screen edge is built, a window set to be docked stays visible
    // where it is, as a docked one would.
    return m_settings.GetIsAppBar() != 0;
}

void CSapioluxDlg::HideWindow() {
    if (KeptAtEdge() || m_pushpin->isChecked()) return;
    if (!isVisible()) return;
    // Without a tray icon to bring it back, a hidden window could never be reached
    // again: it is minimised instead.
    showMinimized();
}

void CSapioluxDlg::PopUp(bool force) {
    if (m_settings.GetDeskBandWindowHandle() != 0 && !force) return;
    if (isMinimized()) showNormal();
    show();
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
    std::string host = m_settings.ExtGetText("IXO");
    int32_t port = m_settings.ExtGetNumber("PORT");
    int timeout = std::max(1, m_env.probeTimeoutSeconds);
    std::weak_ptr<MessagePoster> poster = m_poster;
    try {
        std::thread([poster, host, port, timeout] {
            bool reachable = probeServer(host, port, timeout);
            if (auto p = poster.lock()) p->post(kMsgProbeDone, reachable ? 1 : 0, 0);
        }).detach();
    } catch (...) {
        m_probeRunning = false;
        diagLog("agent: cannot start the connectivity probe");
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

void CSapioluxDlg::ShowContextMenu(const QPoint& globalPos) {
    QMenu menu(this);
    auto add = [&](int id, const QString& text) {
        QAction* action = menu.addAction(text);
        action->setData(id);
        return action;
    };
    add(kCmdAbout, "&About...");
    add(kCmdHomePage, "Home &Page...");
    QAction* openClose = add(kCmdOpenClose, "Open/&Close");
    menu.setDefaultAction(openClose);
    QAction* toolbar = add(kCmdShowAsToolbar, "Show as &Toolbar");
    toolbar->setCheckable(true);
    toolbar->setChecked(KeptAtEdge());
    add(kCmdOptions, "&Options...");
    add(kCmdMyComputer, "&My Computer...");
    add(kCmdHelp, "&Help...");
    add(kCmdExit, "E&xit");
    add(kCmdGoOnlineOffline, m_offline || !m_connected ? "&Go Online" : "&Go Offline");
    if (QAction* chosen = menu.exec(globalPos)) RunCommand(chosen->data().toInt());
}

void CSapioluxDlg::RunCommand(int id) {
    const std::string caption = m_settings.GetBrandName() + " " + m_settings.GetProductName();
    switch (id) {
        case kCmdAbout:
            if (m_env.messages)
                m_env.messages->show(caption,
                                     caption + "\nSuggests documents for the text you work on.",
                                     platform::MsgIcon::Information);
            break;
        case kCmdOpenClose:
            if (isVisible() && !isMinimized())
                HideWindow();
            else
                PopUp(true);
            break;
        case kCmdShowAsToolbar:
            m_settings.SetIsAppBar(KeptAtEdge() ? 0 : 1);
            break;
        case kCmdMyComputer:
            if (m_env.personalServer) m_env.personalServer->Start(true);
            break;
        case kCmdExit:
            emit quitRequested();
            break;
        case kCmdGoOnlineOffline:
            if (m_connected && !m_offline) {
                m_offline = true;
                OfflineFallback(true);
            } else {
                m_statusText = kTextLocatingServer;
                ShowStatus(m_statusText);
                StartProbe();
            }
            break;
        default:
            // The options sheet, the home page and help come with their own windows.
            diagLog("agent: command %d is not available yet", id);
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
    int height = this->height();
    if (m_settings.GetShowSourceCheckboxesOnMainDialog()) height -= kSelectorRowHeight;
    return QRect(x(), y(), width(), height);
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
    for (QTimer* timer : {m_openPeriodTimer, m_pollTimer, m_logoTimer, m_reconnectTimer})
        if (timer) timer->stop();
    SavePlacement();
    // Running workers get a short while to finish; one stuck on its server is left.
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
    return true;
}

}  // namespace agent::ui
