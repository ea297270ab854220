#include "agent/ui/CaptureBitmapButton.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

namespace agent::ui {

// A red frame around a window, drawn as a window of its own that clicks pass through.
class CHighlightFrame : public QWidget {
  public:
    CHighlightFrame()
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
        setObjectName("HitToolFrame");
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(0xd3, 0x2f, 0x2f));
        setPalette(p);
        setAutoFillBackground(true);
    }
    void frame(const QRect& rect) {
        if (rect.isEmpty()) {
            hide();
            return;
        }
        constexpr int kBorder = 3;
        QRect outer = rect.adjusted(-kBorder, -kBorder, kBorder, kBorder);
        setGeometry(outer);
        // Only the border is part of the window: the framed window stays visible.
        QRegion border(0, 0, outer.width(), outer.height());
        border -= QRegion(kBorder, kBorder, rect.width(), rect.height());
        setMask(border);
        show();
        raise();
    }
};

CCaptureBitmapButton::CCaptureBitmapButton(QWidget* parent)
    : QToolButton(parent), m_frame(std::make_unique<CHighlightFrame>()) {
    setText("+");
    setCursor(Qt::CrossCursor);
}

CCaptureBitmapButton::~CCaptureBitmapButton() = default;

void CCaptureBitmapButton::setPicked(bool picked) {
    setText(picked ? "[+]" : "+");
    setAccessibleName(picked ? "Hit-tool (window picked)" : "Hit-tool");
}

void CCaptureBitmapButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        emit releasePicked();
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    m_pressed = true;
    m_dragging = false;
    m_pressedAt = event->globalPosition().toPoint();
    setDown(true);
    grabMouse(Qt::CrossCursor);
}

void CCaptureBitmapButton::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressed) return;
    QPoint at = event->globalPosition().toPoint();
    if (!m_dragging && (at - m_pressedAt).manhattanLength() >= QApplication::startDragDistance())
        m_dragging = true;
    if (m_dragging) m_frame->frame(windowRectAt ? windowRectAt(at) : QRect());
}

void CCaptureBitmapButton::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_pressed || event->button() != Qt::LeftButton) return;
    m_pressed = false;
    releaseMouse();
    setDown(false);
    m_frame->hide();
    QPoint at = event->globalPosition().toPoint();
    if (m_dragging)
        emit dropped(at);
    else
        emit clickedAt(at);
    m_dragging = false;
}

}  // namespace agent::ui
