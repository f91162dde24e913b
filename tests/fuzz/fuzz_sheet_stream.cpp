// The gate of the filter's command order with the sending around it: any
// bytes, handed over in pieces of any size, to a printer that takes
// everything, with the first sheets dropped as printed by an earlier run.
#include "PrinterPort.h"
#include "SheetSender.h"

#include <algorithm>
#include <cstdint>

namespace {

class TakingPrinter : public PrinterPort {
public:
    WriteResult Write(const uint8_t*, size_t length, unsigned int, size_t* took) override
    {
        *took = length;
        return WriteResult::kDone;
    }
    int64_t Status() override { return 0; }
    long Counter(bool) override { return m_counter++; }
    int Media() override { return 161; }
    bool Reset() override { return true; }
    void ClearHalt() override {}
    bool Gone() override { return false; }
    Return AwaitReturn() override { return Return::kGaveUp; }
    bool Canceled() override { return false; }

private:
    long m_counter = 100;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Two bytes of settings: the size of the pieces, the sheets to skip.
    if (size < 2)
        return 0;
    const size_t piece = 1 + static_cast<size_t>(data[0]) * 37;
    const int skip = data[1] % 3;
    data += 2;
    size -= 2;
    TakingPrinter printer;
    SendTiming timing;
    timing.statusIntervalMs = 0;
    timing.stallLimitMs = 0;
    timing.progressLimitMs = 0;
    SheetSender sender(printer, timing);
    sender.SkipSheets(skip);
    size_t at = 0;
    for (;;) {
        const SheetSender::Outcome outcome = sender.Run();
        if (outcome == SheetSender::kSheetTaken)
            continue;
        if (outcome != SheetSender::kNeedData)
            break;
        if (at == size) {
            sender.EndData();
            continue;
        }
        const size_t length = std::min(piece, size - at);
        sender.Append(data + at, length);
        at += length;
    }
    (void)sender.EndedInsideSheet();
    (void)sender.Delivered("S1");
    sender.LeavePrinterClean();
    return 0;
}
