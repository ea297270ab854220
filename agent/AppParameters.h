// CAppParameters: every setting of the agent. Registry settings (user or machine hive,
// key "Software\Halvoran\Sapiolux\<section>") are read once by Load() into fields;
// getters return the field and each setter stores the field and writes the value
// through to the registry at once. Machine-wide settings are written to the user's
// machine overlay and read from it before the machine hive, so a normal user's changes
// last while the machine hive stays the administrator's defaults. The Extended
// configuration file (its path is the ConfigFile setting) holds server addresses and
// feature switches in its "Settings" section and is read and written on demand through
// the Ext* accessors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/registry.h"

struct ConfigFile;

namespace agent {

// The registry key of the agent's settings section.
std::string settingsKey(const std::string& section);
// The personal server's registry key (machine hive, no agent prefix).
inline constexpr const char* kPersonalIxoKey = "Software\\Halvoran\\PersonalIXO";

inline constexpr const char* kBuiltinBrandName = "Halvoran";
inline constexpr const char* kBuiltinProductName = "Vantri";
inline constexpr const char* kAutoProxyHost = "ORVIQ_AUTOPROXY";

// Number settings: X(Name, section, key, store, default). Defaults may use the screen
// figures sw (width), sb (scroll bar width) and ch (caption height).
#define AGENT_NUMBER_SETTINGS(X)                                                                   \
    X(UseProxy, "Proxy", "UseProxy", Machine, 0)                                                   \
    X(ProxyPort, "Proxy", "Port", Machine, 0)                                                      \
    X(UseDocIdAsDocName, "ApplicationIxo", "UseDocIdAsDocName", Machine, 0)                        \
    X(UseClientCache, "ApplicationIxo", "UseClientCache", Machine, 1)                              \
    X(ClientCacheSize, "ApplicationIxo", "ClientCacheSize", Machine, 12)                           \
    X(ClientCacheTime, "ApplicationIxo", "ClientCacheTime", Machine, 7200)                         \
    X(UsingPersonalIxo, "ApplicationIxo", "UsingPersonalIxo", Machine, 0)                          \
    X(PersonalIxoQueryPort, "ApplicationIxo", "PersonalIxoQueryPort", Machine, 6223)               \
    X(RemoveDuplicates, "Stripping", "RemoveDuplicates", Machine, 1)                               \
    X(RemoveNumbers, "Stripping", "RemoveNumbers", Machine, 1)                                     \
    X(RemoveSingleLetters, "Stripping", "RemoveSingleLetters", Machine, 1)                         \
    X(RemoveAmpersands, "Stripping", "RemoveAmpersands", Machine, 1)                               \
    X(UseStoplist, "Stripping", "UseStoplist", Machine, 1)                                         \
    X(MinWordsForQuery, "Miscellaneous", "MinWordsForQuery", Machine, 2)                           \
    X(WindowChangedInterval, "Miscellaneous", "WindowChangedInterval", Machine, 1500)              \
    X(QueryLogoPeriod, "Miscellaneous", "QueryLogoPeriod", Machine, 3000)                          \
    X(SplashScreenPeriod, "Miscellaneous", "SplashScreenPeriod", Machine, 2000)                    \
    X(OutputDebugInfo, "Miscellaneous", "OutputDebugInfo", Machine, 0)                             \
    X(InternetVersion, "AppInternetVersion", "InternetVersion", Machine, 0)                        \
    X(FirstTime, "Meta", "FirstTime", User, 1)                                                     \
    X(AutoSuggest, "Suggestions", "AutoSuggest", User, 0)                                          \
    X(ShowSimilarity, "Suggestions", "ShowSimilarity", User, 1)                                    \
    X(NSuggests, "Suggestions", "NSuggests", User, 6)                                              \
    X(CheckInterval, "Suggestions", "CheckInterval", User, 10)                                     \
    X(OpenPeriod, "Suggestions", "OpenPeriod", User, 5)                                            \
    X(Threshold, "Suggestions", "Threshold", User, 37)                                             \
    X(SuggestFromClipboard, "Suggestions", "SuggestFromClipboard", User, 0)                        \
    X(AlwaysOnTop, "Suggestions", "AlwaysOnTop", User, 1)                                          \
    X(HotKeyCode, "HotKey", "HotKeyCode", User, 71)                                                \
    X(HotKeyModifier, "HotKey", "HotKeyModifier", User, 3)                                         \
    X(AutoPopup, "Window", "AutoPopup", User, 1)                                                   \
    X(Width, "Window", "Width", User, sw / 2)                                                      \
    X(Height, "Window", "Height", User, 77)                                                        \
    X(RememberSize, "Window", "RememberSize", User, 1)                                             \
    X(XPosition, "Window", "XPosition", User, sw - sw / 2 - sb)                                    \
    X(YPosition, "Window", "YPosition", User, ch)                                                  \
    X(RememberPosition, "Window", "RememberPosition", User, 1)                                     \
    X(PushpinStatus, "Window", "PushpinStatus", User, 0)                                           \
    X(IsAppBar, "Window", "IsAppBar", User, 1)                                                     \
    X(AppBarSide, "Window", "AppBarSide", User, 3)                                                 \
    X(UseUrlManipulation, "UrlManipulation", "UseUrlManipulation", User, 0)                        \
    X(EscapeUrl, "UrlManipulation", "EscapeUrl", User, 0)                                          \
    X(InsertLinks, "UrlManipulation", "InsertLinks", User, 0)                                      \
    X(ShowIxoSettingsPage, "Pages", "ShowIxoSettingsPage", User, 1)                                \
    X(ShowProxySettingsPage, "Pages", "ShowProxySettingsPage", User, 1)                            \
    X(ShowPreferencesSettingsPage, "Pages", "ShowPreferencesSettingsPage", User, 1)                \
    X(ShowSourcesSettingsPage, "Pages", "ShowSourcesSettingsPage", User, 1)                        \
    X(ShowHotKeySettingsPage, "Pages", "ShowHotKeySettingsPage", User, 1)                          \
    X(ShowDialupSettingsPage, "Pages", "ShowDialupSettingsPage", User, 0)                          \
    X(ShowAdvancedSettingsPage, "Pages", "ShowAdvancedSettingsPage", User, 0)                      \
    X(ShowStrippingSettingsPage, "Pages", "ShowStrippingSettingsPage", User, 0)                    \
    X(ShowUrlManipulationSettingsPage, "Pages", "ShowUrlManipulationSettingsPage", User, 0)        \
    X(Alive, "UserInternetVersion", "Alive", User, 0)                                              \
    X(Registered, "UserInternetVersion", "Registered", User, 0)                                    \
    X(ShowStartupTip, "Miscellaneous", "ShowStartupTip", User, 1)                                  \
    X(FilterOutCommonControls, "Miscellaneous", "FilterOutCommonControls", User, 1)                \
    X(AutoDial, "Dialup", "AutoDial", User, 0)                                                     \
    X(AutoHangup, "Dialup", "AutoHangup", User, 0)                                                 \
    X(ShowAutoHangupQuestion, "Dialup", "ShowAutoHangupQuestion", User, 0)                         \
    X(RasConnectionCheckInterval, "Dialup", "RasConnectionCheckInterval", User, 5)                 \
    X(ShowSourceCheckboxesOnMainDialog, "Miscellaneous", "ShowSourceCheckboxesOnMainDialog", User, \
      1)                                                                                           \
    X(ShowSelectedSourcesInTitleBar, "Miscellaneous", "ShowSelectedSourcesInTitleBar", User, 0)

// Text settings: X(Name, section, key, store, default). A section of null is the
// personal server's key.
#define AGENT_TEXT_SETTINGS(X)                                                                  \
    X(ConfigFile, "Extended", "ConfigFile", Machine, "Extended.cfg")                            \
    X(BrandName, "Rebranding", "BrandName", Machine, "Halvoran")                                \
    X(ProductName, "Rebranding", "ProductName", Machine, "Vantri")                              \
    X(ProxyHost, "Proxy", "Host", Machine, "")                                                  \
    X(ProxyUsername, "Proxy", "Username", Machine, "")                                          \
    X(ProxyPassword, "Proxy", "Password", Machine, "")                                          \
    X(IxoDatabases, "ApplicationIxo", "IxoDatabases", Machine, "")                              \
    X(IxoDatabaseNames, "ApplicationIxo", "IxoDatabaseNames", Machine, "")                      \
    X(TitleFieldName, "ApplicationIxo", "TitleFieldName", Machine, "")                          \
    X(StoplistFilename, "Stripping", "StoplistFilename", Machine, "english.dat")                \
    X(ExeName, "Miscellaneous", "ExeName", Machine, "")                                         \
    X(Path, "Miscellaneous", "Path", Machine, "")                                               \
    X(InternetHost, "AppInternetVersion", "Host", Machine, "")                                  \
    X(InternetPath, "AppInternetVersion", "Path", Machine, "")                                  \
    X(InternetExecutableName, "AppInternetVersion", "ExecutableName", Machine, "")              \
    X(QueryLogoPath, "Bitmaps", "QueryLogoPath", Machine, "QueryLogo.bmp")                      \
    X(AboutLogoPath, "Bitmaps", "AboutLogoPath", Machine, "AboutLogo.bmp")                      \
    X(SplashLogoPath, "Bitmaps", "SplashLogoPath", Machine, "SplashLogo.bmp")                   \
    X(IxoDatabasesSelected, "UserIxo", "IxoDatabasesSelected", User, "")                        \
    X(IxoDatabasesSelectedNames, "UserIxo", "IxoDatabasesSelectedNames", User, "")              \
    X(UrlPrefix, "UrlManipulation", "UrlPrefix", User, "")                                      \
    X(UrlPostfix, "UrlManipulation", "UrlPostfix", User, "")                                    \
    X(DocTypes, "UrlManipulation", "DocTypes", User, "htm,html,shtml,stm,cfm,cfml,xml,cgi,asp") \
    X(LinksVarName, "UrlManipulation", "LinksVarName", User, "links")                           \
    X(Username, "UserInternetVersion", "Username", User, "")                                    \
    X(Password, "UserInternetVersion", "Password", User, "")                                    \
    X(EmailAddress, "UserInternetVersion", "EmailAddress", User, "")                            \
    X(QueryLogoAddress, "UserInternetVersion", "QueryLogoAddress", User, "")                    \
    X(AboutLogoAddress, "UserInternetVersion", "AboutLogoAddress", User, "")                    \
    X(SplashLogoAddress, "UserInternetVersion", "SplashLogoAddress", User, "")                  \
    X(BadWindowClasses, "Miscellaneous", "BadWindowClasses", User,                              \
      "SysTreeView32,SysListView32,tooltips_class32,SysTabControl32,ReBarWindow32,"             \
      "ToolbarWindow32,SysHeader32,ComboBoxEx32,ComboBox,SysDatTimePick32,msctls_updown32,"     \
      "ComboLBox,ListBox,ToolbarWindow,BaseBar,SUPERGRID")                                      \
    X(PersonalIxoPath, nullptr, "Path", Machine, "")                                            \
    X(PersonalIxoExeFilePath, nullptr, "ExeFilePath", Machine, "")

class CAppParameters {
  public:
    // Every field holds its default until Load().
    CAppParameters();
    ~CAppParameters();
    CAppParameters(const CAppParameters&) = delete;
    CAppParameters& operator=(const CAppParameters&) = delete;

