// The pages of the settings sheet.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "agent/AppParameters.h"
#include "agent/service.h"
#include "agent/ui/SettingsSheet.h"
#include "agent/ui/qtedge.h"
#include "platform/hotkeys.h"
#include "platform/messagebox.h"

namespace agent::ui {
namespace {

QString q(const std::string& text) {
    return fromCp1252(text);
}

std::string s(const QString& text) {
    return toCp1252(text);
}

QString num(int32_t value) {
    return QString::number(value);
}

// "label [field] unit" on one row.
QHBoxLayout* row(QWidget* parent, const QString& label, QWidget* field, const QString& unit = {}) {
    auto* line = new QHBoxLayout;
    auto* caption = new QLabel(label, parent);
    caption->setBuddy(field);
    line->addWidget(caption);
    line->addWidget(field);
    if (!unit.isEmpty()) line->addWidget(new QLabel(unit, parent));
    line->addStretch(1);
    return line;
}

QLineEdit* numberField(QLineEdit* field) {
    field->setMaximumWidth(70);
    return field;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& tip) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    b->setAccessibleDescription(tip);
    b->setAutoDefault(false);
    return b;
}

using P = agent::CAppParameters;

constexpr int kMaxProxyText = 49;  // longest proxy host, user or password a client takes

}  // namespace

// ---- Proxy ----

CProxySettingsPage::CProxySettingsPage(const SettingsSheetEnv& env) : CSettingsPage(env, "Proxy") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Set the Proxy settings"));
    m_use = Box("UseProxy", "Use Proxy &Server", "Check to use a proxy server");
    layout->addWidget(m_use);
    m_modes = new QButtonGroup(this);
    const char* const names[3] = {"NoProxy", "SystemProxy", "CustomProxy"};
    const char* const captions[3] = {"No Proxy", "Use system settings", "Use custom settings:"};
    const char* const tips[3] = {"Connect directly, without a proxy server",
                                 "Use the proxy settings of the desktop",
                                 "Use the proxy server given below"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(captions[i], this);
        radio->setObjectName(names[i]);
        radio->setToolTip(tips[i]);
        m_modes->addButton(radio, i);
        layout->addWidget(radio);
    }
    m_host = Field("ProxyHost", "Name or address of the proxy server", kMaxProxyText);
    m_port = numberField(Field("ProxyPort", "Port of the proxy server", 5));
    m_user =
        Field("ProxyUsername", "User name for the proxy server, if it asks for one", kMaxProxyText);
    m_password =
        Field("ProxyPassword", "Password for the proxy server, if it asks for one", kMaxProxyText);
    m_password->setEchoMode(QLineEdit::Password);
    auto* grid = new QGridLayout;
    const std::pair<const char*, QLineEdit*> fields[] = {
        {"&Host:", m_host}, {"&Port:", m_port}, {"&Username:", m_user}, {"&Password:", m_password}};
    int r = 0;
    for (const auto& [caption, field] : fields) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(field);
        grid->addWidget(label, r, 0);
        grid->addWidget(field, r++, 1);
    }
    layout->addLayout(grid);
    auto* detect = button(this, "AutoDetect", "Auto Detect....",
                          "Look for the proxy settings of the web browsers on this computer");
    auto* hint = new QLabel("If you are unsure, try auto detecting the proxy settings", this);
    hint->setWordWrap(true);
    auto* detectRow = new QHBoxLayout;
    detectRow->addWidget(hint, 1);
    detectRow->addWidget(detect);
    layout->addLayout(detectRow);
    layout->addStretch(1);

    connect(m_use, &QCheckBox::clicked, this,
            [this](bool on) { SetMode(on ? (m_host->text().isEmpty() ? 1 : 2) : 0); });
    connect(m_modes, &QButtonGroup::idClicked, this, [this](int id) { SetMode(id); });
    connect(detect, &QPushButton::clicked, this, [this] { AutoDetect(); });
}

int CProxySettingsPage::mode() const {
    return std::max(0, m_modes->checkedId());
}

void CProxySettingsPage::SetMode(int mode) {
    if (auto* b = m_modes->button(mode)) b->setChecked(true);
    m_use->setChecked(mode != 0);
    UpdateEnabled();
}

void CProxySettingsPage::UpdateEnabled() {
    const bool custom = mode() == 2;
    for (QLineEdit* f : {m_host, m_port, m_user, m_password}) f->setEnabled(custom);
}

void CProxySettingsPage::Load() {
    int32_t use = m_settings.GetUseProxy();
    // In system-settings mode the getter gives the marker, not a host to show.
    m_host->setText(q(use == 1 ? std::string() : m_settings.GetProxyHost()));
    const int32_t port = m_settings.GetProxyPort();
    m_port->setText(port > 0 ? num(port) : QString());
    m_user->setText(q(m_settings.GetProxyUsername()));
    m_password->setText(q(m_settings.GetProxyPassword()));
    SetMode(use >= 0 && use <= 2 ? use : 0);
}

bool CProxySettingsPage::Validate() {
    if (mode() != 2) return true;
    const QString host = m_host->text().trimmed();
    if (host.isEmpty() || host.contains(QRegularExpression("\\s")))
        return Refuse(m_host, "You must specify the host name of the proxy server");
    if (!NumberIn(m_port, 1, 65535))
        return Refuse(m_port,
                      QString("You must specify a proxy port between %1 and %2").arg(1).arg(65535));
    return true;
}

