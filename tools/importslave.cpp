// importslave MAPFILE STARTEVENT FINISHEVENT: the import slave. Each job names a list
// file and an output IDX file. The list file holds a configuration file and section
// (or an empty line and a database name), the number of inputs and one input per line;
// the inputs are imported into the output file as the import library does in process.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imex.h"
#include "support/envcfgutil.h"
#include "support/slaveutil.h"

namespace {

bool readLine(std::FILE* f, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
}

void runJob(const std::string& listFile, const std::string& output) {
    std::FILE* f = std::fopen(listFile.c_str(), "r");
    if (!f) return;
    std::string config, second, countText;
    readLine(f, config);
    readLine(f, second);
    readLine(f, countText);
    std::vector<std::string> inputs;
    const long count = std::strtol(countText.c_str(), nullptr, 10);
    for (std::string line; static_cast<long>(inputs.size()) < count && readLine(f, line);)
        inputs.push_back(line);
    std::fclose(f);

    ImportContext* context = imexCreate();
    ImportArgs* args = imargsCreate();
    ConfigFile* cfg = nullptr;
    if (context && args) {
        if (!config.empty() && envCfgLoad(&cfg, config.c_str(), 0) == 0) {
            imexRegisterFromConfig(context, cfg, second.c_str());
            imargsLoadFromConfig(cfg, second.c_str(), 0, nullptr, output.c_str(), args);
        } else {
            imargsSetOutputDatabase(args, second.c_str());
            imargsSetOutputFilename(args, output.c_str());
        }
        imargsSetIAmSlave(args, 1);
        // imexImport touches the heartbeat before each input.
        imexSetSlaveHeartbeatFile((listFile + ".beat").c_str());
        if (!inputs.empty()) {
            std::vector<const char*> names;
            for (const std::string& input : inputs) names.push_back(input.c_str());
            imargsSetInputs(args, static_cast<int32_t>(names.size()), names.data());
            imexImport(context, args, nullptr);
        }
        imexSetSlaveHeartbeatFile(nullptr);
    }
    if (cfg) envCfgClose(&cfg);
    imargsDestroy(args);
    imexDestroy(context);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "importslave: started by the import library (arguments: map file, start "
                     "event, finish event)\n");
        return 2;
    }
    SlaveChannel channel{};
    if (!slaveChannelOpen(&channel, argc, argv)) return 1;
    imexInit();
    for (;;) {
        int job = slaveChannelWaitJob(&channel, 1000);
        if (job < 0) break;
        if (job == 0) continue;
        runJob(channel.inputFile, channel.outputFile);
        slaveChannelFinish(&channel);
    }
    slaveChannelClose(&channel);
    return 0;
}
