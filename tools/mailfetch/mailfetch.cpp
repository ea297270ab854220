// mailfetch --client oe5|oe4|eudora|smapi|mbox|maildir [--store PATH]... --fetch-dir DIR
//           [--status FILE] [--max N]
// mailfetch --open REFERENCE [--templates DIR]
//
// The first form runs fetch passes until one pass has gone through every mailbox (or
// N messages were written) and prints how many messages were written. The second
// writes one message to a temporary file and opens it with the desktop's default
// application.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mailfetch/emailclient.h"
#include "mailfetch/simplemapiread.h"

namespace {

const char kUsage[] =
    "usage: mailfetch --client oe5|oe4|eudora|smapi|mbox|maildir [--store PATH]...\n"
    "                 --fetch-dir DIR [--status FILE] [--max N]\n"
    "       mailfetch --open REFERENCE [--templates DIR]\n";

int usage() {
    std::fputs(kUsage, stderr);
    std::fputs("Try 'mailfetch --help' for more.\n", stderr);
    return 2;
}

int help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "The first form reads the messages of one mail program's store and writes each\n"
        "new one into DIR as a message file with an IDX side file holding its mail\n"
        "reference (\"email://CLIENT&FOLDER&KEY&TIME\"); fetch passes run until one pass\n"
        "has gone through every mailbox, or N messages were written, and the number\n"
        "written is printed. Past the first 1000 messages each further thousand goes to\n"
        "a sub-folder DIR/batchN. Files already in DIR are never replaced: the names go\n"
        "on past them. The stores are only read, never changed.\n"
        "The second form writes the message a reference names to a temporary file and\n"
        "opens it with the desktop's default program.\n"
        "\n"
        "  --client NAME     the mail program: oe5 (.dbx), oe4 (.idx/.mbx), eudora\n"
        "                    (.toc/.mbx), smapi (Simple MAPI), mbox, maildir\n"
        "  --store PATH      a store folder or file to read instead of where the program\n"
        "                    keeps its mail (repeatable)\n"
        "  --fetch-dir DIR   where the messages and side files are written\n"
        "  --status FILE     remembers what was fetched, so later runs fetch only new or\n"
        "                    changed messages (default: none, everything is fetched)\n"
        "  --max N           stop after N messages\n"
        "  --open REFERENCE  open one message by its mail reference\n"
        "  --templates DIR   with --open of a Simple MAPI reference (\"email://smapi&...\"):\n"
        "                    the folder of the page templates \"outlook.template\",\n"
        "                    \"tooutlook.template\" and \"attoutlook.template\" the message\n"
        "                    is shown through\n"
        "  --help            this text\n"
        "\n"
        "Exit status: 0 on success, 1 when a store, mailbox or message could not be read\n"
        "or opened or nothing could be written, 2 for bad usage.\n",
        stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string client, fetchDir, statusFile, reference, templates;
    std::vector<std::string> stores;
    long maxCount = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") return help();
        if (arg == "--client" && value(client)) continue;
        if (arg == "--fetch-dir" && value(fetchDir)) continue;
        if (arg == "--status" && value(statusFile)) continue;
        if (arg == "--open" && value(reference)) continue;
        if (arg == "--templates" && value(templates)) continue;
        if (arg == "--store" && value(v)) {
            stores.push_back(v);
            continue;
        }
        if (arg == "--max" && value(v)) {
            char* end = nullptr;
            maxCount = std::strtol(v.c_str(), &end, 10);
            if (*end || maxCount < 0) return usage();
            continue;
        }
        return usage();
    }

    if (!reference.empty()) {
        if (!client.empty() || !fetchDir.empty()) return usage();
        auto fetcher = mailfetch::createFetcher(reference);
        if (!fetcher) {
            std::fprintf(stderr, "mailfetch: not a mail reference of a known client\n");
            return 1;
        }
        auto* smapi = dynamic_cast<mailfetch::SimpleMapiFetcher*>(fetcher.get());
        if (!templates.empty() && !smapi) {
            std::fprintf(stderr, "mailfetch: --templates applies to Simple MAPI references only\n");
            return 2;
        }
        if (smapi) {
            if (templates.empty()) {
                std::fprintf(stderr,
                             "mailfetch: a Simple MAPI message is shown through page templates: "
                             "name their folder with --templates DIR\n");
                return 2;
            }
            // Without the page template nothing can be shown; say so rather than
            // "message not found".
            if (std::FILE* page = std::fopen((templates + "/outlook.template").c_str(), "rb")) {
                std::fclose(page);
            } else {
                std::fprintf(stderr, "mailfetch: cannot read %s/outlook.template\n",
                             templates.c_str());
                return 1;
            }
            smapi->setTemplateDirectory(templates);
        }
        // The message may be found and written but the desktop have no way to open it:
        // say which of the two failed, and where the written file is.
        std::string written;
        fetcher->setOpener([&](const std::string& file) {
            written = file;
            return mailfetch::openWithDesktop(file);
        });
        if (fetcher->openMessage(reference)) return 0;
        if (written.empty())
            std::fprintf(stderr, "mailfetch: message not found\n");
        else
            std::fprintf(stderr, "mailfetch: the message is in %s but could not be opened\n",
                         written.c_str());
        return 1;
    }

    if (!client.empty() && fetchDir.empty() && templates.empty()) {
        // Messages are never written without a folder of their own.
        std::fprintf(stderr, "mailfetch: no fetch folder given: name one with --fetch-dir DIR\n");
        return 2;
    }
    if (client.empty() || fetchDir.empty() || !templates.empty()) return usage();
    auto fetcher = mailfetch::createClient(client);
    if (!fetcher) {
        std::fprintf(stderr, "mailfetch: unknown client \"%s\"\n", client.c_str());
        return 2;
    }
    if (auto* store = dynamic_cast<mailfetch::StoreFetcher*>(fetcher.get()))
        store->setStores(stores);
    else if (!stores.empty())
        return usage();
    if (!fetcher->setFetchDirectory(fetchDir)) {
        std::fprintf(stderr, "mailfetch: %s\n", fetcher->error().c_str());
        return 1;
    }
    if (!statusFile.empty()) {
        fetcher->setStatusFile(statusFile);
        fetcher->loadStatus();
    }
    fetcher->showNotice();
    // Each pass writes at most one batch; base names restart at 0 in every pass, so the
    // batches go to numbered sub-folders when more than one is needed.
    long total = 0;
    const int32_t batch = 1000;
    for (int pass = 0;; ++pass) {
        int32_t want = batch;
        if (maxCount >= 0 && maxCount - total < want) want = static_cast<int32_t>(maxCount - total);
        if (want <= 0) break;
        std::string dir = pass == 0 ? fetchDir : fetchDir + "/batch" + std::to_string(pass);
        if (!fetcher->setFetchDirectory(dir)) {
            std::fprintf(stderr, "mailfetch: %s\n", fetcher->error().c_str());
            return 1;
        }
        fetcher->fetch(want);
        total += fetcher->written();
        if (!fetcher->error().empty()) {
            std::printf("%ld\n", total);
            std::fprintf(stderr, "mailfetch: %s\n", fetcher->error().c_str());
            return 1;
        }
        if (fetcher->finished()) break;
    }
    std::printf("%ld\n", total);
    // A store that could not be read is a failure, even when other mailboxes were.
    if (auto* store = dynamic_cast<mailfetch::StoreFetcher*>(fetcher.get())) {
        bool failed = false;
        for (const std::string& path : store->unreadable()) {
            std::fprintf(stderr, "mailfetch: cannot read the %s mailbox \"%s\"\n", client.c_str(),
                         path.c_str());
            failed = true;
        }
        if (store->mailboxes().empty()) {
            if (stores.empty())
                std::fprintf(stderr, "mailfetch: no %s mail store found\n", client.c_str());
            else
                std::fprintf(stderr, "mailfetch: no %s mailbox found in the given store\n",
                             client.c_str());
            failed = true;
        }
        if (failed) return 1;
    }
    return 0;
}
