#include "server/vantri/VantriWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "tools/ixowatch/watchstate.h"

namespace {

std::string local(const QString& text) {
    return QFile::encodeName(text).toStdString();
}
QString fromLocal(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

QString byteSize(int64_t bytes) {
    if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
}

const char* const kMailClients[] = {"mbox", "maildir", "oe5", "oe4", "eudora", "smapi"};

}  // namespace

CVantriWindow::CVantriWindow(const QString& home, const Programs& programs, QWidget* parent)
    : QWidget(parent), m_home(home), m_programs(programs) {
    setWindowTitle(QString::fromLatin1(kVantriTitle));
    buildUi();
    ixowatch::ContentList list;
    if (ixowatch::loadContentList(local(m_home), list)) {
        for (const std::string& f : list.folders) m_folders << fromLocal(f);
        for (const std::string& m : list.mail) m_mail << fromLocal(m);
        m_analysisWanted = list.analysis;
    } else {
        appendLog(tr("Cannot read %1.").arg(fromLocal(ixowatch::contentListPath(local(m_home)))));
    }
    for (const QString& f : m_folders) m_list->addItem(f);
    for (const QString& m : m_mail) m_list->addItem(tr("Mail: %1").arg(m));
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &CVantriWindow::refreshServer);
    m_timer->start();
    refreshServer();
    showAnalysisState();
}

CVantriWindow::~CVantriWindow() {
    if (analysing()) stopAnalysis(false);
}

