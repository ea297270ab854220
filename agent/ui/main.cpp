// sapiolux: the desktop suggestion agent. It follows the window you work in, asks a
// retrieval server for the documents most like its text and lists them in a small
// always-on-top window.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/ui/SapioluxApp.h"
#include "platform/registry.h"
#include "support/userdirs.h"

namespace {

const char kHelp[] =
    "usage: sapiolux [--help]\n"
    "\n"
    "The desktop suggestion agent. It lists, in a small window that stays on top,\n"
    "the documents a retrieval server finds most similar to the text you work on;\n"
    "click in the list and type to ask for a text of your own. Only one copy runs\n"
    "per user: starting another does nothing.\n"
    "\n"
    "Settings come from the settings hives (SAPIOLUX_USER_HIVE_DIR, default\n"
    "$XDG_CONFIG_HOME/sapiolux; SAPIOLUX_MACHINE_HIVE_DIR, default\n%s). Your own values of "
    "machine-wide settings are kept\n"
    "in machine-overlay.reg beside the user hive and read first. The agent keeps its files\n"
    "(Extended.cfg, profile.dat, the query log) in SAPIOLUX_DATA_DIR, default\n"
    "$XDG_DATA_HOME/sapiolux (~/.local/share/sapiolux). SAPIOLUX_LOG names a diagnostic log.\n"
    "\n"
    "It ends on its Exit command, on SIGTERM or SIGINT, and with the desktop session.\n";

// The agent's own folder, created private when missing; it becomes the working folder.
std::string agentDataDir() {
    if (const char* dir = std::getenv("SAPIOLUX_DATA_DIR"); dir && *dir) return dir;
    std::string base = userdirs::dataHome();
    return base.empty() ? std::string() : base + "/sapiolux";
}

// The term weights and stop list shipped with the program: those of an installed copy,
// else those of the source tree it was built from.
std::string shippedDataDir() {
    std::string installed = userdirs::installedFolder(userdirs::Installed::Data);
    if (!installed.empty()) return installed;
#ifdef SAPIOLUX_AGENT_DATA_DIR
    return SAPIOLUX_AGENT_DATA_DIR;
#else
    return {};
#endif
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(kHelp, platform::regDefaultMachineHiveDir());
            return 0;
        }
    }
    std::string dir = agentDataDir();
    if (!dir.empty()) {
        if (!userdirs::makePrivateFolders(dir)) {
            std::fprintf(stderr, "sapiolux: cannot create %s: %s\n", dir.c_str(),
                         std::strerror(errno));
            return 1;
        }
        if (::chdir(dir.c_str()) != 0) {
            std::fprintf(stderr, "sapiolux: cannot enter %s: %s\n", dir.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    agent::ui::CSapioluxApp app(argc, argv);
    app.setDataDir(shippedDataDir());
    return app.InitInstance();
}
