// The account server's requests:
//   GET /PATH/EXECUTABLENAME?METHOD=register&username=U&password=W&emailaddress=M&...
//   GET /PATH/EXECUTABLENAME?METHOD=update&username=U&password=W&...
//   GET /banners/NAME, GET /upgrades/NAME   (files of the two folders)
// "register" answers "success" or a "Nuvaserver Error" phrase; "update" answers the
// configuration sections of the ini file (and the upgrade address when the offer
// applies to the agent's version) or a "Nuvaserver Error" phrase. Values arrive
// percent-encoded; every one is checked for length and characters before use.
#pragma once

#include <string>
#include <string_view>

#include "server/httpfront.h"
#include "server/nuvaserver/accounts.h"
#include "server/nuvaserver/nuvaconfig.h"

namespace nuvaserver {

inline constexpr std::size_t kMaxNameBytes = 64;
inline constexpr std::size_t kMaxPasswordBytes = 128;
inline constexpr std::size_t kMaxEmailBytes = 254;

class NuvaService {
  public:
    NuvaService(const NuvaConfig& config, AccountStore& accounts)
        : config_(config), accounts_(accounts) {}

    // The port actually bound, for the default public address.
    void setPort(int port) { port_ = port; }

    ixoserver::FrontAnswer handle(const ixoserver::HttpRequestData& request);

    // The "update" reply for a logged-in agent of clientVersion.
    std::string configurationReply(const std::string& clientVersion) const;

  private:
    ixoserver::HttpReply account(std::string_view query);
    ixoserver::HttpReply file(const std::string& folder, std::string_view encodedName,
                              const char* contentType);

    const NuvaConfig& config_;
    AccountStore& accounts_;
    int port_ = 0;
};

// Whether a name may be served from, or stored into, a folder: not empty, at most 255
// bytes, no '/' or '\\', not starting with '.', no control characters.
bool acceptableFileName(std::string_view name);
// A user name of 1 to kMaxNameBytes letters, digits and '-'.
bool acceptableUserName(std::string_view name);
// One '@' with text on both sides, no blanks or control characters, at most
// kMaxEmailBytes.
bool acceptableEmail(std::string_view email);
// The request target as it may be logged: "password" and "pass" values become "***",
// line ends blanks, at most 200 bytes.
std::string maskSecrets(std::string_view target);
// Every byte but letters, digits and "-._~" as %XX.
std::string percentEncode(std::string_view text);

}  // namespace nuvaserver
