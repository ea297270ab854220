// CSettingsSheet: the agent's options, one tab per page. Which pages show is itself a
// setting (section Pages, and the Extended file's ShowCommunity flag), so a deployment
// can hide pages from its users.
//
// OK first checks every shown page (ranges, required fields, the hot key, a new
// retrieval server) and stores nothing until all pass; a refusal keeps the sheet open on
// the failing page with the focus in the failing field. Only then do the pages write
// their values, in a fixed order, and only the values that changed, so machine-wide
// defaults the user never touched keep following the administrator's. Cancel stores
// nothing.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/proxysetup.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;

namespace platform {
class HotKeys;
class MessageBoxes;
}  // namespace platform

namespace agent {
class CAppParameters;
class CPersonalServer;
}  // namespace agent

namespace agent::ui {

// One proxy found by the detection: a description, a host (the system-settings marker
// host for the desktop's own settings) and a port.
using DetectedProxyEntry = agent::DetectedProxy;

// The proxy detection the Proxy page's "Auto Detect...." runs: detect lists what was
// found, choose lets the user pick one of them (nothing: cancelled).
struct ProxyDetection {
    std::function<std::vector<DetectedProxyEntry>()> detect;
    std::function<std::optional<DetectedProxyEntry>(QWidget*,
                                                    const std::vector<DetectedProxyEntry>&)>
        choose;
};

// Asks the retrieval server at host:port for its information record; its database
// names, or nothing when it does not answer as a retrieval server.
using ServerCheck =
    std::function<std::optional<std::vector<std::string>>(const std::string& host, int port)>;
// The real check: an information request through the agent's proxy settings.
ServerCheck informationRequestCheck(const agent::CAppParameters& settings);

// Checks an account's user name and password with the account server before they are
// stored; an empty text when the server accepts them, else the message to show.
using AccountCheck = std::function<std::string(const std::string& user, const std::string& password,
                                               const std::string& email)>;

struct SettingsSheetEnv {
    agent::CAppParameters* settings = nullptr;
    platform::MessageBoxes* messages = nullptr;        // null: messages go to the log only
    platform::HotKeys* hotKeys = nullptr;              // null: no global hot keys
    agent::CPersonalServer* personalServer = nullptr;  // the "My Computer..." button
    ProxyDetection proxyDetection;                     // empty: nothing is detected
    ServerCheck serverCheck;                           // empty: informationRequestCheck
    AccountCheck accountCheck;                         // empty: the values are stored as given
    // The hot-key id the agent's suggestion key is held under.
    int hotKeyId = 0xC000;
};

// A page of the sheet. Load fills the controls from the settings; Validate checks them
// without changing anything (showing its message and focusing the field on a refusal);
// Prepare does the checks that talk to the world and may change live state that Save
// then keeps (Unprepare takes that back); Save writes what changed.
class CSettingsPage : public QWidget {
  public:
    CSettingsPage(const SettingsSheetEnv& env, const QString& title);
    const QString& title() const { return m_title; }
    virtual void Load() = 0;
    virtual bool Validate() { return true; }
    virtual bool Prepare() { return true; }
    virtual void Unprepare() {}
    virtual void Save() = 0;
    // Settings whose write failed in the last Save.
    const std::vector<std::string>& failedWrites() const { return m_failed; }
    // Whether the last Save wrote a key of the Extended file (which the sheet then saves).
    bool extChanged() const { return m_extChanged; }

