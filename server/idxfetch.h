// IDX text named by an http address ("IXOADD?http://host:port/file.idx"): one HTTP/1.0
// GET through the support library's socket transport, with the body bounded while it
// is received, so an address cannot make the server hold more than a request body may.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ixoserver {

// The whole fetch (name lookup, connect, request, reply) ends within this many seconds.
inline constexpr int kIdxFetchTimeoutSeconds = 30;

struct FetchLimits {
    std::size_t maxBytes = 64u << 20;  // largest body
    int deadlineSeconds = kIdxFetchTimeoutSeconds;
    std::vector<int> ownPorts;  // the server's own ports: never fetched from this
                                // machine, so a request cannot make the server
                                // send itself commands
};

// True when location starts with "http://" or "https://" (any case).
bool isHttpLocation(std::string_view location);

// Fetches the body at address ("http://host[:port]/path"). Returns true with the body
// in text. Returns false with a short reason in error for: an address that is not plain
// http or has no host or port, a reply with a status other than 2xx, a body shorter
// than its Content-Length, an empty body, and a body of more than maxBytes (or headers
// of more than 64 KB); at most that much is ever received. Every failure to get an
// HTTP reply (no such host, refused, unreachable, one of the server's own ports on
// this machine, no answer or a reply that is not HTTP before the deadline) gives the
// one reason "cannot connect", so the answer tells nothing about other local ports.
bool fetchIdxText(std::string_view address, const FetchLimits& limits, std::string& text,
                  std::string& error);
// The same with no own ports and a deadline of timeoutSeconds.
bool fetchIdxText(std::string_view address, std::size_t maxBytes, int timeoutSeconds,
                  std::string& text, std::string& error);

}  // namespace ixoserver
