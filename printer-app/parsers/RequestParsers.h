// Readers of what a client sends before the application lets PAPPL take it:
// the Basic login header, and a document's first bytes (its format, a
// JPEG's size); and what pdfinfo says of a client's PDF. Plain functions on
// bytes, for the fuzzer too.
#pragma once

#include <cstddef>
#include <string>

// Splits an "Authorization: Basic ..." value into user and password; false
// for another scheme or a malformed value.
bool ParseBasicAuthorization(const char* value, std::string* user, std::string* password);

// The format of a document from its first bytes, as PAPPL types
// application/octet-stream; null when unknown.
const char* SniffFormat(const unsigned char* data, size_t length);

// The width and height of a JPEG from its first bytes (its frame header);
// false when the header is not among them.
bool JpegDimensions(const unsigned char* data, size_t length, int* width, int* height);

// The page count in pdfinfo's report of a PDF (its "Pages:" line), 1 to
// `limit`; 0 when the report has none or a count out of that range. The
// report's last such line counts: the document's own texts (title, author)
// come before it and may hold a line of that form.
int PdfInfoPageCount(const char* report, size_t length, int limit);
