// CProxyDetectDialog: the list of detected proxies ("Auto Detect Proxy Settings"), one
// line per entry, from which the user picks the one to use.
#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "agent/proxysetup.h"

class QListWidget;
class QDialogButtonBox;

namespace agent::ui {

class CProxyDetectDialog : public QDialog {
    Q_OBJECT

  public:
    CProxyDetectDialog(const std::vector<DetectedProxy>& entries, QWidget* parent = nullptr);

    // The entry of the selected line, nullopt when none is selected.
    std::optional<DetectedProxy> selected() const;
    QListWidget* list() const { return m_list; }
    QDialogButtonBox* buttons() const { return m_buttons; }

  private:
    std::vector<DetectedProxy> m_entries;
    QListWidget* m_list = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};

// Shows "Auto Detect Proxy Settings" (or "No proxy settings were detected" titled
// "Proxy Auto Detect" when entries is empty) and returns the chosen entry; nullopt when
// the user cancels or nothing was detected.
std::optional<DetectedProxy> chooseDetectedProxy(QWidget* parent,
                                                 const std::vector<DetectedProxy>& entries);

}  // namespace agent::ui
