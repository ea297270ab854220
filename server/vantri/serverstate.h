// The personal server as its control window sees it: whether it runs and answers, on
// which ports, how many documents it holds and how much disk its index takes; and the
// request that stops it. No Qt here: these block for at most about a second.
#pragma once

#include <cstdint>
#include <string>

namespace vantri {

struct ServerState {
    bool running = false;  // its ports file is there and it answered
    int queryPort = 0, indexPort = 0;
    int documents = -1;      // -1 when unknown
    int64_t indexBytes = 0;  // the files of its data folder
    std::string dataFolder;
};

// Reads HOME/ixo/ixo.ini and the ports file and asks the server for its information.
ServerState probeServer(const std::string& home);

// Sends the shutdown request (with the index user and password of HOME/ixo/ixo.ini)
// and writes the stop file HOME/ixo/ixo.stop, which the server also obeys. False when
// neither could be done.
bool stopServer(const std::string& home);

}  // namespace vantri
