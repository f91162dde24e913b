#include "PrinterModel.h"

#include "MediaSets.h"
#include "PlaneBitmap.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rt50emu {

namespace {

// Largest payload accepted: a 600 dpi plane of the longest media is about
// 6.9 MB; anything far beyond that is a broken stream, not a picture.
constexpr size_t kMaxPayload = 16u * 1024u * 1024u;
constexpr size_t kMaxSettingText = 64;

const char* const kPlaneNames[3] = {"YPLANE", "MPLANE", "CPLANE"};

// A name from the stream as it goes into the sheet records: nothing but
// printable characters, and no '=' that would split a record line.
std::string Printable(std::string name)
{
    for (char& c : name) {
        if (!std::isprint(static_cast<unsigned char>(c)) || c == '=')
            c = '?';
    }
    return name;
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

}  // namespace

PrinterModel::PrinterModel()
    : m_reader(kMaxPayload)
{
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
    size_t used = 0;
    for (size_t at = 0; at < length; at += used) {
        switch (m_reader.Feed(data + at, length - at, &used)) {
        case CommandPacketReader::kPacket:
            HandlePacket(m_reader.Packet(), now);
            break;
        case CommandPacketReader::kFramingError:
            FramingError(m_reader.ErrorText());
            break;
        case CommandPacketReader::kNeedMore:
            break;
        }
    }
}

void PrinterModel::ResetStream()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reader.Reset();
    m_reply.clear();
    m_replyOffset = 0;
    m_replySplit = false;
    m_replyReadyAt = Clock::time_point();
    m_settings.clear();
    for (int plane = 0; plane < 3; ++plane) {
        std::vector<uint8_t>().swap(m_planePayload[plane]);
        m_planeSeen[plane] = false;
    }
}

std::string PrinterModel::StreamState() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reader.Describe();
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

void PrinterModel::HandlePacket(CommandPacket& packet, Clock::time_point now)
{
    const std::string name = Printable(packet.name);
    const std::string param = Printable(packet.param);
    std::vector<uint8_t>& payload = packet.payload;
    const EmulatedState& s = m_state;
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
        if (param == "COUNTER_LIFE") {
            std::snprintf(text, sizeof text, "%08ld", s.counter), Answer(text, now);
            // A printer saving power wakes before it answers its counter.
            if (s.status == 900 && s.wakeMs > 0)
                m_replyReadyAt = std::max(m_replyReadyAt, now + std::chrono::milliseconds(s.wakeMs));
        } else
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
    sheet.settings.swap(m_settings);   // the next sheet starts with none
    std::string error;
    for (int plane = 0; plane < 3 && error.empty(); ++plane) {
        if (!m_planeSeen[plane]) {
            error = std::string("START without ") + kPlaneNames[plane];
            break;
        }
        const std::vector<uint8_t>& file = m_planePayload[plane];
        PlaneBitmapView view;
        const char* why = nullptr;
        if (_DecodePlaneBitmap(file.data(), file.size(), &view, &why) != kProtoOk) {
            error = std::string(kPlaneNames[plane]) + ": " + why;
        } else if (plane > 0 && (view.width != sheet.width || view.height != sheet.height)) {
            error = std::string(kPlaneNames[plane]) + ": size differs from YPLANE";
        } else {
            sheet.width = view.width;
            sheet.height = view.height;
            sheet.pixelsPerMetreY = view.yPixelsPerMetre;
            // The record keeps the rows top first and unpadded.
            std::vector<uint8_t>& pixels = sheet.planes[plane];
            pixels.resize(static_cast<size_t>(view.width) * static_cast<size_t>(view.height));
            for (int row = 0; row < view.height; ++row)
                std::memcpy(pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(view.width),
                            view.rows + static_cast<size_t>(view.height - 1 - row) * static_cast<size_t>(view.rowBytes),
                            static_cast<size_t>(view.width));
        }
    }
    for (int plane = 0; plane < 3; ++plane) {
        std::vector<uint8_t>().swap(m_planePayload[plane]);
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
    int multicut = 0;
    for (const auto& [name, value] : sheet.settings) {
        if (name == "MULTICUT")
            multicut = std::atoi(value.c_str());
    }
    if (!MediaPrintsSheet(m_state.mediaSize, multicut)) {
        m_state.status = 1500;  // paper size setting error: the sheet is not printed
        m_lastError = "the loaded media does not print a " + std::string(PageSizeOfMulticut(multicut)) + " page";
        PauseOrResume(now);
        return;
    }
    if (m_state.mediaRemain - static_cast<int>(m_printing.size()) <= 0) {
        m_state.status = 1100;  // paper end: the sheet is not printed
        m_lastError = "no media left";
        PauseOrResume(now);
        return;
    }
    m_state.status = 0;
    const Clock::time_point begin = m_printing.empty() ? now : std::max(now, m_printing.back());
    m_printing.push_back(begin + std::chrono::milliseconds(m_state.printMs));
    sheet.number = ++m_sheetsAccepted;
    sheet.serial = m_state.serial;
    m_done.push_back(std::move(sheet));
    // The sheet is taken whole: an error right after it stops its print
    // until mended, it does not undo it.
    const int status = m_fault.value;
    if (ConsumeFault(FaultKind::ErrorAfterStart)) {
        m_state.status = status;
        PauseOrResume(now);
    }
}

long PrinterModel::ReportedStatus() const
{
    // An error (door open, paper end, ...) shows even while sheets print.
    const long base = m_state.status;
    if (base != 0 && base != 900)
        return base;
    return m_printing.empty() ? base : 1;
}

void PrinterModel::PauseOrResume(Clock::time_point now)
{
    // An error stops the printing where it stands; once it is mended the
    // sheets held print on, none dropped.
    const long base = m_state.status;
    const bool error = base != 0 && base != 900;
    const bool paused = m_pausedSince != Clock::time_point();
    if (error && !paused) {
        Settle(now);
        m_pausedSince = now;
    } else if (!error && paused) {
        const Clock::duration pause = now - m_pausedSince;
        for (Clock::time_point& end : m_printing)
            end += pause;
        m_pausedSince = Clock::time_point();
    }
}

void PrinterModel::Settle(Clock::time_point now)
{
    if (m_pausedSince != Clock::time_point() && m_pausedSince < now)
        now = m_pausedSince;
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
    size_t bytes = m_reader.HeaderBytes() + m_reader.PayloadBytes();
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

EmulatedState PrinterModel::State(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Settle(now);
    EmulatedState state = m_state;
    state.status = ReportedStatus();
    return state;
}

void PrinterModel::Update(const std::function<void(EmulatedState&)>& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Clock::time_point now = Clock::now();
    Settle(now);
    const int media = m_state.mediaSize;
    change(m_state);
    // Loading other media mends a paper size error.
    if (m_state.mediaSize != media && m_state.status == 1500)
        m_state.status = 0;
    PauseOrResume(now);
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
