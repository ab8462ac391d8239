// The seven-segment display: one non-animated change, painted, at the main window's size and larger.
#include "LcdDisplay.h"

#include <benchmark/benchmark.h>

using namespace zeva;

static void BM_LcdPaintChange(benchmark::State& state)
{
    TLcdDisplay d;
    d.resize(int(state.range(0)), int(state.range(1)));
    d.SetColor(clBlack);
    d.SetOnColor(clRed);
    d.SetDotDisplay(state.range(2) != 0);
    const char* values[] = {"85.5", "-12.3", "ERR", "100"};
    int i = 0;
    for (auto _ : state) {
        d.SetValue(values[i++ % 4]);
        d.Paint();
    }
    state.counters["PaintDuration_ms"] = d.PaintDuration();
}
BENCHMARK(BM_LcdPaintChange)->Args({79, 28, 0})->Args({400, 140, 0})->Args({79, 28, 1})->Args({400, 140, 1})
    ->Unit(benchmark::kMicrosecond);
