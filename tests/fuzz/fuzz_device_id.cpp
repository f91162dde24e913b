// The printer's IEEE 1284 device ID as it comes from USB: the GET_DEVICE_ID
// reply with its two length bytes, unpacked into a buffer of a size the
// first input byte picks, then read for maker and model into a model buffer
// of a size the second byte picks. Both buffers are exactly their size, so
// a write past either is caught.
#include "PrinterIdentity.h"
#include "UsbTransfer.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t idSize = 1 + static_cast<size_t>(data[0]) * 16;
    const size_t modelSize = 1 + data[1] % 160;
    data += 2;
    size -= 2;

    std::vector<char> id(idSize, 'x');
    const size_t received = size < idSize ? size : idSize;
    std::memcpy(id.data(), data, received);
    const int unpacked = UnpackDeviceId(id.data(), id.size(), static_cast<int>(received));
    if (std::memchr(id.data(), 0, id.size()) == nullptr)
        __builtin_trap();   // always terminated inside the buffer
    if (unpacked != 0 && id[0] != '\0')
        __builtin_trap();   // emptied on failure

    std::vector<char> model(modelSize, 'x');
    if (ParseRt50DeviceId(id.data(), model.data(), model.size()) &&
        std::memchr(model.data(), 0, model.size()) == nullptr)
        __builtin_trap();
    return 0;
}
