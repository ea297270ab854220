// A small Qt window showing a text file, for the capture tests: qtnotes TITLE FILE.
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::ReadOnly)) return 1;
    QPlainTextEdit editor;
    editor.setPlainText(QString::fromUtf8(file.readAll()));
    editor.setWindowTitle(QString::fromLocal8Bit(argv[1]));
    editor.resize(500, 300);
    editor.show();
    return app.exec();
}
