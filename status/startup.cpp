// Single-instance check and translation choice of the status window.
#include "startup.h"

#include <cstring>

// Counts the listing pieces without "grep" (see the header).
int CountInstancePieces(FILE *listing, FILE *echo)
{
    int count = 0;
    char piece[512];
    for (;;) {
        memset(piece, 0, sizeof(piece));
        if (fgets(piece, 255, listing) == nullptr)
            break;
        if (echo != nullptr)
            fprintf(echo, "%s", piece);
        if (strstr(piece, "grep") == nullptr)
            ++count;
        if (feof(listing))
            break;
    }
    return count;
}

// Scans the process list for the installed program; true from three
// counted pieces on.
bool checkDoubleStartApp()
{
    char command[256];
    snprintf(command, sizeof(command), "ps auxww | grep %s", kStatusInstalledPath);
    FILE *listing = popen(command, "r");
    if (listing == nullptr)
        return false;
    // The shell and grep carry "grep" in their command lines; this process
    // is counted itself, and so is anything else naming the program. The
    // listing is not echoed: the window starts without a word on its
    // terminal.
    const int count = CountInstancePieces(listing, nullptr);
    pclose(listing);
    return count > 2;
}

// The first catalogue whose language prefixes the locale name, else English.
QString TranslationForLocale(const QString &bcp47Name)
{
    static const char *const kLanguages[] = {"zh", "en", "fr", "de", "ja", "es"};
    for (const char *language : kLanguages) {
        if (bcp47Name.startsWith(QLatin1String(language), Qt::CaseInsensitive))
            return QStringLiteral(":/translations/localize_") + QLatin1String(language);
    }
    return QStringLiteral(":/translations/localize_en");
}
