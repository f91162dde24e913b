#include "DeviceEntry.h"

#include "CommandPackets.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

// Strength of IL_SharpenBitmap for ZpxSharpness -2..8.
const int32_t kSharpnessLevels[] = {-1000, -500, 0, 650, 700, 750, 800, 850, 900, 950, 1000};

int32_t Clamp(long long value, long long low, long long high)
{
    return static_cast<int32_t>(value < low ? low : (value > high ? high : value));
}

bool Equals(const char* value, const char* expected)
{
    return value != nullptr && std::strcmp(value, expected) == 0;
}

// Gamma in hundredths for a ZpxGamma value n: 2^(n/100) x 100, kept within
// what the gamma table accepts.
int32_t GammaFromSetting(int n)
{
    const int limited = Clamp(n, -1000, 1000);
    return Clamp(static_cast<long long>(std::pow(2.0, limited / 100.0) * 100.0), kGammaMin, kGammaMax);
}

}  // namespace

int ParseSettingInt(const char* text)
{
    if (text == nullptr)
        return 0;
    errno = 0;
    const long value = std::strtol(text, nullptr, 10);
    return Clamp(value, INT_MIN, INT_MAX);
}

namespace {

// A colour adjustment of the three channels: `key` sets all three, else
// `key` R, G and B each its own (0 when unset); each value times `scale`,
// kept within the adjustments' range.
void ReadAdjustment(const char* key, long long scale, int32_t channels[3], int numOptions, cups_option_t* options,
                    ppdfile_s* ppd)
{
    const char* value = _GetCupsValue(key, numOptions, options, ppd);
    if (value != nullptr) {
        channels[0] = channels[1] = channels[2] = Clamp(scale * ParseSettingInt(value), kAdjustMin, kAdjustMax);
        return;
    }
    static const char kSuffixes[3] = {'R', 'G', 'B'};
    for (int i = 0; i < 3; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%c", key, kSuffixes[i]);
        const char* channel = _GetCupsValue(name, numOptions, options, ppd);
        channels[i] = channel != nullptr ? Clamp(scale * ParseSettingInt(channel), kAdjustMin, kAdjustMax) : 0;
    }
}

}  // namespace

DeviceEntry::DeviceEntry()
    : m_media(EmptyMediaInfo())
{
    m_overcoat = DeviceOvercoatInfo{-1, 0, 0, 0, 0.0};
}

DeviceEntry::~DeviceEntry()
{
    FreeMediaBuffer();
}

void DeviceEntry::SetPaperRotate(int, cups_option_t*, ppdfile_s*)
{
    m_settings.paperRotate = false;
}

int DeviceEntry::GetRemainHalf(const char*)
{
    return 0;
}

int DeviceEntry::SetResolution(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    const char* value = _GetCupsValue("Resolution", numOptions, options, ppd);
    if (Equals(value, "300x600dpi")) {
        m_settings.resolutionMode = 1;
        m_settings.resolutionY = 600;
    } else if (Equals(value, "600x600dpi")) {
        m_settings.resolutionMode = 2;
        m_settings.resolutionY = 600;
    } else {
        m_settings.resolutionMode = 0;
        m_settings.resolutionY = 300;
    }
    return UpdateMediaInfo(m_media) == 0 ? 1 : 0;
}

void DeviceEntry::SetBorder(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    m_settings.border = Equals(_GetCupsValue("ZpxBorder", numOptions, options, ppd), "Enable");
}

void DeviceEntry::SetSharpness(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    const char* value = _GetCupsValue("ZpxSharpness", numOptions, options, ppd);
    m_settings.sharpness = 0;
    if (value == nullptr)
        return;
    const int n = ParseSettingInt(value);
    if (n >= -2 && n <= 8)
        m_settings.sharpness = kSharpnessLevels[n + 2];
}

void DeviceEntry::SetGamma(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    const char* value = _GetCupsValue("ZpxGamma", numOptions, options, ppd);
    if (value != nullptr) {
        const int32_t gamma = GammaFromSetting(ParseSettingInt(value));
        m_settings.gamma[0] = m_settings.gamma[1] = m_settings.gamma[2] = gamma;
        return;
    }
    const char* keys[3] = {"ZpxGammaR", "ZpxGammaG", "ZpxGammaB"};
    for (int i = 0; i < 3; ++i) {
        const char* channel = _GetCupsValue(keys[i], numOptions, options, ppd);
        m_settings.gamma[i] = channel != nullptr ? GammaFromSetting(ParseSettingInt(channel)) : 100;
    }
}

