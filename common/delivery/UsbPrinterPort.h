// The exchanges of a PrinterPort over libusb, on the handle that the
// program holds: the backend its own, the printer application the one its
// registry attached (under an I/O lock for each exchange). Programs derive
// from it and add their side (waiting for a return, cancel, reports).
#pragma once

#include "PrinterPort.h"

#include <libusb.h>

// The life counter of the printer on `handle`, -1 when not answered.
// `patient`: wait for a printer that saves power.
long ReadLifeCounter(libusb_device_handle* handle, bool patient);

class UsbPrinterPort : public PrinterPort {
public:
    WriteResult Write(const uint8_t* data, size_t length, unsigned int timeoutMs, size_t* took) override;
    int64_t Status() override;
    long Counter(bool patient) override;
    int Media() override;
    bool Reset() override;
    void ClearHalt() override;
    bool Gone() override;

protected:
    // The handle for one exchange, usable until ReleaseHandle; null while
    // the printer is away (then ReleaseHandle is not called).
    virtual libusb_device_handle* AcquireHandle() = 0;
    virtual void ReleaseHandle() {}

    // The printer came back on a new plug: Gone judges the new handle.
    void NewPlug() { m_last = nullptr; }

    // The handle of the last exchange (null before any): the plug that left.
    libusb_device_handle* LastHandle() const { return m_last; }

private:
    libusb_device_handle* m_last = nullptr;   // the handle of the last exchange
};
