// A slave program for the tests. What it does with a job depends on SLAVE_MODE:
//   convert    writes the input upper-cased to the output, then signals finish
//   hang       never answers and never touches a heartbeat
//   heartbeat  touches <output>.hb for about 2.5 s, then converts
//   empty      writes an empty output and signals finish
//   crash      aborts
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "support/slaveutil.h"

namespace {

void convert(const SlaveChannel& ch) {
    std::ifstream in(ch.inputFile, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::ofstream out(ch.outputFile, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace

int main(int argc, char** argv) {
    SlaveChannel ch;
    if (!slaveChannelOpen(&ch, argc, argv)) return 2;
    const std::string mode = SLAVE_MODE;
    int rc;
    while ((rc = slaveChannelWaitJob(&ch, 200)) >= 0) {
        if (rc == 0) continue;
        if (mode == "crash") std::abort();
        if (mode == "hang") {
            // Until the master kills it, or goes away itself.
            while (getppid() == ch.masterProcess)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            break;
        }
        if (mode == "heartbeat") {
            std::string heartbeat = std::string(ch.outputFile) + ".hb";
            for (int i = 0; i < 25; ++i) {
                slaveTouchHeartbeat(heartbeat.c_str());
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        if (mode == "empty") {
            std::ofstream out(ch.outputFile, std::ios::binary | std::ios::trunc);
        } else {
            convert(ch);
        }
        slaveChannelFinish(&ch);
    }
    slaveChannelClose(&ch);
    return 0;
}
