// Response splitting, status reading and URL splitting on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/httprequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const char* response = reinterpret_cast<const char*>(data);
    int32_t length = static_cast<int32_t>(size);

    int32_t status = -12345;
    char* headers = nullptr;
    char* body = nullptr;
    int32_t bodyLength = -1;
    if (httpSplitResponse(response, length, &status, &headers, &body, &bodyLength) == 0) {
        // The parts cover the response exactly, and the body keeps its spare zero bytes.
        if (bodyLength < 0 || static_cast<std::size_t>(bodyLength) > size) std::abort();
        std::size_t headerLength = size - static_cast<std::size_t>(bodyLength);
        if (std::memcmp(headers, response, headerLength) != 0 || headers[headerLength] != '\0' ||
            std::memcmp(body, response + headerLength, static_cast<std::size_t>(bodyLength)) != 0)
            std::abort();
        for (int i = 0; i < 20; ++i)
            if (body[bodyLength + i] != '\0') std::abort();
        memFree(headers);
        memFree(body);
    }
    httpReadStatusCode(response, length, &status);

    // The same bytes as a URL.
    std::string url(response, size);
    char* host = nullptr;
    char* path = nullptr;
    int32_t port = 0;
    if (httpSplitUrl(url.c_str(), &host, &port, &path) == 1) {
        if (host == nullptr || path == nullptr || port < 0 || port > 65535) std::abort();
        memFree(host);
        memFree(path);
    }
    return 0;
}