void CProxySettingsPage::Save() {
    StartSave();
    const int newMode = mode();
    StoreNumber(&P::GetUseProxy, &P::SetUseProxy, newMode, "UseProxy");
    // In system-settings mode the host getter gives the marker, so the stored host is
    // compared with that and always written empty.
    const bool custom = newMode == 2;
    if (newMode == 0) return;
    StoreText(&P::GetProxyHost, &P::SetProxyHost,
              custom ? s(m_host->text().trimmed()) : std::string(), "Proxy Host");
    StoreNumber(&P::GetProxyPort, &P::SetProxyPort, custom ? m_port->text().trimmed().toInt() : 0,
                "Proxy Port");
    StoreText(&P::GetProxyUsername, &P::SetProxyUsername,
              custom ? s(m_user->text()) : std::string(), "Proxy Username");
    if (custom)
        StoreText(&P::GetProxyPassword, &P::SetProxyPassword, s(m_password->text()),
                  "Proxy Password");
}

void CProxySettingsPage::AutoDetect() {
    std::vector<DetectedProxyEntry> found;
    if (m_env.proxyDetection.detect) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        found = m_env.proxyDetection.detect();
        QApplication::restoreOverrideCursor();
    }
    if (found.empty()) {
        Tell("No proxy settings were detected", "Proxy Auto Detect");
        return;
    }
    if (!m_env.proxyDetection.choose) return;
    if (auto chosen = m_env.proxyDetection.choose(this, found)) ApplyDetected(*chosen);
}

void CProxySettingsPage::ApplyDetected(const DetectedProxyEntry& entry) {
    if (entry.host == agent::kAutoProxyHost) {
        m_host->clear();
        m_port->clear();
        m_user->clear();
        SetMode(1);
    } else {
        m_host->setText(q(entry.host));
        m_port->setText(entry.port > 0 ? num(entry.port) : QString());
        SetMode(2);
    }
}

// ---- Preferences ----

CAppSettingsPage::CAppSettingsPage(const SettingsSheetEnv& env)
    : CSettingsPage(env, "Preferences") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Select the suggestion preferences"));
    m_nSuggests = numberField(Field("NSuggests", "Number of documents to suggest per query", 4));
    layout->addLayout(row(this, "Sugges&t up to:", m_nSuggests, "documents at a time"));
    m_threshold = numberField(Field("Threshold", "Document similarity threshold", 3));
    layout->addLayout(row(this, "Suggest &documents with", m_threshold, "% similarity or above"));
    auto* auto_ = new QHBoxLayout;
    m_autoSuggest = Box("AutoSuggest", "&Automatically suggest every",
                        "Check to generate automatic suggestions");
    m_checkInterval =
        numberField(Field("CheckInterval", "How often to look for new suggestions, in seconds", 5));
    auto_->addWidget(m_autoSuggest);
    auto_->addWidget(m_checkInterval);
    auto_->addWidget(new QLabel("seconds", this));
    auto_->addStretch(1);
    layout->addLayout(auto_);
    m_openPeriod = numberField(
        Field("OpenPeriod", "How long the window stays open after new suggestions, in seconds", 5));
    layout->addLayout(row(this, "Keep &window open for", m_openPeriod, "seconds"));
    m_autoPopup = Box("AutoPopup", "&Popup on suggestions",
                      "Check to show the window when new suggestions arrive");
    m_similarity = Box("ShowSimilarity", "Show &Similarity",
                       "Check to show each document's similarity as a percentage");
    m_clipboard = Box("SuggestFromClipboard", "Suggest &on new clipboard text",
                      "Check to suggest documents for text copied to the clipboard");
    m_onTop = Box("AlwaysOnTop", "Always &on top", "Check to keep the window above other windows");
    m_rememberPosition = Box("RememberPosition", "Remember w&indow position",
                             "Check to open the window where it was last time");
    m_rememberSize = Box("RememberSize", "Remember wi&ndow size",
                         "Check to open the window at the size it was last time");
    for (QCheckBox* b :
         {m_autoPopup, m_similarity, m_clipboard, m_onTop, m_rememberPosition, m_rememberSize})
        layout->addWidget(b);
    auto* myComputer = button(this, "MyComputer", "My Computer...",
                              "Open the personal server to choose what of your own is indexed");
    myComputer->setEnabled(m_env.personalServer != nullptr);
    connect(myComputer, &QPushButton::clicked, this, [this] {
        if (m_env.personalServer) m_env.personalServer->Start(true);
    });
    layout->addWidget(myComputer, 0, Qt::AlignLeft);
    m_adult = Box("BlockAdult", "&Filter out Adult content",
                  "Check to leave adult documents out of the suggestions");
    layout->addWidget(m_adult);
    layout->addStretch(1);
    connect(m_autoSuggest, &QCheckBox::toggled, m_checkInterval, &QWidget::setEnabled);
    connect(m_adult, &QCheckBox::toggled, this, [this](bool on) { OnAdultToggled(on); });
}

void CAppSettingsPage::Load() {
    m_loading = true;
    m_nSuggests->setText(num(m_settings.GetNSuggests()));
    m_threshold->setText(num(m_settings.GetThreshold()));
    m_autoSuggest->setChecked(m_settings.GetAutoSuggest() != 0);
    m_checkInterval->setText(num(m_settings.GetCheckInterval()));
    m_checkInterval->setEnabled(m_autoSuggest->isChecked());
    m_openPeriod->setText(num(m_settings.GetOpenPeriod()));
    m_autoPopup->setChecked(m_settings.GetAutoPopup() != 0);
    m_similarity->setChecked(m_settings.GetShowSimilarity() != 0);
    m_clipboard->setChecked(m_settings.GetSuggestFromClipboard() != 0);
    m_onTop->setChecked(m_settings.GetAlwaysOnTop() != 0);
    m_rememberPosition->setChecked(m_settings.GetRememberPosition() != 0);
    m_rememberSize->setChecked(m_settings.GetRememberSize() != 0);
    m_adult->setChecked(m_settings.ExtGetFlag("BLOCKPORN"));
    m_loading = false;
}

