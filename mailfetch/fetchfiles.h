// Files the mail fetchers write: every one is created exclusively (O_CREAT | O_EXCL |
// O_NOFOLLOW, mode 0600), so a file or symbolic link already standing under its name
// is never opened, replaced or written through.
#pragma once

#include <cstdio>
#include <string>

namespace mailfetch {

// The open descriptor of the new file, or -1 (errno set; EEXIST when the name is taken).
int createExclusive(const std::string& path);
// The same as a stdio stream opened "wb", or null.
std::FILE* createExclusiveFile(const std::string& path);

}  // namespace mailfetch
