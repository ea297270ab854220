// CSapioluxDlg: the agent's suggestions window. It lists the suggestions of the last
// query (title and similarity, an icon by document type), shows a status line when there
// is nothing to list, tells the connection state and the selected sources in its title,
// and runs the window's half of the suggestion road: new text becomes a query, a worker
// thread per query, and only the newest worker's result is shown.
//
// Everything here runs on the window's thread. Other threads reach the window only by
// posting a message (PostMessage), which runs OnMessage later on the window's thread.
#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/messages.h"
#include "agent/ui/SettingsSheet.h"
#include "ixo.h"

class QButtonGroup;
class QEnterEvent;
class QMoveEvent;
class QGridLayout;
class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPlainTextEdit;
class QRadioButton;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace platform {
class CaptureSource;
class Desktop;
class DocumentOpener;
class Dock;
class HotKeys;
class Mailslot;
class MessageBoxes;
}  // namespace platform

namespace agent {
class CAdvertFetcher;
class CAdvertRotation;
class CAppParameters;
class CCommunity;
class CPersonalServer;
class CSuggestionRequest;
class LinkServices;
class QueryBuilder;
class TermWeightTable;
struct GeneratedLink;
struct UserProfile;
}  // namespace agent

namespace agent::ui {

class CAccountFlow;
class CCaptureBitmapButton;
class CSystemTray;
class CTitleTip;
class MessagePoster;

// Context-menu commands.
enum MenuCommand : int {
    kCmdAbout = 32781,
    kCmdHomePage = 32785,
    kCmdOpenClose = 32777,
    kCmdShowAsToolbar = 32797,
    kCmdOptions = 32778,
    kCmdMyComputer = 32784,
    kCmdHelp = 32786,
    kCmdExit = 57665,
    kCmdGoOnlineOffline = 32792,
};

// Control ids of the window, also the objects' names ("ctl<id>") for tests.
enum ControlId : int {
    kIdResults = 1000,
    kIdPushpin = 1008,
    kIdSettings = 1009,
    kIdHitTool = 1010,
    kIdPlayPause = 1013,
    kIdBrand = 1085,
    kIdStatus = 1089,
    kIdInfo = 1099,
    kIdQueryBox = 1112,
    kIdQueryLogo = 1117,
    kIdWebMenu = 1131,
    kIdQuit = 1132,
};

// The source selectors, by source index (0 My Computer, 1 Community, 2 News, 3 Web).
inline constexpr std::array<int, 4> kSourceSelectorIds = {4999, 5002, 5000, 5001};

// Hot key ids: the suggestion hot key and the debug hot key.
inline constexpr int kHotKeyId = 0xC000;
inline constexpr int kDebugHotKeyId = 0xB000;
// The thickness of the strip a docked window takes.
inline constexpr int kDockThickness = 53;

// Where the captured text came from (a repeat is ignored only for origin 0).
enum TextOrigin : int { kOriginHotKey = 0, kOriginWindowChange = 1, kOriginSourceChange = 2 };

class CSapioluxDlg : public QWidget {
    Q_OBJECT

  public:
    struct Env {
        agent::CAppParameters* settings = nullptr;
        platform::Desktop* desktop = nullptr;
        platform::MessageBoxes* messages = nullptr;
        agent::CPersonalServer* personalServer = nullptr;  // null: none was found
        platform::CaptureSource* capture = nullptr;        // null: no capture of other windows
        platform::HotKeys* hotKeys = nullptr;              // null: no global hot keys
        platform::Dock* dock = nullptr;                    // null: no docking to an edge
        std::string dataDir;  // shipped data files (enc.dat, english.dat), else "."
        int probeTimeoutSeconds = 5;
        platform::DocumentOpener* opener = nullptr;  // null: the desktop's xdg-open
        // The options sheet's outside helpers (empty: none; the IXO check is built in).
        ProxyDetection proxyDetection;
        AccountCheck accountCheck;
        ServerCheck serverCheck;
        CAccountFlow* account = nullptr;  // null: no account server (InternetVersion off)
    };