void CAppSettingsPage::OnAdultToggled(bool checked) {
    if (m_loading || checked) return;
    // Clearing the filter needs the registration password; the change itself is stored
    // with the rest of the sheet on OK.
    CAdultContentDialog dialog(this, m_settings.GetPassword(), m_env.messages);
    if (dialog.exec() != QDialog::Accepted) {
        m_loading = true;
        m_adult->setChecked(true);
        m_loading = false;
    }
}

bool CAppSettingsPage::Validate() {
    if (!NumberIn(m_nSuggests, 1, 200))
        return Refuse(m_nSuggests,
                      QString("You must specify between %1 and %2 suggestions").arg(1).arg(200));
    if (!NumberIn(m_threshold, 0, 99))
        return Refuse(m_threshold,
                      QString("You must specify a similarity between %1% and %2%").arg(0).arg(99));
    // A period of 0 would run the timer without pause. The period is checked (and
    // kept) only while automatic suggestions are on and its field can be changed.
    if (m_autoSuggest->isChecked() && !NumberIn(m_checkInterval, 1, 86400))
        return Refuse(m_checkInterval,
                      QString("You must specify between %1 and %2 seconds between suggestions")
                          .arg(1)
                          .arg(86400));
    if (!NumberIn(m_openPeriod, 0, 86400))
        return Refuse(m_openPeriod,
                      QString("You must specify between %1 and %2 seconds to keep the window open")
                          .arg(0)
                          .arg(86400));
    return true;
}

void CAppSettingsPage::Save() {
    StartSave();
    auto box = [](QCheckBox* b) { return b->isChecked() ? 1 : 0; };
    auto value = [](QLineEdit* f) { return f->text().trimmed().toInt(); };
    StoreNumber(&P::GetNSuggests, &P::SetNSuggests, value(m_nSuggests), "NSuggests");
    StoreNumber(&P::GetThreshold, &P::SetThreshold, value(m_threshold), "Threshold");
    StoreNumber(&P::GetAutoSuggest, &P::SetAutoSuggest, box(m_autoSuggest), "AutoSuggest");
    if (m_autoSuggest->isChecked())
        StoreNumber(&P::GetCheckInterval, &P::SetCheckInterval, value(m_checkInterval),
                    "CheckInterval");
    StoreNumber(&P::GetOpenPeriod, &P::SetOpenPeriod, value(m_openPeriod), "OpenPeriod");
    StoreNumber(&P::GetAutoPopup, &P::SetAutoPopup, box(m_autoPopup), "AutoPopup");
    StoreNumber(&P::GetShowSimilarity, &P::SetShowSimilarity, box(m_similarity), "ShowSimilarity");
    StoreNumber(&P::GetSuggestFromClipboard, &P::SetSuggestFromClipboard, box(m_clipboard),
                "SuggestFromClipboard");
    StoreNumber(&P::GetAlwaysOnTop, &P::SetAlwaysOnTop, box(m_onTop), "AlwaysOnTop");
    StoreNumber(&P::GetRememberPosition, &P::SetRememberPosition, box(m_rememberPosition),
                "RememberPosition");
    StoreNumber(&P::GetRememberSize, &P::SetRememberSize, box(m_rememberSize), "RememberSize");
    StoreExtFlag("BLOCKPORN", m_adult->isChecked());
}

CAdultContentDialog::CAdultContentDialog(QWidget* parent, const std::string& password,
                                         platform::MessageBoxes* messages)
    : QDialog(parent), m_password(password), m_messages(messages) {
    setObjectName("AdultContent");
    setWindowTitle("Adult Content");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel("To change this setting, please enter your registration password:", this));
    m_field = new QLineEdit(this);
    m_field->setObjectName("AdultPassword");
    m_field->setEchoMode(QLineEdit::Password);
    m_field->setToolTip("The password you registered with");
    layout->addWidget(m_field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAdultContentDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CAdultContentDialog::accept() {
    if (s(m_field->text()) != m_password) {
        if (m_messages)
            m_messages->show("Password incorrect", "The password you entered is incorrect",
                             platform::MsgIcon::Warning);
        m_field->selectAll();
        m_field->setFocus();
        return;
    }
    QDialog::accept();
}

// ---- HotKey ----

namespace {
constexpr const char* kStatusCurrent = "Current selection";
constexpr const char* kStatusFree = "Available for use";
constexpr const char* kStatusTaken = "Already in use by another application";
constexpr const char* kStatusUnusable = "Cannot be used as a HotKey";
}  // namespace

CHotKeySettingsPage::CHotKeySettingsPage(const SettingsSheetEnv& env)
    : CSettingsPage(env, "HotKey") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Select the suggestion HotKey and modifier"));
    m_key = Field("HotKeyCode", "The key that asks for suggestions, a letter or a digit", 1);
    m_key->setMaximumWidth(40);
    m_ctrl = Box("HotKeyCtrl", "&Ctrl", "Check to use Control key with HotKey");
    m_shift = Box("HotKeyShift", "&Shift", "Check to use Shift key with HotKey");
    m_alt = Box("HotKeyAlt", "&Alt", "Check to use Alt key with HotKey");
    auto* keys = new QHBoxLayout;
    keys->addWidget(m_ctrl);
    keys->addWidget(m_shift);
    keys->addWidget(m_alt);
    keys->addWidget(new QLabel("+", this));
    keys->addWidget(m_key);
    keys->addStretch(1);
    layout->addLayout(keys);
    auto* reset = button(this, "HotKeyDefault", "&Default", "Go back to Ctrl+Alt+G");
    layout->addWidget(reset, 0, Qt::AlignLeft);
    m_status = new QLabel(this);
    m_status->setObjectName("HotKeyStatus");
    m_status->setToolTip("Status of currently selected key combination");
    layout->addLayout(row(this, "HotKey Status:", m_status));
    layout->addStretch(1);

    // Keys are named by their upper-case character: a lower-case letter's code names
    // another key (the numeric keypad's), so the field shows and keeps upper case.
    connect(m_key, &QLineEdit::textEdited, this, [this](const QString& text) {
        const QString upper = text.toUpper();
        if (upper != text) m_key->setText(upper);
        UpdateStatus();
    });
    for (QCheckBox* b : {m_ctrl, m_shift, m_alt})
        connect(b, &QCheckBox::toggled, this, [this] { UpdateStatus(); });
    connect(reset, &QPushButton::clicked, this, [this] {
        m_key->setText("G");
        m_ctrl->setChecked(true);
        m_alt->setChecked(true);
        m_shift->setChecked(false);
        UpdateStatus();
    });
}

