// The USB layer against the emulated RT-50: one status query round trip
// through GetStatus, and one 102x153mm sheet (three planes of 1408 x 612
// dots, 2.6 MB) sent with deviceWrite over the printer's default link of
// 40 MB/s, as the backend sends a job.
#include "Emulator.h"
#include "Preload.h"
#include "PrinterQueries.h"
#include "UsbTestClient.h"
#include "UsbTransfer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

std::unique_ptr<rt50test::UsbClient> g_client;

void BM_GetStatus(benchmark::State& state)
{
    for (auto _ : state) {
        if (GetStatus(g_client->handle()) != 0)
            state.SkipWithError("status query failed");
    }
}
BENCHMARK(BM_GetStatus)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_SendSheet(benchmark::State& state)
{
    const std::vector<uint8_t> job = rt50test::SheetJob(1408, 612);
    for (auto _ : state) {
        if (deviceWrite(g_client->handle(), job.data(), static_cast<int>(job.size())) != 0)
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(job.size()));
}
BENCHMARK(BM_SendSheet)->Unit(benchmark::kMillisecond)->UseRealTime();

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
        std::fprintf(stderr, "bench_usbio: no printer\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_client.reset();
    return 0;
}
