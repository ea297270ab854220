// ixoclient: talks to a retrieval server from the command line.
//
//   ixoclient [options] PATH            sends PATH and prints the reply text
//   ixoclient [options] COMMAND ARGS... runs one of the sub-commands below
//
// Options are read wherever they stand; the first word that is not an option picks
// the sub-command, and a word that names none is taken as the PATH of the plain
// request. New sub-commands are one row of kCommands; new options one row of
// kOptions.
//
// The libraries speak Windows-1252; the command line speaks the locale's set. Texts
// for the server (the PATH, query and suggestion words, document references, fields,
// databases and dates) are converted from UTF-8 once as they are read, and the texts
// of replies once as they are printed. File names pass unchanged.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "ixo.h"
#include "support/cp1252.h"
#include "support/textcase.h"
#include "tools/ixocredentials.h"
#include "tools/reflist.h"

namespace {

struct Options {
    std::string home;  // a personal server's folder: its ports and credentials
    ixocredentials::ServerCredentials credentials;  // read from home
    std::string host = "127.0.0.1";
    int32_t port = 0;
    int32_t indexPort = 0;
    bool scramble = false;
    bool index = false;
    std::string postDataFile;
    int32_t timeout = 60;
    int32_t method = 0;
    std::string fields;
    std::string databases;
    std::string dates;
    int32_t num = 25;
    std::vector<std::string> words;  // the sub-command's arguments
    std::string configFile;          // set the handle up from this file instead
    std::string configSection = "Default";
    int deleteMode = -1;  // delete: IXO_DELETE_REFERENCES or IXO_DELETE_DOCUMENTS
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

bool readNumber(const char* text, long low, long high, int32_t* out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) return false;
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
    {"--method", "N",
     "query: 0 q, 1 F, 2 q with term pairs, 3 g, 4 G; add 8 boolean, 16 full, 32 sortdate",
     [](Options& o, const char* v) { return readNumber(v, 0, 63, &o.method); }},
    {"--fields", "TEXT", "query, suggest: field restrictions (e.g. \"+fieldTITLE=x\")",
     [](Options& o, const char* v) {
         o.fields = utf8ToCp1252(v);
         return true;
     }},
    {"--databases", "TEXT", "query, suggest: \"numbers=1,2\" or \"names=web\" (default all)",
     [](Options& o, const char* v) {
         o.databases = utf8ToCp1252(v);
         return true;
     }},
    {"--dates", "TEXT", "query, suggest: \"from=N to=M\" in days back, or day/month/year",
     [](Options& o, const char* v) {
         o.dates = utf8ToCp1252(v);
         return true;
     }},
    {"--home", "DIR",
     "a personal server's folder: its ports (unless given) and the users and passwords "
     "it keeps in ixo/ixo.ini, the index pair sent with index commands and the "
     "shutdown, the query pair with every other request",
     [](Options& o, const char* v) {
         o.home = v;
         return !o.home.empty();
     }},
    {"--config", "FILE",
     "set host, ports, method and proxy from a configuration file (--host and the port "
     "options are then ignored)",
     [](Options& o, const char* v) {
         o.configFile = v;
         return !o.configFile.empty();
     }},
    {"--section", "S", "section of the --config file (default \"Default\")",
     [](Options& o, const char* v) {
         o.configSection = v;
         return !o.configSection.empty();
     }},
    {"--num", "N", "query, suggest, terms: number of results or terms (default 25)",
     [](Options& o, const char* v) { return readNumber(v, 1, 1000000, &o.num); }},
    {"--refs", nullptr, "delete: the arguments are document references",
     [](Options& o, const char*) {
         o.deleteMode = IXO_DELETE_REFERENCES;
         return true;
     }},
    {"--ids", nullptr, "delete: the arguments are document numbers",
     [](Options& o, const char*) {
         o.deleteMode = IXO_DELETE_DOCUMENTS;
         return true;
     }},
};

struct Command {
    const char* name;  // empty: the plain request form
    const char* arguments;
    const char* help;
    int (*run)(IXO& ixo, const Options& options);
    bool fileArguments = false;  // the arguments name files and are not converted
    bool indexPair = false;      // with --home: sends the index user, not the query user
};

// The user parameters a request of the server at --home carries: the index pair for
// index commands and the shutdown, the query pair for the rest. Empty without --home.
std::string credentialParameters(const Options& options, bool indexPair) {
    if (options.home.empty()) return "";
    const auto& c = options.credentials;
    if (!(indexPair ? c.hasIndexPair() : c.hasQueryPair())) return "";
    const std::string& user = indexPair ? c.indexUser : c.queryUser;
    const std::string& password = indexPair ? c.indexPassword : c.queryPassword;
    return "&" + ixocredentials::credentialParameters(user, password);
}

// True for a path that names an index command or the shutdown ("/IXO..."), which the
// server takes with the index pair; queries ("/qmethod=...") take the query pair.
bool namesIndexCommand(const std::string& path) {
    const size_t start = path.find_first_not_of("/ ");
    return start != std::string::npos &&
           startsWithCaseBlind(std::string_view(path).substr(start), "IXO");
}

// Prints Windows-1252 text in the locale's character set.
void printText(const char* text) {
    std::fputs(cp1252ToLocale(text ? text : "").c_str(), stdout);
}

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
    // The raw routine adds no user parameters of its own.
    const std::string path =
        options.words[0] + credentialParameters(options, namesIndexCommand(options.words[0]));
    char* reply = nullptr;
    int32_t rc = ixoRequestToDynBuffer2(
        &ixo, options.index ? IXO_INDEX_PORT_SELECTOR : IXO_QUERY_PORT_SELECTOR, path.c_str(),
        body.empty() ? nullptr : body.c_str(), &reply);
    if (rc != IXO_OK) return fail(rc);
    printText(reply);
    std::size_t length = std::strlen(reply);
    if (length > 0 && reply[length - 1] != '\n') std::fputc('\n', stdout);
    memFree(reply);
    return 0;
}

