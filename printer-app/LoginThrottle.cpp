#include "LoginThrottle.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>


void LoginThrottle::Configure(const ThrottleSettings& settings)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings = settings;
}

long LoginThrottle::WaitSeconds(const std::string& address, long now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.find(address);
    if (found == m_entries.end() || found->second.until <= now)
        return 0;
    return found->second.until - now;
}

long LoginThrottle::NoteFailure(const std::string& address, long now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_entries.find(address);
    if (found == m_entries.end()) {
        if (m_entries.size() >= m_settings.maxAddresses)
            MakeRoom(now);
        found = m_entries.emplace(address, Entry()).first;
    }
    Entry& entry = found->second;
    if (now - entry.last >= m_settings.forgetSeconds)
        entry.failures = 0;
    entry.failures = entry.failures < 1000000 ? entry.failures + 1 : entry.failures;
    entry.last = now;
    const int over = entry.failures - m_settings.freeFailures;
    if (over < 0)
        return 0;
    long wait = m_settings.firstWaitSeconds;
    for (int i = 0; i < over && wait < m_settings.maxWaitSeconds; ++i)
        wait *= 2;
    if (wait > m_settings.maxWaitSeconds)
        wait = m_settings.maxWaitSeconds;
    entry.until = now + wait;
    return wait;
}

void LoginThrottle::NoteSuccess(const std::string& address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.erase(address);
}

void LoginThrottle::MakeRoom(long now)
{
    // Forgotten and unlocked addresses go first, then the one whose latest
    // failure is oldest.
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (now - it->second.last >= m_settings.forgetSeconds && it->second.until <= now)
            it = m_entries.erase(it);
        else
            ++it;
    }
    while (!m_entries.empty() && m_entries.size() >= m_settings.maxAddresses) {
        auto oldest = m_entries.begin();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->second.last < oldest->second.last)
                oldest = it;
        }
        m_entries.erase(oldest);
    }
}

std::string ThrottleAddressKey(const http_addr_t* address)
{
    if (address == nullptr)
        return "unknown";
    char text[INET6_ADDRSTRLEN + 8] = "";
    if (address->addr.sa_family == AF_INET) {
        inet_ntop(AF_INET, &address->ipv4.sin_addr, text, sizeof text);
        return text;
    }
    if (address->addr.sa_family == AF_INET6) {
        const in6_addr& ip = address->ipv6.sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&ip)) {
            inet_ntop(AF_INET, &ip.s6_addr[12], text, sizeof text);
            return text;
        }
        in6_addr network {};
        for (int i = 0; i < 8; ++i)
            network.s6_addr[i] = ip.s6_addr[i];
        inet_ntop(AF_INET6, &network, text, sizeof text);
        return std::string(text) + "/64";
    }
    return "local";
}
