// sapiolux-suggest [--explain] [--dir DIR] [FILE]: the agent's road of one suggestion,
// without a window. Reads the text from FILE (standard input when absent or "-"), loads
// the settings and data files as the agent does (from the working folder, or DIR), builds
// the query, runs the worker for the selected source ("SOURCE" of the Extended file,
// "My Computer" by default) and prints the lines as the suggestions window shows them,
// each followed by its reference. Exit code 0 when the server answered, 1 when it could
// not be reached, 2 for bad usage.
//
// The agent's libraries work on Windows-1252 text: the input is converted from UTF-8
// once as it is read, and titles and query terms are printed in the locale's
// character set. References (file names, addresses) are printed as they are.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/profiling.h"
#include "agent/service.h"
#include "agent/texttoquery.h"
#include "support/cp1252.h"
#include "support/lang2util.h"
#include "support/userdirs.h"

namespace {

constexpr const char* kNotConnected =
    "Cannot communicate with server, please check your Internet connection";
constexpr const char* kNoText = "Click on a window with text for suggestions";
constexpr const char* kNoSuggestions = "No suggestions";

// A data file from the working folder, else the copy shipped with the program.
std::string dataFile(const std::string& name) {
    if (::access(name.c_str(), R_OK) == 0) return name;
    std::string installed = userdirs::installedFolder(userdirs::Installed::Data);
    if (!installed.empty() && ::access((installed + "/" + name).c_str(), R_OK) == 0)
        return installed + "/" + name;
#ifdef SAPIOLUX_AGENT_DATA_DIR
    std::string shipped = std::string(SAPIOLUX_AGENT_DATA_DIR) + "/" + name;
    if (::access(shipped.c_str(), R_OK) == 0) return shipped;
#endif
    return name;
}

const char kUsage[] = "usage: sapiolux-suggest [--explain] [--dir DIR] [FILE]\n";

int usage() {
    std::fputs(kUsage, stderr);
    std::fputs("Try 'sapiolux-suggest --help' for more.\n", stderr);
    return 2;
}

int help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "Shows the suggestions the agent would show for a text, without a window. The\n"
        "text comes from FILE, or from standard input when FILE is absent or \"-\". The\n"
        "settings come from the settings hives (see SAPIOLUX_USER_HIVE_DIR and\n"
        "SAPIOLUX_MACHINE_HIVE_DIR), the data files (enc.dat, english.dat, profile.dat)\n"
        "from the working folder or DIR. The query goes to the source selected by the\n"
        "Extended file's SOURCE key (\"My Computer\", the personal server, by default).\n"
        "Each suggestion prints as the window lists it (\"87%   title\"), followed by\n"
        "its reference.\n"
        "\n"
        "  --explain   also print the query text and the terms that matched each result\n"
        "  --dir DIR   where the data files are (default: the working folder)\n"
        "  --help      this text\n"
        "\n"
        "Exit status: 0 when the server answered, 1 when it could not be reached,\n"
        "2 for bad usage.\n",
        stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool explain = false;
    std::string dir, input;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return help();
        } else if (std::strcmp(argv[i], "--explain") == 0) {
            explain = true;
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            dir = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage();
        } else if (input.empty()) {
            input = argv[i];
        } else {
            return usage();
        }
    }
    std::string text;
    if (input.empty() || input == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(input, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "sapiolux-suggest: cannot read %s\n", input.c_str());
            return 2;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    text = utf8ToCp1252(text);
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "sapiolux-suggest: cannot enter %s\n", dir.c_str());
        return 2;
    }

    agent::CAppParameters settings;
    settings.Load();
    lang2LoadStoplist(dataFile("english.dat").c_str());
    auto weights = agent::TermWeightTable::load(dataFile("enc.dat"));
    std::vector<std::string> userStoplist;
    if (settings.GetUseStoplist() && !settings.GetStoplistFilename().empty())
        agent::loadUserStoplist(dataFile(settings.GetStoplistFilename()), userStoplist);
    auto profile = agent::profileLoad("profile.dat");
    if (!profile) profile = std::make_unique<agent::UserProfile>(agent::profileCreate());

    agent::QueryBuilder builder(weights.get(), userStoplist, profile.get(), "profile.dat");
    agent::BuiltQuery query = builder.build(text, agent::QueryOptions::fromParameters(settings));
    if (explain) std::printf("query: %s\n", cp1252ToLocale(query.text).c_str());
    if (query.text.empty()) {
        std::printf("%s\n", kNoText);
        return 0;
    }

    int32_t source = settings.ExtGetNumber("SOURCE");
    if (source == agent::kSourceLocal) {
        // The agent starts its personal server at set-up; do the same unless it runs.
        agent::CPersonalServer server(settings);
        if (server.Detect(false) && !server.WaitReady(0)) {
            if (server.Start(false)) server.WaitReady(15000);
        }
    }

    agent::CSuggestionRequest request;
    request.Fill(agent::requestParamsForSource(settings, source, query.text));
    int32_t status = request.RunAndWait();
    if (status != agent::kStatusHits && status != agent::kStatusNoHits) {
        std::printf("%s\n", kNotConnected);
        return 1;
    }
    IxoQueryResult result{};
    if (status == agent::kStatusNoHits || !request.CopyResult(&result) || result.hitCount <= 0) {
        std::printf("%s\n", kNoSuggestions);
        ixoDestroyQueryResult(&result);
        return 0;
    }
    for (int32_t i = 0; i < result.hitCount && i < settings.GetNSuggests(); ++i) {
        const IxoResultRecord& record = result.records[i];
        std::printf("%s\n",
                    cp1252ToLocale(agent::suggestionLine(record, settings.GetTitleFieldName(),
                                                         settings.GetShowSimilarity() != 0))
                        .c_str());
        std::printf("    %s\n", record.name ? record.name : "");
        if (explain)
            std::printf("    terms: %s\n",
                        cp1252ToLocale(record.links ? record.links : "").c_str());
    }
    ixoDestroyQueryResult(&result);
    return 0;
}
