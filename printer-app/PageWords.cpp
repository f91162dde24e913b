#include "PageWords.h"

#include <cups/array.h>

#include <cstdlib>
#include <cstring>
#include <pthread.h>

namespace {

constexpr char kReasonPrefix[] = "printer-state-reasons.";

// The reasons the RT-50's ribbon and paper set gives, in its own words.
const struct {
    const char* reason;
    const char* text;
} kSupplyWords[] = {
    {"marker-supply-empty", "Ribbon end"},
    {"marker-supply-low", "Ribbon and paper low"},
    {"media-empty", "Paper end"},
    {"media-low", "Few prints left"},
    {"media-needed", "Other ribbon and paper needed"},
};

// PAPPL 1.3.1 keeps a language's texts in its private localization
// object and lets the first text loaded for a key win, so texts added as a
// strings resource cannot replace its own. These mirror its private
// layout (loc-private.h of PAPPL 1.3.1); the object is used only when its
// system and name read back as expected.
struct Pappl131LocPair {
    char* key;
    char* text;
};
struct Pappl131Loc {
    pthread_rwlock_t rwlock;
    pappl_system_t* system;
    char* name;
    cups_array_t* pairs;
};

const char* const kPapplLanguages[] = {"de", "en", "es", "fr", "it", "ja", "nb-NO", "pl", "tr"};

}  // namespace

std::string PageWordFor(const char* key, const char* text)
{
    const size_t prefix = sizeof kReasonPrefix - 1;
    if (key == nullptr || text == nullptr || std::strncmp(key, kReasonPrefix, prefix) != 0)
        return "";
    for (const auto& word : kSupplyWords) {
        if (std::strcmp(key + prefix, word.reason) == 0)
            return word.text;
    }
    std::string plain = text;
    while (!plain.empty() && (plain.back() == '.' || plain.back() == ' '))
        plain.pop_back();
    return plain;
}

void UseRibbonAndPaperWords(pappl_system_t* system)
{
    for (const char* language : kPapplLanguages) {
        Pappl131Loc* loc = reinterpret_cast<Pappl131Loc*>(papplSystemFindLoc(system, language));
        if (loc == nullptr || loc->system != system || loc->name == nullptr ||
            std::strcmp(loc->name, language) != 0 || loc->pairs == nullptr) {
            papplLog(system, PAPPL_LOGLEVEL_WARN, "The texts of language \"%s\" are kept as PAPPL has them.",
                     language);
            continue;
        }
        pthread_rwlock_wrlock(&loc->rwlock);
        for (void* item = cupsArrayFirst(loc->pairs); item != nullptr; item = cupsArrayNext(loc->pairs)) {
            Pappl131LocPair* pair = static_cast<Pappl131LocPair*>(item);
            const std::string word = PageWordFor(pair->key, pair->text);
            if (word.empty() || word == pair->text)
                continue;
            char* text = strdup(word.c_str());
            if (text == nullptr)
                continue;
            std::free(pair->text);
            pair->text = text;
        }
        pthread_rwlock_unlock(&loc->rwlock);
    }
}
