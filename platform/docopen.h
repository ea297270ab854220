// Opening a document or address with the desktop's default program. The real opener
// hands the address to xdg-open, started detached with an argument vector (never a
// shell), so the program it starts cannot block the caller; the fake records what it
// is asked to open, for tests.
#pragma once

#include <string>
#include <vector>

namespace platform {

class DocumentOpener {
  public:
    virtual ~DocumentOpener() = default;
    // Hands url to the desktop; true when the opener program could be started. The
    // caller decides what may be opened: url is passed on as one argument, unchanged.
    virtual bool open(const std::string& url) = 0;
};

// xdg-open, looked up on PATH at each call (the current folder is never searched).
class XdgDocumentOpener : public DocumentOpener {
  public:
    bool open(const std::string& url) override;
};

// Records every url and answers with result.
class FakeDocumentOpener : public DocumentOpener {
  public:
    std::vector<std::string> opened;
    bool result = true;
    bool open(const std::string& url) override {
        opened.push_back(url);
        return result;
    }
};

// The first regular, executable file called name in a folder of PATH, or empty. Empty
// folders of PATH (meaning the current folder) are skipped.
std::string findProgramOnPath(const std::string& name);

}  // namespace platform
