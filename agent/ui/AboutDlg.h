// The About box: the About logo the account server handed out (the bitmap at
// AboutLogoPath, when there is one that loads), the agent's name and a line on what it
// does, and OK.
#pragma once

#include <QDialog>

class QLabel;

namespace agent {
class CAppParameters;
}

namespace agent::ui {

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(const agent::CAppParameters& params, QWidget* parent = nullptr);

    // The logo's label; null when no logo could be loaded.
    QLabel* logo() const { return m_logo; }

  private:
    QLabel* m_logo = nullptr;
};

}  // namespace agent::ui
