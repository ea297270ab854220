// Exclusive temporary files and the private temporary folder of the process.
#include "import/tempfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <random>
#include <utility>

#include "import/importargs.h"

namespace {

std::once_flag gRunFolderOnce;
std::string gRunFolder;

void removeRunFolder() {
    // rmdir only: a folder still holding files (one handed to a viewer, say) stays.
    if (!gRunFolder.empty()) ::rmdir(gRunFolder.c_str());
}

std::string withSeparator(std::string dir) {
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
    return dir;
}

// A part of a name that no earlier call of this process gave, and that other
// processes are unlikely to give.
std::string uniquePart() {
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = [] {
        std::random_device rd;
        return rd();
    }();
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned long long v = (static_cast<unsigned long long>(seed) << 20) ^
                           (static_cast<unsigned long long>(::getpid()) << 8) ^
                           (counter.fetch_add(1) * 2654435761ull);
    std::string out;
    for (int i = 0; i < 8; ++i) {
        out += kChars[v % 36];
        v /= 36;
    }
    return out;
}

}  // namespace

std::string importRunTempFolder() {
    std::call_once(gRunFolderOnce, [] {
        const char* env = std::getenv("TMPDIR");
        std::string base = env && *env ? env : "/tmp";
        std::string pattern = withSeparator(base) + "imex-XXXXXX";
        if (::mkdtemp(pattern.data())) {
            gRunFolder = pattern;
            std::atexit(removeRunFolder);
        }
    });
    return gRunFolder.empty() ? std::string() : gRunFolder + "/";
}

std::string importTempFolder(const ImportArgs* args) {
    if (args && !args->tempDirectory.empty()) return withSeparator(args->tempDirectory);
    return importRunTempFolder();
}

int importCreateExclusive(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

std::FILE* importCreateExclusiveFile(const std::string& path) {
    const int fd = importCreateExclusive(path);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) ::close(fd);
    return f;
}

ImportTempFile::~ImportTempFile() {
    remove();
}

ImportTempFile::ImportTempFile(ImportTempFile&& other) noexcept
    : path_(std::exchange(other.path_, {})) {}

ImportTempFile& ImportTempFile::operator=(ImportTempFile&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

bool ImportTempFile::create(const std::string& folder, const std::string& prefix,
                            const std::string& suffix, std::FILE** stream) {
    remove();
    if (stream) *stream = nullptr;
    if (folder.empty()) return false;
    const std::string dir = withSeparator(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = dir + prefix + uniquePart() + suffix;
        const int fd = importCreateExclusive(path);
        if (fd >= 0) {
            path_ = std::move(path);
            if (!stream) {
                ::close(fd);
                return true;
            }
            *stream = ::fdopen(fd, "wb");
            if (*stream) return true;
            ::close(fd);
            remove();
            return false;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

void ImportTempFile::remove() {
    if (path_.empty()) return;
    struct stat st {};
    // Only a regular file is removed: whatever else stands under the name now was not
    // made here.
    if (::lstat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path_.c_str());
    path_.clear();
}

std::string ImportTempFile::release() {
    return std::exchange(path_, {});
}