    explicit CSapioluxDlg(const Env& env, QWidget* parent = nullptr);
    ~CSapioluxDlg() override;

    // Posts a message to this window; safe from any thread.
    void PostMessage(agent::AgentMessage message, uintptr_t wParam = 0, intptr_t lParam = 0);

    // The start message's work: the first status, the local source when a personal server
    // was found, the poll timer and the connectivity probe.
    void Start();

    // New captured or typed text (single-byte); returns 1 when a query was started.
    int OnNewText(std::string text, int origin);
    // Fills the request of the selected source and starts its worker; 1 when started.
    int StartQuery();

    void ShowResults(bool newResult);
    void ShowStatus(const std::string& text);
    void UpdateTitle();
    void ShowNoNewSuggestions();
    void ShowNotConnected(const std::string& tip = {});
    // Selects source index (0..3), saves it, and asks again for the last text.
    void SelectSource(int index, bool requery = true);
    // The locate-server flow's outcome: a retrieval server answered.
    void ServerLocated();
    void OfflineFallback(bool forced);
    // Pops the window up (the show message's work).
    void PopUp(bool force);
    // A request to hide; ignored while pinned or kept at the screen edge.
    void HideWindow();
    // The community contribution: after each profile update (not forced) and when the
    // community settings change (forced).
    void ContributeToCommunity(bool forced);
    // The advert drawn in the next logo period (-1: none) and the number loaded.
    int currentAdvert() const;
    size_t advertCount() const { return m_advertPictures.size(); }

    // The main window's shutdown; runs once. Returns false when workers still run after
    // waitMs milliseconds (the caller must then end the process without destructors).
    bool Shutdown(int waitMs);
    // True when no worker of the window runs.
    bool workersIdle() const;

    // What the window shows, for the accessibility tests and the unit tests.
    QListWidget* resultsList() const { return m_list; }
    QString statusText() const;
    bool isConnected() const { return m_connected; }
    bool isNotConnected() const { return m_notConnected; }
    bool isQueryOutstanding() const { return m_queryOutstanding; }
    bool isTypedQueryMode() const { return m_typedMode; }
    int selectedSource() const { return m_source; }
    void setWindowChangePending(bool pending) { m_windowChangePending = pending; }
    // Ends a running logo period at once (tests, and the hot key).
    void endLogoPeriod();
    // Reads text for a query: the clipboard's when useClipboard is set and it holds new
    // text, else the given window's (0: the picked or current window). 1 when text was
    // handed on or a read was asked for.
    int CaptureText(bool useClipboard, uint64_t window);
    uint64_t currentWindow() const { return m_currentWindow; }
    bool isWindowChangePending() const { return m_windowChangePending; }
    // The window picked with the hit tool (0: following the active window).
    uint64_t pickedWindow() const { return m_picked ? m_pickedWindow : 0; }
    // The hit tool's outcomes, as the button reports them.
    void OnHitToolDropped(const QPoint& globalPos);
    void OnHitToolClicked(const QPoint& globalPos);
    void OnHitToolReleased();
    // The capture timer's period for the current window, in milliseconds (0: not armed).
    int captureTimerInterval() const;
    // Shows the window at start: docked when so set and a dock can be had.
    void ShowAtStart();
    void Dock();
    void Undock();
    // Moves a docked strip to another edge (0 left, 1 top, 2 right, 3 bottom).
    void MoveDockTo(int edge);
    bool isDocked() const { return m_docked; }
    // Auto-hide of the docked strip: the reservation is given back and the strip slides
    // out to its 2-pixel edge when the pointer leaves it, and back when it enters. False
    // (and nothing changes) when the window is not docked.
    bool SetAutoHide(bool on);
    bool isAutoHiding() const { return m_autoHide; }
    // Slid out against the edge (only a 2-pixel strip shows).
    bool isHiddenAtEdge() const { return m_hiddenAtEdge; }
    bool isSliding() const;
    // The rectangle of the strip when shown (valid while docked).
    QRect dockedRect() const { return m_dockRect; }
    CSystemTray* tray() const { return m_tray.get(); }
    void OnHotKey(int id);
    // Placement as it would be saved now: x, y, width, height.
    QRect placementToSave() const;
    void SavePlacement();
    // The options sheet, run modally; after OK its changes take effect at once.
    void OpenOptions();
    bool isSheetOpen() const { return m_modalOpen; }