int CHotKeySettingsPage::key() const {
    const QString text = m_key->text().trimmed().toUpper();
    if (text.isEmpty()) return 0;
    const char16_t c = text.at(0).unicode();
    return c < 0x80 ? static_cast<int>(c) : 0;
}

int CHotKeySettingsPage::modifiers() const {
    return (m_alt->isChecked() ? platform::kHotKeyAlt : 0) |
           (m_ctrl->isChecked() ? platform::kHotKeyControl : 0) |
           (m_shift->isChecked() ? platform::kHotKeyShift : 0);
}

QString CHotKeySettingsPage::status() const {
    return m_status->text();
}

void CHotKeySettingsPage::Load() {
    const int code = m_settings.GetHotKeyCode();
    const int mods = m_settings.GetHotKeyModifier();
    m_key->setText(code > 0x20 && code < 0x7F ? QString(QChar(code)).toUpper() : QString());
    const QSignalBlocker b1(m_ctrl), b2(m_shift), b3(m_alt);
    m_ctrl->setChecked(mods & platform::kHotKeyControl);
    m_shift->setChecked(mods & platform::kHotKeyShift);
    m_alt->setChecked(mods & platform::kHotKeyAlt);
    UpdateStatus();
}

void CHotKeySettingsPage::UpdateStatus() {
    const int k = key(), mods = modifiers();
    QString text;
    if (k == 0)
        text = kStatusUnusable;
    else if (k == m_settings.GetHotKeyCode() && mods == m_settings.GetHotKeyModifier())
        text = kStatusCurrent;
    else if (!m_env.hotKeys)
        text = kStatusUnusable;
    else
        switch (m_env.hotKeys->check(k, mods)) {
            case platform::HotKeys::Result::Registered:
                text = kStatusFree;
                break;
            case platform::HotKeys::Result::InUse:
                text = kStatusTaken;
                break;
            case platform::HotKeys::Result::Failed:
                text = kStatusUnusable;
                break;
        }
    m_status->setText(text);
    m_status->setAccessibleName(text);
}

bool CHotKeySettingsPage::Validate() {
    if (key() == 0) return Refuse(m_key, "You must specify a letter or a digit for the HotKey");
    return true;
}

bool CHotKeySettingsPage::Prepare() {
    m_registered = false;
    const int k = key(), mods = modifiers();
    if (k == m_settings.GetHotKeyCode() && mods == m_settings.GetHotKeyModifier()) return true;
    if (!m_env.hotKeys) return true;
    if (m_env.hotKeys->registerKey(m_env.hotKeyId, k, mods) ==
        platform::HotKeys::Result::Registered) {
        m_registered = true;
        return true;
    }
    // The old key is taken back, so the agent keeps a hot key that works.
    m_env.hotKeys->registerKey(m_env.hotKeyId, m_settings.GetHotKeyCode(),
                               m_settings.GetHotKeyModifier());
    UpdateStatus();
    return Refuse(m_key, "Unable to register Sapiolux Suggestion HotKey. Please select another.");
}

void CHotKeySettingsPage::Unprepare() {
    if (!m_registered || !m_env.hotKeys) return;
    m_env.hotKeys->registerKey(m_env.hotKeyId, m_settings.GetHotKeyCode(),
                               m_settings.GetHotKeyModifier());
    m_registered = false;
}

void CHotKeySettingsPage::Save() {
    StartSave();
    StoreNumber(&P::GetHotKeyCode, &P::SetHotKeyCode, key(), "HotKeyCode");
    StoreNumber(&P::GetHotKeyModifier, &P::SetHotKeyModifier, modifiers(), "HotKeyModifier");
    m_registered = false;
    UpdateStatus();
}

// ---- IXO ----

CIxoSettingsPage::CIxoSettingsPage(const SettingsSheetEnv& env) : CSettingsPage(env, "IXO") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Specify IXO host and query port"));
    m_host = Field("IxoHost", "Name or address of the retrieval server", 49);
    m_port = numberField(Field("IxoPort", "Query port of the retrieval server", 5));
    layout->addLayout(row(this, "&Host:", m_host));
    layout->addLayout(row(this, "Query &Port:", m_port));
    layout->addStretch(1);
}

void CIxoSettingsPage::Load() {
    m_host->setText(q(m_settings.ExtGetText("IXO")));
    const int32_t port = m_settings.ExtGetNumber("PORT");
    m_port->setText(port > 0 ? num(port) : QString());
    m_databases.clear();
}

bool CIxoSettingsPage::Changed() const {
    return s(m_host->text().trimmed()) != m_settings.ExtGetText("IXO") ||
           m_port->text().trimmed().toInt() != m_settings.ExtGetNumber("PORT");
}

bool CIxoSettingsPage::Validate() {
    if (!Changed()) return true;
    const QString host = m_host->text().trimmed();
    if (host.isEmpty() || host.contains(QRegularExpression("\\s")))
        return Refuse(m_host, "You must specify the host name of the IXO server");
    if (!NumberIn(m_port, 1, 65535))
        return Refuse(m_port,
                      QString("You must specify a query port between %1 and %2").arg(1).arg(65535));
    return true;
}

