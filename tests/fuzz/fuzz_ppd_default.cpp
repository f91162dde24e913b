// Fuzzes the PPD *Default reader with arbitrary PPD text: look-ups of the
// filter's keywords and of a keyword taken from the input itself must stay
// within the handle's buffer and return terminated values.
#include "Common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size == 0)
        return 0;
    // fmemopen needs a writable copy of the text.
    std::string text(reinterpret_cast<const char*>(data), size);
    ppdfile_s* ppd = static_cast<ppdfile_s*>(std::calloc(1, sizeof(ppdfile_s)));
    if (ppd == nullptr)
        return 0;
    ppd->file = fmemopen(text.data(), text.size(), "r");
    if (ppd->file == nullptr) {
        std::free(ppd);
        return 0;
    }
    static const char* const kKeywords[] = {"PageSize", "Resolution", "ZpxBorder", "ZpxSharpness", "ZpxGamma",
                                            "ZpxBrightnessR", "ZpxOvercoatFinish", "ZpxDecurl"};
    for (const char* keyword : kKeywords) {
        const char* value = wrappedPpdFindDefChoice(ppd, keyword);
        if (value != nullptr && std::strlen(value) >= sizeof ppd->value)
            std::abort();
    }
    // A keyword from the first line of the input, whatever its length.
    const std::string keyword = text.substr(0, text.find('\n'));
    const char* value = wrappedPpdFindDefChoice(ppd, keyword.c_str());
    if (value != nullptr && std::strlen(value) >= sizeof ppd->value)
        std::abort();
    wrappedPpdClose(ppd);
    return 0;
}
