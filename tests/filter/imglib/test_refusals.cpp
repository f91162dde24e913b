// Every way the image library refuses a call: a null or released record, a
// record of the wrong kind, depth or byte order, a bad level, size or
// structure size. A refused call reports failure and leaves every record it
// was given as it was, pixels and palettes included.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "HdxImgLib.h"
#include "bitmap_fixture.h"

using imgtest::Bitmap24;
using imgtest::OwnedRecord;
using imgtest::Planes;

namespace {

// The records a refused call may be handed: a page, its planes, a wider
// page's planes, an empty target and released records of both kinds.
struct Scene {
    Bitmap24 page{4, 3};
    Planes planes;
    Bitmap24 wider{5, 3};
    Planes widerPlanes;
    OwnedRecord target;
    Bitmap24 released{2, 2};
    Bitmap24 small{2, 1};
    Planes releasedPlanes;
    unsigned char palette[1024] = {};
    unsigned char data[64] = {};
    unsigned char table[256] = {};

    Scene()
    {
        page.fillRandom(11);
        wider.fillRandom(12);
        IL_ColorSeparateBitmap(page.get(), planes.list, 440, 0);
        IL_ColorSeparateBitmap(wider.get(), widerPlanes.list, 440, 0);
        IL_ColorSeparateBitmap(small.get(), releasedPlanes.list, 440, 0);
        IL_FreeBitmap(released.get());
        IL_FreeBitmap(releasedPlanes.list[0]);
    }

    std::vector<_tagBITMAPHANDLE*> Records()
    {
        return {page.get(), planes.list[0], planes.list[1], planes.list[2], wider.get(), widerPlanes.list[0],
                widerPlanes.list[1], widerPlanes.list[2], &target.record, released.get(), releasedPlanes.list[0]};
    }

