// vantri-personal [-runhidden] [--home DIR]: the personal server's control window.
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

#include "server/vantri/VantriWindow.h"
#include "tools/ixowatch/watchstate.h"

namespace {

void usage(std::FILE* out) {
    std::fprintf(
        out,
        "usage: vantri-personal [-runhidden] [--home DIR]\n"
        "\n"
        "The control window of the personal retrieval server, titled \"Halvoran Personal\n"
        "Vantri\": the server's state with Start and Stop, the folders and mail stores to\n"
        "analyse (kept in DIR/ixo/content.ini), and Start and Stop of the analysis, which\n"
        "runs ixoindex --watch so the index follows the files as they change.\n"
        "\n"
        "It starts ixoserver for DIR when it does not answer yet. ixoserver and ixoindex\n"
        "are taken from beside this program, else from PATH.\n"
        "\n"
        "  --home DIR   the personal server's folder (default: the working folder)\n"
        "  -runhidden   no window: start the server, resume the analysis when it was on\n"
        "               when the window last closed, and end once the server stops\n"
        "  --help       this text\n"
        "\n"
        "One copy runs per home: starting another shows the running copy's window (or,\n"
        "with -runhidden, does nothing). Closing the window ends the analysis cleanly.\n");
}

QString findProgram(const QString& name) {
    const QString beside = QCoreApplication::applicationDirPath() + "/" + name;
    if (QFileInfo(beside).isExecutable()) return beside;
    return QStandardPaths::findExecutable(name);
}

// The name of the local socket one copy per home listens on.
QString instanceName(const QString& home) {
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(home), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QStringLiteral("vantri-personal-") + QString::fromLatin1(hash);
}

}  // namespace

int main(int argc, char** argv) {
    bool hidden = false;
    QString home;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "-runhidden") {
            hidden = true;
        } else if (a == "--home" && i + 1 < argc) {
            home = QFile::decodeName(argv[++i]);
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (hidden && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");  // hidden needs no display
    QApplication app(argc, argv);
    app.setApplicationName("vantri-personal");
    home = QDir::cleanPath(QDir(home.isEmpty() ? QDir::currentPath() : home).absolutePath());

    // One copy per home: a second one hands over (shows the window) and ends.
    const QString name = instanceName(home);
    {
        QLocalSocket other;
        other.connectToServer(name);
        if (other.waitForConnected(500)) {
            other.write(hidden ? "ping\n" : "show\n");
            other.waitForBytesWritten(500);
            return 0;
        }
    }
    QLocalServer::removeServer(name);  // left by a copy that did not end cleanly
    QLocalServer instance;
    instance.setSocketOptions(QLocalServer::UserAccessOption);
    if (!instance.listen(name))
        std::fprintf(stderr, "vantri-personal: cannot listen on %s: a second copy may start\n",
                     qPrintable(name));

    CVantriWindow window(home, {findProgram("ixoserver"), findProgram("ixoindex")});
    QObject::connect(&instance, &QLocalServer::newConnection, &window, [&] {
        while (QLocalSocket* s = instance.nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::readyRead, s, [&window, s] {
                if (s->readAll().startsWith("show")) {
                    window.setFollowServer(false);
                    window.show();
                    window.raise();
                    window.activateWindow();
                }
                s->deleteLater();
            });
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    window.startServer();
    ixowatch::ContentList list;
    if (ixowatch::loadContentList(QFile::encodeName(home).toStdString(), list) && list.analysis)
        window.startAnalysis();
    if (hidden) {
        window.setFollowServer(true);
        QObject::connect(&window, &CVantriWindow::serverGone, &app, &QApplication::quit);
        // A server that never comes up leaves nothing to follow.
        QTimer::singleShot(60000, &app, [&] {
            if (!window.serverState().running && window.isHidden()) app.quit();
        });
    } else {
        window.show();
    }
    return app.exec();
}
