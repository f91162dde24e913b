#include "DocumentCheck.h"

#include "PhotoChecks.h"
#include "PhotoRender.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {

constexpr const char* kPrintable[] = {"application/pdf", "image/jpeg", "image/png",        "image/heic",
                                      "image/heif",      "image/avif", "image/pwg-raster", "image/urf"};
// What a refusal asks for instead.
constexpr char kSendInstead[] = "send PDF, JPEG, PNG, HEIC/HEIF/AVIF, PWG or Apple raster";

// Answers the request with `status`, the document's format among the
// unsupported attributes, and leaves PAPPL nothing to print: Print-Job's
// document is read and dropped (PAPPL then finds no file), Send-Document
// loses its last-document (PAPPL then refuses it without touching the
// job). The answer is sent here, once the document is read: PAPPL goes
// on with the operation and puts its own message in place of this one
// ("No file in request."), but sends nothing on an exchange already
// answered.
void Refuse(pappl_client_t* client, ipp_status_t status, const char* format, const char* message)
{
    ipp_t* request = papplClientGetRequest(client);
    papplClientRespondIPP(client, status, "%s", message);
    ipp_t* response = papplClientGetResponse(client);
    ippAddString(response, IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "%s refused: %s", ippOpString(ippGetOperation(request)), message);
    if (ippGetOperation(request) == IPP_OP_SEND_DOCUMENT)
        ippDeleteAttribute(request, ippFindAttribute(request, "last-document", IPP_TAG_ZERO));
    http_t* http = papplClientGetHTTP(client);
    char buffer[8192];
    while (httpGetState(http) == HTTP_STATE_POST_RECV && httpRead2(http, buffer, sizeof buffer) > 0) {
    }
    if (httpGetState(http) == HTTP_STATE_POST_SEND)
        papplClientRespond(client, HTTP_STATUS_OK, nullptr, "application/ipp", 0, ippLength(response));
}

// The file limit of a document of `format`; 0 for a format that is not
// spooled (raster streams are printed as they arrive).
long long FileLimit(const char* format)
{
    if (std::strcmp(format, "application/pdf") == 0)
        return kMaxPdfBytes;
    if (vantora_photo::FormatOfType(format) != vantora_photo::PhotoFormat::Unknown)
        return vantora_photo::kMaxPhotoBytes;
    return 0;
}

// Refuses a document whose told length is over its format's limit before
// a byte of it is spooled: its bytes are read and dropped (shutting the
// connection instead would leave the client without the answer). True when
// refused.
bool RefuseOversizedUpload(pappl_client_t* client, const char* format)
{
    http_t* http = papplClientGetHTTP(client);
    const long long limit = FileLimit(format);
    if (limit == 0 || httpIsChunked(http) || httpGetState(http) != HTTP_STATE_POST_RECV)
        return false;
    const long long length = static_cast<long long>(httpGetRemaining(http));
    if (length <= limit)
        return false;
    char message[160];
    std::snprintf(message, sizeof message, "The document is too large (%.1f MB; at most %lld MiB).",
                  static_cast<double>(length) / 1e6, limit >> 20);
    Refuse(client, IPP_STATUS_ERROR_REQUEST_ENTITY, format, message);
    return true;
}

}  // namespace

void LimitSpoolFiles()
{
    // Past the limit a write fails with EFBIG instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    const rlim_t wanted = static_cast<rlim_t>(kMaxSpoolFileBytes);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > wanted) {
        limit.rlim_cur = wanted;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
}

const char* DocumentFormat(const unsigned char* data, size_t length)
{
    const char* format = SniffFormat(data, length);
    return format != nullptr ? format : vantora_photo::HeifType(data, length);
}

bool IsPrintableFormat(const char* format)
{
    if (format == nullptr)
        return false;
    for (const char* printable : kPrintable) {
        if (std::strcmp(format, printable) == 0)
            return true;
    }
    return false;
}

bool RefuseUnprintableDocument(pappl_client_t* client)
{
    ipp_t* request = papplClientGetRequest(client);
    const ipp_op_t operation = request != nullptr ? ippGetOperation(request) : IPP_OP_CUPS_NONE;
    if (operation != IPP_OP_PRINT_JOB && operation != IPP_OP_VALIDATE_JOB && operation != IPP_OP_SEND_DOCUMENT)
        return false;
    if (httpGetState(papplClientGetHTTP(client)) == HTTP_STATE_WAITING)
        return true;  // refused already: asked again, for another group
    ipp_attribute_t* attr = ippFindAttribute(request, "document-format", IPP_TAG_ZERO);
    if (attr != nullptr && (ippGetValueTag(attr) != IPP_TAG_MIMETYPE || ippGetCount(attr) != 1))
        return false;  // PAPPL refuses a malformed one itself
    const char* format = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
    const bool typed = format != nullptr && std::strcmp(format, "application/octet-stream") != 0;
    if (typed && !IsPrintableFormat(format)) {
        Refuse(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED, format,
               (std::string("The format \"") + format + "\" is not printed: " + kSendInstead + ".").c_str());
        return true;
    }

    // The document's first bytes, when it comes with this request and is
    // not compressed (then PAPPL looks at it once it is unpacked).
    if (operation == IPP_OP_VALIDATE_JOB)
        return false;
    ipp_attribute_t* compression = ippFindAttribute(request, "compression", IPP_TAG_KEYWORD);
    if (compression != nullptr && std::strcmp(ippGetString(compression, 0, nullptr), "none") != 0)
        return false;
    http_t* http = papplClientGetHTTP(client);
    if (httpGetState(http) != HTTP_STATE_POST_RECV)
        return false;
    unsigned char head[16384];
    const ssize_t length = httpPeek(http, reinterpret_cast<char*>(head), sizeof head);
    if (length <= 0)
        return false;  // no document
    const char* sniffed = DocumentFormat(head, static_cast<size_t>(length));
    if (IsPrintableFormat(typed ? format : sniffed) && RefuseOversizedUpload(client, typed ? format : sniffed))
        return true;
    if (!typed) {
        if (!IsPrintableFormat(sniffed)) {
            Refuse(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED, sniffed != nullptr ? sniffed : "application/octet-stream",
                   ((sniffed != nullptr ? std::string("The document is ") + sniffed + ", which is not printed: "
                                        : std::string("The document's format is not known: ")) +
                    kSendInstead + ".")
                       .c_str());
            return true;
        }
        format = sniffed;
    }
    int width = 0, height = 0;
    if (std::strcmp(format, "image/jpeg") == 0 && JpegDimensions(head, static_cast<size_t>(length), &width, &height) &&
        (width > kMaxJpegSide || height > kMaxJpegSide || width == 0 || height == 0)) {
        char message[160];
        std::snprintf(message, sizeof message, "The photo is %d x %d pixels; at most %d x %d are printed.", width,
                      height, kMaxJpegSide, kMaxJpegSide);
        Refuse(client, IPP_STATUS_ERROR_REQUEST_ENTITY, format, message);
        return true;
    }
    return false;
}