void DeviceEntry::SetIntensity(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    ReadAdjustment("ZpxBrightness", 2, m_settings.brightness, numOptions, options, ppd);
}

void DeviceEntry::SetContrast(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    ReadAdjustment("ZpxContrast", 10, m_settings.contrast, numOptions, options, ppd);
}

void DeviceEntry::SetSaturation(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    const char* value = _GetCupsValue("ZpxChroma", numOptions, options, ppd);
    m_settings.chroma = value != nullptr ? Clamp(10LL * ParseSettingInt(value), kAdjustMin, kAdjustMax) : 0;
}

void DeviceEntry::SetColorAdjustment(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    m_settings.colorAdjustment = Equals(_GetCupsValue("ZpxColorAdjustment", numOptions, options, ppd), "Enable");
}

int DeviceEntry::SendPacket(const char* command, const char* param, int length, const void* payload)
{
    if (m_outputError != 0)
        return 0;
    DeviceCmd packet;
    const int built = packet.MakeCmd(command, param, length, payload);
    if (built != 0) {
        m_outputError = built == 2 ? ENOMEM : EINVAL;
        return 0;
    }
    const int written = SetCommand(packet.GetBuffer(), static_cast<unsigned long>(packet.GetLength()));
    packet.Free();
    return written;
}

int DeviceEntry::SendValuePacket(const char* command, const char* param, const char* text)
{
    return SendPacket(command, param, static_cast<int>(std::strlen(text)), text);
}

int DeviceEntry::SendSysTime()
{
    if (!isSupportSysTime())
        return 0;
    const time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char payload[32] = {};
    std::snprintf(payload, sizeof payload, "%04d%02d%02d%02d%02d%02d", (local.tm_year + 1900) % 10000,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    payload[14] = '\r';
    payload[15] = '\0';
    return SendPacket("CNTRL", "SET_SYS_TIME", 16, payload);
}

bool DeviceEntry::TwoInchCutRefused(int numOptions, cups_option_t* options, ppdfile_s* ppd) const
{
    return Equals(_GetCupsValue("Zpx2InchCut", numOptions, options, ppd), "Enable") && m_media.mediaId != -1 &&
           m_media.twoInchCut != 1;
}

int DeviceEntry::SendCutterMode(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    const bool twoInch = Equals(_GetCupsValue("Zpx2InchCut", numOptions, options, ppd), "Enable") &&
                         m_media.twoInchCut == 1;
    char text[16];
    std::snprintf(text, sizeof text, "%08ld", twoInch ? 120L : 0L);
    return SendValuePacket("CNTRL", "CUTTER", text);
}

int DeviceEntry::SendOvercoatFinish(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    const char* value = _GetCupsValue("ZpxOvercoatFinish", numOptions, options, ppd);
    unsigned long code = 0;
    if (Equals(value, "Matte"))
        code = 1;
    else if (Equals(value, "FineMatte"))
        code = 21;
    else if (Equals(value, "Luster"))
        code = 22;
    double firmware = 0.0;
    if (_GetFirmwVersion(0, &firmware) != 0)
        return 0;
    if (SetOvercoatFinish(code, firmware) != 0)
        return 0;
    char text[16];
    std::snprintf(text, sizeof text, "%08d", m_overcoat.code);
    return SendValuePacket("CNTRL", "OVERCOAT", text);
}

int DeviceEntry::SendPrintRetry(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    const bool disabled = Equals(_GetCupsValue("ZpxPrintRetry", numOptions, options, ppd), "Disable");
    char text[16];
    std::snprintf(text, sizeof text, "%08d", disabled ? 0 : 1);
    return SendValuePacket("CNTRL", "BUFFCNTRL", text);
}

int DeviceEntry::SendPrintSpeed(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    const bool fast = Equals(_GetCupsValue("ZpxPrintSpeed", numOptions, options, ppd), "Enable");
    char text[16];
    std::snprintf(text, sizeof text, "%08d", fast ? 20 : 0);
    return SendValuePacket("CNTRL", "PRINTSPEED", text);
}

int DeviceEntry::SendDecurl(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    if (!isSupportDecurl())
        return 0;
    const char* value = _GetCupsValue("ZpxDecurl", numOptions, options, ppd);
    int decurl = 2;
    if (Equals(value, "Enable"))
        decurl = 1;
    else if (Equals(value, "Disable"))
        decurl = 0;
    char text[16];
    std::snprintf(text, sizeof text, "%02d0000000000", decurl);
    return SendValuePacket("CNTRL", "DECURL", text);
}

int DeviceEntry::SendMediaSize(const DeviceMediaBufferInfo& sheet)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08d", sheet.multicutCode);
    return SendValuePacket("IMAGE", "MULTICUT", text);
}

