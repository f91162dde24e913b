// Failed logins slowed down per client address: a few free failures, then
// each further one makes the address wait before its next login is checked,
// twice as long each time up to a bound. Logins from other addresses are
// checked as usual, so a guesser cannot keep the administrator out from
// elsewhere. Thread-safe.
#pragma once

#include <cups/cups.h>

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

struct ThrottleSettings {
    int freeFailures = 5;        // refused passwords before the first wait
    long firstWaitSeconds = 1;   // the first wait; each further failure doubles it
    long maxWaitSeconds = 60;    // the longest wait
    long forgetSeconds = 900;    // failures are forgotten after this long without one
    size_t maxAddresses = 10000; // addresses remembered at most (the oldest go first)
};

class LoginThrottle {
public:
    explicit LoginThrottle(const ThrottleSettings& settings = ThrottleSettings()) : m_settings(settings) {}

    // Takes other settings; the failures noted so far stay.
    void Configure(const ThrottleSettings& settings);

    // Seconds `address` still waits at `now` (a monotonic clock, seconds)
    // before its next login is checked; 0: check it now.
    long WaitSeconds(const std::string& address, long now);
    // Notes a refused password from `address`; the seconds it now waits (0
    // while it has free failures left).
    long NoteFailure(const std::string& address, long now);
    // A good login from `address` clears its failures.
    void NoteSuccess(const std::string& address);

private:
    struct Entry {
        int failures = 0;
        long last = 0;    // time of the latest failure
        long until = 0;   // no login checked before this time
    };

    void MakeRoom(long now);

    ThrottleSettings m_settings;
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};

// The key the throttle keeps a client under: an IPv4 address as is (also
// when mapped into IPv6), an IPv6 address by its /64 network (one host
// usually holds a whole /64), "local" for a domain socket.
std::string ThrottleAddressKey(const http_addr_t* address);
