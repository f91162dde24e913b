#include "WebOrigin.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

constexpr size_t kMaxHost = 255;

// Reads "host[:port]" from `text` up to `end`; `defaultPort` when no port.
bool ParseAuthority(const char* text, const char* end, int defaultPort, WebOrigin* origin)
{
    if (text >= end)
        return false;
    const char* hostEnd = nullptr;
    const char* rest = nullptr;
    if (*text == '[') {
        // An IPv6 address: hex digits, ':' and '.', in brackets.
        hostEnd = static_cast<const char*>(std::memchr(text, ']', static_cast<size_t>(end - text)));
        if (hostEnd == nullptr || hostEnd == text + 1)
            return false;
        for (const char* c = text + 1; c < hostEnd; ++c) {
            if (!std::isxdigit(static_cast<unsigned char>(*c)) && *c != ':' && *c != '.')
                return false;
        }
        ++hostEnd;
        rest = hostEnd;
    } else {
        hostEnd = text;
        while (hostEnd < end && *hostEnd != ':') {
            const unsigned char c = static_cast<unsigned char>(*hostEnd);
            if (!std::isalnum(c) && c != '.' && c != '-' && c != '_')
                return false;
            ++hostEnd;
        }
        if (hostEnd == text)
            return false;
        rest = hostEnd;
    }
    if (static_cast<size_t>(hostEnd - text) > kMaxHost)
        return false;
    int port = defaultPort;
    if (rest < end) {
        if (*rest != ':' || rest + 1 == end || end - rest > 6)
            return false;
        port = 0;
        for (const char* c = rest + 1; c < end; ++c) {
            if (!std::isdigit(static_cast<unsigned char>(*c)))
                return false;
            port = port * 10 + (*c - '0');
        }
        if (port < 1 || port > 65535)
            return false;
    }
    origin->host.assign(text, static_cast<size_t>(hostEnd - text));
    for (char& c : origin->host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    origin->port = port;
    return true;
}

bool SameOrigin(const WebOrigin& a, const WebOrigin& b)
{
    return a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

bool Present(const char* value)
{
    return value != nullptr && value[0] != '\0';
}

}  // namespace

bool ParseWebOrigin(const char* url, WebOrigin* origin)
{
    if (url == nullptr)
        return false;
    int defaultPort = 0;
    const char* authority = nullptr;
    if (strncasecmp(url, "https://", 8) == 0) {
        origin->scheme = "https";
        defaultPort = 443;
        authority = url + 8;
    } else if (strncasecmp(url, "http://", 7) == 0) {
        origin->scheme = "http";
        defaultPort = 80;
        authority = url + 7;
    } else {
        return false;
    }
    const size_t length = std::strcspn(authority, "/?#");
    // "@" in the authority is user information: "https://own-host@other/"
    // is the other host; such an origin is never the server's.
    if (std::memchr(authority, '@', length) != nullptr)
        return false;
    return ParseAuthority(authority, authority + length, defaultPort, origin);
}

bool ParseHostHeader(const char* value, bool tls, WebOrigin* origin)
{
    if (value == nullptr)
        return false;
    origin->scheme = tls ? "https" : "http";
    return ParseAuthority(value, value + std::strlen(value), tls ? 443 : 80, origin);
}

PostSource JudgePostSource(const char* origin, const char* referer, const char* host, bool tls)
{
    const char* stated = Present(origin) ? origin : (Present(referer) ? referer : nullptr);
    if (stated == nullptr)
        return PostSource::kUnstated;
    WebOrigin server, sender;
    if (!ParseHostHeader(host, tls, &server) || !ParseWebOrigin(stated, &sender))
        return PostSource::kForeign;
    return SameOrigin(server, sender) ? PostSource::kOwnPage : PostSource::kForeign;
}

bool FormPostAllowed(PostSource source, const char* userAgent)
{
    switch (source) {
    case PostSource::kOwnPage:
        return true;
    case PostSource::kForeign:
        return false;
    case PostSource::kUnstated:
        break;
    }
    return userAgent == nullptr || strncasecmp(userAgent, "Mozilla/", 8) != 0;
}
