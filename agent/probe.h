// The connectivity probe of the agent: whether the selected retrieval server answers at
// all. It sends one direct GET of "/" to the server's query port; any HTTP answer,
// whatever its status, counts as reachable.
#pragma once

#include <cstdint>
#include <string>

namespace agent {

bool probeServer(const std::string& host, int32_t port, int32_t timeoutSeconds);

}  // namespace agent
