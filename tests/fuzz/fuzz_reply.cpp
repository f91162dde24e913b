// Reply acceptance and value extraction over arbitrary bytes, for each kind of
// expected length. The first input byte picks the kind and the destination
// size; the rest is what the printer sent.
#include "ReplyPackets.h"
#include "TextFields.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const int kExpected[] = {-1, 8, 1, 16, 4088, 0};
    const uint8_t selector = data[0];
    const int expected = kExpected[selector % 6];
    const char* prefix = (selector & 0x40) ? "MEDIA" : nullptr;
    data++;
    size--;

    DeviceRecv recv(expected, prefix);
    if (recv.Alloc() != 0)
        return 0;
    const size_t room = static_cast<size_t>(recv.GetBufferLength());
    if (recv.GetBuffer() != nullptr)
        std::memcpy(recv.GetBuffer(), data, size < room ? size : room);

    (void)_TextToInt(reinterpret_cast<const char*>(data), static_cast<int>(size < 600 ? size : 600));
    const int verdict = recv.CheckData();

    std::vector<char> dst(1 + (selector >> 3) % 80);
    recv.GetEffectiveDataAsString(dst.data(), dst.size());
    if (std::memchr(dst.data(), 0, dst.size()) == nullptr)
        __builtin_trap();  // the value must always be terminated inside dst
    (void)verdict;
    return 0;
}
