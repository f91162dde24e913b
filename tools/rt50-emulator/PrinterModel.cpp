#include "PrinterModel.h"

#include "PhotoPrinterIF.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace rt50emu {

namespace {

constexpr size_t kHeaderSize = 32;
// Largest payload accepted: a 600 dpi plane of the longest media is about
// 6.9 MB; anything far beyond that is a broken stream, not a picture.
constexpr size_t kMaxPayload = 16u * 1024u * 1024u;
constexpr size_t kMaxSettingText = 64;

const char* const kPlaneNames[3] = {"YPLANE", "MPLANE", "CPLANE"};

// Text of a fixed-width header field with its padding blanks removed.
std::string Field(const uint8_t* header, int offset, int width)
{
    char text[32];
    _CutText(text, reinterpret_cast<const char*>(header) + offset, width);
    std::string value(text);
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    // Names end up in the sheet records: nothing but printable characters.
    for (char& c : value) {
        if (!std::isprint(static_cast<unsigned char>(c)) || c == '=')
            c = '?';
    }
    return value;
}

// A payload as a short printable text for the sheet record.
std::string SettingText(const std::vector<uint8_t>& payload)
{
    std::string text;
    for (uint8_t byte : payload) {
        if (byte == '\r' || byte == '\0' || text.size() >= kMaxSettingText)
            break;
        text.push_back(std::isprint(byte) ? static_cast<char>(byte) : '?');
    }
    return text;
}

uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

std::string DecodePlane(const std::vector<uint8_t>& file, int* width, int* height,
                        int* pixelsPerMetreY, std::vector<uint8_t>* pixels)
{
    constexpr size_t kInfoEnd = 54;
    if (file.size() < kInfoEnd + 1024)
        return "bitmap shorter than its headers";
    const uint8_t* p = file.data();
    if (p[0] != 'B' || p[1] != 'M')
        return "bitmap does not start with BM";
    if (Le32(p + 2) != file.size())
        return "bitmap file size field differs from the payload length";
    const uint32_t offset = Le32(p + 10);
    if (Le32(p + 14) != 40)
        return "bitmap info header is not 40 bytes";
    const int32_t w = static_cast<int32_t>(Le32(p + 18));
    const int32_t h = static_cast<int32_t>(Le32(p + 22));
    if (Le16(p + 26) != 1 || Le16(p + 28) != 8)
        return "bitmap is not 8 bits per pixel";
    if (Le32(p + 30) != 0)
        return "bitmap is compressed";
    if (w <= 0 || w > 8192 || h == 0 || h < -20000 || h > 20000)
        return "bitmap size out of range";
    const size_t rows = static_cast<size_t>(h < 0 ? -h : h);
    const size_t stride = (static_cast<size_t>(w) + 3) & ~static_cast<size_t>(3);
    if (offset < kInfoEnd + 1024 || offset > file.size())
        return "bitmap pixel offset out of range";
    if (file.size() - offset != stride * rows)
        return "bitmap pixel area does not match its size";
    if (Le32(p + 34) != 0 && Le32(p + 34) != stride * rows)
        return "bitmap image size field is wrong";

    pixels->assign(static_cast<size_t>(w) * rows, 255);
    for (size_t row = 0; row < rows; ++row) {
        // A positive height stores the bottom row first.
        const size_t stored = h > 0 ? rows - 1 - row : row;
        std::memcpy(pixels->data() + row * static_cast<size_t>(w),
                    p + offset + stored * stride, static_cast<size_t>(w));
    }
    *width = w;
    *height = static_cast<int>(rows);
    *pixelsPerMetreY = static_cast<int>(Le32(p + 42));
    return std::string();
}

PrinterModel::PrinterModel()
{
    m_header.reserve(kHeaderSize);
}

void PrinterModel::FramingError(const std::string& what)
{
    ++m_framingErrors;
    m_lastError = what;
}

bool PrinterModel::ConsumeFault(FaultKind kind)
{
    if (m_fault.kind != kind)
        return false;
    if (m_fault.times > 0 && --m_fault.times == 0)
        m_fault.kind = FaultKind::None;
    return true;
}

void PrinterModel::Write(const uint8_t* data, size_t length, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Settle(now);
    size_t at = 0;
    while (at < length) {
        if (m_resync) {
            // After a broken header, wait for the next ESC that starts a packet.
            const uint8_t* esc = static_cast<const uint8_t*>(
                std::memchr(data + at, 0x1B, length - at));
            if (esc == nullptr)
                return;
            at = static_cast<size_t>(esc - data);
            m_resync = false;
        }
        if (!m_inPayload) {
            const size_t take = std::min(kHeaderSize - m_header.size(), length - at);
            m_header.insert(m_header.end(), data + at, data + at + take);
            at += take;
            if (m_header.size() < kHeaderSize)
                return;
            const uint8_t* h = m_header.data();
            if (h[0] != 0x1B || h[1] != 'P') {
                FramingError("packet does not start with ESC P");
                m_header.clear();
                m_resync = true;
                continue;
            }
            const std::string lengthText = Field(h, 24, 8);
            bool digits = true;
            for (char c : lengthText)
                digits = digits && std::isdigit(static_cast<unsigned char>(c));
            if (!digits || (!lengthText.empty() && lengthText.size() != 8)) {
                FramingError("length field is not 8 digits: '" + lengthText + "'");
                m_header.clear();
                m_resync = true;
                continue;
            }
            const size_t wanted = lengthText.empty()
                ? 0 : static_cast<size_t>(_TextToInt(reinterpret_cast<const char*>(h) + 24, 8));
            if (wanted > kMaxPayload) {
                FramingError("payload of " + lengthText + " bytes is too long");
                m_header.clear();
                m_resync = true;
                continue;
            }
            m_payload.clear();
            m_payloadWanted = wanted;
            m_inPayload = true;
        }
        const size_t take = std::min(m_payloadWanted - m_payload.size(), length - at);
        m_payload.insert(m_payload.end(), data + at, data + at + take);
        at += take;
        if (m_payload.size() < m_payloadWanted)
            return;
        const std::string name = Field(m_header.data(), 2, 6);
        const std::string param = Field(m_header.data(), 8, 16);
        m_header.clear();
        m_inPayload = false;
        HandlePacket(name, param, m_payload, now);
        m_payload.clear();
        m_payload.shrink_to_fit();
    }
}

void PrinterModel::Answer(const std::string& value, Clock::time_point now)
{
    m_reply.clear();
    m_replyOffset = 0;
    m_replyReadyAt = now;
    if (ConsumeFault(FaultKind::NoAnswer))
        return;
    char header[16];
    std::snprintf(header, sizeof header, "%08zu", value.size() + 1);
    if (ConsumeFault(FaultKind::BadLength))
        std::snprintf(header, sizeof header, "%08d", m_fault.value);
    else if (ConsumeFault(FaultKind::BadHeader))
        std::memcpy(header, "00 0X0", 6);
    m_replySplit = ConsumeFault(FaultKind::SplitReply);
    m_reply.assign(header, header + 8);
    m_reply.insert(m_reply.end(), value.begin(), value.end());
    m_reply.push_back('\r');
    if (m_fault.kind == FaultKind::Slow) {
        m_replyReadyAt = now + std::chrono::milliseconds(m_fault.value);
        ConsumeFault(FaultKind::Slow);
    }
}

void PrinterModel::HandlePacket(const std::string& name, const std::string& param,
                                std::vector<uint8_t>& payload, Clock::time_point now)
{
    const PrinterState& s = m_state;
    char text[64];
    if (name == "STATUS") {
        std::snprintf(text, sizeof text, "%04ld", ReportedStatus());
        Answer(text, now);
    } else if (name == "INFO") {
        if (param == "SERIAL_NUMBER")
            Answer(s.reportedSerial.empty() ? s.serial : s.reportedSerial, now);
        else if (param == "MEDIA")
            std::snprintf(text, sizeof text, "00%03d", s.mediaSize), Answer(text, now);
        else if (param == "MEDIA_CLASS_RFID")
            std::snprintf(text, sizeof text, "%d", s.mediaClass), Answer(text, now);
        else if (param == "MQTY_DEFAULT")
            std::snprintf(text, sizeof text, "0000%d", s.mediaInitial), Answer(text, now);
        else if (param == "MQTY")
            std::snprintf(text, sizeof text, "0000%d", s.mediaRemain), Answer(text, now);
        else if (param == "RQTY")
            std::snprintf(text, sizeof text, "0000%d", 2 * s.mediaRemain), Answer(text, now);
        else if (param == "FVER")
            Answer(s.firmware, now);
        else
            Answer("", now);
    } else if (name == "MNT_RD") {
        if (param == "COUNTER_LIFE")
            std::snprintf(text, sizeof text, "%08ld", s.counter), Answer(text, now);
        else
            Answer("", now);
    } else if (name == "CNTRL" && param == "START") {
        Start(now);
    } else if (name == "CNTRL" || (name == "IMAGE" && param == "MULTICUT")) {
        const std::string value = SettingText(payload);
        auto it = std::find_if(m_settings.begin(), m_settings.end(),
                               [&](const auto& entry) { return entry.first == param; });
        if (it != m_settings.end())
            it->second = value;
        else
            m_settings.emplace_back(param, value);
    } else if (name == "IMAGE") {
        for (int plane = 0; plane < 3; ++plane) {
            if (param == kPlaneNames[plane]) {
                m_planePayload[plane].swap(payload);
                m_planeSeen[plane] = true;
                return;
            }
        }
        m_lastError = "unknown image packet " + param;
    } else {
        m_lastError = "unknown command " + name + " " + param;
    }
}

void PrinterModel::Start(Clock::time_point now)
{
    Sheet sheet;
    std::string error;
    for (int plane = 0; plane < 3 && error.empty(); ++plane) {
        if (!m_planeSeen[plane]) {
            error = std::string("START without ") + kPlaneNames[plane];
            break;
        }
        int w = 0, h = 0, ppm = 0;
        error = DecodePlane(m_planePayload[plane], &w, &h, &ppm, &sheet.planes[plane]);
        if (!error.empty()) {
            error = std::string(kPlaneNames[plane]) + ": " + error;
        } else if (plane == 0) {
            sheet.width = w;
            sheet.height = h;
            sheet.pixelsPerMetreY = ppm;
        } else if (w != sheet.width || h != sheet.height) {
            error = std::string(kPlaneNames[plane]) + ": size differs from YPLANE";
        }
    }
    for (int plane = 0; plane < 3; ++plane) {
        m_planePayload[plane].clear();
        m_planePayload[plane].shrink_to_fit();
        m_planeSeen[plane] = false;
    }
    if (!error.empty()) {
        FramingError(error);
        return;
    }
    const long base = m_state.status;
    if (base != 0 && base != 1 && base != 900) {
        m_lastError = "printer not ready, status " + std::to_string(base);
        return;
    }
    if (m_state.mediaRemain - static_cast<int>(m_printing.size()) <= 0) {
        m_state.status = 1100;  // paper end: the sheet is not printed
        m_lastError = "no media left";
        return;
    }
    m_state.status = 0;
    const Clock::time_point begin = m_printing.empty() ? now : std::max(now, m_printing.back());
    m_printing.push_back(begin + std::chrono::milliseconds(m_state.printMs));
    sheet.number = ++m_sheetsAccepted;
    sheet.serial = m_state.serial;
    sheet.settings = m_settings;
    m_done.push_back(std::move(sheet));
}

long PrinterModel::ReportedStatus() const
{
    // An error (door open, paper end, ...) shows even while sheets print.
    const long base = m_state.status;
    if (base != 0 && base != 900)
        return base;
    return m_printing.empty() ? base : 1;
}

void PrinterModel::Settle(Clock::time_point now)
{
    while (!m_printing.empty() && m_printing.front() <= now) {
        m_printing.pop_front();
        if (m_state.mediaRemain > 0)
            --m_state.mediaRemain;
        ++m_state.counter;
        ++m_sheetsPrinted;
    }
}

ReadOutcome PrinterModel::Read(uint8_t* dst, size_t max, size_t* count, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Settle(now);
    *count = 0;
    if (ConsumeFault(FaultKind::StallIn))
        return ReadOutcome::Stall;
    if (m_replyOffset >= m_reply.size() || now < m_replyReadyAt)
        return ReadOutcome::Pending;
    // A split reply ends its first transfer after the header, however much
    // the host asked for.
    const size_t end = m_replySplit && m_replyOffset < 8 ? 8 : m_reply.size();
    const size_t take = std::min(max, end - m_replyOffset);
    std::memcpy(dst, m_reply.data() + m_replyOffset, take);
    m_replyOffset += take;
    *count = take;
    return ReadOutcome::Data;
}

Clock::time_point PrinterModel::ReplyReadyAt() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_replyOffset < m_reply.size() ? m_replyReadyAt : Clock::time_point();
}