bool CIxoSettingsPage::Prepare() {
    m_databases.clear();
    if (!Changed()) return true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto names = m_env.serverCheck ? m_env.serverCheck(s(m_host->text().trimmed()),
                                                       m_port->text().trimmed().toInt())
                                   : std::nullopt;
    QApplication::restoreOverrideCursor();
    if (!names) return Refuse(m_host, "Ixo not found!");
    m_databases = std::move(*names);
    return true;
}

void CIxoSettingsPage::Save() {
    StartSave();
    if (!Changed()) return;
    StoreExtText("IXO", s(m_host->text().trimmed()));
    StoreExtNumber("PORT", m_port->text().trimmed().toInt());
    std::string list;
    for (const auto& name : m_databases) list += (list.empty() ? "" : ",") + name;
    StoreText(&P::GetIxoDatabases, &P::SetIxoDatabases, list, "IxoDatabases");
    StoreText(&P::GetIxoDatabaseNames, &P::SetIxoDatabaseNames, list, "IxoDatabaseNames");
    StoreText(&P::GetIxoDatabasesSelected, &P::SetIxoDatabasesSelected, list,
              "IxoDatabasesSelected");
    StoreText(&P::GetIxoDatabasesSelectedNames, &P::SetIxoDatabasesSelectedNames, list,
              "IxoDatabasesSelectedNames");
}

// ---- Advanced ----

CAdvancedSettingsPage::CAdvancedSettingsPage(const SettingsSheetEnv& env)
    : CSettingsPage(env, "Advanced") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Set the advanced settings"));
    m_minWords =
        numberField(Field("MinWordsForQuery", "Minumum number of words needed for a query", 4));
    layout->addLayout(row(this, "&Minimum Words for Query:", m_minWords));
    m_logoPeriod = numberField(Field(
        "QueryLogoPeriod", "How long the query logo shows while a query runs, in milliseconds", 5));
    layout->addLayout(row(this, "Query &Logo Period:", m_logoPeriod, "Milliseconds"));
    m_windowInterval = numberField(Field(
        "WindowChangedInterval",
        "How long to wait after another window becomes active before reading it, in milliseconds",
        5));
    layout->addLayout(row(this, "&Window Changed Interval:", m_windowInterval, "Milliseconds"));
    m_useCache = Box("UseClientCache", "Use IXO client cache",
                     "Check to keep recent query results and answer repeated queries from them");
    layout->addWidget(m_useCache);
    m_cacheSize =
        numberField(Field("ClientCacheSize", "Number of queries to store in the cache", 4));
    layout->addLayout(row(this, "Cache size:", m_cacheSize, "entries"));
    m_cacheTime = numberField(
        Field("ClientCacheTime", "How long a stored query result is used, in seconds", 5));
    layout->addLayout(row(this, "Cache for:", m_cacheTime, "seconds"));
    m_filter = Box("FilterOutCommonControls", "Do not suggest on common controls",
                   "Check to ignore lists, trees, toolbars and other common controls");
    layout->addWidget(m_filter);
    layout->addStretch(1);
    connect(m_useCache, &QCheckBox::toggled, this, [this](bool on) {
        m_cacheSize->setEnabled(on);
        m_cacheTime->setEnabled(on);
    });
}

void CAdvancedSettingsPage::Load() {
    m_minWords->setText(num(m_settings.GetMinWordsForQuery()));
    m_logoPeriod->setText(num(m_settings.GetQueryLogoPeriod()));
    m_windowInterval->setText(num(m_settings.GetWindowChangedInterval()));
    m_useCache->setChecked(m_settings.GetUseClientCache() != 0);
    m_cacheSize->setText(num(m_settings.GetClientCacheSize()));
    m_cacheTime->setText(num(m_settings.GetClientCacheTime()));
    m_cacheSize->setEnabled(m_useCache->isChecked());
    m_cacheTime->setEnabled(m_useCache->isChecked());
    m_filter->setChecked(m_settings.GetFilterOutCommonControls() != 0);
}

bool CAdvancedSettingsPage::Validate() {
    struct Check {
        QLineEdit* field;
        int32_t lo, hi;
        const char* message;
    };
    const Check checks[] = {
        {m_minWords, 0, 100, "You must specify between %1 and %2 minimum words for a query"},
        {m_logoPeriod, 0, 5000,
         "You must specify a query logo period between %1 and %2 milliseconds"},
        {m_windowInterval, 50, 5000,
         "You must specify a window changed interval between %1 and %2 milliseconds"},
        {m_cacheSize, 0, 100, "You must specify a ixo client cache size between %1 and %2 entries"},
        {m_cacheTime, 0, 7200,
         "You must specify a IXO client cache time between %1 and %2 seconds"},
    };
    // The cache's figures are greyed, and neither checked nor kept, while it is off.
    for (const Check& c : checks)
        if (c.field->isEnabled() && !NumberIn(c.field, c.lo, c.hi))
            return Refuse(c.field, QString(c.message).arg(c.lo).arg(c.hi));
    return true;
}