// The sub-command's words joined by joiner; false (after a message) when there are none.
bool joinedWords(const Options& options, const char* joiner, std::string* out) {
    if (options.words.empty()) {
        std::fprintf(stderr, "ixoclient: TEXT expected (see --help)\n");
        return false;
    }
    out->clear();
    for (const auto& word : options.words) {
        if (!out->empty()) *out += joiner;
        *out += word;
    }
    return true;
}

// One line per record: weight, tab, title, tab, reference.
void printResult(const IxoQueryResult& result) {
    for (int32_t i = 0; i < result.hitCount; ++i) {
        const IxoResultRecord& record = result.records[i];
        std::printf("%d\t%s\t%s\n", record.weight,
                    cp1252ToLocale(record.title ? record.title : "").c_str(),
                    record.name ? record.name : "");
    }
}

// Query terms (words joined with '+') through the query call.
int runQuery(IXO& ixo, const Options& options) {
    std::string text;
    if (!joinedWords(options, "+", &text)) return 2;
    IxoQueryResult result{};
    int32_t rc = ixoDoQueryToStructure(&ixo, options.method, text.c_str(), options.fields.c_str(),
                                       "", options.databases.c_str(), options.dates.c_str(),
                                       options.num, 0, 0, 0, &result);
    if (rc != IXO_OK) return fail(rc);
    printResult(result);
    ixoDestroyQueryResult(&result);
    return 0;
}

// Free text through the suggestion call.
int runSuggest(IXO& ixo, const Options& options) {
    std::string text;
    if (!joinedWords(options, " ", &text)) return 2;
    IxoQueryResult result{};
    int32_t rc = ixoSuggestOnTextToStructure(&ixo, text.c_str(), options.fields.c_str(), "",
                                             options.databases.c_str(), options.dates.c_str(),
                                             options.num, 0, 0, 0, &result);
    if (rc != IXO_OK) return fail(rc);
    printResult(result);
    ixoDestroyQueryResult(&result);
    return 0;
}

// Prints the weighted query terms made of free text; no server is asked.
int runProcess(IXO&, const Options& options) {
    std::string text;
    if (!joinedWords(options, " ", &text)) return 2;
    char* query = nullptr;
    int32_t rc = ixoProcessContentToQuery(text.c_str(), &query);
    if (rc != IXO_OK) return fail(rc);
    std::printf("%s\n", cp1252ToLocale(query).c_str());
    memFree(query);
    return 0;
}

// Prints a reply text, ending it with a line feed.
void printReply(const char* reply) {
    printText(reply);
    std::size_t length = std::strlen(reply);
    if (length > 0 && reply[length - 1] != '\n') std::fputc('\n', stdout);
}

bool allDigits(const std::string& word) {
    return !word.empty() && word.find_first_not_of("0123456789") == std::string::npos;
}

