#include "agent/ui/TitleTip.h"

#include <QFontMetrics>
#include <QPalette>
#include <QToolTip>

namespace agent::ui {

CTitleTip::CTitleTip(QWidget* parent)
    : QLabel(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
    setObjectName("ZTitleTip");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(true);
    setPalette(QToolTip::palette());
    setMargin(0);
    setIndent(1);
}

void CTitleTip::showOver(const QRect& globalCell, const QString& text, const QFont& tipFont) {
    setFont(tipFont);
    setText(text);
    setAccessibleName(text);
    int width = QFontMetrics(tipFont).horizontalAdvance(text) + 3;
    setGeometry(globalCell.left() + 1, globalCell.top(), width, globalCell.height());
    show();
    raise();
}

}  // namespace agent::ui
