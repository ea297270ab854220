#include "agent/ui/qtedge.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <array>

#include "platform/screen.h"
#include "support/cp1252.h"

namespace agent::ui {
QString fromCp1252(std::string_view bytes) {
    return QString::fromStdString(::cp1252ToUtf8(bytes));
}

std::string toCp1252(const QString& text) {
    return ::utf8ToCp1252(text.toStdString());
}

void readScreenMetrics() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect geometry = screen->geometry();
    int scrollBar = QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    int caption = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    platform::setScreenMetrics({geometry.width(), geometry.height(), scrollBar > 0 ? scrollBar : 16,
                                caption > 0 ? caption : 18});
}

QIcon docTypeIcon(int index) {
    // A small tile of a colour and a mark per kind of document.
    struct Look {
        QColor colour;
        const char* mark;
    };
    static const std::array<Look, 13> kLooks = {{
        {QColor(0x6b, 0x7b, 0x8c), ""},   // 0 any document
        {QColor(0x8d, 0x6e, 0x63), "A"},  // 1 archive, encyclopedia
        {QColor(0x1e, 0x88, 0xe5), "@"},  // 2 mail
        {QColor(0x2e, 0x7d, 0x32), "X"},  // 3 spreadsheet
        {QColor(0x8e, 0x24, 0xaa), "P"},  // 4 people
        {QColor(0xef, 0x6c, 0x00), "S"},  // 5 slides
        {QColor(0x54, 0x6e, 0x7a), "R"},  // 6 rich text
        {QColor(0x15, 0x65, 0xc0), "W"},  // 7 word processor
        {QColor(0xc6, 0x28, 0x28), "P"},  // 8 PDF
        {QColor(0x00, 0x83, 0x8f), "@"},  // 9 mail by the mail interface
        {QColor(0x6b, 0x7b, 0x8c), ""},   // 10 unused
        {QColor(0x6d, 0x4c, 0x41), "B"},  // 11 book
        {QColor(0xf9, 0xa8, 0x25), "$"},  // 12 product
    }};
    static std::array<QIcon, 13> cache;
    if (index < 0 || index >= static_cast<int>(kLooks.size())) index = 0;
    if (!cache[index].isNull()) return cache[index];
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(kLooks[index].colour);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString::fromLatin1(kLooks[index].mark));
    painter.end();
    cache[index] = QIcon(pixmap);
    return cache[index];
}

platform::MsgAnswer QtMessageBoxes::show(const std::string& caption, const std::string& text,
                                         platform::MsgIcon icon, platform::MsgButtons buttons) {
    QMessageBox box(m_parent);
    box.setWindowTitle(fromCp1252(caption));
    box.setText(fromCp1252(text));
    switch (icon) {
        case platform::MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case platform::MsgIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case platform::MsgIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case platform::MsgIcon::None:
            break;
    }
    switch (buttons) {
        case platform::MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case platform::MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case platform::MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return platform::MsgAnswer::Cancel;
        case QMessageBox::Yes:
            return platform::MsgAnswer::Yes;
        case QMessageBox::No:
            return platform::MsgAnswer::No;
        default:
            return platform::MsgAnswer::Ok;
    }
}

}  // namespace agent::ui
