// The suggestions window offscreen: from creating the window to its first paint, and
// from a finished query to the painted list of 12 results.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QSignalSpy>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/ui/SapioluxDlg.h"
#include "platform/desktop.h"
#include "platform/messagebox.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

namespace {

using agent::ui::CSapioluxDlg;
using testing_support::LoopbackServer;

// Settings hives and the working folder in a temporary folder for the whole run.
struct Setup {
    testing_support::TempDir dir;
    agent::CAppParameters settings;
    platform::FakeDesktop desktop;
    platform::RecordingMessageBox boxes;
    Setup() {
        ::setenv("SAPIOLUX_USER_HIVE_DIR", dir.file("hive").c_str(), 1);
        ::setenv("SAPIOLUX_MACHINE_HIVE_DIR", dir.file("hive").c_str(), 1);
        std::filesystem::current_path(dir.path());
        settings.Load();
    }
    CSapioluxDlg::Env env() {
        CSapioluxDlg::Env e;
        e.settings = &settings;
        e.desktop = &desktop;
        e.messages = &boxes;
        e.dataDir = std::string(SAPIOLUX_SOURCE_DIR) + "/agent/data";
        return e;
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

// Waits until widget has painted once.
class PaintSpy : public QObject {
  public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return false;
    }
};

void BM_WindowToFirstPaint(benchmark::State& state) {
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        auto dlg = std::make_unique<CSapioluxDlg>(setup().env());
        PaintSpy spy;
        dlg->installEventFilter(&spy);
        dlg->show();
        while (!spy.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        dlg->removeEventFilter(&spy);
        dlg.reset();
    }
}
BENCHMARK(BM_WindowToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QueryDoneToPaintedList(benchmark::State& state) {
    LoopbackServer server;
    std::string body = "numhits=12\n";
    for (int i = 0; i < 12; ++i)
        body += "Doc_name=http://example/" + std::to_string(i) +
                "\nURL_title=A suggested document with a fairly long title number " +
                std::to_string(i) + "\nDoc_id=" + std::to_string(i) +
                "\nDoc_weight=" + std::to_string(90 - i) + "\nlinks=\ndbase=0\nDocType=PDF\n";
    server.setReply(LoopbackServer::httpReply(body));
    Setup& s = setup();
    s.settings.ExtSetText("IXO", "127.0.0.1");
    s.settings.ExtSetNumber("PORT", server.port());
    s.settings.ExtSetNumber("SOURCE", agent::kSourceWeb);
    s.settings.ExtSetFlag("NOENCRYPTQUERY", true);
    s.settings.SetNSuggests(12);
    CSapioluxDlg dlg(s.env());
    dlg.show();
    dlg.ServerLocated();
    QSignalSpy handled(&dlg, &CSapioluxDlg::queryHandled);
    dlg.OnNewText("granite basalt quartz crystals volcanic ridges lava", 1);
    handled.wait(10000);
    dlg.endLogoPeriod();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        dlg.ShowResults(true);
        dlg.repaint();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.counters["lines"] = dlg.resultsList()->count();
}
BENCHMARK(BM_QueryDoneToPaintedList)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