void CAdvancedSettingsPage::Save() {
    StartSave();
    auto value = [](QLineEdit* f) { return f->text().trimmed().toInt(); };
    StoreNumber(&P::GetMinWordsForQuery, &P::SetMinWordsForQuery, value(m_minWords),
                "MinWordsForQuery");
    StoreNumber(&P::GetQueryLogoPeriod, &P::SetQueryLogoPeriod, value(m_logoPeriod),
                "QueryLogoPeriod");
    StoreNumber(&P::GetWindowChangedInterval, &P::SetWindowChangedInterval, value(m_windowInterval),
                "WindowChangedInterval");
    StoreNumber(&P::GetUseClientCache, &P::SetUseClientCache, m_useCache->isChecked() ? 1 : 0,
                "UseClientCache");
    if (m_useCache->isChecked()) {
        StoreNumber(&P::GetClientCacheSize, &P::SetClientCacheSize, value(m_cacheSize),
                    "ClientCacheSize");
        StoreNumber(&P::GetClientCacheTime, &P::SetClientCacheTime, value(m_cacheTime),
                    "ClientCacheTime");
    }
    StoreNumber(&P::GetFilterOutCommonControls, &P::SetFilterOutCommonControls,
                m_filter->isChecked() ? 1 : 0, "FilterOutCommonControls");
}

// ---- Stripping ----

CStrippingSettingsPage::CStrippingSettingsPage(const SettingsSheetEnv& env)
    : CSettingsPage(env, "Stripping") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Set the stripping settings"));
    m_numbers = Box("RemoveNumbers", "Strip out &Numbers", "Check to leave numbers out of queries");
    m_letters = Box("RemoveSingleLetters", "Strip out &Single Letters",
                    "Check to leave single letters out of queries");
    m_duplicates = Box("RemoveDuplicates", "Strip out &Duplicates",
                       "Check to use each word only once in a query");
    m_ampersands = Box("RemoveAmpersands", "Strip out &Ampersands",
                       "Check to leave ampersands out of queries");
    m_useStoplist =
        Box("UseStoplist", "&Use Stoplist",
            "Use the stoplist file specified below to remove words contained within it");
    for (QCheckBox* b : {m_numbers, m_letters, m_duplicates, m_ampersands, m_useStoplist})
        layout->addWidget(b);
    m_file = Field("StoplistFilename", "File of words never to use in queries, one a line", 1024);
    auto* browse = button(this, "StoplistBrowse", "Browse...", "Choose the stoplist file");
    auto* fileRow = row(this, "Stoplist file:", m_file);
    fileRow->insertWidget(2, browse);
    layout->addLayout(fileRow);
    layout->addStretch(1);
    connect(m_useStoplist, &QCheckBox::toggled, this, [this, browse](bool on) {
        m_file->setEnabled(on);
        browse->setEnabled(on);
    });
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, "Stoplist file", m_file->text(),
                                                          "Stoplist Files (*.dat);;All Files (*)");
        if (!file.isEmpty()) m_file->setText(file);
    });
}

void CStrippingSettingsPage::Load() {
    m_numbers->setChecked(m_settings.GetRemoveNumbers() != 0);
    m_letters->setChecked(m_settings.GetRemoveSingleLetters() != 0);
    m_duplicates->setChecked(m_settings.GetRemoveDuplicates() != 0);
    m_ampersands->setChecked(m_settings.GetRemoveAmpersands() != 0);
    m_useStoplist->setChecked(m_settings.GetUseStoplist() != 0);
    m_file->setText(q(m_settings.GetStoplistFilename()));
    m_file->setEnabled(m_useStoplist->isChecked());
}

bool CStrippingSettingsPage::Validate() {
    if (m_useStoplist->isChecked() && m_file->text().trimmed().isEmpty())
        return Refuse(m_file, "You must specify a stoplist filename");
    return true;
}

void CStrippingSettingsPage::Save() {
    StartSave();
    auto box = [](QCheckBox* b) { return b->isChecked() ? 1 : 0; };
    StoreNumber(&P::GetRemoveNumbers, &P::SetRemoveNumbers, box(m_numbers), "RemoveNumbers");
    StoreNumber(&P::GetRemoveSingleLetters, &P::SetRemoveSingleLetters, box(m_letters),
                "RemoveSingleLetters");
    StoreNumber(&P::GetRemoveDuplicates, &P::SetRemoveDuplicates, box(m_duplicates),
                "RemoveDuplicates");
    StoreNumber(&P::GetRemoveAmpersands, &P::SetRemoveAmpersands, box(m_ampersands),
                "RemoveAmpersands");
    StoreNumber(&P::GetUseStoplist, &P::SetUseStoplist, box(m_useStoplist), "UseStoplist");
    StoreText(&P::GetStoplistFilename, &P::SetStoplistFilename, s(m_file->text().trimmed()),
              "StoplistFilename");
}

// ---- URL Manipulation ----

namespace {

// An extension as the list keeps it: no blanks, no commas (the stored list's separator),
// no leading dot.
QString cleanExtension(const QString& text) {
    QString out = text.trimmed();
    out.remove(',');
    out.remove(QRegularExpression("\\s"));
    while (out.startsWith('.')) out.remove(0, 1);
    return out;
}

}  // namespace

