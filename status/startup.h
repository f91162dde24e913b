// Start-up helpers of the status window: the single-instance check and the
// choice of translation.
#pragma once

#include <QString>
#include <cstdio>

// Installed path of the window; the single-instance check looks for it.
inline constexpr char kStatusInstalledPath[] = "/opt/vantora_systems/vantora_rt50_status/vantora_rt50_status";

// True when the window is judged to run already: runs
// "ps auxww | grep <installed path>" and counts its output, printing none
// of it.
bool checkDoubleStartApp();

// Counts the pieces of a process listing (read with at most 254 characters
// each) that do not contain "grep"; each piece is echoed unchanged to echo
// when it is not null.
int CountInstancePieces(FILE *listing, FILE *echo);

// Resource name (without ".qm") of the translation for a BCP 47 locale name.
QString TranslationForLocale(const QString &bcp47Name);
