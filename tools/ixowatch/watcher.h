// Live indexing: keeps a retrieval server's index in step with folder trees and mail
// stores while they change. A pass over everything at the start (the same comparison
// with the state file as a one-off run), then inotify events, collected until the
// folders are quiet for a moment and sent as one pass; a pass over everything again
// when the kernel's event queue overflowed. Importing and sending are the indexer's
// (Backend); this module decides what to look at and when, and keeps the state file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace ixowatch {

// What the indexer does for the watcher. Every call comes from the watcher's thread.
class Backend {
  public:
    virtual ~Backend() = default;
    // Starts a pass: nothing is queued.
    virtual void begin() = 0;
    // Imports one file into IDX text (empty when it gave no document). 0 on success, -2
    // for a kind of file the import library does not handle, another negative code for
    // a failure (message says why).
    virtual int importFile(const std::string& path, std::string& idx, std::string& message) = 0;
    // Queues the documents of one file; a full batch is sent. False once the server
    // refused a batch of this pass.
    virtual bool add(const std::string& idx) = 0;
    // Sends what is queued, deletes the documents of references and asks the server to
    // commit. False when any of it was refused or the server could not be reached.
    virtual bool complete(const std::vector<std::string>& goneReferences) = 0;
    // The number of mail sources and, for one, the files and folders whose change means
    // new mail (its stores and mailboxes).
    virtual size_t mailSources() const = 0;
    virtual std::vector<std::string> mailPaths(size_t source) = 0;
    // Reads one mail source again and sends its new messages (the fetcher's status
    // file keeps what went before); the number sent goes to *sent. False when not all
    // of it went.
    virtual bool indexMail(size_t source, size_t* sent) = 0;
};

struct WatchOptions {
    std::vector<std::string> folders;  // absolute paths without a trailing '/'
    std::string stateFile;
    int quietMs = 200;      // a pass starts once no event came for this long...
    int maxDelayMs = 1000;  // ...or this long after the first event that waits
    int retryMs = 5000;     // after a pass the server refused (doubles up to a minute)
    bool progress = false;  // progress lines on standard output (below)
};

// Runs until SIGTERM, SIGINT or SIGHUP; the pass under way ends early, what it sent is
// committed and remembered. The exit status: 0, or 2 when nothing can be watched.
//
// With progress set, standard output gets one line per event, flushed at once:
//   PROGRESS seen total sent failed   files of this pass looked at, of total; files sent
//                                     and failed since the start
//   FAILED path TAB message           a file that could not be imported
//   MAIL sent                         mail messages sent since the start
//   ERROR message                     the server refused or could not be reached
//   WARNING message                   a change that may be missed (the watch limit)
//   IDLE watches files                a pass ended: folders watched, files indexed
int runWatch(const WatchOptions& options, Backend& backend);

}  // namespace ixowatch
