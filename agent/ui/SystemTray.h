// CSystemTray: the agent's icon in the desktop's tray. It shows the connection state
// (connected, new suggestions, not connected) and a tip, flashes while new suggestions wait
// unseen, offers the window's menu, and a click shows or hides the window. Where the
// desktop has no tray, the icon is kept but not shown (available() is false); it shows
// as soon as a tray appears (a panel started after the agent).
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace agent::ui {

class CSystemTray : public QObject {
    Q_OBJECT

  public:
    enum class Icon { Connected, NewSuggestions, NotConnected };
    static constexpr int kId = 130;
    static constexpr int kMaxTip = 63;

    CSystemTray(const QString& tip, Icon icon, QObject* parent = nullptr);
    ~CSystemTray() override;

    bool available() const;
    void setIcon(Icon icon);
    // The tip, cut to 63 characters.
    void setTip(const QString& tip);
    // Flashes between the new-suggestions icon and none every 500 ms, until stopped.
    void startFlashing();
    void stopFlashing();
    void setMenu(QMenu* menu);

    Icon icon() const { return m_icon; }
    QString tip() const { return m_tip; }
    bool flashing() const;
    // Whether the icon is shown in a tray.
    bool shown() const;

  signals:
    // The icon was clicked (open or close the window).
    void activated();

  private:
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QTimer* m_flash;
    QTimer* m_waitForTray;  // looks for a tray until one is there
    Icon m_icon;
    QString m_tip;
    bool m_flashOn = false;
};

}  // namespace agent::ui
