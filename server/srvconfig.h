// Start-up settings of the personal retrieval server, read from "ixo/ixo.ini" under the
// server's home folder (section "SERVER").
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ixoserver {

// One part of a sharded index: a local folder, or a writable xapian-tcpsrv at host:port.
struct ShardSpec {
    std::string path;  // absolute or relative to the home folder; empty for a remote shard
    std::string host;
    int port = 0;
    bool remote() const { return path.empty(); }
    std::string text() const;  // "tcp HOST:PORT" or the folder, for messages
};

// Reads one SHARDn value: "tcp HOST:PORT" (IPv6 addresses in brackets) or a folder.
// False for an empty value, a bad port or a "tcp" value without one.
bool parseShardSpec(const std::string& value, ShardSpec& spec);

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
    // INDEXUSER / INDEXPASSWORD: index commands and "/IXOSHUTDOWN" must carry "&user="
    // and "&pass=" with these values. When the file names neither, a random pair is
    // generated and written into it at start-up (unless INDEXAUTH=OFF).
    std::string indexUser;
    std::string indexPassword;
    bool indexAuth = true;              // INDEXAUTH: OFF lets index commands in without
                                        // credentials (test setups on a private machine)
    bool credentialsGenerated = false;  // set when this start wrote a new index pair
    // QUERYUSER / QUERYPASSWORD: queries must carry these as "&user=" and "&pass=". A
    // personal server holds the owner's files and mail, so when the file names neither a
    // random pair is generated and stored too (unless QUERYAUTH=OFF).
    std::string queryUser;
    std::string queryPassword;
    bool queryAuth = true;                   // QUERYAUTH: OFF answers queries from anyone
                                             // (a server shared on purpose, or tests)
    bool queryCredentialsGenerated = false;  // set when this start wrote a new query pair
    std::vector<std::string> allowedHosts;   // ALLOWEDHOSTS: names a Host header may give
                                             // besides loopback addresses and "localhost"
    // Section "SHARDS", keys SHARD1, SHARD2, ... in order: the index is spread over these
    // (folders resolved against home). Empty: one index in the data folder.
    std::vector<ShardSpec> shards;
    bool readOnly = false;        // READONLY=1: queries only, index commands are refused
    bool partialResults = false;  // PARTIALRESULTS=1: a query with shards down answers
                                  // from the others and names the missing ones
    int shardTimeoutMs = 30000;   // SHARDTIMEOUTMS: longest wait for one shard operation

    std::string iniPath() const;        // home/ixo/ixo.ini
    std::string stopFilePath() const;   // home/ixo/ixo.stop
    std::string portsFilePath() const;  // home/ixo/ports (written once the ports are bound)
    std::string dataPath() const;       // the data folder, resolved against home
};

// Reads home/ixo/ixo.ini into config through the support library's configuration reader
// (names compared without regard to case; a key missing from "SERVER" is taken from
// "DEFAULT"). Keys that are absent, not numbers where numbers are wanted, or out of
// range keep their defaults. When the file does not exist it is created with the
// defaults. The ini file is made private (0600, its folder 0700); when it names no index
// (or no query) user and password, a random pair is generated and stored in it. Returns
// false with a message in error when the file cannot be read, created or updated.
bool loadServerConfig(const std::string& home, ServerConfig& config, std::string& error);

// The text written into a fresh ixo.ini.
std::string defaultIniText();

// Sets key=value in section SERVER of the ini text (replacing the key's line there, or
// adding it after the section line; a missing section is appended). Keeps the text's
// line ends.
std::string setIniServerValue(const std::string& text, const std::string& key,
                              const std::string& value);

// Random user name and password (hexadecimal, from the system's random source). False
// when no random bytes could be had.
bool generateCredentials(std::string& user, std::string& password);

}  // namespace ixoserver