// Posts IDX files to the index port, one request per file.
int runIndex(IXO& ixo, const Options& options) {
    if (options.words.empty()) {
        std::fprintf(stderr, "ixoclient: FILE.idx expected (see --help)\n");
        return 2;
    }
    for (const auto& file : options.words) {
        std::vector<char> reply(4096);
        int32_t rc = ixoIndexLocalFile(&ixo, file.c_str(), nullptr, reply.data(),
                                       static_cast<int32_t>(reply.size()));
        if (rc != IXO_OK) {
            std::fprintf(stderr, "ixoclient: %s: %s\n", file.c_str(), ixoGetError(rc));
            if (reply[0] != '\0')
                std::fprintf(stderr, "%s\n", cp1252ToLocale(reply.data()).c_str());
            return 1;
        }
        printReply(reply.data());
    }
    return 0;
}

// Deletes documents by reference or by number.
int runDelete(IXO& ixo, const Options& options) {
    if (options.deleteMode < 0 || options.words.empty()) {
        std::fprintf(stderr, "ixoclient: delete needs --refs or --ids and at least one document\n");
        return 2;
    }
    std::string list;
    for (const auto& word : options.words) {
        if (options.deleteMode == IXO_DELETE_DOCUMENTS && !allDigits(word)) {
            std::fprintf(stderr, "ixoclient: not a document number: %s\n", word.c_str());
            return 2;
        }
        list += (options.deleteMode == IXO_DELETE_REFERENCES ? tools::encodeReferenceItem(word)
                                                             : word) +
                "+";
    }
    std::vector<char> reply(4096);
    int32_t rc = ixoDeleteDocuments(&ixo, options.deleteMode, list.c_str(), reply.data(),
                                    static_cast<int32_t>(reply.size()));
    if (rc != IXO_OK) {
        if (reply[0] != '\0') std::fprintf(stderr, "%s\n", cp1252ToLocale(reply.data()).c_str());
        return fail(rc);
    }
    printReply(reply.data());
    return 0;
}

// The server's information record, one "NAME: value" line per field.
int runInfo(IXO& ixo, const Options&) {
    IxoServerInfo* info = nullptr;
    int32_t rc = ixoGetInfoToStructure(&ixo, &info);
    if (rc != IXO_OK) return fail(rc);
    // Each call gives a temporary that lives until the end of the printf using it.
    auto text = [](const char* t) { return t ? cp1252ToLocale(t) : std::string("(none)"); };
    std::printf("PRODUCT: %s\nVERSION: %s\nBUILD: %s\nDIRECTORY: %s\n", text(info->product).c_str(),
                text(info->version).c_str(), text(info->build).c_str(),
                text(info->directory).c_str());
    std::printf("DOCNUM: %d\nQUERYPORT: %d\nINDEXPORT: %d\nMAXDBASE: %d\nNUM_FIELDS: %d\n",
                info->documentCount, info->queryPort, info->indexPort, info->maxDatabases,
                info->numFields);
    std::printf("NUM4TERMS: %d\nSTORECONTENT: %d\nPROPERNAMES: %d\nSLOT_SIZE: %d\nMAXOC: %d\n",
                info->num4Terms, info->storeContent, info->properNames, info->slotSize,
                info->maxOccurrences);
    std::printf("STRIPLANGUAGE: %d\nCHARCONV: %d\nDATABASES: %d\n", info->stripLanguage,
                info->charConversion, info->databaseCount);
    for (int32_t i = 0; i < info->databaseCount; ++i) {
        std::printf("  %d\t%s", i, text(info->databaseNames[i]).c_str());
        if (i < info->dbInfoCount)
            std::printf("\t%d\t%d", info->dbInfo[i].first, info->dbInfo[i].second);
        std::printf("\n");
    }
    ixoDestroyInfoStructure(info);
    return 0;
}

// The weighted terms of documents named by number or reference.
int runTerms(IXO& ixo, const Options& options) {
    std::string text;
    if (!joinedWords(options, "+", &text)) return 2;
    bool references = false;
    for (const auto& word : options.words) references = references || !allDigits(word);
    IxoTermList list{};
    int32_t rc = IXO_OK;
    const std::string credentials = credentialParameters(options, false);
    if (credentials.empty()) {
        rc = ixoGetTermsToStructure(&ixo, text.c_str(), options.num, 1, references ? 1 : 0, &list);
    } else {
        // The library's term request carries no user parameters: the same request, with
        // them, through the raw routine.
        const std::string request = "/qmethod=t&querytext=" + text +
                                    "&idnum=" + std::to_string(options.num) + "&xoptions=tweights" +
                                    (references ? "+useurl" : "") + credentials;
        char* reply = nullptr;
        rc =
            ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, request.c_str(), nullptr, &reply);
        if (rc == IXO_OK && (rc = ixoParseTermList(&list, reply, 1)) != IXO_OK) memFree(reply);
    }
    if (rc != IXO_OK) return fail(rc);
    for (int32_t i = 0; i < list.count; ++i)
        std::printf("%d\t%s\n", list.terms[i].weight, cp1252ToLocale(list.terms[i].term).c_str());
    ixoDestroyTermList(&list);
    return 0;
}

