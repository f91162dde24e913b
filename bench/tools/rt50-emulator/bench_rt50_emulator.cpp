// How fast the emulated RT-50 answers real libusb: one status round trip
// (command out, header and data in) and a print job of 2.6 MB written in
// 64 KiB transfers, as a backend sends it, over a link without a rate limit.
#include "Emulator.h"
#include "Preload.h"
#include "SheetRecorder.h"
#include "UsbTestClient.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <memory>

namespace {

// One libusb client with the printer open, for all benchmarks; it leaves
// before the testbed does.
std::unique_ptr<rt50test::UsbClient> g_client;

rt50test::UsbClient& Client()
{
    return *g_client;
}

void BM_StatusRoundTrip(benchmark::State& state)
{
    for (auto _ : state) {
        const rt50test::Reply reply = Client().Query("STATUS", nullptr);
        if (reply.result != 0)
            state.SkipWithError("query failed");
    }
}
BENCHMARK(BM_StatusRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_JobWrite(benchmark::State& state)
{
    // A 102x153mm sheet: three planes of 1408 x 1836 dots.
    const std::vector<uint8_t> job = rt50test::SheetJob(1408, 612);
    for (auto _ : state) {
        if (Client().Send(job, 5000) != 0)
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(job.size()));
}
BENCHMARK(BM_JobWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

// Recording one 102x153mm sheet (1408 x 1836) as PNG and settings text.
void BM_RecordSheet(benchmark::State& state)
{
    rt50emu::Sheet sheet;
    sheet.number = 1;
    sheet.serial = "RT50BENCH001";
    sheet.width = 1408;
    sheet.height = 1836;
    for (int plane = 0; plane < 3; ++plane) {
        sheet.planes[plane].resize(static_cast<size_t>(sheet.width) * static_cast<size_t>(sheet.height));
        for (size_t i = 0; i < sheet.planes[plane].size(); ++i)
            sheet.planes[plane][i] = static_cast<uint8_t>((i * (plane + 1)) / 1408);
    }
    char folder[] = "/tmp/rt50bench.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no folder");
        return;
    }
    for (auto _ : state) {
        if (!rt50emu::RecordSheet(folder, sheet).empty())
            state.SkipWithError("record failed");
    }
    std::remove((std::string(folder) + "/RT50BENCH001-sheet-0001.png").c_str());
    std::remove((std::string(folder) + "/RT50BENCH001-sheet-0001.txt").c_str());
    rmdir(folder);
}
BENCHMARK(BM_RecordSheet)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    if (!rt50emu::EnsurePreloaded(argv))
        return 2;
    rt50emu::EmulatorOptions options;
    options.printMs = 0;
    rt50emu::Emulator emulator(options);
    emulator.AddPrinter("RT50BENCH001");
    emulator.Execute("set RT50BENCH001 remain 99999999");
    // The emulator's own cost, not the link's time.
    emulator.Execute("set RT50BENCH001 rate 0");
    g_client = std::make_unique<rt50test::UsbClient>();
    if (!g_client->Start() || !g_client->WaitFor(2000, [] { return g_client->Arrivals() > 0; }) ||
        g_client->Open() != 0) {
        std::fprintf(stderr, "bench_rt50_emulator: no printer\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_client.reset();
    return 0;
}
