#include "agent/ui/ProxyDetectDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace agent::ui {

CProxyDetectDialog::CProxyDetectDialog(const std::vector<DetectedProxy>& entries, QWidget* parent)
    : QDialog(parent), m_entries(entries) {
    setWindowTitle(QStringLiteral("Auto Detect Proxy Settings"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("The following proxies were found, please select your "
                                  "preference:"),
                   this));
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const auto& entry : m_entries)
        m_list->addItem(QString::fromStdString(detectedProxyLabel(entry)));
    if (!m_entries.empty()) m_list->setCurrentRow(0);
    layout->addWidget(m_list);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    // OK needs a chosen line.
    auto update = [this] {
        m_buttons->button(QDialogButtonBox::Ok)->setEnabled(m_list->currentRow() >= 0);
    };
    connect(m_list, &QListWidget::currentRowChanged, this, update);
    update();
}

std::optional<DetectedProxy> CProxyDetectDialog::selected() const {
    const int row = m_list->currentRow();
    if (row < 0 || static_cast<std::size_t>(row) >= m_entries.size()) return std::nullopt;
    return m_entries[static_cast<std::size_t>(row)];
}

std::optional<DetectedProxy> chooseDetectedProxy(QWidget* parent,
                                                 const std::vector<DetectedProxy>& entries) {
    if (entries.empty()) {
        QMessageBox::information(parent, QStringLiteral("Proxy Auto Detect"),
                                 QStringLiteral("No proxy settings were detected"));
        return std::nullopt;
    }
    CProxyDetectDialog dialog(entries, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selected();
}

}  // namespace agent::ui