CUrlManipulationSettingsPage::CUrlManipulationSettingsPage(const SettingsSheetEnv& env)
    : CSettingsPage(env, "URL Manipulation") {
    auto* layout = new QVBoxLayout(this);
    m_use = Box("UseUrlManipulation", "Use URL &Manipulation",
                "Check to rewrite the addresses of suggested documents before opening them");
    layout->addWidget(m_use);
    auto* listLabel = new QLabel("Perform on &these document types:", this);
    layout->addWidget(listLabel);
    m_list = new QTreeWidget(this);
    m_list->setObjectName("DocTypes");
    m_list->setToolTip("Document types to perform URL manipulation on");
    m_list->setHeaderLabels({"Extension"});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listLabel->setBuddy(m_list);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_list, 1);
    auto* listButtons = new QVBoxLayout;
    m_add = button(this, "DocTypeAdd", "&Add...", "Add a document type to the list");
    m_edit = button(this, "DocTypeEdit", "E&dit...", "Change the selected document type");
    m_remove = button(this, "DocTypeRemove", "&Remove", "Remove the selected document types");
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_edit);
    listButtons->addWidget(m_remove);
    listButtons->addStretch(1);
    listRow->addLayout(listButtons);
    layout->addLayout(listRow);
    m_escape =
        Box("EscapeUrl", "&Escape Original URL",
            "Check to escape the document's address before the prefix and postfix are added");
    layout->addWidget(m_escape);
    m_prefix = Field("UrlPrefix", "Text put before the document's address", 1024);
    m_postfix = Field("UrlPostfix", "Text put after the document's address", 1024);
    layout->addLayout(row(this, "URL P&refix:", m_prefix));
    layout->addLayout(row(this, "URL P&ostfix:", m_postfix));
    m_insertLinks = Box("InsertLinks", "&Insert Links",
                        "Check to pass the document's links to the address in a variable");
    m_varName = Field("LinksVarName", "Name of the variable that carries the links", 64);
    auto* linksRow = row(this, "Use variable name:", m_varName);
    linksRow->insertWidget(0, m_insertLinks);
    layout->addLayout(linksRow);
    layout->addStretch(1);

    connect(m_use, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(m_add, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const QString text = QInputDialog::getText(this, "Document Extension",
                                                   "Extension:", QLineEdit::Normal, {}, &ok);
        if (ok) AddExtension(text);
    });
    connect(m_edit, &QPushButton::clicked, this, [this] { EditSelected(); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { EditSelected(); });
    connect(m_remove, &QPushButton::clicked, this, [this] { qDeleteAll(m_list->selectedItems()); });
}

void CUrlManipulationSettingsPage::AddExtension(const QString& text) {
    const QString ext = cleanExtension(text);
    if (!ext.isEmpty()) new QTreeWidgetItem(m_list, {ext});
}

void CUrlManipulationSettingsPage::EditSelected() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (!item) return;
    bool ok = false;
    const QString text = QInputDialog::getText(this, "Document Extension",
                                               "Extension:", QLineEdit::Normal, item->text(0), &ok);
    if (!ok) return;
    const QString ext = cleanExtension(text);
    if (ext.isEmpty())
        delete item;
    else
        item->setText(0, ext);
}

void CUrlManipulationSettingsPage::UpdateEnabled() {
    const bool on = m_use->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_list, m_add, m_edit, m_remove, m_escape, m_prefix,
                                         m_postfix, m_insertLinks, m_varName})
        w->setEnabled(on);
}

std::vector<std::string> CUrlManipulationSettingsPage::extensions() const {
    std::vector<std::string> out;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        out.push_back(s(m_list->topLevelItem(i)->text(0)));
    return out;
}

void CUrlManipulationSettingsPage::Load() {
    m_use->setChecked(m_settings.GetUseUrlManipulation() != 0);
    m_list->clear();
    const QString types = q(m_settings.GetDocTypes());
    for (const QString& ext : types.split(',', Qt::SkipEmptyParts)) AddExtension(ext);
    m_escape->setChecked(m_settings.GetEscapeUrl() != 0);
    m_prefix->setText(q(m_settings.GetUrlPrefix()));
    m_postfix->setText(q(m_settings.GetUrlPostfix()));
    m_insertLinks->setChecked(m_settings.GetInsertLinks() != 0);
    m_varName->setText(q(m_settings.GetLinksVarName()));
    UpdateEnabled();
}

void CUrlManipulationSettingsPage::Save() {
    StartSave();
    std::string types;
    for (const auto& ext : extensions()) types += (types.empty() ? "" : ",") + ext;
    StoreNumber(&P::GetUseUrlManipulation, &P::SetUseUrlManipulation, m_use->isChecked() ? 1 : 0,
                "UseUrlManipulation");
    StoreText(&P::GetDocTypes, &P::SetDocTypes, types, "DocTypes");
    StoreNumber(&P::GetEscapeUrl, &P::SetEscapeUrl, m_escape->isChecked() ? 1 : 0, "EscapeUrl");
    StoreText(&P::GetUrlPrefix, &P::SetUrlPrefix, s(m_prefix->text()), "UrlPrefix");
    StoreText(&P::GetUrlPostfix, &P::SetUrlPostfix, s(m_postfix->text()), "UrlPostfix");
    StoreNumber(&P::GetInsertLinks, &P::SetInsertLinks, m_insertLinks->isChecked() ? 1 : 0,
                "InsertLinks");
    StoreText(&P::GetLinksVarName, &P::SetLinksVarName, s(m_varName->text().trimmed()),
              "LinksVarName");
}

// ---- Community ----

CCommunitySettingsPage::CCommunitySettingsPage(const SettingsSheetEnv& env)
    : CSettingsPage(env, "Community") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Set the community settings"));
    m_showMe = Box("CommunityShowMe", "Show me in the Community",
                   "Check to let other users find you by your interests");
    layout->addWidget(m_showMe);
    m_name = Field("CommunityDisplayName", "The name other users see", 100);
    layout->addLayout(row(this, "Display Name:", m_name));
    layout->addWidget(new QLabel("Link To:", this));
    m_email = new QRadioButton("Email Address", this);
    m_email->setObjectName("CommunityLinkEmail");
    m_email->setToolTip("Link other users to your e-mail address");
    m_home = new QRadioButton("Home Page", this);
    m_home->setObjectName("CommunityLinkHomePage");
    m_home->setToolTip("Link other users to your home page");
    m_homePage = Field("CommunityHomePage", "The address of your home page", 1024);
    layout->addWidget(m_email);
    auto* homeRow = new QHBoxLayout;
    homeRow->addWidget(m_home);
    homeRow->addWidget(m_homePage, 1);
    layout->addLayout(homeRow);
    layout->addStretch(1);
    connect(m_home, &QRadioButton::toggled, m_homePage, &QWidget::setEnabled);
}