  signals:
    // The list was filled from a result (after it is laid out and a repaint is queued).
    void listFilled();
    // A query-done message was handled.
    void queryHandled();
    // The window asks the application to end.
    void quitRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    friend class MessagePoster;
    void OnMessage(agent::AgentMessage message, uintptr_t wParam, intptr_t lParam);
    void OnQueryDone(uintptr_t request, uint32_t workerId);
    void ErrorPath();
    void StartLogoPeriod();
    void OnLogoTimer();
    void OnOpenPeriodTimer();
    void StartProbe();
    void StartAdvertFetch();
    void OnAdvertsReady();
    void ShowAdvertOrLogo();
    void OnProbeDone(bool reachable);
    // The locate-server flow's account part, then the probe; and going on-line again.
    void LocateServer();
    void GoOnline();
    void EnterTypedQuery(const QString& first);
    void LeaveTypedQuery(bool submit);
    void RunCommand(int id);
    void ShowContextMenu(const QPoint& globalPos);
    void FillMenu(QMenu* menu);
    void ApplyPlacement();
    void LoadQueryTables();
    std::string DataFile(const std::string& name) const;
    void ReloadUserStoplist();
    void ApplySheetChanges(const SheetWatch& before);
    void BuildControls();
    void MarkNewSuggestions();
    void EmptyListShowStatus();
    bool KeptAtEdge() const;
    agent::CSuggestionRequest* RequestFor(int source) const;
    void ShowTitleTip(QListWidgetItem* item);
    void OnWindowChanged(uint64_t window);
    void RegisterHotKeys();
    void ArrangeControls(bool docked);
    // Docking by dragging, auto-hide and the reaction to work-area changes.
    void ConnectScreenChanges();
    void OnAppBarCallback();
    void KeepFloatingOnScreen();
    void PlaceDocked(const QRect& place);
    QRect EdgeStrip(const QRect& docked, bool offScreen) const;
    QRect DockedGeometry() const;
    void SlideIn();
    void SlideOut();
    void SlideTo(const QRect& from, const QRect& to, int durationMs);
    void OnSlideStep();
    void CheckAutoHide();
    bool BrandDragEvent(QEvent* event);
    void DockAt(int edge);
    void OnCaptureTimer();
    void OnMailslotText();
    void OnClipboardChanged();
    std::string ReadClipboard();
    bool IsFiltered(uint64_t window);
    bool IsBrowser(uint64_t window);
    bool IsOwnWindow(uint64_t window) const;
    bool AgentIsActive();

    Env m_env;
    agent::CAppParameters& m_settings;
    std::shared_ptr<MessagePoster> m_poster;

    // Query building.
    std::unique_ptr<agent::TermWeightTable> m_weights;
    std::vector<std::string> m_userStoplist;
    std::unique_ptr<agent::UserProfile> m_profile;
    std::unique_ptr<agent::QueryBuilder> m_builder;

    // Requests: local, community, web (News shares the web one).
    std::array<std::unique_ptr<agent::CSuggestionRequest>, 3> m_requests;
    agent::CSuggestionRequest* m_currentRequest = nullptr;
    uint32_t m_currentWorker = 0;
    agent::CSuggestionRequest* m_shownRequest = nullptr;
    IxoQueryResult m_shown{};

    // Opening results, and the generated links the Info button offers for the last text.
    std::unique_ptr<platform::DocumentOpener> m_ownOpener;  // used when Env has none
    std::unique_ptr<agent::LinkServices> m_linkServices;
    std::vector<agent::GeneratedLink> m_infoSources;

