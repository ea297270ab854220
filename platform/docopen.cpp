#include "platform/docopen.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/shellopen.h"

namespace platform {

std::string findProgramOnPath(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return {};
    const char* path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || folder[0] != '/') continue;  // relative folders are never searched
        std::string candidate = folder + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool XdgDocumentOpener::open(const std::string& url) {
    if (url.empty()) return false;
    std::string program = findProgramOnPath("xdg-open");
    if (program.empty()) return false;
    // Detached, with the standard streams on /dev/null: the opened program's chatter
    // does not reach the agent's streams and its life is its own.
    return shellOpen(program, {url}, "", false);
}

}  // namespace platform