void CCommunitySettingsPage::Load() {
    m_showMe->setChecked(m_settings.ExtGetFlag("CommunityShowMe"));
    m_name->setText(q(m_settings.ExtGetText("CommunityDisplayName")));
    const bool home = m_settings.ExtGetFlag("CommunityUseHomePage");
    m_homePage->setText(q(m_settings.ExtGetText("CommunityHomePage")));
    (home ? m_home : m_email)->setChecked(true);
    m_homePage->setEnabled(home);
}

void CCommunitySettingsPage::Save() {
    StartSave();
    const bool home = m_home->isChecked();
    const std::string page = s(m_homePage->text().trimmed());
    StoreExtFlag("CommunityShowMe", m_showMe->isChecked());
    StoreExtText("CommunityDisplayName", s(m_name->text().trimmed()));
    StoreExtFlag("CommunityUseHomePage", home);
    StoreExtText("CommunityHomePage", page);
    // An empty reference stands for the account's e-mail address.
    StoreExtText("CommunityReference", home ? page : std::string());
}

// ---- Account ----

namespace {

bool plainName(const QString& text) {
    for (QChar c : text)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != '-') return false;
    return true;
}

}  // namespace

CAccountSettingsPage::CAccountSettingsPage(const SettingsSheetEnv& env)
    : CSettingsPage(env, "Account") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Set the account details"));
    m_user = Field("Username", "Your user name on the account server", 99);
    m_password = Field("Password", "Your account password", 99);
    m_again = Field("PasswordAgain", "Your account password once more", 99);
    m_email = Field("EmailAddress", "Your e-mail address", 99);
    m_password->setEchoMode(QLineEdit::Password);
    m_again->setEchoMode(QLineEdit::Password);
    layout->addLayout(row(this, "&User name:", m_user));
    layout->addLayout(row(this, "&Password:", m_password));
    layout->addLayout(row(this, "Password &again:", m_again));
    layout->addLayout(row(this, "&E-mail address:", m_email));
    layout->addStretch(1);
}

void CAccountSettingsPage::Load() {
    m_user->setText(q(m_settings.GetUsername()));
    m_password->setText(q(m_settings.GetPassword()));
    m_again->setText(m_password->text());
    m_email->setText(q(m_settings.GetEmailAddress()));
}

bool CAccountSettingsPage::Changed() const {
    return s(m_user->text().trimmed()) != m_settings.GetUsername() ||
           s(m_password->text()) != m_settings.GetPassword() ||
           s(m_email->text().trimmed()) != m_settings.GetEmailAddress();
}

bool CAccountSettingsPage::Validate() {
    if (!Changed()) return true;
    const QString user = m_user->text().trimmed();
    if (user.isEmpty()) return Refuse(m_user, "You must enter a user name.");
    if (!plainName(user))
        return Refuse(m_user, "Your user name can only contain the characters a-Z, 0-9.");
    if (!plainName(m_password->text()))
        return Refuse(m_password, "Your password can only contain the characters a-Z, 0-9.");
    if (m_password->text().size() <= 4)
        return Refuse(m_password,
                      "Your password must be more than 4 characters long. Please choose another.");
    if (m_password->text() != m_again->text())
        return Refuse(m_again,
                      "The two passwords you have entered do not match. Please re-enter them.");
    if (!m_email->text().contains('@'))
        return Refuse(m_email,
                      "The email address you have entered is not valid. Please re-enter it.");
    return true;
}

bool CAccountSettingsPage::Prepare() {
    if (!Changed() || !m_env.accountCheck) return true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string refusal = m_env.accountCheck(
        s(m_user->text().trimmed()), s(m_password->text()), s(m_email->text().trimmed()));
    QApplication::restoreOverrideCursor();
    return refusal.empty() || Refuse(m_user, q(refusal));
}

void CAccountSettingsPage::Save() {
    StartSave();
    StoreText(&P::GetUsername, &P::SetUsername, s(m_user->text().trimmed()), "Username");
    StoreText(&P::GetPassword, &P::SetPassword, s(m_password->text()), "Password");
    StoreText(&P::GetEmailAddress, &P::SetEmailAddress, s(m_email->text().trimmed()),
              "EmailAddress");
}

// ---- Dialup ----

CDialupSettingsPage::CDialupSettingsPage(const SettingsSheetEnv& env)
    : CSettingsPage(env, "Dialup") {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Heading("Set the dialup settings"));
    m_dial = Box("AutoDial",
                 "Automatically dial the default phonebook entry when starting if not already "
                 "connected",
                 "Check to dial the default connection when the agent starts off-line");
    m_hangup = Box("AutoHangup", "Automatically hangup the connection on quitting",
                   "Check to hang up the dial-up connection when the agent ends");
    m_ask = Box("ShowAutoHangupQuestion", "Prompt me to hangup the connection on quitting",
                "Check to be asked before the connection is hung up");
    for (QCheckBox* b : {m_dial, m_hangup, m_ask}) layout->addWidget(b);
    layout->addStretch(1);
}

void CDialupSettingsPage::Load() {
    m_dial->setChecked(m_settings.GetAutoDial() != 0);
    m_hangup->setChecked(m_settings.GetAutoHangup() != 0);
    m_ask->setChecked(m_settings.GetShowAutoHangupQuestion() != 0);
}

void CDialupSettingsPage::Save() {
    StartSave();
    StoreNumber(&P::GetAutoDial, &P::SetAutoDial, m_dial->isChecked() ? 1 : 0, "AutoDial");
    StoreNumber(&P::GetAutoHangup, &P::SetAutoHangup, m_hangup->isChecked() ? 1 : 0, "AutoHangup");
    StoreNumber(&P::GetShowAutoHangupQuestion, &P::SetShowAutoHangupQuestion,
                m_ask->isChecked() ? 1 : 0, "ShowAutoHangupQuestion");
}

}  // namespace agent::ui
