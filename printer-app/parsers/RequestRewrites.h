// What the printer application changes in a client's IPP request before
// PAPPL takes it. Plain libcups, for the fuzzer too.
#pragma once

#include <cups/ipp.h>

#include <set>
#include <string>

// PAPPL's web pages show job and user names as they came: characters that
// mean something in HTML (< > & " ') become '_' before a job is made of
// them. Every value of every job-name, document-name and
// requesting-user-name counts, whatever its tag or group: a request may
// carry one twice, and PAPPL may take either.
void ScrubNames(ipp_t* request);

// Removes the job and document events from every notify-events of a
// subscription request (their events carry other users' job names and
// owners); a notify-events left without events goes.
void DropJobEvents(ipp_t* request);

// Rewrites the requested-attributes of a Get-Subscriptions or
// Get-Subscription-Attributes so that the answer leaves out
// notify-subscriber-user-name (who subscribed): every requested-attributes
// goes, and one naming what was asked for ("all" or none: every attribute
// PAPPL keeps of a subscription) less that name takes their place.
void WithholdSubscriberNames(ipp_t* request);

// Puts one requested-attributes naming `kept` (or `fallback` when it is
// empty) in place of every requested-attributes of the request: PAPPL would
// take a second one if only the first were replaced.
void ReplaceRequestedAttributes(ipp_t* request, const std::set<std::string>& kept, const char* fallback);
