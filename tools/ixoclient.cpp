// ixoclient: talks to a retrieval server from the command line.
//
//   ixoclient [options] PATH            sends PATH and prints the reply text
//   ixoclient [options] COMMAND ARGS... runs one of the sub-commands below
//
// Options are read wherever they stand; the first word that is not an option picks
// the sub-command, and a word that names none is taken as the PATH of the plain
// request. New sub-commands are one row of kCommands; new options one row of
// kOptions.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ixo.h"

namespace {

struct Options {
    std::string host = "127.0.0.1";
    int32_t port = 0;
    int32_t indexPort = 0;
    bool scramble = false;
    bool index = false;
    std::string postDataFile;
    int32_t timeout = 60;
    std::vector<std::string> words;  // the sub-command's arguments
};

struct Option {
    const char* name;
    const char* valueName;  // null for a switch
    const char* help;
    std::function<bool(Options&, const char*)> apply;  // false: bad value
};

bool readPort(const char* text, int32_t* out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 65535) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

const std::vector<Option> kOptions = {
    {"--host", "H", "retrieval server host name or address (default 127.0.0.1)",
     [](Options& o, const char* v) {
         o.host = v;
         return !o.host.empty();
     }},
    {"--port", "P", "query port of the server",
     [](Options& o, const char* v) { return readPort(v, &o.port); }},
    {"--index-port", "P", "index port of the server",
     [](Options& o, const char* v) { return readPort(v, &o.indexPort); }},
    {"--index", nullptr, "send the request to the index port instead of the query port",
     [](Options& o, const char*) {
         o.index = true;
         return true;
     }},
    {"--scramble", nullptr, "scramble the request path (scrambling mode 1)",
     [](Options& o, const char*) {
         o.scramble = true;
         return true;
     }},
    {"--post-data", "FILE", "send the contents of FILE as the request body (POST)",
     [](Options& o, const char* v) {
         o.postDataFile = v;
         return !o.postDataFile.empty();
     }},
    {"--timeout", "SECONDS", "send/receive wait in seconds (default 60)",
     [](Options& o, const char* v) {
         o.timeout = std::atoi(v);
         return o.timeout > 0;
     }},
};

struct Command {
    const char* name;  // empty: the plain request form
    const char* arguments;
    const char* help;
    int (*run)(IXO& ixo, const Options& options);
};

int fail(int32_t code) {
    std::fprintf(stderr, "ixoclient: %s\n", ixoGetError(code));
    return 1;
}

// Sends one request path and prints the reply text.
int runRequest(IXO& ixo, const Options& options) {
    if (options.words.size() != 1) {
        std::fprintf(stderr, "ixoclient: one PATH expected (see --help)\n");
        return 2;
    }
    std::string body;
    if (!options.postDataFile.empty()) {
        std::ifstream in(options.postDataFile, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "ixoclient: cannot read %s\n", options.postDataFile.c_str());
            return 1;
        }
        std::ostringstream all;
        all << in.rdbuf();
        body = all.str();
    }
    char* reply = nullptr;
    int32_t rc = ixoRequestToDynBuffer2(
        &ixo, options.index ? IXO_INDEX_PORT_SELECTOR : IXO_QUERY_PORT_SELECTOR,
        options.words[0].c_str(), body.empty() ? nullptr : body.c_str(), &reply);
    if (rc != IXO_OK) return fail(rc);
    std::fputs(reply, stdout);
    std::size_t length = std::strlen(reply);
    if (length > 0 && reply[length - 1] != '\n') std::fputc('\n', stdout);
    memFree(reply);
    return 0;
}

const std::vector<Command> kCommands = {
    {"", "PATH", "send PATH (e.g. \"/qmethod=V\") and print the reply text", runRequest},
    {"request", "PATH", "the same as the plain form", runRequest},
};

void usage(FILE* out) {
    std::fprintf(
        out,
        "usage: ixoclient [options] PATH\n       ixoclient [options] COMMAND ARGUMENTS...\n\n");
    std::fprintf(out,
                 "Sends requests to a retrieval server and prints the reply text.\n\ncommands:\n");
    for (const auto& c : kCommands) {
        std::string head = std::string(c.name) + (c.name[0] ? " " : "") + c.arguments;
        std::fprintf(out, "  %-24s %s\n", head.c_str(), c.help);
    }
    std::fprintf(out, "\noptions:\n");
    for (const auto& o : kOptions) {
        std::string head =
            std::string(o.name) + (o.valueName ? std::string(" ") + o.valueName : "");
        std::fprintf(out, "  %-24s %s\n", head.c_str(), o.help);
    }
    std::fprintf(out, "  %-24s %s\n", "--help", "show this text");
    std::fprintf(out,
                 "\nErrors are printed on standard error; the exit status is then non-zero.\n");
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            usage(stdout);
            return 0;
        }
        if (std::strncmp(arg, "--", 2) != 0 || std::strcmp(arg, "--") == 0) {
            if (std::strcmp(arg, "--") == 0)
                for (++i; i < argc; ++i) options.words.emplace_back(argv[i]);
            else
                options.words.emplace_back(arg);
            continue;
        }
        const Option* found = nullptr;
        for (const auto& o : kOptions)
            if (std::strcmp(o.name, arg) == 0) found = &o;
        if (found == nullptr) {
            std::fprintf(stderr, "ixoclient: unknown option %s (see --help)\n", arg);
            return 2;
        }
        const char* value = "";
        if (found->valueName != nullptr) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "ixoclient: %s needs a value\n", arg);
                return 2;
            }
            value = argv[++i];
        }
        if (!found->apply(options, value)) {
            std::fprintf(stderr, "ixoclient: bad value for %s: %s\n", arg, value);
            return 2;
        }
    }
    if (options.words.empty()) {
        usage(stderr);
        return 2;
    }

    const Command* command = &kCommands[0];
    for (const auto& c : kCommands)
        if (c.name[0] != '\0' && options.words[0] == c.name) {
            command = &c;
            options.words.erase(options.words.begin());
            break;
        }

    IXO ixo{};
    int32_t rc = ixoCreateIxo(&ixo, options.host.c_str(), nullptr, options.port, options.indexPort);
    if (rc != IXO_OK) return fail(rc);
    ixoSetHTTPTimeOut(&ixo, options.timeout, 1000);
    if (options.scramble) ixoSetEncryption(&ixo, 1, nullptr);
    int status = command->run(ixo, options);
    ixoDestroyIxo(&ixo);
    return status;
}
