// Readers of what a client sends before the application lets PAPPL take it:
// the Basic login header, and a document's first bytes (its format, a
// JPEG's size). Plain functions on bytes, for the fuzzer too.
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
