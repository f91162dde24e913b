#include "MediaSets.h"

#include <cstring>
#include <string>

namespace {

constexpr PageSize kPageSizes[] = {
    {47, "102x102mm", 102, 102}, {48, "102x153mm", 102, 153}, {49, "102x204mm", 102, 204},
    {50, "115x115mm", 115, 115}, {51, "115x153mm", 115, 153}, {52, "115x204mm", 115, 204},
};

// Smallest first: a sheet's needs name the smaller set first.
constexpr MediaSet kMediaSets[] = {
    {150, "4x6in", 102, 153},
    {161, "4.5x8in", 115, 204},
};

constexpr int kPageSizeCount = sizeof kPageSizes / sizeof kPageSizes[0];
constexpr int kMediaSetCount = sizeof kMediaSets / sizeof kMediaSets[0];

bool Fits(const PageSize& size, const MediaSet& set)
{
    return size.widthMm <= set.widthMm && size.lengthMm <= set.lengthMm;
}

std::string SetText(const MediaSet& set)
{
    return std::string(set.name) + " media (code " + std::to_string(set.code) + ")";
}

// The texts made from the tables once, for callers that keep a const char*.
struct Texts {
    std::string needed[kPageSizeCount];   // by index into kPageSizes
    std::string largestSet;               // what an unknown page size needs
    std::string set[kMediaSetCount];      // by index into kMediaSets

    Texts()
    {
        largestSet = SetText(kMediaSets[kMediaSetCount - 1]);
        for (int s = 0; s < kMediaSetCount; ++s)
            set[s] = SetText(kMediaSets[s]);
        for (int p = 0; p < kPageSizeCount; ++p) {
            for (int s = 0; s < kMediaSetCount; ++s) {
                if (Fits(kPageSizes[p], kMediaSets[s]))
                    needed[p] += (needed[p].empty() ? "" : " or ") + set[s];
            }
        }
    }
};

const Texts& TheTexts()
{
    static const Texts texts;
    return texts;
}

}  // namespace

const PageSize* FindPageSize(int multicut)
{
    for (const PageSize& size : kPageSizes) {
        if (size.multicut == multicut)
            return &size;
    }
    return nullptr;
}

const MediaSet* FindMediaSet(int mediaCode)
{
    for (const MediaSet& set : kMediaSets) {
        if (set.code == mediaCode)
            return &set;
    }
    return nullptr;
}

bool MediaPrintsSheet(int media, int multicut)
{
    const PageSize* size = FindPageSize(multicut);
    const MediaSet* set = FindMediaSet(media);
    // Other media codes are left to the printer, which refuses what it
    // cannot print (status 1500).
    if (size == nullptr || set == nullptr)
        return true;
    return Fits(*size, *set);
}

const char* MediaNeededFor(int multicut)
{
    const PageSize* size = FindPageSize(multicut);
    const Texts& texts = TheTexts();
    return size != nullptr ? texts.needed[size - kPageSizes].c_str() : texts.largestSet.c_str();
}

const char* MediaSetText(int mediaCode)
{
    const MediaSet* set = FindMediaSet(mediaCode);
    return set != nullptr ? TheTexts().set[set - kMediaSets].c_str() : "unknown media";
}

const char* MediaSetName(int mediaCode)
{
    const MediaSet* set = FindMediaSet(mediaCode);
    return set != nullptr ? set->name : nullptr;
}

const char* ReadyPageSizeOf(int mediaCode)
{
    const MediaSet* set = FindMediaSet(mediaCode);
    if (set == nullptr)
        return nullptr;
    for (const PageSize& size : kPageSizes) {
        if (size.widthMm == set->widthMm && size.lengthMm == set->lengthMm)
            return size.name;
    }
    return nullptr;
}

const char* PageSizeOfMulticut(int multicut)
{
    const PageSize* size = FindPageSize(multicut);
    return size != nullptr ? size->name : "?";
}

int MulticutOfPageSize(const char* name)
{
    for (const PageSize& size : kPageSizes) {
        if (name != nullptr && std::strcmp(size.name, name) == 0)
            return size.multicut;
    }
    return 0;
}