    // Reads ConfigFile and opens that Extended file, then reads every registry setting;
    // a missing or unreadable value keeps its default.
    void Load();

#define AGENT_DECLARE_NUMBER(name, section, key, store, def) \
    int32_t Get##name() const {                              \
        return m_##name;                                     \
    }                                                        \
    bool Set##name(int32_t value);
#define AGENT_DECLARE_TEXT(name, section, key, store, def) \
    std::string Get##name() const;                         \
    bool Set##name(const std::string& value);
    AGENT_NUMBER_SETTINGS(AGENT_DECLARE_NUMBER)
    AGENT_TEXT_SETTINGS(AGENT_DECLARE_TEXT)
#undef AGENT_DECLARE_NUMBER
#undef AGENT_DECLARE_TEXT

    // OutputDebugInfo read again from the registry (and stored in the field).
    int32_t ReadOutputDebugInfo();
    // DeskBand\WindowHandle, read from the registry at each call (0 when missing).
    int32_t GetDeskBandWindowHandle() const;
    // Miscellaneous\ServerSelect, read from the registry at each call.
    int32_t GetServerSelect() const;
    // Meta\MainWnd: written once by the window, never read.
    bool SetMainWnd(int32_t handle);

    // The Extended configuration file ("Settings" section). Missing keys read as ""
    // or 0; without an open file every read gives "" or 0 and every write fails.
    bool OpenExtended(const std::string& path);
    bool HasExtended() const {
        return m_ext != nullptr;
    }
    std::string ExtGetText(const std::string& key) const;
    int32_t ExtGetNumber(const std::string& key) const;
    bool ExtGetFlag(const std::string& key) const;
    bool ExtSetText(const std::string& key, const std::string& value);
    bool ExtSetNumber(const std::string& key, int32_t value);
    bool ExtSetFlag(const std::string& key, bool value);
    // Writes the file, enciphered unless its own DECRYPT flag is set.
    bool ExtSave();
    // Copies every key of every section of other into the Extended file, then saves.
    bool ExtMerge(::ConfigFile* other);

  private:
#define AGENT_FIELD_NUMBER(name, section, key, store, def) int32_t m_##name = 0;
#define AGENT_FIELD_TEXT(name, section, key, store, def) std::string m_##name;
    AGENT_NUMBER_SETTINGS(AGENT_FIELD_NUMBER)
    AGENT_TEXT_SETTINGS(AGENT_FIELD_TEXT)
#undef AGENT_FIELD_NUMBER
#undef AGENT_FIELD_TEXT
    void SetDefaults();
    ::ConfigFile* m_ext = nullptr;
};

}  // namespace agent
