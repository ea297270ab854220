#include "agent/AppParameters.h"

#include <cstring>
#include <fstream>
#include <optional>

#include "platform/screen.h"
#include "support/envcfgutil.h"
#include "support/userdirs.h"

namespace agent {
namespace {

using platform::RegHive;

constexpr const char* kSettingsSection = "Settings";

std::string keyFor(const char* section) {
    return section ? settingsKey(section) : std::string(kPersonalIxoKey);
}

// Where a setting of a store is written: the user's values of machine-wide settings go
// to the machine overlay in the user's folder (a normal user cannot write the machine
// hive, which keeps the administrator's defaults).
RegHive writeHive(RegHive store) {
    return store == RegHive::Machine ? RegHive::MachineOverlay : store;
}

bool writeNumber(RegHive store, const char* section, const char* key, int32_t value) {
    return platform::regWriteNumber(writeHive(store), keyFor(section), key,
                                    static_cast<uint32_t>(value));
}

bool writeText(RegHive store, const char* section, const char* key, const std::string& value) {
    return platform::regWriteText(writeHive(store), keyFor(section), key, value);
}

// A machine-wide number read now: the user's overlay first, then the machine hive.
std::optional<uint32_t> readMachineNumber(const std::string& keyPath, const char* name) {
    if (auto v = platform::regReadNumber(RegHive::MachineOverlay, keyPath, name)) return v;
    return platform::regReadNumber(RegHive::Machine, keyPath, name);
}

}  // namespace

std::string settingsKey(const std::string& section) {
    return "Software\\Halvoran\\Sapiolux\\" + section;
}

CAppParameters::CAppParameters() {
    SetDefaults();
}

CAppParameters::~CAppParameters() {
    if (m_ext) envCfgClose(&m_ext);
}

void CAppParameters::SetDefaults() {
    platform::ScreenMetrics metrics = platform::screenMetrics();
    [[maybe_unused]] int sw = metrics.width, sb = metrics.scrollBarWidth,
                         ch = metrics.captionHeight;
#define AGENT_DEFAULT(name, section, key, store, def) m_##name = def;
    AGENT_NUMBER_SETTINGS(AGENT_DEFAULT)
    AGENT_TEXT_SETTINGS(AGENT_DEFAULT)
#undef AGENT_DEFAULT
}

void CAppParameters::Load() {
    SetDefaults();
    platform::RegSnapshot user = platform::RegSnapshot::load(RegHive::User);
    platform::RegSnapshot machine = platform::RegSnapshot::load(RegHive::Machine);
    platform::RegSnapshot overlay = platform::RegSnapshot::load(RegHive::MachineOverlay);
    // A machine-wide value the user has set (the overlay) wins over the machine hive's.
    auto number = [&](RegHive store, const char* section, const char* key) {
        if (store == RegHive::User) return user.number(keyFor(section), key);
        if (auto v = overlay.number(keyFor(section), key)) return v;
        return machine.number(keyFor(section), key);
    };
    auto text = [&](RegHive store, const char* section, const char* key) {
        if (store == RegHive::User) return user.text(keyFor(section), key);
        if (auto v = overlay.text(keyFor(section), key)) return v;
        return machine.text(keyFor(section), key);
    };
    if (auto v = text(RegHive::Machine, "Extended", "ConfigFile")) m_ConfigFile = *v;
    OpenExtended(m_ConfigFile);
#define AGENT_LOAD_NUMBER(name, section, key, store, def) \
    if (auto v = number(RegHive::store, section, key)) m_##name = static_cast<int32_t>(*v);
#define AGENT_LOAD_TEXT(name, section, key, store, def) \
    if (auto v = text(RegHive::store, section, key)) m_##name = *v;
    AGENT_NUMBER_SETTINGS(AGENT_LOAD_NUMBER)
    AGENT_TEXT_SETTINGS(AGENT_LOAD_TEXT)
#undef AGENT_LOAD_NUMBER
#undef AGENT_LOAD_TEXT
    // An installed copy registers the personal server once for every user, with its
    // folder under each user's own data folder ("$XDG_DATA_HOME/sapiolux/personal").
    m_PersonalIxoPath = userdirs::expandUserFolder(m_PersonalIxoPath);
    m_PersonalIxoExeFilePath = userdirs::expandUserFolder(m_PersonalIxoExeFilePath);
}

// Each setter writes to the section and store the loader reads, so a saved value is
// the value of the next start.
#define AGENT_SET_NUMBER(name, section, key, store, def)         \
    bool CAppParameters::Set##name(int32_t value) {              \
        m_##name = value;                                        \
        return writeNumber(RegHive::store, section, key, value); \
    }
