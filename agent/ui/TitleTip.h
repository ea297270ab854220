// CTitleTip: the tip that shows a list line's whole text over its cell when the line is
// too long for the list. It never takes the focus and lets clicks through to the list
// beneath it, so a click on a tipped line opens it like a click on the line.
#pragma once

#include <QLabel>

namespace agent::ui {

class CTitleTip : public QLabel {
    Q_OBJECT

  public:
    explicit CTitleTip(QWidget* parent = nullptr);
    // Shows text at cell's place (global coordinates), one pixel right of its left edge,
    // with the cell's height and the text's width plus 3 pixels, in font.
    void showOver(const QRect& globalCell, const QString& text, const QFont& font);
};

}  // namespace agent::ui
