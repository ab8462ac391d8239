// The cost of accepting and decoding one received chunk.
#include "Frames.h"
#include "RxBuffer.h"

#include <benchmark/benchmark.h>

using namespace zeva;

static void BM_AcceptAndDecodeLive(benchmark::State& state)
{
    TFrame live = BuildLiveReply(1, {25.3, 25.0, 25.8, 0.0}, 0x01, 0x28);
    TRxBuffer rx;
    for (auto _ : state) {
        rx.Overlay(live.data(), live.size);
        if (AcceptMonitorReply(rx) == TMonitorReply::Live)
            benchmark::DoNotOptimize(DecodeLive(rx.data()));
    }
}
BENCHMARK(BM_AcceptAndDecodeLive);