#define AGENT_TEXT_ACCESS(name, section, key, store, def)      \
    bool CAppParameters::Set##name(const std::string& value) { \
        m_##name = value;                                      \
        return writeText(RegHive::store, section, key, value); \
    }
AGENT_NUMBER_SETTINGS(AGENT_SET_NUMBER)
AGENT_TEXT_SETTINGS(AGENT_TEXT_ACCESS)
#undef AGENT_SET_NUMBER
#undef AGENT_TEXT_ACCESS

#define AGENT_PLAIN_TEXT_GETTER(name)               \
    std::string CAppParameters::Get##name() const { \
        return m_##name;                            \
    }
AGENT_PLAIN_TEXT_GETTER(ConfigFile)
AGENT_PLAIN_TEXT_GETTER(ProxyUsername)
AGENT_PLAIN_TEXT_GETTER(ProxyPassword)
AGENT_PLAIN_TEXT_GETTER(IxoDatabases)
AGENT_PLAIN_TEXT_GETTER(IxoDatabaseNames)
AGENT_PLAIN_TEXT_GETTER(TitleFieldName)
AGENT_PLAIN_TEXT_GETTER(StoplistFilename)
AGENT_PLAIN_TEXT_GETTER(ExeName)
AGENT_PLAIN_TEXT_GETTER(Path)
AGENT_PLAIN_TEXT_GETTER(InternetHost)
AGENT_PLAIN_TEXT_GETTER(InternetPath)
AGENT_PLAIN_TEXT_GETTER(InternetExecutableName)
AGENT_PLAIN_TEXT_GETTER(QueryLogoPath)
AGENT_PLAIN_TEXT_GETTER(AboutLogoPath)
AGENT_PLAIN_TEXT_GETTER(SplashLogoPath)
AGENT_PLAIN_TEXT_GETTER(IxoDatabasesSelected)
AGENT_PLAIN_TEXT_GETTER(IxoDatabasesSelectedNames)
AGENT_PLAIN_TEXT_GETTER(UrlPrefix)
AGENT_PLAIN_TEXT_GETTER(UrlPostfix)
AGENT_PLAIN_TEXT_GETTER(DocTypes)
AGENT_PLAIN_TEXT_GETTER(LinksVarName)
AGENT_PLAIN_TEXT_GETTER(Username)
AGENT_PLAIN_TEXT_GETTER(Password)
AGENT_PLAIN_TEXT_GETTER(EmailAddress)
AGENT_PLAIN_TEXT_GETTER(QueryLogoAddress)
AGENT_PLAIN_TEXT_GETTER(AboutLogoAddress)
AGENT_PLAIN_TEXT_GETTER(SplashLogoAddress)
AGENT_PLAIN_TEXT_GETTER(BadWindowClasses)
AGENT_PLAIN_TEXT_GETTER(PersonalIxoPath)
AGENT_PLAIN_TEXT_GETTER(PersonalIxoExeFilePath)
#undef AGENT_PLAIN_TEXT_GETTER

std::string CAppParameters::GetBrandName() const {
    return m_BrandName.empty() ? kBuiltinBrandName : m_BrandName;
}

std::string CAppParameters::GetProductName() const {
    return m_ProductName.empty() ? kBuiltinProductName : m_ProductName;
}

std::string CAppParameters::GetProxyHost() const {
    return m_UseProxy == 1 ? std::string(kAutoProxyHost) : m_ProxyHost;
}