// The stored content of one document.
int runContent(IXO& ixo, const Options& options) {
    if (options.words.size() != 1) {
        std::fprintf(stderr, "ixoclient: one REFERENCE or ID expected (see --help)\n");
        return 2;
    }
    ContentRecord* record = nullptr;
    int32_t rc = ixoGetContentToStructure(&ixo, options.words[0].c_str(), 1, &record);
    if (rc != IXO_OK) return fail(rc);
    auto line = [](const char* name, const char* value) {
        if (value) std::printf("%s: %s\n", name, cp1252ToLocale(value).c_str());
    };
    line("REFERENCE", record->reference);
    line("TITLE", record->title);
    std::printf("DOCID: %d\n", record->docid);
    line("TYPE", record->type);
    line("DATE", record->date);
    line("DBNAME", record->dbname);
    line("FILENAME", record->filename);
    for (int32_t i = 0; i < record->fieldCount; ++i)
        std::printf("FIELD %s: %s\n", cp1252ToLocale(record->fieldNames[i]).c_str(),
                    cp1252ToLocale(record->fieldValues[i]).c_str());
    if (record->content) std::printf("\n%s\n", cp1252ToLocale(record->content).c_str());
    ixoDestroyContentRecord(record);
    return 0;
}

// Asks the server to stop.
int runShutdown(IXO& ixo, const Options&) {
    int32_t rc = ixoShutdownServer(&ixo);
    if (rc != IXO_OK) return fail(rc);
    return 0;
}

const std::vector<Command> kCommands = {
    {"", "PATH", "send PATH (e.g. \"/qmethod=V\") and print the reply text", runRequest},
    {"request", "PATH", "the same as the plain form", runRequest},
    {"query", "TEXT...", "query for the words (--method, --fields, --databases, --dates, --num)",
     runQuery},
    {"suggest", "TEXT...", "suggestions for free text (--fields, --databases, --dates, --num)",
     runSuggest},
    {"process", "TEXT...", "print the query terms made of free text (no server needed)",
     runProcess},
    {"index", "FILE.idx...", "post IDX files to the index port and print the replies", runIndex,
     true, true},
    {"delete", "--refs|--ids X...", "delete documents by reference (--refs) or number (--ids)",
     runDelete, false, true},
    {"info", "", "print the server's information record", runInfo},
    {"terms", "DOC...", "weighted terms of documents given by number or reference (--num)",
     runTerms},
    {"content", "REF-or-ID", "print the stored content of one document", runContent},
    {"shutdown", "", "ask the server to stop", runShutdown, false, true},
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
                 "\nquery and suggest print one line per result: weight, a tab, title, a tab,\n"
                 "reference. terms prints one line per term: weight, a tab, term. index and\n"
                 "delete use the index port (--index-port); the others the query port.\n"
                 "Errors are printed on standard error; the exit status is then non-zero.\n");
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

    if (!command->fileArguments)
        for (auto& word : options.words) word = utf8ToCp1252(word);

    const ixocredentials::ServerCredentials& credentials = options.credentials;
    if (!options.home.empty()) {
        if (!ixocredentials::readServerCredentials(options.home, options.credentials)) {
            std::fprintf(stderr, "ixoclient: no server settings in %s/ixo/ixo.ini\n",
                         options.home.c_str());
            return 2;
        }
        if (options.port == 0) options.port = credentials.queryPort;
        if (options.indexPort == 0) options.indexPort = credentials.indexPort;
    }
    IXO ixo{};
    int32_t rc =
        options.configFile.empty()
            ? ixoCreateIxo(&ixo, options.host.c_str(), nullptr, options.port, options.indexPort)
            : ixoCreateIxoFromConfigFile(&ixo, options.configFile.c_str(),
                                         options.configSection.c_str());
    if (rc != IXO_OK) return fail(rc);
    ixoSetHTTPTimeOut(&ixo, options.timeout, 1000);
    if (options.scramble) ixoSetEncryption(&ixo, 1, nullptr);
    // The library's calls append the handle's user parameters themselves.
    const std::string& user = command->indexPair ? credentials.indexUser : credentials.queryUser;
    const std::string& password =
        command->indexPair ? credentials.indexPassword : credentials.queryPassword;
    if (!user.empty() || !password.empty())
        ixoSetUserParameters(&ixo, user.c_str(), password.c_str(), nullptr, nullptr);
    int status = command->run(ixo, options);
    ixoDestroyIxo(&ixo);
    return status;
}
