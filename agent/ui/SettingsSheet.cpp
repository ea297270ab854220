#include "agent/ui/SettingsSheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

#include "agent/AppParameters.h"
#include "agent/ui/qtedge.h"
#include "ixo.h"
#include "platform/messagebox.h"
#include "support/diaglog.h"

namespace agent::ui {

// ---- the page base ----

CSettingsPage::CSettingsPage(const SettingsSheetEnv& env, const QString& title)
    : m_env(env), m_settings(*env.settings), m_title(title) {
    setObjectName(title);
}

void CSettingsPage::Tell(const QString& message, const QString& caption) {
    const std::string title = caption.isEmpty()
                                  ? m_settings.GetBrandName() + " " + m_settings.GetProductName()
                                  : toCp1252(caption);
    if (m_env.messages)
        m_env.messages->show(title, toCp1252(message), platform::MsgIcon::Warning);
    else
        diagLog("settings: %s\n", toCp1252(message).c_str());
}

bool CSettingsPage::Refuse(QLineEdit* field, const QString& message, const QString& caption) {
    Tell(message, caption);
    if (field) {
        field->selectAll();
        field->setFocus();
    }
    return false;
}

std::optional<int32_t> CSettingsPage::NumberIn(const QLineEdit* field, int32_t lo, int32_t hi) {
    bool ok = false;
    const int value = field->text().trimmed().toInt(&ok);
    if (!ok || value < lo || value > hi) return std::nullopt;
    return value;
}

void CSettingsPage::StoreNumber(NumberGetter get, NumberSetter set, int32_t value,
                                const char* name) {
    if (value != (m_settings.*get)() && !(m_settings.*set)(value)) Failed(name);
}

void CSettingsPage::StoreText(TextGetter get, TextSetter set, const std::string& value,
                              const char* name) {
    if (value != (m_settings.*get)() && !(m_settings.*set)(value)) Failed(name);
}

void CSettingsPage::StoreExtFlag(const char* key, bool value) {
    if (m_settings.ExtGetFlag(key) == value) return;
    if (!m_settings.ExtSetFlag(key, value)) Failed(key);
    m_extChanged = true;
}

void CSettingsPage::StoreExtText(const char* key, const std::string& value) {
    if (m_settings.ExtGetText(key) == value) return;
    if (!m_settings.ExtSetText(key, value)) Failed(key);
    m_extChanged = true;
}

void CSettingsPage::StoreExtNumber(const char* key, int32_t value) {
    if (m_settings.ExtGetNumber(key) == value) return;
    if (!m_settings.ExtSetNumber(key, value)) Failed(key);
    m_extChanged = true;
}

QLineEdit* CSettingsPage::Field(const char* name, const QString& tip, int maxLength) {
    auto* field = new QLineEdit(this);
    field->setObjectName(name);
    field->setToolTip(tip);
    field->setAccessibleDescription(tip);
    field->setMaxLength(maxLength);
    return field;
}

QCheckBox* CSettingsPage::Box(const char* name, const QString& caption, const QString& tip) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    box->setToolTip(tip);
    box->setAccessibleDescription(tip);
    return box;
}