void CVantriWindow::buildUi() {
    auto* top = new QVBoxLayout(this);

    auto* serverBox = new QGroupBox(tr("Personal server"), this);
    auto* serverRow = new QHBoxLayout(serverBox);
    m_serverText = new QLabel(serverBox);
    m_serverText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_startServer = new QPushButton(tr("Start server"), serverBox);
    m_stopServer = new QPushButton(tr("Stop server"), serverBox);
    serverRow->addWidget(m_serverText, 1);
    serverRow->addWidget(m_startServer);
    serverRow->addWidget(m_stopServer);
    connect(m_startServer, &QPushButton::clicked, this, [this] { startServer(); });
    connect(m_stopServer, &QPushButton::clicked, this, [this] { stopServer(); });
    top->addWidget(serverBox);

    auto* contentBox = new QGroupBox(tr("Folders and mail to analyse"), this);
    auto* contentRow = new QHBoxLayout(contentBox);
    m_list = new QListWidget(contentBox);
    auto* buttons = new QVBoxLayout;
    auto* addFolderButton = new QPushButton(tr("Add folder..."), contentBox);
    auto* addMailButton = new QPushButton(tr("Add mail..."), contentBox);
    m_remove = new QPushButton(tr("Remove"), contentBox);
    buttons->addWidget(addFolderButton);
    buttons->addWidget(addMailButton);
    buttons->addWidget(m_remove);
    buttons->addStretch(1);
    contentRow->addWidget(m_list, 1);
    contentRow->addLayout(buttons);
    connect(addFolderButton, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, tr("Folder to analyse"));
        if (!folder.isEmpty()) addFolder(folder);
    });
    connect(addMailButton, &QPushButton::clicked, this, [this] { addMailByDialog(); });
    connect(m_remove, &QPushButton::clicked, this, [this] { removeEntry(m_list->currentRow()); });
    top->addWidget(contentBox, 1);

    auto* analysisBox = new QGroupBox(tr("Analysis"), this);
    auto* analysis = new QVBoxLayout(analysisBox);
    auto* controls = new QHBoxLayout;
    m_play = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), tr("Start analysis"),
                             analysisBox);
    m_stop = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), tr("Stop analysis"),
                             analysisBox);
    m_progress = new QProgressBar(analysisBox);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    controls->addWidget(m_play);
    controls->addWidget(m_stop);
    controls->addWidget(m_progress, 1);
    m_progressText = new QLabel(analysisBox);
    m_status = new QLabel(analysisBox);
    m_log = new QPlainTextEdit(analysisBox);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(5000);
    m_log->setPlaceholderText(tr("Files that could not be analysed are listed here."));
    analysis->addLayout(controls);
    analysis->addWidget(m_progressText);
    analysis->addWidget(m_status);
    analysis->addWidget(m_log, 1);
    connect(m_play, &QPushButton::clicked, this, [this] { startAnalysis(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { stopAnalysis(); });
    top->addWidget(analysisBox, 2);
    resize(560, 520);
}

void CVantriWindow::refreshServer() {
    m_state = vantri::probeServer(local(m_home));
    if (m_state.running) {
        m_seenRunning = true;
        m_serverStart.invalidate();
        if (m_waitingForServer) launchIndexer();
    }
    showServerState();
    emit serverChecked();
    // Hidden, the program lives as long as the server it was started for.
    if (m_followServer && m_seenRunning && !m_state.running) {
        m_timer->stop();
        stopAnalysis(false);
        emit serverGone();
    }
}

void CVantriWindow::showServerState() {
    if (m_state.running) {
        m_serverText->setText(tr("Running on 127.0.0.1, query port %1, index port %2\n"
                                 "%3 documents, index size %4")
                                  .arg(m_state.queryPort)
                                  .arg(m_state.indexPort)
                                  .arg(m_state.documents)
                                  .arg(byteSize(m_state.indexBytes)));
    } else {
        m_serverText->setText(tr("Not running\nIndex size %1 in %2")
                                  .arg(byteSize(m_state.indexBytes))
                                  .arg(fromLocal(m_state.dataFolder)));
    }
    m_startServer->setEnabled(!m_state.running);
    m_stopServer->setEnabled(m_state.running);
}

bool CVantriWindow::startServer() {
    if (m_state.running) return true;
    // A server just started may not listen yet; a second one would fight it for the
    // index and its ports file.
    if (m_serverStart.isValid() && !m_serverStart.hasExpired(20000)) return true;
    if (m_programs.server.isEmpty()) {
        appendLog(tr("The server program ixoserver was not found."));
        return false;
    }
    QDir().mkpath(m_home + "/ixo");
    if (!QProcess::startDetached(m_programs.server, {"-runhidden", "--home", m_home}, m_home)) {
        appendLog(tr("Cannot start %1.").arg(m_programs.server));
        return false;
    }
    m_serverStart.start();
    m_status->setText(tr("Starting the server..."));
    return true;
}

void CVantriWindow::stopServer() {
    vantri::stopServer(local(m_home));
    m_status->setText(tr("Stopping the server..."));
}

bool CVantriWindow::analysing() const {
    return m_waitingForServer || (m_indexer && m_indexer->state() != QProcess::NotRunning);
}

bool CVantriWindow::startAnalysis() {
    if (analysing()) return true;
    if (m_folders.isEmpty() && m_mail.isEmpty()) {
        appendLog(tr("Add a folder or a mail store to analyse first."));
        return false;
    }
    if (m_programs.indexer.isEmpty()) {
        appendLog(tr("The indexing program ixoindex was not found."));
        return false;
    }
    m_analysisWanted = true;
    saveList();
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    if (!m_state.running) {
        // The indexer needs the server's ports; it starts once the server answers.
        if (!startServer()) return false;
        m_waitingForServer = true;
        m_progressText->setText(tr("Waiting for the server..."));
        showAnalysisState();
        return true;
    }
    return launchIndexer();
}

bool CVantriWindow::launchIndexer() {
    m_waitingForServer = false;
    delete m_indexer;
    m_indexer = new QProcess(this);
    m_indexer->setWorkingDirectory(m_home);
    m_pending.clear();
    m_errors.clear();
    connect(m_indexer, &QProcess::readyReadStandardOutput, this, &CVantriWindow::readIndexerOutput);
    connect(m_indexer, &QProcess::readyReadStandardError, this, [this] {
        m_errors += m_indexer->readAllStandardError();
        if (m_errors.size() > 64 * 1024) m_errors = m_errors.right(32 * 1024);
    });
    connect(m_indexer, &QProcess::finished, this, &CVantriWindow::indexerFinished);
    m_progressText->setText(tr("Looking for files..."));
    m_indexer->start(m_programs.indexer, {"--watch", "--progress", "--home", m_home});
    if (!m_indexer->waitForStarted(5000)) {
        appendLog(tr("Cannot start %1.").arg(m_programs.indexer));
        delete m_indexer;
        m_indexer = nullptr;
        showAnalysisState();
        return false;
    }
    m_status->setText(tr("Analysing Local Content"));
    showAnalysisState();
    return true;
}

void CVantriWindow::stopAnalysis(bool remember) {
    if (remember) {
        m_analysisWanted = false;
        saveList();
    }
    m_waitingForServer = false;
    showAnalysisState();
    if (!m_indexer || m_indexer->state() == QProcess::NotRunning) return;
    m_stopping = true;
    // SIGTERM: the indexer ends its pass at the next file and keeps what was sent.
    m_indexer->terminate();
    if (!m_indexer->waitForFinished(15000)) {
        m_indexer->kill();
        m_indexer->waitForFinished(2000);
    }
    m_stopping = false;
}

void CVantriWindow::readIndexerOutput() {
    m_pending += m_indexer->readAllStandardOutput();
    for (qsizetype nl; (nl = m_pending.indexOf('\n')) >= 0;) {
        const QByteArray line = m_pending.left(nl);
        m_pending.remove(0, nl + 1);
        indexerLine(QFile::decodeName(line));
    }
}

void CVantriWindow::indexerLine(const QString& line) {
    if (line.startsWith(QLatin1String("PROGRESS "))) {
        const QStringList n = line.mid(9).split(' ');
        if (n.size() != 4) return;
        const int seen = n[0].toInt(), total = n[1].toInt(), sent = n[2].toInt(),
                  failed = n[3].toInt();
        m_progress->setRange(0, std::max(total, 1));
        m_progress->setValue(total == 0 ? 1 : seen);
        m_progressText->setText(tr("Files seen: %1 of %2, sent: %3, failed: %4")
                                    .arg(seen)
                                    .arg(total)
                                    .arg(sent)
                                    .arg(failed));
        emit progressChanged(seen, total, sent, failed);
    } else if (line.startsWith(QLatin1String("FAILED "))) {
        const QString rest = line.mid(7);
        const qsizetype tab = rest.indexOf('\t');
        appendLog(tab < 0 ? rest : rest.left(tab) + ": " + rest.mid(tab + 1));
    } else if (line.startsWith(QLatin1String("ERROR ")) ||
               line.startsWith(QLatin1String("WARNING "))) {
        appendLog(line.mid(line.indexOf(' ') + 1));
    } else if (line.startsWith(QLatin1String("MAIL "))) {
        m_status->setText(tr("Analysing Local Content: %1 mail messages sent").arg(line.mid(5)));
    } else if (line.startsWith(QLatin1String("IDLE "))) {
        const QStringList n = line.mid(5).split(' ');
        m_status->setText(tr("Up to date: %1 files analysed; changes are followed as they happen")
                              .arg(n.value(1)));
        emit analysisIdle();
    }
}

void CVantriWindow::indexerFinished(int code, QProcess::ExitStatus status) {
    readIndexerOutput();
    if (!m_stopping && (status != QProcess::NormalExit || code != 0)) {
        appendLog(tr("The analysis ended unexpectedly (exit status %1).").arg(code));
        for (const QByteArray& l : m_errors.split('\n'))
            if (!l.trimmed().isEmpty()) appendLog(QFile::decodeName(l));
    }
    m_status->setText(tr("Analysis stopped"));
    showAnalysisState();
    emit analysisStopped();
}

void CVantriWindow::showAnalysisState() {
    const bool running = analysing();
    m_play->setEnabled(!running);
    m_stop->setEnabled(running);
}

void CVantriWindow::appendLog(const QString& text) {
    m_log->appendPlainText(text);
}

void CVantriWindow::saveList() {
    ixowatch::ContentList list;
    for (const QString& f : m_folders) list.folders.push_back(local(f));
    for (const QString& m : m_mail) list.mail.push_back(local(m));
    list.analysis = m_analysisWanted;
    if (!ixowatch::saveContentList(local(m_home), list))
        appendLog(tr("Cannot write %1.").arg(fromLocal(ixowatch::contentListPath(local(m_home)))));
}

bool CVantriWindow::addFolder(const QString& folder) {
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (!QFileInfo(path).isDir() || m_folders.contains(path)) return false;
    m_folders << path;
    m_list->insertItem(m_folders.size() - 1, path);
    saveList();
    if (analysing()) {  // the indexer reads the list when it starts
        stopAnalysis(false);
        startAnalysis();
    }
    return true;
}

bool CVantriWindow::addMail(const QString& source) {
    const QString client = source.section('=', 0, 0).toLower();
    if (std::none_of(std::begin(kMailClients), std::end(kMailClients),
                     [&](const char* c) { return client == QLatin1String(c); }) ||
        m_mail.contains(source))
        return false;
    m_mail << source;
    m_list->addItem(tr("Mail: %1").arg(source));
    saveList();
    if (analysing()) {
        stopAnalysis(false);
        startAnalysis();
    }
    return true;
}

void CVantriWindow::addMailByDialog() {
    QStringList clients;
    for (const char* c : kMailClients) clients << QString::fromLatin1(c);
    bool ok = false;
    const QString client = QInputDialog::getItem(this, tr("Add mail"), tr("Kind of mail store:"),
                                                 clients, 0, false, &ok);
    if (!ok) return;
    QString store;
    if (client == QLatin1String("mbox"))
        store = QFileDialog::getOpenFileName(
            this, tr("Mailbox file (Cancel: where the mail program keeps it)"));
    else
        store = QFileDialog::getExistingDirectory(
            this, tr("Mail folder (Cancel: where the mail program keeps it)"));
    addMail(store.isEmpty() ? client : client + "=" + store);
}

void CVantriWindow::removeEntry(int row) {
    if (row < 0 || row >= m_folders.size() + m_mail.size()) return;
    if (row < m_folders.size())
        m_folders.removeAt(row);
    else
        m_mail.removeAt(row - m_folders.size());
    delete m_list->takeItem(row);
    saveList();
    if (analysing()) {
        stopAnalysis(false);
        if (!m_folders.isEmpty() || !m_mail.isEmpty()) startAnalysis();
    }
}

QStringList CVantriWindow::entries() const {
    QStringList out;
    for (int i = 0; i < m_list->count(); ++i) out << m_list->item(i)->text();
    return out;
}

void CVantriWindow::closeEvent(QCloseEvent* event) {
    // Asked to close (by the user, or by the agent through the window manager): the
    // analysis ends cleanly, but the list keeps it wanted so the next start resumes it.
    m_timer->stop();
    stopAnalysis(false);
    event->accept();
}
