// Settings of the account server, read from "nuvaserver.ini" in its home folder
// (created with defaults when missing). Section SERVER holds the server's own
// settings, section UPGRADE the upgrade offer; every other section (above all
// "Settings") is what the "update" reply hands to the agents.
#pragma once

#include <cstddef>
#include <string>

namespace nuvaserver {

struct NuvaConfig {
    std::string home = ".";
    int port = 6225;                         // PORT; 0 lets the system choose
    std::string bindAddress = "127.0.0.1";   // BINDADDRESS
    std::string path = "sapiolux";           // PATH: first segment of the request path
    std::string executableName = "account";  // EXECUTABLENAME: second segment
    std::string publicAddress;               // PUBLICADDRESS: host[:port] agents reach us at
    int workerThreads = 4;                   // WORKERTHREADS, 1..64
    std::string accounts = "accounts.db";    // ACCOUNTS: the SQLite file
    std::string banners = "banners";         // BANNERS: folder of the banner files
    std::string upgrades = "upgrades";       // UPGRADES: folder of the upgrade programs
    std::size_t maxFileBytes = 64u << 20;    // MAXFILEBYTES: largest file served
    std::string upgradeFile;                 // UPGRADE FILE: program offered (in UPGRADES)
    std::string upgradeVersion;              // UPGRADE VERSION: offered below this version
    std::string replyText;                   // the sections handed out, as in the ini file

    std::string iniPath() const;
    std::string resolve(const std::string& relative) const;  // against home unless absolute
    std::string stopFilePath() const;                        // home/nuvaserver.stop
    std::string portFilePath() const;                        // home/nuvaserver.port
};

// Reads home/nuvaserver.ini into config (creating it with defaultNuvaIni() when
// missing, private to its owner). Keys that are absent or out of range keep their
// defaults. False with a message in error when the file cannot be read or created.
bool loadNuvaConfig(const std::string& home, NuvaConfig& config, std::string& error);

// The text of a fresh nuvaserver.ini.
std::string defaultNuvaIni();

// The sections of ini text other than SERVER, UPGRADE and DEFAULT, with their entry
// lines as written (comments and lines that are no entries left out), in the form the
// agents' configuration reader takes.
std::string replySections(const std::string& iniText);

// Dotted version numbers compared number by number ("1.1.14" < "1.2"); -1, 0 or 1.
int compareVersions(const std::string& a, const std::string& b);

}  // namespace nuvaserver
