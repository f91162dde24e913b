// How fast the emulated RT-50 answers real libusb: one status round trip
// (command out, header and data in) and a print job of 2.6 MB written in
// 64 KiB transfers, as a backend sends it.
#include "Emulator.h"
#include "Preload.h"
#include "UsbTestClient.h"

#include <benchmark/benchmark.h>

#include <cstdio>
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
