// Control of the personal server: finding it through the machine hive
// (Software\Halvoran\PersonalIXO, values Path and ExeFilePath), reading its ports
// from "ixo/ixo.ini" under Path, starting it (hidden with "-runhidden") and stopping
// it (the shutdown request, then the stop file "ixo/ixo.stop" under Path).
#pragma once

#include <functional>
#include <string>

namespace agent {

class CAppParameters;

inline constexpr const char* kNotInstalledTitle = "Not installed";
inline constexpr const char* kNotInstalledText =
    "The PersonalVantri component is not installed on this machine. If you want to index and "
    "suggest with local content, re-run the installer and select the appropriate component.";

// Path joined with a relative name, with one separator between them.
std::string joinPath(const std::string& folder, const std::string& name);

class CPersonalServer {
  public:
    explicit CPersonalServer(CAppParameters& params) : m_params(params) {}

    // Start-up detection: when Path is set and "ixo/ixo.ini" under it names a query
    // port other than 0, that port becomes PersonalIxoQueryPort, the server counts as
    // available and, when start is set, is started hidden. Returns whether it is
    // available.
    bool Detect(bool start = true);
    bool Available() const { return m_available; }

    // Runs ExeFilePath in the folder Path ("-runhidden" unless visible). Without Path,
    // shows the "Not installed" message instead and returns false.
    bool Start(bool visible);

    // Sends the shutdown request to the ports named by "ixo/ixo.ini" under Path, then
    // creates (or empties) the stop file. True when the stop file was written.
    bool Stop();

    // Waits until the server answers an information request on the query port, at
    // most timeoutMs milliseconds. The document count goes to *documents when given.
    bool WaitReady(int timeoutMs, int* documents = nullptr) const;

    // Where messages for the user go (title, text); standard error when unset.
    std::function<void(const std::string&, const std::string&)> onMessage;

  private:
    CAppParameters& m_params;
    bool m_available = false;
};

}  // namespace agent