int32_t CAppParameters::ReadOutputDebugInfo() {
    if (auto v = readMachineNumber(settingsKey("Miscellaneous"), "OutputDebugInfo"))
        m_OutputDebugInfo = static_cast<int32_t>(*v);
    return m_OutputDebugInfo;
}

int32_t CAppParameters::GetDeskBandWindowHandle() const {
    auto v = readMachineNumber(settingsKey("DeskBand"), "WindowHandle");
    return v ? static_cast<int32_t>(*v) : 0;
}

int32_t CAppParameters::GetServerSelect() const {
    auto v = platform::regReadNumber(RegHive::User, settingsKey("Miscellaneous"), "ServerSelect");
    return v ? static_cast<int32_t>(*v) : 0;
}

bool CAppParameters::SetMainWnd(int32_t handle) {
    return writeNumber(RegHive::Machine, "Meta", "MainWnd", handle);
}

namespace {

// The Extended file is kept enciphered, except that one whose own DECRYPT flag is set is
// saved in clear. Reading a clear file as enciphered would turn every line into noise, and
// the next save would then replace the user's settings with that noise, so the form on disk
// is told from its bytes: whichever reading gives more text characters wins. A missing or
// empty file counts as enciphered, the form a new file is written in.
bool isTextByte(unsigned char c) {
    return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c != 0x7F);
}

bool fileLooksEnciphered(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return true;
    char buffer[4096];
    in.read(buffer, sizeof buffer);
    const auto n = static_cast<size_t>(in.gcount());
    size_t clear = 0, deciphered = 0;
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(buffer[i]);
        clear += isTextByte(c);
        deciphered += isTextByte(static_cast<unsigned char>(c ^ ENVCFG_SCRAMBLE_KEY));
    }
    return n == 0 || deciphered > clear;
}

}  // namespace

bool CAppParameters::OpenExtended(const std::string& path) {
    if (m_ext) envCfgClose(&m_ext);
    if (path.empty()) return false;
    const int32_t form = fileLooksEnciphered(path) ? ENVCFG_SCRAMBLED : 0;
    if (envCfgLoad(&m_ext, path.c_str(), ENVCFG_OWNED | form | ENVCFG_CREATE) != 0) m_ext = nullptr;
    return m_ext != nullptr;
}

std::string CAppParameters::ExtGetText(const std::string& key) const {
    if (!m_ext) return {};
    char* value = nullptr;
    envCfgGetText(m_ext, kSettingsSection, key.c_str(), &value, "");
    std::string out = value ? value : "";
    if (value) memFree(value);
    return out;
}

int32_t CAppParameters::ExtGetNumber(const std::string& key) const {
    return m_ext ? envCfgGetInt(m_ext, kSettingsSection, key.c_str(), nullptr, 0) : 0;
}

bool CAppParameters::ExtGetFlag(const std::string& key) const {
    return m_ext && envCfgGetBool(m_ext, kSettingsSection, key.c_str(), nullptr, 0) != 0;
}

bool CAppParameters::ExtSetText(const std::string& key, const std::string& value) {
    return m_ext && envCfgSetText(m_ext, kSettingsSection, key.c_str(), value.c_str()) == 0;
}

bool CAppParameters::ExtSetNumber(const std::string& key, int32_t value) {
    return m_ext && envCfgSetInt(m_ext, kSettingsSection, key.c_str(), value) == 0;
}

bool CAppParameters::ExtSetFlag(const std::string& key, bool value) {
    return m_ext && envCfgSetBool(m_ext, kSettingsSection, key.c_str(), value ? 1 : 0) == 0;
}

bool CAppParameters::ExtSave() {
    if (!m_ext) return false;
    if (!ExtGetFlag("DECRYPT")) m_ext->scrambled = 1;
    return envCfgSave(m_ext) == 0;
}

bool CAppParameters::ExtMerge(::ConfigFile* other) {
    if (!m_ext || !other) return false;
    if (envCfgCopyEntries(m_ext, other) != 0) return false;
    return ExtSave();
}

}  // namespace agent
