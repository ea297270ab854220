// The reply post-processing of the client (inflating "binary/compressed" bodies, the
// echo cut, the "Invalid Instruction" rule) and request scrambling on arbitrary bytes.
// With the first byte odd, the rest is a body under compressed-reply headers whose
// claimed length comes from the next two bytes; otherwise the input is a whole raw
// response that is split first.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ixo/ixoapi.h"
#include "support/httprequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > (1u << 20)) return 0;
    std::string headers;
    std::string body;
    if (data[0] & 1) {
        std::size_t claimed = (data[1] | (data[2] << 8)) % (size + 16);
        headers = "HTTP/1.0 200 OK\r\nContent-Type: binary/compressed\r\nContent-length: " +
                  std::to_string(claimed) + "\r\n\r\n";
        body.assign(reinterpret_cast<const char*>(data) + 3, size - 3);
    } else {
        char* h = nullptr;
        char* b = nullptr;
        int32_t bLength = 0;
        if (httpSplitResponse(reinterpret_cast<const char*>(data) + 1,
                              static_cast<int32_t>(size - 1), nullptr, &h, &b, &bLength) != 0)
            return 0;
        headers = h;
        body.assign(b, static_cast<std::size_t>(bLength));
        memFree(h);
        memFree(b);
    }
    // The body as the transport hands it over: terminated after its bytes.
    char* reply = nullptr;
    int32_t rc =
        ixoProcessReply(headers.c_str(), body.c_str(), static_cast<int32_t>(body.size()), &reply);
    if (rc == IXO_OK) {
        if (reply == nullptr || std::strstr(reply, IXO_ORIGINAL_QUERY_MARKER) != nullptr ||
            std::strstr(reply, IXO_INVALID_INSTRUCTION) != nullptr)
            std::abort();
        memFree(reply);
    } else if (reply != nullptr) {
        std::abort();
    }

    std::string text(reinterpret_cast<const char*>(data), size);
    char* scrambled = ixoScrambleText(text.c_str());
    if (scrambled == nullptr || std::strstr(scrambled, "/HLVN") == nullptr) std::abort();
    memFree(scrambled);
    return 0;
}
