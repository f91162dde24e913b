// What a client sends the printer application before anything is taken:
// the input as an Authorization header value (NUL-terminated copy), as a
// POST's Origin, Referer and Host, and as a document's first bytes and a
// PDF's pdfinfo report, exactly as long as the input, so that a read past
// them is caught.
#include "RequestParsers.h"
#include "WebOrigin.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string header(reinterpret_cast<const char*>(data), size);
    std::string user = "x", password = "y";
    if (ParseBasicAuthorization(header.c_str(), &user, &password)) {
        if (user.empty() || user.find(':') != std::string::npos)
            __builtin_trap();   // a user name is never empty nor holds the separator
    }

    // The input as a POST's Origin (and Referer) against a Host header
    // made of its first half: whatever it says, a same-origin verdict
    // needs an origin both read alike.
    const std::string host = header.substr(0, size / 2);
    WebOrigin origin, server;
    const bool readable = ParseWebOrigin(header.c_str(), &origin);
    if (readable && (origin.port < 1 || origin.port > 65535 || origin.host.empty() || origin.host.size() > 255))
        __builtin_trap();
    if (JudgePostSource(header.c_str(), nullptr, host.c_str(), true) == PostSource::kOwnPage &&
        !(readable && ParseHostHeader(host.c_str(), true, &server) && server.host == origin.host &&
          server.port == origin.port && origin.scheme == "https"))
        __builtin_trap();
    (void)FormPostAllowed(JudgePostSource(nullptr, header.c_str(), host.c_str(), false), header.c_str());

    std::vector<unsigned char> head(data, data + size);
    const char* format = SniffFormat(head.data(), head.size());
    int width = -1, height = -1;
    if (JpegDimensions(head.data(), head.size(), &width, &height)) {
        if (width < 0 || height < 0 || width > 65535 || height > 65535)
            __builtin_trap();
    }
    (void)format;

    const int pages = PdfInfoPageCount(reinterpret_cast<const char*>(head.data()), head.size(), 500);
    if (pages < 0 || pages > 500)
        __builtin_trap();
    return 0;
}
