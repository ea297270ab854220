// The window layer's edge to the rest of the agent: texts cross between Qt's Unicode and
// the libraries' single-byte Windows-1252 here and nowhere else; the screen's figures and
// message boxes come from Qt here.
#pragma once

#include <QIcon>
#include <QString>
#include <string>
#include <string_view>

#include "platform/messagebox.h"

class QWidget;

namespace agent::ui {

// Windows-1252 bytes as Unicode (0x80-0x9F through the code page's own table; its five
// unassigned bytes stand for the control characters of the same numbers).
QString fromCp1252(std::string_view bytes);
// Unicode as Windows-1252; characters the code page lacks become '?'.
std::string toCp1252(const QString& text);

// Sets the platform's screen figures from the primary screen (before settings load).
void readScreenMetrics();

// The icon of a document type's line (index 0 to 12, as docTypeIcon gives).
QIcon docTypeIcon(int index);

// Message boxes shown as Qt dialogs, modal to parent.
class QtMessageBoxes : public platform::MessageBoxes {
  public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    platform::MsgAnswer show(const std::string& caption, const std::string& text,
                             platform::MsgIcon icon, platform::MsgButtons buttons) override;

  private:
    QWidget* m_parent;
};

}  // namespace agent::ui