bool PrinterModel::TakeOutStall()
{
    return TakeFault(FaultKind::StallOut);
}

bool PrinterModel::TakeFault(FaultKind kind, int* value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (value != nullptr)
        *value = m_fault.value;
    return ConsumeFault(kind);
}

size_t PrinterModel::ReceivingBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t bytes = m_header.size() + m_payload.size();
    for (const std::vector<uint8_t>& plane : m_planePayload)
        bytes += plane.size();
    return bytes;
}

std::string PrinterModel::DeviceIdLocked() const
{
    if (!m_state.deviceId.empty())
        return m_state.deviceId;
    return "MANUFACTURER:VANTORA;MODEL:RT-50;COMMAND SET:ZPX;DESCRIPTION:VANTORA RT-50 Photo Printer;"
           "CLASS:PRINTER;SERIALNUMBER:" +
           (m_state.reportedSerial.empty() ? m_state.serial : m_state.reportedSerial) + ";";
}

std::string PrinterModel::DeviceId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return DeviceIdLocked();
}

std::string PrinterModel::DeviceIdReply() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string id = DeviceIdLocked();
    const size_t total = std::min<size_t>(id.size() + 2, 0xffff);
    const bool little = m_state.deviceIdLittleEndian;
    std::string reply;
    reply.push_back(static_cast<char>(little ? total & 0xff : total >> 8));
    reply.push_back(static_cast<char>(little ? total >> 8 : total & 0xff));
    return reply + id.substr(0, total - 2);
}

PrinterState PrinterModel::State(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Settle(now);
    PrinterState state = m_state;
    state.status = ReportedStatus();
    return state;
}

void PrinterModel::Update(const std::function<void(PrinterState&)>& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    change(m_state);
}

void PrinterModel::SetFault(const Fault& fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fault = fault;
}

Fault PrinterModel::CurrentFault() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fault;
}

std::vector<Sheet> PrinterModel::TakeSheets()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Sheet> sheets;
    sheets.swap(m_done);
    return sheets;
}

int PrinterModel::SheetsPrinted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sheetsPrinted;
}

int PrinterModel::FramingErrors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_framingErrors;
}

std::string PrinterModel::LastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
}

}  // namespace rt50emu