QLabel* CSettingsPage::Heading(const QString& text) {
    auto* label = new QLabel(text, this);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// ---- the sheet ----

CSettingsSheet::CSettingsSheet(QWidget* parent, const SettingsSheetEnv& env)
    : QDialog(parent), m_env(env) {
    if (!m_env.serverCheck) m_env.serverCheck = informationRequestCheck(*m_env.settings);
    agent::CAppParameters& s = *m_env.settings;
    setObjectName("SettingsSheet");
    setWindowTitle(fromCp1252(s.GetBrandName() + " " + s.GetProductName() + " Options"));
    setModal(true);

    m_proxy = new CProxySettingsPage(m_env);
    m_app = new CAppSettingsPage(m_env);
    m_hotKey = new CHotKeySettingsPage(m_env);
    m_ixo = new CIxoSettingsPage(m_env);
    m_advanced = new CAdvancedSettingsPage(m_env);
    m_stripping = new CStrippingSettingsPage(m_env);
    m_url = new CUrlManipulationSettingsPage(m_env);
    m_community = new CCommunitySettingsPage(m_env);
    m_account = new CAccountSettingsPage(m_env);
    m_dialup = new CDialupSettingsPage(m_env);

    m_tabs = new QTabWidget(this);
    const std::pair<CSettingsPage*, bool> pages[] = {
        {m_proxy, s.GetShowProxySettingsPage() != 0},
        {m_app, s.GetShowPreferencesSettingsPage() != 0},
        {m_hotKey, s.GetShowHotKeySettingsPage() != 0},
        {m_ixo, s.GetShowIxoSettingsPage() != 0},
        {m_advanced, s.GetShowAdvancedSettingsPage() != 0},
        {m_stripping, s.GetShowStrippingSettingsPage() != 0},
        {m_url, s.GetShowUrlManipulationSettingsPage() != 0},
        {m_community, s.ExtGetFlag("ShowCommunity")},
        {m_account, s.GetInternetVersion() != 0},
    };
    for (const auto& [page, shown] : pages) {
        if (shown) {
            page->Load();
            m_tabs->addTab(page, page->title());
            m_shown.push_back(page);
        } else {
            page->setParent(this);
            page->hide();
        }
    }
    // The dial-up page belongs to the sheet but is not offered.
    m_dialup->setParent(this);
    m_dialup->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSettingsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSettingsSheet::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

CSettingsSheet::~CSettingsSheet() = default;

int CSettingsSheet::pageCount() const {
    return static_cast<int>(m_shown.size());
}

CSettingsPage* CSettingsSheet::page(int index) const {
    return index >= 0 && index < pageCount() ? m_shown[static_cast<size_t>(index)] : nullptr;
}

CSettingsPage* CSettingsSheet::page(const QString& title) const {
    for (CSettingsPage* p : m_shown)
        if (p->title() == title) return p;
    return nullptr;
}

void CSettingsSheet::accept() {
    auto shown = [&](CSettingsPage* p) {
        return std::find(m_shown.begin(), m_shown.end(), p) != m_shown.end();
    };
    // Every page is checked before anything is stored, so a refusal leaves the settings
    // as they were and Cancel after it keeps nothing.
    for (CSettingsPage* p : m_shown) {
        m_tabs->setCurrentWidget(p);
        if (!p->Validate()) return;
    }
    // Checks that talk to the world: a new retrieval server, a new account, then the
    // hot key, which is taken last so that nothing after it can fail.
    std::vector<CSettingsPage*> prepared;
    using Pages = std::initializer_list<CSettingsPage*>;
    for (CSettingsPage* p : Pages{m_ixo, m_account, m_hotKey}) {
        if (!shown(p)) continue;
        m_tabs->setCurrentWidget(p);
        if (!p->Prepare()) {
            for (CSettingsPage* done : prepared) done->Unprepare();
            return;
        }
        prepared.push_back(p);
    }
    std::vector<std::string> failed;
    bool extChanged = false;
    // Stored in a fixed order, each page only what changed.
    for (CSettingsPage* p : Pages{m_app, m_hotKey, m_advanced, m_stripping, m_ixo, m_proxy, m_url,
                                  m_community, m_account}) {
        if (!shown(p)) continue;
        p->Save();
        extChanged = extChanged || p->extChanged();
        failed.insert(failed.end(), p->failedWrites().begin(), p->failedWrites().end());
    }
    if (extChanged && m_env.settings->HasExtended() && !m_env.settings->ExtSave())
        failed.emplace_back(m_env.settings->GetConfigFile());
    if (!failed.empty()) {
        // The values hold for this run; the user is told they will not be there at the
        // next start rather than finding them gone.
        std::string list;
        for (const auto& name : failed) list += (list.empty() ? "" : ", ") + name;
        const std::string caption =
            m_env.settings->GetBrandName() + " " + m_env.settings->GetProductName();
        const std::string text = "These settings apply until " + m_env.settings->GetProductName() +
                                 " is closed but could not be saved: " + list;
        diagLog("settings: %s\n", text.c_str());
        if (m_env.messages) m_env.messages->show(caption, text, platform::MsgIcon::Warning);
    }
    QDialog::accept();
}

// ---- what the window compares ----

SheetWatch SheetWatch::Take(const agent::CAppParameters& s) {
    SheetWatch w;
    w.alwaysOnTop = s.GetAlwaysOnTop();
    w.showSimilarity = s.GetShowSimilarity();
    w.checkInterval = s.GetCheckInterval();
    w.showSelectors = s.GetShowSourceCheckboxesOnMainDialog();
    w.usingPersonalIxo = s.GetUsingPersonalIxo();
    w.useStoplist = s.GetUseStoplist();
    w.stoplistFilename = s.GetStoplistFilename();
    w.databasesSelected = s.GetIxoDatabasesSelected();
    w.ixoHost = s.ExtGetText("IXO");
    w.ixoPort = s.ExtGetNumber("PORT");
    w.communityShowMe = s.ExtGetFlag("CommunityShowMe");
    w.communityDisplayName = s.ExtGetText("CommunityDisplayName");
    w.communityReference = s.ExtGetText("CommunityReference");
    return w;
}

bool SheetWatch::SourceChanged(const SheetWatch& after) const {
    return ixoHost != after.ixoHost || ixoPort != after.ixoPort ||
           usingPersonalIxo != after.usingPersonalIxo ||
           databasesSelected != after.databasesSelected;
}

bool SheetWatch::CommunityChanged(const SheetWatch& after) const {
    return communityShowMe != after.communityShowMe ||
           communityDisplayName != after.communityDisplayName ||
           communityReference != after.communityReference;
}

// ---- the information request ----

ServerCheck informationRequestCheck(const agent::CAppParameters& settings) {
    // The proxy as stored now (the Proxy page is saved after the IXO page).
    const int32_t useProxy = settings.GetUseProxy();
    const std::string proxyHost = settings.GetProxyHost();
    const int32_t proxyPort = settings.GetProxyPort();
    const std::string proxyUser = settings.GetProxyUsername();
    const std::string proxyPassword = settings.GetProxyPassword();
    return [=](const std::string& host, int port) -> std::optional<std::vector<std::string>> {
        IXO ixo{};
        if (ixoCreateIxo(&ixo, host.c_str(), host.c_str(), port, 0) != IXO_OK) return std::nullopt;
        // The user waits for the answer, so a server that does not answer is given up
        // sooner than a query would be.
        ixoSetHTTPTimeOut(&ixo, 15, 1000);
        const bool local = host == "127.0.0.1" || host == "localhost";
        if (useProxy && !local &&
            ixoAddProxySettings(&ixo, proxyHost.c_str(), proxyPort, proxyUser.c_str(),
                                proxyPassword.c_str()) != IXO_OK) {
            ixoDestroyIxo(&ixo);
            return std::nullopt;
        }
        IxoServerInfo* info = nullptr;
        const int32_t rc = ixoGetInfoToStructure(&ixo, &info);
        ixoDestroyIxo(&ixo);
        if (rc != IXO_OK || !info) {
            if (info) ixoDestroyInfoStructure(info);
            return std::nullopt;
        }
        std::vector<std::string> names;
        for (int32_t i = 0; i < info->databaseCount && info->databaseNames; ++i)
            if (info->databaseNames[i] && *info->databaseNames[i])
                names.emplace_back(info->databaseNames[i]);
        ixoDestroyInfoStructure(info);
        return names;
    };
}

}  // namespace agent::ui
