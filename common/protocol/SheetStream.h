// The gate a command stream passes before it reaches the printer: only the
// commands the package's filter writes, in the order it writes them, with
// payloads of their shape. Per sheet:
//
//   [CNTRL SET_SYS_TIME]  CNTRL CUTTER, OVERCOAT, BUFFCNTRL, PRINTSPEED,
//   DECURL (each optional, in this order)  IMAGE MULTICUT  IMAGE YPLANE,
//   MPLANE, CPLANE (8-bit plane bitmaps of one size, at most the head's
//   1408 dots by the longest page's 4872 rows)  CNTRL START
//
// So a sheet is never larger than kLargestSheetBytes, which bounds what a
// sender buffers. The gate sees each packet's header, then the first
// PayloadPrefix bytes of its payload, before any byte of it is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The longest page (8 in at 600 dpi) and the head's width.
constexpr int kLargestPlaneRows = 4872;
constexpr int kHeadDots = 1408;
// Every packet of the largest sheet, settings and three planes.
extern const size_t kLargestSheetBytes;

class SheetStream {
public:
    // A packet's header: its command, parameter, whether its length field
    // held digits, and the payload length. False (Error() says why) when the
    // packet may not come here.
    bool Header(const std::string& name, const std::string& param, bool hasLength, size_t length);

    // Payload bytes the gate needs to see of the packet whose header passed.
    size_t PayloadPrefix() const;

    // The first PayloadPrefix() bytes of the payload. False: refused.
    bool Payload(const uint8_t* data, size_t length);

    // True when the packet that passed was the sheet's START: the next
    // packet begins a new sheet.
    bool SheetEnded() const { return m_step == kStepStart; }

    // The MULTICUT code of the sheet being read (47..52), 0 before it came.
    int Multicut() const { return m_multicut; }

    // Whether the stream stands between sheets.
    bool BetweenSheets() const { return m_step == kStepNone || m_step == kStepStart; }

    // Whether packets of a sheet came after the last START (more than the
    // clock): a stream that ends here was cut short.
    bool InsideSheet() const { return !BetweenSheets() && m_step != kStepClock; }

    const std::string& Error() const { return m_error; }

private:
    // Steps of a sheet in the filter's order; a packet's step must be above
    // the previous one's (planes and START exactly one above).
    enum Step {
        kStepNone, kStepClock, kStepCutter, kStepOvercoat, kStepBuffer, kStepSpeed, kStepDecurl,
        kStepMulticut, kStepYPlane, kStepMPlane, kStepCPlane, kStepStart,
    };

    bool Refuse(const std::string& why);

    int m_step = kStepNone;        // of the last packet that passed
    int m_pending = kStepNone;     // of the packet whose payload is awaited
    size_t m_length = 0;           // its payload length
    int m_multicut = 0;
    int m_planeWidth = 0;
    int m_planeHeight = 0;
    std::string m_error;
};
