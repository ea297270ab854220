#include "agent/ui/SystemTray.h"

#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

namespace agent::ui {
namespace {

QIcon trayIcon(CSystemTray::Icon icon, bool blank = false) {
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    if (blank) return QIcon(pixmap);
    QColor colour = icon == CSystemTray::Icon::Connected        ? QColor(0x15, 0x65, 0xc0)
                    : icon == CSystemTray::Icon::NewSuggestions ? QColor(0x2e, 0x7d, 0x32)
                                                                : QColor(0x75, 0x75, 0x75);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(1, 1, 20, 20));
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 22, 22), Qt::AlignCenter,
                     icon == CSystemTray::Icon::NewSuggestions ? "*"
                     : icon == CSystemTray::Icon::NotConnected ? "-"
                                                               : "S");
    return QIcon(pixmap);
}

}  // namespace

CSystemTray::CSystemTray(const QString& tip, Icon icon, QObject* parent)
    : QObject(parent),
      m_tray(std::make_unique<QSystemTrayIcon>()),
      m_flash(new QTimer(this)),
      m_icon(icon) {
    setTip(tip);
    setIcon(icon);
    m_flash->setInterval(500);
    connect(m_flash, &QTimer::timeout, this, [this] {
        m_flashOn = !m_flashOn;
        m_tray->setIcon(trayIcon(Icon::NewSuggestions, !m_flashOn));
    });
    // A click opens or closes the window. A double click begins with a click, so it is not
    // taken as a second one (which would close the window it has just opened).
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) emit activated();
            });
    // A desktop's panel may start after the agent: until a tray is there, look for one
    // every second, and show the icon in it when it comes.
    m_waitForTray = new QTimer(this);
    m_waitForTray->setInterval(1000);
    connect(m_waitForTray, &QTimer::timeout, this, [this] {
        if (!available()) return;
        m_waitForTray->stop();
        m_tray->show();
    });
    if (available())
        m_tray->show();
    else
        m_waitForTray->start();
}

CSystemTray::~CSystemTray() = default;

bool CSystemTray::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CSystemTray::setIcon(Icon icon) {
    m_icon = icon;
    if (!m_flash->isActive()) m_tray->setIcon(trayIcon(icon));
}

void CSystemTray::setTip(const QString& tip) {
    m_tip = tip.left(kMaxTip);
    m_tray->setToolTip(m_tip);
}

void CSystemTray::startFlashing() {
    m_icon = Icon::NewSuggestions;
    if (!m_flash->isActive()) m_flash->start();
}

void CSystemTray::stopFlashing() {
    m_flash->stop();
    m_tray->setIcon(trayIcon(m_icon));
}

bool CSystemTray::flashing() const {
    return m_flash->isActive();
}

bool CSystemTray::shown() const {
    return m_tray->isVisible();
}

void CSystemTray::setMenu(QMenu* menu) {
    m_tray->setContextMenu(menu);
}

}  // namespace agent::ui
