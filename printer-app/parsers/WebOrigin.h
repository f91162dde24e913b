// Where a browser's POST comes from: its Origin header, else its Referer,
// against the Host header the request was sent with and whether it came
// over TLS. The web forms act only on POSTs from the application's own
// pages; a page of another site that makes a logged-in browser post to them
// is refused. Plain functions on header values, for the fuzzer too.
#pragma once

#include <string>

// The scheme, host (lower case, an IPv6 address in brackets) and port of a
// web origin.
struct WebOrigin {
    std::string scheme;
    std::string host;
    int port = 0;
};

// Reads the origin at the start of a URL or an Origin header value:
// "scheme://host[:port]" followed by nothing or by '/', '?' or '#'. The
// port is the scheme's default (80 for http, 443 for https) when none is
// given. False for anything else: "null", user information ("user@host"),
// another scheme than http and https, a port out of range, a host over 255
// characters or with characters a host name cannot hold.
bool ParseWebOrigin(const char* url, WebOrigin* origin);

// Reads a Host header value ("host[:port]") as the origin a browser
// addressed, over TLS or not. False when malformed.
bool ParseHostHeader(const char* value, bool tls, WebOrigin* origin);

// What a POST's headers say of the page that sent it.
enum class PostSource {
    kOwnPage,    // its Origin (else its Referer) is the server's own origin
    kForeign,    // another origin, "null", or a value that cannot be read
    kUnstated,   // neither header
};

// Judges a POST from its Origin and Referer values (null or empty when
// absent), its Host header and whether it came over TLS. An Origin, when
// present, decides alone: a page with `Referrer-Policy: no-referrer` still
// sends it.
PostSource JudgePostSource(const char* origin, const char* referer, const char* host, bool tls);

// Whether a web form POST is let through. Every browser sends an Origin
// with a POST, and its User-Agent starts with "Mozilla/": a POST stating
// neither origin is a program's (curl, a script with its own login), which
// carries no login a browser added by itself, unless it says it is a
// browser.
bool FormPostAllowed(PostSource source, const char* userAgent);