    // Adverts (the fetch thread, the pictures of the set in use, which one is current)
    // and the community contribution.
    std::unique_ptr<agent::CAdvertFetcher> m_advertFetcher;
    std::unique_ptr<agent::CAdvertRotation> m_advertRotation;
    std::vector<QPixmap> m_advertPictures;
    std::vector<QString> m_advertTitles;
    QPixmap m_queryLogoPicture;
    bool m_showingAdvert = false;
    std::unique_ptr<agent::CCommunity> m_community;

    // Window state.
    int m_source = 0;
    int m_textOrigin = kOriginHotKey;
    std::string m_lastText;
    std::string m_lastQuery;
    std::string m_currentQuery;
    std::string m_statusText;
    std::string m_titleSuffix;
    bool m_connected = false;
    bool m_notConnected = false;
    bool m_queryOutstanding = false;
    bool m_windowChangePending = false;
    bool m_noResults = false;
    bool m_listFree = true;
    bool m_newSuggestions = false;
    bool m_typedMode = false;
    bool m_paused = false;
    bool m_offline = false;
    bool m_probeRunning = false;
    bool m_probeFailedOnce = false;
    bool m_setupDone = false;
    bool m_shutDown = false;
    bool m_modalOpen = false;

    // Controls.
    QStackedWidget* m_stack = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_status = nullptr;
    QPlainTextEdit* m_queryBox = nullptr;
    QLabel* m_logo = nullptr;
    QLabel* m_brand = nullptr;
    QToolButton* m_pushpin = nullptr;
    QToolButton* m_pause = nullptr;
    QToolButton* m_options = nullptr;
    CCaptureBitmapButton* m_hitTool = nullptr;
    QToolButton* m_info = nullptr;
    QToolButton* m_webMenu = nullptr;
    QToolButton* m_quit = nullptr;
    QWidget* m_sourceRow = nullptr;
    QVBoxLayout* m_outerLayout = nullptr;
    QHBoxLayout* m_rowLayout = nullptr;
    QGridLayout* m_buttonGrid = nullptr;
    QGridLayout* m_sourceGrid = nullptr;
    bool m_docked = false;
    bool m_draggingDock = false;
    QRect m_floatingRect;
    // Docking by dragging the brand picture, auto-hide and its slides.
    bool m_draggingFloat = false;
    bool m_dragMoved = false;
    QPoint m_dragStart;   // the pointer where the drag began
    QPoint m_dragOffset;  // the pointer less the window's position
    QRect m_dockRect;     // the strip where it shows
    bool m_autoHide = false;
    bool m_hiddenAtEdge = false;
    QTimer* m_slideTimer = nullptr;
    QElapsedTimer m_slideClock;
    QRect m_slideFrom, m_slideTo;
    int m_slideMs = 0;
    QTimer* m_autoHideCheck = nullptr;   // a short wait after the pointer leaves
    QTimer* m_appBarCallback = nullptr;  // gathers a burst of work-area changes into one
    int m_placeRetries = 0;              // the strip put back after a move that went astray
    std::unique_ptr<CSystemTray> m_tray;
    QMenu* m_trayMenu = nullptr;
    bool m_toldNoTray = false;
    QButtonGroup* m_sourceGroup = nullptr;
    std::array<QRadioButton*, 4> m_selectors{};
    CTitleTip* m_titleTip = nullptr;

    // Timers, by their ids.
    QTimer* m_openPeriodTimer = nullptr;  // 2
    QTimer* m_pollTimer = nullptr;        // 3
    QTimer* m_logoTimer = nullptr;        // 4
    QTimer* m_reconnectTimer = nullptr;
    QTimer* m_captureTimer = nullptr;  // 9

    // Capture.
    std::unique_ptr<platform::Mailslot> m_mailslot;
    uint64_t m_currentWindow = 0;
    uint64_t m_pickedWindow = 0;
    bool m_picked = false;
    std::string m_lastClipboard;  // the last clipboard text taken
    bool m_hasLastClipboard = false;
    std::string m_newClipboard;  // clipboard text not used yet
};

}  // namespace agent::ui
