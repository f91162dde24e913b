// The documents the application prints: PDF, JPEG, PNG, PWG and Apple raster.
// Anything else is refused when it is announced or arrives (Validate-Job,
// Print-Job, Send-Document) with client-error-document-format-not-supported,
// instead of being taken and aborted later; a JPEG larger than the limits
// the printer advertises is refused too.
#pragma once

#include "RequestParsers.h"

#include <pappl/pappl.h>

#include <cstddef>

// The formats the application prints.
bool IsPrintableFormat(const char* format);

// Largest JPEG taken: pixels on a side (jpeg-x- and
// jpeg-y-dimension-supported).
inline constexpr int kMaxJpegSide = 16384;

// Checks the document of the client's Validate-Job, Print-Job or
// Send-Document before PAPPL takes it. A refused document gets its IPP
// status in the response (PAPPL only raises a status, never lowers it) and
// the request is left so that PAPPL takes no document and starts no job.
// True when the document was refused.
bool RefuseUnprintableDocument(pappl_client_t* client);
