// IDX text named by an http address ("IXOADD?http://host:port/file.idx"): one HTTP/1.0
// GET through the support library's socket transport, with the body bounded while it
// is received, so an address cannot make the server hold more than a request body may.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ixoserver {

// Each wait on the connection (connect, send, every receive) lasts at most this long.
inline constexpr int kIdxFetchTimeoutSeconds = 30;

// True when location starts with "http://" or "https://" (any case).
bool isHttpLocation(std::string_view location);

// Fetches the body at address ("http://host[:port]/path"). Returns true with the body
// in text. Returns false with a short reason in error for: an address that is not plain
// http or has no host or port, a connection or exchange that fails, a reply without a
// status line or with a status other than 2xx, a body shorter than its Content-Length,
// an empty body, and a body of more than maxBytes (or headers of more than 64 KB); at
// most that much is ever received.
bool fetchIdxText(std::string_view address, std::size_t maxBytes, int timeoutSeconds,
                  std::string& text, std::string& error);

}  // namespace ixoserver
