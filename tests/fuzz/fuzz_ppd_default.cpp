// The *Default reader over arbitrary PPD text: every look-up ends in a
// terminated value inside the handle, or null.
#include "SettingsLookup.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One scratch file per run, removed when the fuzzer exits.
    static const struct Scratch {
        std::string path = "/tmp/fuzz_ppd_default." + std::to_string(getpid()) + ".ppd";
        ~Scratch() { unlink(path.c_str()); }
    } scratch;
    const std::string& path = scratch.path;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    ppdfile_s* ppd = wrappedPpdOpenFile(path.c_str());
    if (ppd == nullptr)
        return 0;
    static const char* const kKeywords[] = {
        "PageSize", "Resolution", "ZpxBorder", "ZpxSharpness", "ZpxGamma", "ZpxGammaR",
        "ZpxOvercoatFinish", "Zpx2InchCut", "", "AVeryLongKeywordThatIsLongerThanAnyKeywordInAnyPpdFileWeKnowOfAndThenSomeMoreTextToFillTheBufferToTheBrimAndBeyondSoThatThePrefixNoLongerFitsIntoItsTwoHundredAndFiftySixByteBufferWhichTheReaderMustRefuseInsteadOfWritingPastItsEndXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX",
    };
    for (const char* keyword : kKeywords) {
        const char* value = wrappedPpdFindDefChoice(ppd, keyword);
        if (value != nullptr && std::memchr(ppd->value, 0, sizeof ppd->value) == nullptr)
            __builtin_trap();
        const char* setting = _GetCupsValue(keyword, 0, nullptr, ppd);
        (void)setting;
    }
    wrappedPpdClose(ppd);
    return 0;
}
