// The filter's device object: turns job options and PPD defaults into device
// settings, holds the job's media record and page image buffer, and writes
// every command packet of a job.
#pragma once

#include "DeviceMediaBufferInfo.h"
#include "HdxImgLib.h"
#include "PacketSink.h"
#include "PageImageBuffer.h"
#include "PrintSettings.h"
#include "SettingsLookup.h"

#include <cups/cups.h>

class DeviceCmd;

// Results, by layer:
// - packet building (DeviceCmd): 0 built, 2 out of memory, 3 invalid
//   argument or malformed data;
// - model and table operations (SetMediaSize, SetMediaInfo,
//   SetOvercoatFinish, UpdateMediaInfo, the image buffer's SetImageData and
//   Send) and the raw writes Write and DeviceIO: 0 done, 3 not possible;
// - command operations (the Send... operations, SetCommand,
//   PrintImageData): 1 when the packet or sheet was written, 0 when it was
//   not. A command the job does not need (no overcoat row, no decurl on the
//   model) also gives 0; OutputError() tells a failure from that;
// - the job driver (FilterJob.h): the exit status, 0 or 1.

// A copy of a row of the model's overcoat table.
struct DeviceOvercoatInfo {
    int32_t id;        // -1 = none
    int32_t code;      // sent with CNTRL/OVERCOAT
    int32_t flag;
    int32_t reserved;
    double minFirmware;
};

// Ranges the image operations accept; settings are clamped into them.
enum {
    kAdjustMin = -1000,
    kAdjustMax = 1000,
    kGammaMin = 1,          // gamma 0 is refused by the gamma table
    kGammaMax = 102400,     // 2^10 x 100
};

class DeviceEntry {
public:
    DeviceEntry();
    virtual ~DeviceEntry();
    DeviceEntry(const DeviceEntry&) = delete;
    DeviceEntry& operator=(const DeviceEntry&) = delete;

    // Model operations.
    virtual int GetHeadWidth() = 0;
    virtual int SetMediaSize(int numOptions, cups_option_t* options, ppdfile_s* ppd) = 0;
    virtual int SetMediaInfo(DeviceMediaBufferInfo& record, long mediaId, double firmware) = 0;
    virtual DeviceMediaBufferInfo GetMultiMediaInfo(const DeviceMediaBufferInfo& record, int count) = 0;
    virtual int GetMultiLayoutNum(const char* jobId) = 0;
    virtual int SetOvercoatFinish(unsigned long code, double firmware) = 0;
    virtual void SetPaperRotate(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    virtual int GetRemainHalf(const char* jobId);
    virtual bool isSupportDecurl() = 0;
    virtual bool isSupportSysTime() = 0;

    // Settings from "Resolution" and the Zpx keywords. SetResolution returns
    // 1 when the media record could be brought to the resolution, else 0.
    int SetResolution(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetBorder(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetSharpness(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetGamma(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetIntensity(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetContrast(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetSaturation(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetColorAdjustment(int numOptions, cups_option_t* options, ppdfile_s* ppd);

    // Command packets; each returns 1 when a packet was written, else 0.
    // A packet that cannot be built or written sets OutputError().
    int SendSysTime();
    int SendCutterMode(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    // True when the job asks for the 2-inch cut (Zpx2InchCut=Enable) on a
    // page size whose media row does not allow it: CUTTER then asks for no cut.
    bool TwoInchCutRefused(int numOptions, cups_option_t* options, ppdfile_s* ppd) const;
    int SendOvercoatFinish(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendPrintRetry(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendPrintSpeed(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendDecurl(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendMediaSize(const DeviceMediaBufferInfo& sheet);

    // Page images and sheets.
    _tagBITMAPHANDLE* MakeImageData(unsigned char* pixels, long width, long height, int unused);
    int SetImageData(int slot, _tagBITMAPHANDLE* image);
    // Prints one sheet of `count` images; 1 when it was sent, else 0.
    int SendImageData(int count);
    int PrintImageData(const DeviceMediaBufferInfo& sheet);

    // Hands one packet of `length` bytes to the output sink; 1 when it was
    // taken, 0 for a null pointer, a zero length or a failed write. After a
    // failed write nothing more is written.
    int SetCommand(const unsigned char* data, unsigned long length);

    // errno of the first packet that could not be written (ENOMEM when it
    // could not be built); 0 while every packet went out.
    int OutputError() const { return m_outputError; }

    // Fills the computed fields of `record` for the job's resolution. 0, or
    // 3 when the vertical resolution is neither 300 nor 600.
    int UpdateMediaInfo(DeviceMediaBufferInfo& record);

    void FreeMediaBuffer();
    int AllocMediaBuffer();
    int Send(const DeviceMediaBufferInfo& sheet);
    int Clear();
    // Write raw bytes or a built packet: 0 written, 3 not.
    int Write(const void* data, int length);
    int DeviceIO(DeviceCmd* command);

    // Where packets go (standard output unless a test says otherwise); a new
    // output starts without error.
    void SetOutputFd(int fd)
    {
        m_fdSink.SetFd(fd);
        SetSink(&m_fdSink);
    }
    // Sends packets to `sink` (not owned; it must outlive the device's use),
    // which is told of the end of every sheet.
    void SetSink(PacketSink* sink)
    {
        m_sink = sink != nullptr ? sink : &m_fdSink;
        m_outputError = 0;
    }

    PageImageBuffer m_imageBuffer;
    DeviceMediaBufferInfo m_media;
    DeviceOvercoatInfo m_overcoat;
    PrintSettings m_settings;        // set by the Set... operations above
    bool m_cutRefusalTold = false;   // the job was told once that its cut is dropped

protected:
    // Builds and writes one packet (a payload of `length` bytes, none for -1);
    // 1 written, 0 not (OutputError() set).
    int SendPacket(const char* command, const char* param, int length, const void* payload);
    int SendValuePacket(const char* command, const char* param, const char* text);
    FdPacketSink m_fdSink{1};
    PacketSink* m_sink = &m_fdSink;
    int m_outputError = 0;
};

// Reads a setting as a base-10 integer the way strtol does (text after the
// number ignored, no number reads as 0), limited to the int range.
int ParseSettingInt(const char* text);
