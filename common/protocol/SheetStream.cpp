#include "SheetStream.h"

#include "CommandPackets.h"
#include "MediaSets.h"
#include "PlaneBitmap.h"

namespace {

constexpr size_t kSettingLength = 8;
constexpr size_t kDecurlLength = 12;
constexpr size_t kClockLength = 16;
// The plane bitmap's file and info headers: enough to know its size.
constexpr size_t kPlaneHeaderBytes = 54;

struct Command {
    const char* name;
    const char* param;
    int step;
    size_t length;   // the payload length; 0: none (START), SIZE_MAX: a plane
};

constexpr size_t kPlane = static_cast<size_t>(-1);

// The filter's commands in its order (SheetStream's steps 1..11).
constexpr Command kCommands[] = {
    {"CNTRL", "SET_SYS_TIME", 1, kClockLength},
    {"CNTRL", "CUTTER", 2, kSettingLength},
    {"CNTRL", "OVERCOAT", 3, kSettingLength},
    {"CNTRL", "BUFFCNTRL", 4, kSettingLength},
    {"CNTRL", "PRINTSPEED", 5, kSettingLength},
    {"CNTRL", "DECURL", 6, kDecurlLength},
    {"IMAGE", "MULTICUT", 7, kSettingLength},
    {"IMAGE", "YPLANE", 8, kPlane},
    {"IMAGE", "MPLANE", 9, kPlane},
    {"IMAGE", "CPLANE", 10, kPlane},
    {"CNTRL", "START", 11, 0},
};

uint32_t Le32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

bool AllDigits(const uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (data[i] < '0' || data[i] > '9')
            return false;
    }
    return true;
}

}  // namespace

const size_t kLargestSheetBytes =
    sizeof kCommands / sizeof kCommands[0] * kCmdHeaderSize + kClockLength + 5 * kSettingLength + kDecurlLength +
    3 * static_cast<size_t>(_PlaneFileSize(kHeadDots, kLargestPlaneRows));

bool SheetStream::Refuse(const std::string& why)
{
    m_error = why;
    return false;
}

bool SheetStream::Header(const std::string& name, const std::string& param, bool hasLength, size_t length)
{
    const Command* command = nullptr;
    for (const Command& candidate : kCommands) {
        if (name == candidate.name && param == candidate.param)
            command = &candidate;
    }
    if (command == nullptr)
        return Refuse("the command " + name + " " + param + " is not one the RT-50's filter writes");
    if (m_step == kStepStart) {
        m_step = kStepNone;   // a new sheet
        m_multicut = 0;
    }
    const bool planeOrStart = command->step >= kStepYPlane;
    if (command->step <= m_step || (planeOrStart && command->step != m_step + 1) ||
        (command->step == kStepYPlane && m_step != kStepMulticut))
        return Refuse(name + " " + param + " comes out of the filter's order");
    if (command->length == kPlane) {
        if (!hasLength || length < kPlaneHeaderBytes ||
            length > static_cast<size_t>(_PlaneFileSize(kHeadDots, kLargestPlaneRows)))
            return Refuse(param + " has a payload of " + std::to_string(length) + " bytes, not a plane bitmap");
    } else if (command->length == 0) {
        if (hasLength && length != 0)
            return Refuse(param + " carries a payload");
    } else if (!hasLength || length != command->length) {
        return Refuse(param + " has a payload of " + std::to_string(length) + " bytes, not " +
                      std::to_string(command->length));
    }
    m_pending = command->step;
    m_length = length;
    if (command->length == 0)
        m_step = m_pending;
    return true;
}

size_t SheetStream::PayloadPrefix() const
{
    if (m_pending == kStepYPlane || m_pending == kStepMPlane || m_pending == kStepCPlane)
        return kPlaneHeaderBytes;
    return m_length;
}

bool SheetStream::Payload(const uint8_t* data, size_t length)
{
    if (length < PayloadPrefix())
        return Refuse("a payload ended early");
    const int step = m_pending;
    switch (step) {
    case kStepClock:
        if (!AllDigits(data, 14) || data[14] != '\r' || data[15] != '\0')
            return Refuse("SET_SYS_TIME does not carry a time");
        break;
    case kStepDecurl:
        if (!AllDigits(data, kDecurlLength))
            return Refuse("DECURL does not carry a number");
        break;
    case kStepMulticut: {
        if (!AllDigits(data, kSettingLength))
            return Refuse("MULTICUT does not carry a number");
        int code = 0;
        for (size_t i = 0; i < kSettingLength; ++i)
            code = code * 10 + (data[i] - '0');
        if (FindPageSize(code) == nullptr)
            return Refuse("MULTICUT " + std::to_string(code) + " is no page size of the RT-50");
        m_multicut = code;
        break;
    }
    case kStepYPlane:
    case kStepMPlane:
    case kStepCPlane: {
        const uint32_t fileSize = Le32(data + 2);
        const uint32_t offset = Le32(data + 10);
        const int32_t width = static_cast<int32_t>(Le32(data + 18));
        const int32_t height = static_cast<int32_t>(Le32(data + 22));
        const unsigned planes = data[26] | data[27] << 8;
        const unsigned bits = data[28] | data[29] << 8;
        if (data[0] != 'B' || data[1] != 'M' || offset != kPlaneFileHeaderSize || planes != 1 || bits != 8 ||
            Le32(data + 30) != 0)
            return Refuse("a plane is not an 8-bit plane bitmap");
        if (width < 1 || width > kHeadDots || height < 1 || height > kLargestPlaneRows ||
            fileSize != m_length || static_cast<int64_t>(m_length) != _PlaneFileSize(width, height))
            return Refuse("a plane's size does not fit the printer or its payload");
        if (step == kStepYPlane) {
            m_planeWidth = width;
            m_planeHeight = height;
        } else if (width != m_planeWidth || height != m_planeHeight) {
            return Refuse("the planes of a sheet differ in size");
        }
        break;
    }
    default:
        if (!AllDigits(data, kSettingLength))
            return Refuse("a setting does not carry a number");
        break;
    }
    m_step = step;
    return true;
}
