// Start-up settings of the personal retrieval server, read from "ixo/ixo.ini" under the
// server's home folder (section "SERVER").
#pragma once

#include <cstddef>
#include <string>

namespace ixoserver {

struct ServerConfig {
    std::string home = ".";                  // folder that holds ixo/ixo.ini and the data
    int queryPort = 6223;                    // QUERYPORT; 0 lets the system choose
    int indexPort = 6224;                    // INDEXPORT; 0 lets the system choose
    std::string directory = "ixo/data";      // DIRECTORY, relative to home unless absolute
    std::string bindAddress = "127.0.0.1";   // BINDADDRESS
    int workerThreads = 4;                   // WORKERTHREADS, 1..64
    std::size_t maxBodyBytes = 64u << 20;    // MAXBODYBYTES
    std::size_t maxHeaderBytes = 64u << 10;  // MAXHEADERBYTES
    int commitIntervalMs = 500;  // COMMITINTERVALMS: pending index work is committed this often
    std::string indexUser;       // INDEXUSER / INDEXPASSWORD: when set, index commands
    std::string indexPassword;   // must carry "&user=" and "&pass=" with these values

    std::string iniPath() const;        // home/ixo/ixo.ini
    std::string stopFilePath() const;   // home/ixo/ixo.stop
    std::string portsFilePath() const;  // home/ixo/ports (written once the ports are bound)
    std::string dataPath() const;       // the data folder, resolved against home
};

// Reads home/ixo/ixo.ini into config through the support library's configuration reader
// (names compared without regard to case; a key missing from "SERVER" is taken from
// "DEFAULT"). Keys that are absent, not numbers where numbers are wanted, or out of
// range keep their defaults. When the file does not exist it is created with the
// defaults. Returns false with a
// message in error when the file cannot be read or created.
bool loadServerConfig(const std::string& home, ServerConfig& config, std::string& error);

// The text written into a fresh ixo.ini.
std::string defaultIniText();

}  // namespace ixoserver
