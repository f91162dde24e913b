// The documents the application prints: PDF, JPEG, PNG, HEIC/HEIF/AVIF, PWG
// and Apple raster.
// Anything else is refused when it is announced or arrives (Validate-Job,
// Print-Job, Send-Document) with client-error-document-format-not-supported,
// instead of being taken and aborted later; a JPEG larger than the limits
// the printer advertises is refused too, and so is a document whose length,
// told before it is sent, is over its format's file limit: it is read and
// dropped, never spooled.
#pragma once

#include "RequestParsers.h"

#include <pappl/pappl.h>

#include <cstddef>

// The formats the application prints.
bool IsPrintableFormat(const char* format);

// The format of a document from its first bytes, as the application types
// application/octet-stream (PAPPL's own types and HEIF's: image/heic,
// image/heif, image/avif); null when unknown.
const char* DocumentFormat(const unsigned char* data, size_t length);

// Largest JPEG taken: pixels on a side (jpeg-x- and
// jpeg-y-dimension-supported).
inline constexpr int kMaxJpegSide = 16384;

// Largest PDF taken, in bytes (photos: vantora_photo::kMaxPhotoBytes).
inline constexpr long long kMaxPdfBytes = 256LL << 20;
// Largest file the application writes: PAPPL copies a document into its
// spool folder with no limit of its own, so a document sent in chunks (its
// length not told before) ends there, its job aborted.
inline constexpr long long kMaxSpoolFileBytes = kMaxPdfBytes;

// Bounds every file the application writes to kMaxSpoolFileBytes: a write
// beyond fails (EFBIG) instead of filling the disk.
void LimitSpoolFiles();

// Checks the document of the client's Validate-Job, Print-Job or
// Send-Document before PAPPL takes it. A refused document gets its IPP
// status in the response (PAPPL only raises a status, never lowers it) and
// the request is left so that PAPPL takes no document and starts no job.
// True when the document was refused.
bool RefuseUnprintableDocument(pappl_client_t* client);
