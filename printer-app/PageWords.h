// The words of PAPPL's web pages for an RT-50: its supply is a set of
// ribbon and paper, not ink, and a printer's state reasons are listed
// within a sentence, so they carry no full stop of their own (PAPPL 1.3's
// texts end with one and the sentence adds another: "Out of ink..").
#pragma once

#include <pappl/pappl.h>

#include <string>

// The text a state reason's localization key ("printer-state-reasons.
// media-empty") gets instead of `text` (PAPPL's, in any language): the
// ribbon and paper words for the supply's reasons, else `text` without its
// final full stops. Empty for other keys, which stay as they are.
std::string PageWordFor(const char* key, const char* text);

// Gives every localization of `system` these words. Call once, after the
// system is made and before it serves pages.
void UseRibbonAndPaperWords(pappl_system_t* system);