    // Each record's own bytes, then its pixels and its palette.
    std::vector<unsigned char> Snapshot()
    {
        std::vector<unsigned char> bytes;
        for (_tagBITMAPHANDLE* record : Records()) {
            const auto* raw = reinterpret_cast<const unsigned char*>(record);
            bytes.insert(bytes.end(), raw, raw + sizeof *record);
            if (record->pData != nullptr && record->dataSize > 0)
                bytes.insert(bytes.end(), record->pData, record->pData + record->dataSize);
            if (record->pPalette != nullptr && record->paletteCount > 0)
                bytes.insert(bytes.end(), record->pPalette, record->pPalette + 4 * record->paletteCount);
        }
        return bytes;
    }
};

struct Refusal {
    const char* what;
    std::function<void(Scene&)> prepare;   // may be empty
    std::function<int(Scene&)> call;
};

int Create(Scene& s, int width, int height, int bits, int order, bool palette, int64_t size,
           unsigned int structSize = 440, int kind = 2, int alignment = 4, bool pixels = true)
{
    return IL_CreateBitmap(&s.target.record, structSize, kind, width, height, bits, order,
                           palette ? s.palette : nullptr, alignment, pixels ? s.data : nullptr, size);
}

void SwapOrder(Scene& s) { s.page.get()->byteOrder = 2; }

const Refusal kRefusals[] = {
    // Records.
    {"create: null record", {}, [](Scene& s) {
         return IL_CreateBitmap(nullptr, 440, 2, 1, 1, 24, 1, nullptr, 4, s.data, 4); }},
    {"create: structure too small", {}, [](Scene& s) { return Create(s, 1, 1, 24, 1, false, 4, 439); }},
    {"create: structure size 0", {}, [](Scene& s) { return Create(s, 0, 0, 24, 1, false, 4, 0); }},
    {"create: kind 1", {}, [](Scene& s) { return Create(s, 1, 1, 24, 1, false, 4, 440, 1); }},
    {"create: no columns", {}, [](Scene& s) { return Create(s, 0, 1, 24, 1, false, 4); }},
    {"create: no rows", {}, [](Scene& s) { return Create(s, 1, 0, 24, 1, false, 4); }},
    {"create: negative size", {}, [](Scene& s) { return Create(s, -1, -4, 24, 1, false, 0); }},
    {"create: 64 bits", {}, [](Scene& s) { return Create(s, 1, 1, 64, 1, false, 8); }},
    {"create: 48 bits", {}, [](Scene& s) { return Create(s, 1, 1, 48, 1, false, 8); }},
    {"create: 96 bits", {}, [](Scene& s) { return Create(s, 1, 1, 96, 1, false, 12); }},
    {"create: 1 bit", {}, [](Scene& s) { return Create(s, 1, 1, 1, 1, false, 4); }},
    {"create: 16 bits", {}, [](Scene& s) { return Create(s, 1, 1, 16, 1, false, 4); }},
    {"create: 32 bits", {}, [](Scene& s) { return Create(s, 1, 1, 32, 1, false, 4); }},
    {"create: 2 bits", {}, [](Scene& s) { return Create(s, 1, 1, 2, 1, false, 4); }},
    {"create: 4 bits", {}, [](Scene& s) { return Create(s, 1, 1, 4, 1, false, 4); }},
    {"create: 12 bits", {}, [](Scene& s) { return Create(s, 1, 1, 12, 1, false, 4); }},
    {"create: 0 bits", {}, [](Scene& s) { return Create(s, 1, 1, 0, 1, false, 4); }},
    {"create: -8 bits", {}, [](Scene& s) { return Create(s, 1, 1, -8, 1, false, 4); }},
    {"create: 8 bits in byte order 0", {}, [](Scene& s) { return Create(s, 1, 1, 8, 0, true, 4); }},
    {"create: 8 bits without a palette", {}, [](Scene& s) { return Create(s, 1, 1, 8, 2, false, 4); }},
    {"create: 24 bits with a palette", {}, [](Scene& s) { return Create(s, 1, 1, 24, 1, true, 4); }},
    {"create: byte order 3", {}, [](Scene& s) { return Create(s, 1, 1, 24, 3, false, 4); }},
    {"create: byte order -1", {}, [](Scene& s) { return Create(s, 1, 1, 24, -1, false, 4); }},
    {"create: alignment 1", {}, [](Scene& s) { return Create(s, 1, 1, 24, 1, false, 4, 440, 2, 1); }},
    {"create: no pixels", {}, [](Scene& s) { return Create(s, 1, 1, 24, 1, false, 4, 440, 2, 4, false); }},
    {"create: data a byte short", {}, [](Scene& s) { return Create(s, 1, 1, 24, 1, false, 3); }},
    {"create: data a byte long", {}, [](Scene& s) { return Create(s, 1, 1, 24, 1, false, 5); }},
    {"copy: null target", {}, [](Scene& s) { return IL_CopyBitmapData(nullptr, s.page.get()); }},
    {"copy: null source", {}, [](Scene& s) { return IL_CopyBitmapData(s.wider.get(), nullptr); }},
    {"copy: 8-bit target", {}, [](Scene& s) { return IL_CopyBitmapData(s.planes.list[0], s.page.get()); }},
    {"copy: 8-bit source", {}, [](Scene& s) { return IL_CopyBitmapData(s.page.get(), s.planes.list[0]); }},
    {"copy: released source", {}, [](Scene& s) { return IL_CopyBitmapData(s.page.get(), s.released.get()); }},
    {"copy: released target", {}, [](Scene& s) { return IL_CopyBitmapData(s.released.get(), s.page.get()); }},

    // Resampling, sharpening and saturation of 24-bit pages.
    {"size: null", {}, [](Scene&) { return IL_SizeBitmap(nullptr, 2, 2, 4); }},
    {"size: alignment 1", {}, [](Scene& s) { return IL_SizeBitmap(s.page.get(), 2, 2, 1); }},
    {"size: negative width", {}, [](Scene& s) { return IL_SizeBitmap(s.page.get(), -1, 2, 4); }},
    {"size: byte order 2", SwapOrder, [](Scene& s) { return IL_SizeBitmap(s.page.get(), 2, 2, 4); }},
    {"size: 8-bit plane", {}, [](Scene& s) { return IL_SizeBitmap(s.planes.list[0], 2, 2, 4); }},
    {"size: released", {}, [](Scene& s) { return IL_SizeBitmap(s.released.get(), 2, 2, 4); }},
    {"sharpen: null", {}, [](Scene&) { return IL_SharpenBitmap(nullptr, 0); }},
    {"sharpen: level 1001", {}, [](Scene& s) { return IL_SharpenBitmap(s.page.get(), 1001); }},
    {"sharpen: level -1001", {}, [](Scene& s) { return IL_SharpenBitmap(s.page.get(), -1001); }},
    {"sharpen: byte order 2", SwapOrder, [](Scene& s) { return IL_SharpenBitmap(s.page.get(), 500); }},
    {"sharpen: 8-bit plane", {}, [](Scene& s) { return IL_SharpenBitmap(s.planes.list[0], 500); }},
    {"sharpen: released", {}, [](Scene& s) { return IL_SharpenBitmap(s.released.get(), 500); }},
    {"saturation: null", {}, [](Scene&) { return IL_ChangeBitmapSaturation(nullptr, 0); }},
    {"saturation: level 1001", {}, [](Scene& s) { return IL_ChangeBitmapSaturation(s.page.get(), 1001); }},
    {"saturation: level -1001", {}, [](Scene& s) { return IL_ChangeBitmapSaturation(s.page.get(), -1001); }},
    {"saturation: byte order 2", SwapOrder, [](Scene& s) { return IL_ChangeBitmapSaturation(s.page.get(), 300); }},
    {"saturation: 8-bit plane", {}, [](Scene& s) { return IL_ChangeBitmapSaturation(s.planes.list[0], 300); }},
    {"saturation: released", {}, [](Scene& s) { return IL_ChangeBitmapSaturation(s.released.get(), 300); }},

    // Separation into planes and merging them back.
    {"separate: null source", {}, [](Scene& s) { return IL_ColorSeparateBitmap(nullptr, s.planes.list, 440, 0); }},
    {"separate: structure size 400", {},
     [](Scene& s) { return IL_ColorSeparateBitmap(s.wider.get(), s.planes.list, 400, 0); }},
    {"separate: no plane list", {}, [](Scene& s) { return IL_ColorSeparateBitmap(s.page.get(), nullptr, 440, 0); }},
    {"separate: a plane missing", {}, [](Scene& s) {
         _tagBITMAPHANDLE* missing[3] = {s.planes.list[0], nullptr, s.planes.list[2]};
         return IL_ColorSeparateBitmap(s.wider.get(), missing, 440, 0); }},
    {"separate: flags 1", {}, [](Scene& s) { return IL_ColorSeparateBitmap(s.wider.get(), s.planes.list, 440, 1); }},
    {"separate: byte order 2", SwapOrder,
     [](Scene& s) { return IL_ColorSeparateBitmap(s.page.get(), s.widerPlanes.list, 440, 0); }},
    {"separate: an 8-bit plane", {},
     [](Scene& s) { return IL_ColorSeparateBitmap(s.planes.list[0], s.widerPlanes.list, 440, 0); }},
    {"separate: released", {},
     [](Scene& s) { return IL_ColorSeparateBitmap(s.released.get(), s.planes.list, 440, 0); }},
    {"merge: null target", {}, [](Scene& s) { return IL_ColorMergeBitmap(nullptr, s.planes.list, 440, 0); }},
    {"merge: structure size 441", {},
     [](Scene& s) { return IL_ColorMergeBitmap(&s.target.record, s.planes.list, 441, 0); }},
    {"merge: no plane list", {}, [](Scene& s) { return IL_ColorMergeBitmap(&s.target.record, nullptr, 440, 0); }},
    {"merge: a plane missing", {}, [](Scene& s) {
         _tagBITMAPHANDLE* missing[3] = {s.planes.list[0], nullptr, s.planes.list[2]};
         return IL_ColorMergeBitmap(&s.target.record, missing, 440, 0); }},
    {"merge: flags 2", {}, [](Scene& s) { return IL_ColorMergeBitmap(&s.target.record, s.planes.list, 440, 2); }},
    {"merge: planes of two sizes", {}, [](Scene& s) {
         _tagBITMAPHANDLE* mixed[3] = {s.planes.list[0], s.widerPlanes.list[1], s.planes.list[2]};
         return IL_ColorMergeBitmap(&s.target.record, mixed, 440, 0); }},
    {"merge: a 24-bit page as a plane", {}, [](Scene& s) {
         _tagBITMAPHANDLE* withPage[3] = {s.planes.list[0], s.planes.list[1], s.page.get()};
         return IL_ColorMergeBitmap(&s.target.record, withPage, 440, 0); }},
    {"merge: a 16-entry palette", [](Scene& s) { s.planes.records[1].paletteCount = 16; },
     [](Scene& s) { return IL_ColorMergeBitmap(&s.target.record, s.planes.list, 440, 0); }},
    {"merge: a plane in byte order 1", [](Scene& s) { s.planes.records[2].byteOrder = 1; },
     [](Scene& s) { return IL_ColorMergeBitmap(&s.target.record, s.planes.list, 440, 0); }},

    // The palette tables of a plane.
    {"gamma: null", {}, [](Scene&) { return IL_GammaCorrectBitmap(nullptr, 100); }},
    {"intensity: null", {}, [](Scene&) { return IL_ChangeBitmapIntensity(nullptr, 0); }},
    {"contrast: null", {}, [](Scene&) { return IL_ChangeBitmapContrast(nullptr, 0); }},
    {"table: null plane", {}, [](Scene& s) { return ConvertLUT8(nullptr, s.table); }},
    {"gamma: 0", {}, [](Scene& s) { return IL_GammaCorrectBitmap(s.planes.list[0], 0); }},
    {"intensity: 1001", {}, [](Scene& s) { return IL_ChangeBitmapIntensity(s.planes.list[0], 1001); }},
    {"intensity: -1001", {}, [](Scene& s) { return IL_ChangeBitmapIntensity(s.planes.list[0], -1001); }},
    {"contrast: 1001", {}, [](Scene& s) { return IL_ChangeBitmapContrast(s.planes.list[0], 1001); }},
    {"contrast: -1001", {}, [](Scene& s) { return IL_ChangeBitmapContrast(s.planes.list[0], -1001); }},
    {"table: null table", {}, [](Scene& s) { return ConvertLUT8(s.planes.list[0], nullptr); }},
    {"gamma: 255-entry palette", [](Scene& s) { s.planes.records[0].paletteCount = 255; },
     [](Scene& s) { return IL_GammaCorrectBitmap(s.planes.list[0], 200); }},
    {"intensity: 255-entry palette", [](Scene& s) { s.planes.records[0].paletteCount = 255; },
     [](Scene& s) { return IL_ChangeBitmapIntensity(s.planes.list[0], 100); }},
    {"gamma: 24-bit page", {}, [](Scene& s) { return IL_GammaCorrectBitmap(s.page.get(), 200); }},
    {"intensity: 24-bit page", {}, [](Scene& s) { return IL_ChangeBitmapIntensity(s.page.get(), 100); }},
    {"contrast: 24-bit page", {}, [](Scene& s) { return IL_ChangeBitmapContrast(s.page.get(), 100); }},
    {"table: 24-bit page", {}, [](Scene& s) { return ConvertLUT8(s.page.get(), s.table); }},
    {"gamma: released plane", {}, [](Scene& s) { return IL_GammaCorrectBitmap(s.releasedPlanes.list[0], 200); }},
    {"intensity: released plane", {},
     [](Scene& s) { return IL_ChangeBitmapIntensity(s.releasedPlanes.list[0], 100); }},
    {"contrast: released plane", {},
     [](Scene& s) { return IL_ChangeBitmapContrast(s.releasedPlanes.list[0], 100); }},
};

TEST(ImageLibrary, RefusedCallsLeaveEveryRecordAlone)
{
    for (const Refusal& refusal : kRefusals) {
        SCOPED_TRACE(refusal.what);
        Scene scene;
        ASSERT_EQ(scene.page.created(), IL_SUCCESS);
        ASSERT_NE(scene.planes.records[2].pData, nullptr);
        ASSERT_NE(scene.releasedPlanes.records[1].pData, nullptr);
        if (refusal.prepare)
            refusal.prepare(scene);
        const std::vector<unsigned char> before = scene.Snapshot();
        EXPECT_NE(refusal.call(scene), IL_SUCCESS);
        EXPECT_TRUE(scene.Snapshot() == before) << "a record changed";
    }
}

// Merging into a record that holds an earlier merge replaces its block
// (the sanitizer tree sees a leak otherwise).
TEST(ImageLibrary, MergingAgainReplacesTheEarlierBlock)
{
    Bitmap24 page(2, 2);
    page.fillRandom(5);
    Planes planes;
    ASSERT_EQ(IL_ColorSeparateBitmap(page.get(), planes.list, 440, 0), IL_SUCCESS);
    OwnedRecord target;
    ASSERT_EQ(IL_ColorMergeBitmap(&target.record, planes.list, 440, 0), IL_SUCCESS);
    EXPECT_EQ(IL_ColorMergeBitmap(&target.record, planes.list, 440, 0), IL_SUCCESS);
}

}  // namespace
