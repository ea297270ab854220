// The personal server's control window, "Halvoran Personal Vantri": the server's state
// (running or not, ports, documents, index size) with Start and Stop, the folders and
// mail stores to analyse (kept in HOME/ixo/content.ini), and Start and Stop of the
// analysis: ixoindex --watch run as a child, its progress shown as a bar with files
// seen, sent and failed and a log of the failures. Closing the window (the desktop
// agent asks for that at its shutdown through the window manager) ends the analysis
// cleanly and the program with it; the content list remembers whether analysis was on,
// so the next hidden start resumes it.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "server/vantri/serverstate.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

inline constexpr const char* kVantriTitle = "Halvoran Personal Vantri";

class CVantriWindow : public QWidget {
    Q_OBJECT

  public:
    struct Programs {
        QString server;   // ixoserver
        QString indexer;  // ixoindex
    };
    CVantriWindow(const QString& home, const Programs& programs, QWidget* parent = nullptr);
    ~CVantriWindow() override;

    // Starts ixoserver (hidden, detached, in the home) unless it already answers.
    bool startServer();
    // The shutdown request and the stop file.
    void stopServer();
    // Runs the indexer over the content list; false when there is nothing to analyse or
    // it cannot be started (the log says why).
    bool startAnalysis();
    // Stops the indexer (it finishes the file in hand and remembers what it sent).
    // remember: record in the content list that analysis is off.
    void stopAnalysis(bool remember = true);
    bool analysing() const;

    // The content list; each change is saved at once and a running analysis restarts.
    bool addFolder(const QString& folder);
    bool addMail(const QString& source);  // CLIENT or CLIENT=STORE
    void removeEntry(int row);
    QStringList entries() const;

    // Hidden mode: serverGone() once the server, after it was seen running, stops (the
    // agent stops it at its shutdown); the analysis is stopped first.
    void setFollowServer(bool follow) { m_followServer = follow; }
    // Looks at the server now (otherwise every second).
    void refreshServer();
    const vantri::ServerState& serverState() const { return m_state; }

    QProgressBar* progressBar() const { return m_progress; }
    QPlainTextEdit* log() const { return m_log; }
    QLabel* progressLabel() const { return m_progressText; }
    QLabel* serverLabel() const { return m_serverText; }

  signals:
    void serverChecked();
    void progressChanged(int seen, int total, int sent, int failed);
    void analysisIdle();
    void analysisStopped();
    // Following the server (setFollowServer), it was seen running and has stopped.
    void serverGone();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildUi();
    void saveList();
    bool launchIndexer();
    void readIndexerOutput();
    void indexerLine(const QString& line);
    void indexerFinished(int code, QProcess::ExitStatus status);
    void showServerState();
    void showAnalysisState();
    void appendLog(const QString& text);
    void addMailByDialog();

    QString m_home;
    Programs m_programs;
    vantri::ServerState m_state;
    bool m_seenRunning = false;
    bool m_followServer = false;
    bool m_stopping = false;
    bool m_analysisWanted = false;
    bool m_waitingForServer = false;  // analysis asked for; the server is starting
    QStringList m_folders, m_mail;
    QProcess* m_indexer = nullptr;
    QByteArray m_pending, m_errors;
    QTimer* m_timer = nullptr;
    QElapsedTimer m_serverStart;  // when this window last started the server

    QLabel* m_serverText = nullptr;
    QPushButton* m_startServer = nullptr;
    QPushButton* m_stopServer = nullptr;
    QListWidget* m_list = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_play = nullptr;
    QPushButton* m_stop = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_progressText = nullptr;
    QLabel* m_status = nullptr;
    QPlainTextEdit* m_log = nullptr;
};
