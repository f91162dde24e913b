// Speed of the image library's operations and of the filter's whole page
// path on a 4x6 page at 300 dpi (1266 x 1836) and a 600 dpi page
// (2532 x 3672), with the literal reference versions of the hot operations
// alongside for the speed-up. Run through tools/run-benchmarks.sh.
//
// Touching fresh memory is expensive on virtual machines (page faults), and
// how often a benchmark does so depends on the allocator's state. So the
// allocator is told to keep freed memory (the steady state of a filter
// printing page after page), and BM_PagePathCold hands all free memory back
// before each run, as the first page of a job sees it.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstring>
#include <vector>

#include "HdxImgLib.h"
#include "HdxImgLib_LinuxDef.h"
#include "page_path.h"
#include "photo_pattern.h"
#include "reference.h"

namespace {

// The literal reference versions behind the library's signatures, so that
// the speed-up is measured in the same run and on the same machine load.
int LiteralSizeBitmap(_tagBITMAPHANDLE* bitmap, int newWidth, int newHeight, int /*alignment*/)
{
    const std::vector<unsigned char> pixels = reference::SizeBitmap(*bitmap, newWidth, newHeight);
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, pixels.size());
    std::memcpy(GlobalLock(handle), pixels.data(), pixels.size());
    if (bitmap->hMemory != nullptr)
        GlobalFree(bitmap->hMemory);
    bitmap->hMemory = handle;
    bitmap->pData = static_cast<unsigned char*>(handle);
    bitmap->width = newWidth;
    bitmap->height = newHeight;
    bitmap->bytesPerRow = static_cast<int32_t>(pixels.size() / newHeight);
    bitmap->dataSize = static_cast<int64_t>(pixels.size());
    return IL_SUCCESS;
}

int LiteralSharpen(_tagBITMAPHANDLE* bitmap, int level)
{
    reference::SharpenBitmap(*bitmap, level);
    return IL_SUCCESS;
}

int LiteralSaturation(_tagBITMAPHANDLE* bitmap, int level)
{
    reference::ChangeBitmapSaturation(*bitmap, level);
    return IL_SUCCESS;
}

imgtest::PageOperations LiteralOperations()
{
    imgtest::PageOperations ops;
    ops.sizeBitmap = LiteralSizeBitmap;
    ops.sharpen = LiteralSharpen;
    ops.saturation = LiteralSaturation;
    return ops;
}

// A photographic-like 24-bit page with caller-owned pixels.
struct Page {
    std::vector<unsigned char> pixels;
    _tagBITMAPHANDLE record{};
    Page(int width, int height)
    {
        const int64_t stride = ((width * 24 + 31) / 32) * 4;
        pixels.resize(static_cast<size_t>(stride) * height);
        imgtest::FillPattern(pixels.data(), width, height, stride, imgtest::Pattern::Photo, 1);
        IL_CreateBitmap(&record, 440, 2, width, height, 24, 1, nullptr, 4, pixels.data(),
                        static_cast<int64_t>(pixels.size()));
    }
    // A fresh record over a copy of the pixels, for operations that work in place.
    std::vector<unsigned char> copy;
    _tagBITMAPHANDLE* fresh()
    {
        copy = pixels;
        static _tagBITMAPHANDLE r;
        r = _tagBITMAPHANDLE{};
        IL_CreateBitmap(&r, 440, 2, record.width, record.height, 24, 1, nullptr, 4, copy.data(),
                        static_cast<int64_t>(copy.size()));
        return &r;
    }
};

Page& PageOfSize(int width, int height)
{
    static Page small(1266, 1836);
    static Page large(2532, 3672);
    return width == 1266 && height == 1836 ? small : large;
}

// The whole page shrunk by the border scale at once (the page path does it
// in strips of 1000 rows).
template <int (*Size)(_tagBITMAPHANDLE*, int, int, int)>
void BM_SizeBitmapBorder(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int w2 = static_cast<int>(page.record.width * 0.8957346f);
    const int h2 = static_cast<int>(page.record.height * 0.8957346f);
    for (auto _ : state) {
        _tagBITMAPHANDLE r = page.record;
        benchmark::DoNotOptimize(Size(&r, w2, h2, 4));
        IL_FreeBitmap(&r);
    }
}

void BM_SizeBitmapHalfWidth(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        _tagBITMAPHANDLE r = page.record;
        benchmark::DoNotOptimize(IL_SizeBitmap(&r, page.record.width / 2, page.record.height, 4));
        IL_FreeBitmap(&r);
    }
}

void BM_SeparateMerge(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        _tagBITMAPHANDLE planes[3] = {};
        _tagBITMAPHANDLE* list[3] = {&planes[0], &planes[1], &planes[2]};
        _tagBITMAPHANDLE merged{};
        IL_ColorSeparateBitmap(&page.record, list, 440, 0);
        for (int k = 0; k < 3; ++k) {
            IL_GammaCorrectBitmap(list[k], 120);
            IL_ChangeBitmapIntensity(list[k], 50);
            IL_ChangeBitmapContrast(list[k], 100);
        }
        IL_ColorMergeBitmap(&merged, list, 440, 0);
        for (auto& p : planes)
            IL_FreeBitmap(&p);
        IL_FreeBitmap(&merged);
    }
}

