#include "agent/ui/AboutDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "agent/AppParameters.h"
#include "agent/ui/qtedge.h"

namespace agent::ui {

CAboutDlg::CAboutDlg(const agent::CAppParameters& params, QWidget* parent) : QDialog(parent) {
    const std::string caption = params.GetBrandName() + " " + params.GetProductName();
    setObjectName("AboutDlg");
    setWindowTitle(tr("About %1").arg(fromCp1252(caption)));
    auto* layout = new QVBoxLayout(this);
    // A missing or unreadable file (no account server, a logo not fetched yet) leaves
    // the box without a picture.
    const QPixmap picture(QString::fromStdString(params.GetAboutLogoPath()));
    if (!picture.isNull()) {
        m_logo = new QLabel(this);
        m_logo->setObjectName("aboutLogo");
        m_logo->setPixmap(picture);
        m_logo->setAlignment(Qt::AlignCenter);
        layout->addWidget(m_logo);
    }
    auto* text = new QLabel(
        fromCp1252(caption) + "\n" + tr("Suggests documents for the text you work on."), this);
    text->setObjectName("aboutText");
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace agent::ui
