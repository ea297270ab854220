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
    "~/.config/sapiolux; SAPIOLUX_MACHINE_HIVE_DIR, default /etc/sapiolux); your own\n"
    "values of machine-wide settings are kept in machine-overlay.reg beside the user\n"
    "hive and read first. The agent\n"
    "keeps its files (Extended.cfg, profile.dat, the query log) in SAPIOLUX_DATA_DIR,\n"
    "default $XDG_DATA_HOME/sapiolux (~/.local/share/sapiolux). SAPIOLUX_LOG names a\n"
    "diagnostic log.\n"
    "\n"
    "It ends on its Exit command, on SIGTERM or SIGINT, and with the desktop session.\n";

// The agent's own folder, created private when missing; it becomes the working folder.
std::string agentDataDir() {
    if (const char* dir = std::getenv("SAPIOLUX_DATA_DIR"); dir && *dir) return dir;
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.local/share";
    } else {
        return {};
    }
    ::mkdir(base.c_str(), 0700);
    return base + "/sapiolux";
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    std::string dir = agentDataDir();
    if (!dir.empty()) {
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
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
#ifdef SAPIOLUX_AGENT_DATA_DIR
    app.setDataDir(SAPIOLUX_AGENT_DATA_DIR);
#endif
    return app.InitInstance();
}