void BM_Separate(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        _tagBITMAPHANDLE planes[3] = {};
        _tagBITMAPHANDLE* list[3] = {&planes[0], &planes[1], &planes[2]};
        benchmark::DoNotOptimize(IL_ColorSeparateBitmap(&page.record, list, 440, 0));
        for (auto& p : planes)
            IL_FreeBitmap(&p);
    }
}

void BM_Merge(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    _tagBITMAPHANDLE planes[3] = {};
    _tagBITMAPHANDLE* list[3] = {&planes[0], &planes[1], &planes[2]};
    IL_ColorSeparateBitmap(&page.record, list, 440, 0);
    for (auto _ : state) {
        _tagBITMAPHANDLE merged{};
        benchmark::DoNotOptimize(IL_ColorMergeBitmap(&merged, list, 440, 0));
        IL_FreeBitmap(&merged);
    }
    for (auto& p : planes)
        IL_FreeBitmap(&p);
}

// Gamma, intensity and contrast on one plane: palette work only.
void BM_PaletteTables(benchmark::State& state)
{
    Page& page = PageOfSize(1266, 1836);
    _tagBITMAPHANDLE planes[3] = {};
    _tagBITMAPHANDLE* list[3] = {&planes[0], &planes[1], &planes[2]};
    IL_ColorSeparateBitmap(&page.record, list, 440, 0);
    for (auto _ : state) {
        IL_GammaCorrectBitmap(list[0], 120);
        IL_ChangeBitmapIntensity(list[0], 50);
        benchmark::DoNotOptimize(IL_ChangeBitmapContrast(list[0], 100));
    }
    for (auto& p : planes)
        IL_FreeBitmap(&p);
}

template <int (*Sharpen)(_tagBITMAPHANDLE*, int)>
void BM_Sharpen(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        state.PauseTiming();
        _tagBITMAPHANDLE* r = page.fresh();
        state.ResumeTiming();
        benchmark::DoNotOptimize(Sharpen(r, static_cast<int>(state.range(2))));
    }
}

template <int (*Saturation)(_tagBITMAPHANDLE*, int)>
void BM_Saturation(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        state.PauseTiming();
        _tagBITMAPHANDLE* r = page.fresh();
        state.ResumeTiming();
        benchmark::DoNotOptimize(Saturation(r, static_cast<int>(state.range(2))));
    }
}

void BM_CopyBitmapData(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    _tagBITMAPHANDLE* target = page.fresh();
    for (auto _ : state)
        benchmark::DoNotOptimize(IL_CopyBitmapData(target, &page.record));
}

// The whole path: border in strips, separation, nine palette operations,
// merge, sharpening 750, saturation, and the final copy.
// As BM_PagePath, with all free memory handed back to the system before
// each run, so that every block is touched fresh as on a job's first page.
void BM_PagePathCold(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    imgtest::PagePathSettings settings;
    settings.colourAdjustment = state.range(2) != 0;
    const imgtest::PageOperations ops =
        state.range(3) != 0 ? LiteralOperations() : imgtest::PageOperations();
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        state.ResumeTiming();
        _tagBITMAPHANDLE out{};
        benchmark::DoNotOptimize(imgtest::RunPagePath(&page.record, settings, &out, ops));
        IL_FreeBitmap(&out);
    }
}

// state.range(3) = 1 runs the literal versions of the hot operations.
void BM_PagePath(benchmark::State& state)
{
    Page& page = PageOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    imgtest::PagePathSettings settings;
    settings.colourAdjustment = state.range(2) != 0;
    const imgtest::PageOperations ops =
        state.range(3) != 0 ? LiteralOperations() : imgtest::PageOperations();
    for (auto _ : state) {
        _tagBITMAPHANDLE out{};
        benchmark::DoNotOptimize(imgtest::RunPagePath(&page.record, settings, &out, ops));
        IL_FreeBitmap(&out);
    }
}

BENCHMARK(BM_SizeBitmapBorder<IL_SizeBitmap>)->Args({1266, 1836})->Args({2532, 3672})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SizeBitmapBorder<LiteralSizeBitmap>)->Args({1266, 1836})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SizeBitmapHalfWidth)->Args({1266, 1836})->Args({2532, 3672})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeparateMerge)->Args({1266, 1836})->Args({2532, 3672})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Separate)->Args({1266, 1836})->Args({2532, 3672})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Merge)->Args({1266, 1836})->Args({2532, 3672})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaletteTables)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sharpen<IL_SharpenBitmap>)->Args({1266, 1836, 750})->Args({1266, 1836, -1000})
    ->Args({2532, 3672, 750})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sharpen<LiteralSharpen>)->Args({1266, 1836, 750})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Saturation<IL_ChangeBitmapSaturation>)->Args({1266, 1836, 200})->Args({1266, 1836, 0})
    ->Args({2532, 3672, 200})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Saturation<LiteralSaturation>)->Args({1266, 1836, 200})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyBitmapData)->Args({1266, 1836})->Args({2532, 3672})->Unit(benchmark::kMillisecond);
// Arguments: width, height, colour adjustment, literal operations.
BENCHMARK(BM_PagePathCold)->Args({1266, 1836, 1, 0})->Args({1266, 1836, 1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagePath)->Args({1266, 1836, 1, 0})->Args({1266, 1836, 0, 0})->Args({2532, 3672, 1, 0})
    ->Args({1266, 1836, 1, 1})->Args({2532, 3672, 1, 1})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    mallopt(M_MMAP_THRESHOLD, 512 << 20);
    mallopt(M_TRIM_THRESHOLD, 1024 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