_tagBITMAPHANDLE* DeviceEntry::MakeImageData(unsigned char* pixels, long width, long height, int)
{
    m_imageBuffer.Alloc(m_media);
    return m_imageBuffer.ColorProcess(pixels, width, height, m_settings);
}

int DeviceEntry::SetImageData(int slot, _tagBITMAPHANDLE* image)
{
    return m_imageBuffer.SetImageData(slot, image);
}

int DeviceEntry::SendImageData(int count)
{
    const DeviceMediaBufferInfo sheet = count <= 1 ? m_media : GetMultiMediaInfo(m_media, count);
    if (PrintImageData(sheet) != 1)
        return 0;
    m_imageBuffer.Clear();
    return 1;
}

int DeviceEntry::PrintImageData(const DeviceMediaBufferInfo& sheet)
{
    if (SendMediaSize(sheet) != 1)
        return 0;
    if (m_imageBuffer.Send(this, sheet) != 0)
        return 0;
    if (SendPacket("CNTRL", "START", -1, nullptr) != 1)
        return 0;
    const int error = m_sink->EndSheet();
    if (error != 0) {
        m_outputError = error;
        return 0;
    }
    return 1;
}

int DeviceEntry::SetCommand(const unsigned char* data, unsigned long length)
{
    // After a failed write the stream has a gap: nothing more may follow.
    if (data == nullptr || length == 0 || m_outputError != 0)
        return 0;
    const int error = m_sink->TakePacket(data, length);
    if (error != 0) {
        m_outputError = error;
        return 0;
    }
    return 1;
}

int DeviceEntry::UpdateMediaInfo(DeviceMediaBufferInfo& record)
{
    if (m_settings.resolutionY != 300 && m_settings.resolutionY != 600)
        return 3;
    if (record.mediaId == -1)
        return 0;
    // A table resolution of 0 would divide by zero; such a record has no
    // usable geometry.
    if (record.tableResolution <= 0)
        return 3;
    const int64_t table = record.tableResolution;
    record.headWidth = GetHeadWidth();
    record.resolutionX = 300;
    record.resolutionY = m_settings.resolutionY;
    record.planePageWidth = static_cast<int32_t>(record.pageWidth * int64_t{300} / table);
    record.planeHeight = static_cast<int32_t>(record.pageHeight * m_settings.resolutionY / table);
    record.planeImageWidth = static_cast<int32_t>(record.imageWidth * int64_t{300} / table);
    record.planeImageHeight = static_cast<int32_t>(record.imageHeight * m_settings.resolutionY / table);
    record.planeImageGap = static_cast<int32_t>(record.imageGap * m_settings.resolutionY / table);
    record.planeImagesPerSheet = record.imagesPerSheet;
    return 0;
}

void DeviceEntry::FreeMediaBuffer()
{
    m_imageBuffer.Free();
}

int DeviceEntry::AllocMediaBuffer()
{
    return m_imageBuffer.Alloc(m_media);
}

int DeviceEntry::Send(const DeviceMediaBufferInfo& sheet)
{
    return m_imageBuffer.Send(this, sheet);
}

int DeviceEntry::Clear()
{
    return m_imageBuffer.Clear();
}

int DeviceEntry::Write(const void* data, int length)
{
    if (data == nullptr || length <= 0)
        return 3;
    return SetCommand(static_cast<const unsigned char*>(data), static_cast<unsigned long>(length)) == 1 ? 0 : 3;
}

int DeviceEntry::DeviceIO(DeviceCmd* command)
{
    if (command == nullptr || command->GetBuffer() == nullptr)
        return 3;
    return SetCommand(command->GetBuffer(), static_cast<unsigned long>(command->GetLength())) == 1 ? 0 : 3;
}
