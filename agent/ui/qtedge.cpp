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

namespace agent::ui {
namespace {

// Windows-1252 0x80..0x9F; 0 where the code page assigns nothing.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

QString fromCp1252(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0)
            out.append(QChar(kHigh[b - 0x80]));
        else
            out.append(QChar(static_cast<char16_t>(b)));
    }
    return out;
}

std::string toCp1252(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar ch : text) {
        char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        char mapped = '?';
        for (size_t i = 0; i < kHigh.size(); ++i) {
            if (kHigh[i] == u && u != 0) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        // The control characters 0x80-0x9F the code page leaves unassigned map to themselves.
        if (mapped == '?' && u >= 0x80 && u <= 0x9F && kHigh[u - 0x80] == 0)
            mapped = static_cast<char>(u);
        out.push_back(mapped);
    }
    return out;
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
