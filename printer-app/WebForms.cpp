#include "WebForms.h"

#include "AppAuth.h"
#include "WebOrigin.h"

#include <cups/cups.h>
#include <dlfcn.h>
#include <sys/random.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr size_t kSha256Size = 32;
constexpr size_t kBlockSize = 64;

// The bytes in lower-case hex digits, as libcups writes a hash.
std::string Hex(const std::string& bytes)
{
    char text[2 * 64 + 1];
    if (bytes.size() > 64)
        return "";
    return cupsHashString(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text, sizeof text);
}

std::string Sha256(const std::string& data)
{
    unsigned char sum[kSha256Size];
    if (cupsHashData("sha2-256", data.data(), data.size(), sum, sizeof sum) != static_cast<ssize_t>(sizeof sum))
        return "";
    return std::string(reinterpret_cast<const char*>(sum), sizeof sum);
}

// 32 random bytes; empty when the kernel gave none.
std::string RandomKey()
{
    std::string key(kSha256Size, '\0');
    size_t got = 0;
    while (got < key.size()) {
        const ssize_t bytes = getrandom(&key[got], key.size() - got, 0);
        if (bytes <= 0)
            return "";
        got += static_cast<size_t>(bytes);
    }
    return key;
}

// The tokens of this process, under a key made at first use.
const FormTokens& ProcessTokens()
{
    static const FormTokens tokens(RandomKey());
    return tokens;
}

const char* Field(http_t* http, http_field_t field)
{
    const char* value = http != nullptr ? httpGetField(http, field) : nullptr;
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

}  // namespace

std::string HmacSha256(const std::string& key, const std::string& message)
{
    std::string block = key.size() > kBlockSize ? Sha256(key) : key;
    if (key.size() > kBlockSize && block.empty())
        return "";
    block.resize(kBlockSize, '\0');
    std::string inner(kBlockSize, '\0'), outer(kBlockSize, '\0');
    for (size_t i = 0; i < kBlockSize; ++i) {
        inner[i] = static_cast<char>(block[i] ^ 0x36);
        outer[i] = static_cast<char>(block[i] ^ 0x5c);
    }
    const std::string innerSum = Sha256(inner + message);
    if (innerSum.empty())
        return "";
    return Sha256(outer + innerSum);
}

std::string FormTokens::Window(const std::string& user, time_t window) const
{
    // The window comes after the last newline: no other user and window
    // make the same message.
    return Hex(HmacSha256(m_key, user + "\n" + std::to_string(static_cast<long long>(window))));
}

std::string FormTokens::Make(const std::string& user, time_t now) const
{
    if (user.empty() || m_key.empty() || now < 0)
        return "";
    return Window(user, now / kWindowSeconds);
}

bool FormTokens::Check(const char* token, const std::string& user, time_t now) const
{
    if (token == nullptr || user.empty() || m_key.empty() || now < 0)
        return false;
    const size_t length = std::strlen(token);
    bool good = false;
    for (time_t window : {now / kWindowSeconds, now / kWindowSeconds - 1}) {
        const std::string expected = Window(user, window);
        if (expected.empty() || expected.size() != length)
            continue;
        // Every character compared, so that the time taken tells nothing.
        unsigned char difference = 0;
        for (size_t i = 0; i < length; ++i)
            difference |= static_cast<unsigned char>(expected[i] ^ token[i]);
        good = good || difference == 0;
    }
    return good;
}

bool PostFromOwnPages(pappl_client_t* client)
{
    http_t* http = papplClientGetHTTP(client);
    const char* origin = Field(http, HTTP_FIELD_ORIGIN);
    const char* referer = Field(http, HTTP_FIELD_REFERER);
    const PostSource source = JudgePostSource(origin, referer, Field(http, HTTP_FIELD_HOST),
                                              http != nullptr && httpIsEncrypted(http));
    const bool ipp = papplClientGetRequest(client) != nullptr;
    const bool allowed = ipp ? source != PostSource::kForeign
                             : FormPostAllowed(source, Field(http, HTTP_FIELD_USER_AGENT));
    if (!allowed) {
        // The value is the client's: only its first 80 characters, the
        // unprintable ones as '?'.
        std::string stated = origin != nullptr ? origin : (referer != nullptr ? referer : "");
        stated.resize(std::min<size_t>(stated.size(), 80));
        for (char& c : stated) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
                c = '?';
        }
        papplLogClient(client, PAPPL_LOGLEVEL_WARN, "POST to \"%s\" refused: %s.", papplClientGetURI(client),
                       source == PostSource::kForeign
                           ? ("it comes from another site (" + stated + ")").c_str()
                           : "a browser's POST without Origin or Referer");
    }
    return allowed;
}

bool CheckFormTokensInstalled(pappl_system_t* system)
{
    const bool installed =
        dlsym(RTLD_DEFAULT, "papplClientGetCSRFToken") == reinterpret_cast<void*>(&papplClientGetCSRFToken) &&
        dlsym(RTLD_DEFAULT, "papplClientIsValidForm") == reinterpret_cast<void*>(&papplClientIsValidForm);
    if (!installed)
        papplLog(system, PAPPL_LOGLEVEL_ERROR,
                 "The web forms keep PAPPL's token: only their origin is checked.");
    return installed;
}

// PAPPL's token of a form: the logged-in user's, none without a login.
extern "C" char* papplClientGetCSRFToken(pappl_client_t* client, char* buffer, size_t bufsize)
{
    if (buffer == nullptr || bufsize == 0)
        return nullptr;
    buffer[0] = '\0';
    if (client == nullptr)
        return buffer;
    const std::string token = ProcessTokens().Make(WebPageUser(client), time(nullptr));
    if (!token.empty() && token.size() < bufsize)
        std::memcpy(buffer, token.c_str(), token.size() + 1);
    return buffer;
}

// PAPPL's check of a posted form: from the application's own page, with
// the token of the user logged in now.
extern "C" bool papplClientIsValidForm(pappl_client_t* client, int num_form, cups_option_t* form)
{
    if (client == nullptr || !PostFromOwnPages(client))
        return false;
    const char* token = cupsGetOption("session", num_form, form);
    const bool valid = ProcessTokens().Check(token, WebPageUser(client), time(nullptr));
    if (!valid)
        papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Form posted to \"%s\" refused: no token of the login.",
                       papplClientGetURI(client));
    return valid;
}