  protected:
    // Shows message (titled with the brand and product names unless caption is given),
    // selects the field's text and puts the focus into it; returns false.
    bool Refuse(QLineEdit* field, const QString& message, const QString& caption = {});
    void Tell(const QString& message, const QString& caption = {});
    // The field's number when it is one within lo..hi.
    static std::optional<int32_t> NumberIn(const QLineEdit* field, int32_t lo, int32_t hi);
    // Writes value through set when it differs from what get gives; a failed write is
    // remembered under name.
    using NumberGetter = int32_t (agent::CAppParameters::*)() const;
    using NumberSetter = bool (agent::CAppParameters::*)(int32_t);
    using TextGetter = std::string (agent::CAppParameters::*)() const;
    using TextSetter = bool (agent::CAppParameters::*)(const std::string&);
    void StoreNumber(NumberGetter get, NumberSetter set, int32_t value, const char* name);
    void StoreText(TextGetter get, TextSetter set, const std::string& value, const char* name);
    void StoreExtFlag(const char* key, bool value);
    void StoreExtText(const char* key, const std::string& value);
    void StoreExtNumber(const char* key, int32_t value);
    // Called first by every Save.
    void StartSave() {
        m_failed.clear();
        m_extChanged = false;
    }
    void Failed(const char* name) { m_failed.emplace_back(name); }
    // Controls of the page, named for tests and tipped for users.
    QLineEdit* Field(const char* name, const QString& tip, int maxLength = 255);
    QCheckBox* Box(const char* name, const QString& caption, const QString& tip);
    QLabel* Heading(const QString& text);

    const SettingsSheetEnv& m_env;
    agent::CAppParameters& m_settings;
    bool m_extChanged = false;  // an Extended-file key was written

  private:
    QString m_title;
    std::vector<std::string> m_failed;
};

class CProxySettingsPage : public CSettingsPage {
  public:
    explicit CProxySettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    bool Validate() override;
    void Save() override;
    // "Auto Detect....": runs the detection and takes the chosen proxy into the fields.
    void AutoDetect();
    void ApplyDetected(const DetectedProxyEntry& entry);
    int mode() const;

  private:
    void SetMode(int mode);
    void UpdateEnabled();
    QCheckBox* m_use = nullptr;
    QButtonGroup* m_modes = nullptr;
    QLineEdit *m_host = nullptr, *m_port = nullptr, *m_user = nullptr, *m_password = nullptr;
};

class CAppSettingsPage : public CSettingsPage {
  public:
    explicit CAppSettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    bool Validate() override;
    void Save() override;

  private:
    void OnAdultToggled(bool checked);
    QLineEdit *m_nSuggests = nullptr, *m_threshold = nullptr, *m_checkInterval = nullptr,
              *m_openPeriod = nullptr;
    QCheckBox *m_autoSuggest = nullptr, *m_autoPopup = nullptr, *m_similarity = nullptr,
              *m_clipboard = nullptr, *m_onTop = nullptr, *m_rememberPosition = nullptr,
              *m_rememberSize = nullptr, *m_adult = nullptr;
    bool m_loading = false;
};

// The "Adult Content" dialog: the registration password unlocks the adult filter.
class CAdultContentDialog : public QDialog {
  public:
    CAdultContentDialog(QWidget* parent, const std::string& password,
                        platform::MessageBoxes* messages);
    QLineEdit* field() const { return m_field; }
    void accept() override;

  private:
    std::string m_password;
    platform::MessageBoxes* m_messages;
    QLineEdit* m_field = nullptr;
};

class CHotKeySettingsPage : public CSettingsPage {
  public:
    explicit CHotKeySettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    bool Validate() override;
    bool Prepare() override;
    void Unprepare() override;
    void Save() override;
    QString status() const;
    // The key and modifier mask as the controls give them (key 0: none).
    int key() const;
    int modifiers() const;

  private:
    void UpdateStatus();
    QLineEdit* m_key = nullptr;
    QCheckBox *m_ctrl = nullptr, *m_shift = nullptr, *m_alt = nullptr;
    QLabel* m_status = nullptr;
    bool m_registered = false;  // Prepare took the new key
};

class CIxoSettingsPage : public CSettingsPage {
  public:
    explicit CIxoSettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    bool Validate() override;
    bool Prepare() override;
    void Save() override;

  private:
    bool Changed() const;
    QLineEdit *m_host = nullptr, *m_port = nullptr;
    std::vector<std::string> m_databases;
};

class CAdvancedSettingsPage : public CSettingsPage {
  public:
    explicit CAdvancedSettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    bool Validate() override;
    void Save() override;

  private:
    QLineEdit *m_minWords = nullptr, *m_logoPeriod = nullptr, *m_windowInterval = nullptr,
              *m_cacheSize = nullptr, *m_cacheTime = nullptr;
    QCheckBox *m_useCache = nullptr, *m_filter = nullptr;
};

class CStrippingSettingsPage : public CSettingsPage {
  public:
    explicit CStrippingSettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    bool Validate() override;
    void Save() override;

