// Serial link figures: a reply's delivery delay after its last byte, CPU per 1,000 replies, idle CPU.
#include "Comm.h"
#include "TestSupport.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QThread>

#include <algorithm>
#include <vector>

using namespace zeva;
using namespace zeva::test;

namespace {

TComm* openOn(TPty& pty)
{
    auto* comm = new TComm;
    comm->SetCommName(pty.slaveName());
    comm->SetOutx_XonXoffFlow(false);
    comm->SetInx_XonXoffFlow(false);
    comm->OpenPort();
    return comm;
}

} // namespace

static void BM_ReplyDeliveryDelay(benchmark::State& state)
{
    const int replies = int(state.range(0));
    for (auto _ : state) {
        TPty pty;
        std::unique_ptr<TComm> comm(openOn(pty));
        std::vector<double> delays;
        QElapsedTimer clock;
        clock.start();
        qint64 lastByteNs = 0;
        QEventLoop loop;
        QTimer guard; // a lost reply must not hang the run
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        comm->OnReceiveData = [&](TComm*, const uint8_t*, uint16_t) {
            delays.push_back(double(clock.nsecsElapsed() - lastByteNs) / 1e6);
            loop.quit();
        };
        const std::vector<uint8_t> reply{0x01, 0x3F, 0xAA, 0x00, 0xFD, 0x00, 0xFA,
                                         0x01, 0x02, 0x00, 0x00, 0x01, 0x28, 0xF3};
        double cpu0 = ProcessCpuMs();
        for (int i = 0; i < replies; ++i) {
            pty.Write(reply);
            lastByteNs = clock.nsecsElapsed();
            // A real event loop, as the windows run, so the CPU figure is the component's own.
            guard.start(2000);
            loop.exec();
        }
        double cpu = ProcessCpuMs() - cpu0;
        std::sort(delays.begin(), delays.end());
        auto at = [&](double q) { return delays.empty() ? 0 : delays[std::size_t(q * double(delays.size() - 1))]; };
        state.counters["p50_ms"] = at(0.50);
        state.counters["p99_ms"] = at(0.99);
        state.counters["max_ms"] = delays.empty() ? 0 : delays.back();
        state.counters["cpu_ms_per_1000"] = cpu * 1000.0 / replies;
        state.counters["delivered"] = double(delays.size());
    }
}
BENCHMARK(BM_ReplyDeliveryDelay)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

static void BM_IdleOpenPort(benchmark::State& state)
{
    for (auto _ : state) {
        TPty pty;
        std::unique_ptr<TComm> comm(openOn(pty));
        Pump(100); // the writer's start notification
        double cpu0 = ProcessCpuMs();
        QThread::sleep(static_cast<unsigned long>(state.range(0)));
        state.counters["idle_cpu_ms"] = ProcessCpuMs() - cpu0;
    }
}
BENCHMARK(BM_IdleOpenPort)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);
