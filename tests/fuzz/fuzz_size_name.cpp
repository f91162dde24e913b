// Page size names from a job's options (media=..., PageSize=...): every
// name gives one of the six media ids or the unknown one.
#include "DeviceEntryRT50.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    const int id = MediaIdForPageSize_RT50(name.c_str());
    if (id != kUnknownMediaId && (id < 91 || id > 96))
        std::abort();
    return 0;
}
