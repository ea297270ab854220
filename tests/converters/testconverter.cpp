// A converter slave for the tests. Inputs whose name holds "hang" are never answered,
// "crash" aborts the program, anything else becomes a small HTML page naming the input
// and the process that converted it.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "support/slaveutil.h"

int main(int argc, char** argv) {
    SlaveChannel ch;
    if (!slaveChannelOpen(&ch, argc, argv)) return 2;
    int rc;
    while ((rc = slaveChannelWaitJob(&ch, 200)) >= 0) {
        if (rc == 0) continue;
        std::string input = ch.inputFile;
        if (input.find("crash") != std::string::npos) std::abort();
        if (input.find("hang") != std::string::npos) {
            while (getppid() == ch.masterProcess)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            break;
        }
        std::ofstream out(ch.outputFile, std::ios::binary | std::ios::trunc);
        out << "<html><head><title>Test conversion</title></head><body>converted by process "
            << getpid() << "</body></html>\n";
        out.close();
        slaveChannelFinish(&ch);
    }
    slaveChannelClose(&ch);
    return 0;
}
