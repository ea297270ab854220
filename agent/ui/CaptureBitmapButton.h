// CCaptureBitmapButton: the hit tool. Press it, drag the cross-hair over any window (a
// frame shows which one) and let go to read that window; a plain click reads the window
// under the button's release point; a right click releases a picked window.
#pragma once

#include <QPoint>
#include <QToolButton>
#include <functional>
#include <memory>

namespace agent::ui {

class CHighlightFrame;

class CCaptureBitmapButton : public QToolButton {
    Q_OBJECT

  public:
    explicit CCaptureBitmapButton(QWidget* parent = nullptr);
    ~CCaptureBitmapButton() override;
    // The rectangle (global) of the window under a global point, for the highlight frame;
    // empty when there is none or it is one of the agent's own.
    std::function<QRect(const QPoint&)> windowRectAt;
    // Shows whether a window is picked.
    void setPicked(bool picked);

  signals:
    // Released after a drag at a global point.
    void dropped(const QPoint& globalPos);
    // Pressed and released without a drag.
    void clickedAt(const QPoint& globalPos);
    // A right click: release the picked window.
    void releasePicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    std::unique_ptr<CHighlightFrame> m_frame;  // a window of its own, not a child
    QPoint m_pressedAt;
    bool m_dragging = false;
    bool m_pressed = false;
};

}  // namespace agent::ui