  private:
    QCheckBox *m_numbers = nullptr, *m_letters = nullptr, *m_duplicates = nullptr,
              *m_ampersands = nullptr, *m_useStoplist = nullptr;
    QLineEdit* m_file = nullptr;
};

class CUrlManipulationSettingsPage : public CSettingsPage {
  public:
    explicit CUrlManipulationSettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    void Save() override;
    // The list's extensions, in order.
    std::vector<std::string> extensions() const;
    void AddExtension(const QString& text);

  private:
    void UpdateEnabled();
    void EditSelected();
    QCheckBox *m_use = nullptr, *m_escape = nullptr, *m_insertLinks = nullptr;
    QTreeWidget* m_list = nullptr;
    QPushButton *m_add = nullptr, *m_edit = nullptr, *m_remove = nullptr;
    QLineEdit *m_prefix = nullptr, *m_postfix = nullptr, *m_varName = nullptr;
};

class CCommunitySettingsPage : public CSettingsPage {
  public:
    explicit CCommunitySettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    void Save() override;

  private:
    QCheckBox* m_showMe = nullptr;
    QLineEdit *m_name = nullptr, *m_homePage = nullptr;
    QRadioButton *m_email = nullptr, *m_home = nullptr;
};

// The account's user name, password and e-mail address, kept in the user's private
// settings; shown when the agent keeps an account on the account server.
class CAccountSettingsPage : public CSettingsPage {
  public:
    explicit CAccountSettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    bool Validate() override;
    bool Prepare() override;
    void Save() override;

  private:
    bool Changed() const;
    QLineEdit *m_user = nullptr, *m_password = nullptr, *m_again = nullptr, *m_email = nullptr;
};

class CDialupSettingsPage : public CSettingsPage {
  public:
    explicit CDialupSettingsPage(const SettingsSheetEnv& env);
    void Load() override;
    void Save() override;

  private:
    QCheckBox *m_dial = nullptr, *m_hangup = nullptr, *m_ask = nullptr;
};

class CSettingsSheet : public QDialog {
    Q_OBJECT

  public:
    CSettingsSheet(QWidget* parent, const SettingsSheetEnv& env);
    ~CSettingsSheet() override;

    // The shown pages, in tab order.
    int pageCount() const;
    CSettingsPage* page(int index) const;
    CSettingsPage* page(const QString& title) const;
    QTabWidget* tabs() const { return m_tabs; }

    // OK: checks every page, then stores them all; the sheet stays open on a refusal.
    void accept() override;

  private:
    SettingsSheetEnv m_env;
    QTabWidget* m_tabs = nullptr;
    CProxySettingsPage* m_proxy = nullptr;
    CAppSettingsPage* m_app = nullptr;
    CHotKeySettingsPage* m_hotKey = nullptr;
    CIxoSettingsPage* m_ixo = nullptr;
    CAdvancedSettingsPage* m_advanced = nullptr;
    CStrippingSettingsPage* m_stripping = nullptr;
    CUrlManipulationSettingsPage* m_url = nullptr;
    CCommunitySettingsPage* m_community = nullptr;
    CAccountSettingsPage* m_account = nullptr;
    CDialupSettingsPage* m_dialup = nullptr;  // kept, never shown
    std::vector<CSettingsPage*> m_shown;
};

// The values the window compares before and after the sheet to take its changes over.
struct SheetWatch {
    int32_t alwaysOnTop = 0, showSimilarity = 0, checkInterval = 0, showSelectors = 0,
            usingPersonalIxo = 0, useStoplist = 0, ixoPort = 0;
    std::string stoplistFilename, databasesSelected, ixoHost;
    bool communityShowMe = false;
    std::string communityDisplayName, communityReference;

    static SheetWatch Take(const agent::CAppParameters& settings);
    // A change that asks for new suggestions: the server, the databases or the source.
    bool SourceChanged(const SheetWatch& after) const;
    bool CommunityChanged(const SheetWatch& after) const;
};

}  // namespace agent::ui
