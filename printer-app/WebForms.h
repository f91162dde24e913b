// What keeps a page of another site from administering the printers
// through a browser that holds an administrator's login:
// - the token of the web forms (the hidden "session" value PAPPL puts into
//   every form it draws and checks on every form it takes) names the
//   logged-in user and the hour, under a random key of the process; a page
//   served without a login carries none;
// - a POST is acted on only when its Origin (else Referer) is the
//   application's own (WebOrigin.h).
// The application defines PAPPL's papplClientGetCSRFToken and
// papplClientIsValidForm itself: libpappl calls them through its dynamic
// symbols, so its own pages draw and check these tokens.
#pragma once

#include <pappl/pappl.h>

#include <ctime>
#include <string>

// HMAC-SHA-256 of `message` under `key`: 32 bytes; empty when hashing
// failed.
std::string HmacSha256(const std::string& key, const std::string& message);

// Form tokens under one key.
class FormTokens {
public:
    // A token is good for the hour it was made in and the next.
    static constexpr time_t kWindowSeconds = 3600;

    // `key`: secret bytes. With an empty key no token is made or taken.
    explicit FormTokens(std::string key) : m_key(std::move(key)) {}

    // The token for `user` at `now` (seconds since the epoch): 64 hex
    // digits; empty for an empty user or key.
    std::string Make(const std::string& user, time_t now) const;
    // Whether `token` was made for `user` at `now` or in the window before.
    bool Check(const char* token, const std::string& user, time_t now) const;

private:
    std::string Window(const std::string& user, time_t window) const;

    std::string m_key;
};

// Whether the client's POST may be acted on, from its Origin and Referer:
// an IPP request unless a browser says another site sent it, a web form
// only from the application's own pages (FormPostAllowed). Logs a refusal.
bool PostFromOwnPages(pappl_client_t* client);

// Whether PAPPL's pages use the application's form tokens (its token
// functions resolve to the application's); logs an error when they do not.
bool CheckFormTokensInstalled(pappl_system_t* system);
