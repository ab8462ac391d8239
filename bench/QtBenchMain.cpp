// Google Benchmark main with the Qt application object that event loops, QtSql and widgets need.
#include <benchmark/benchmark.h>

#ifdef ZEVA_BENCH_GUI
#include <QApplication>
using BenchApp = QApplication;
#else
#include <QCoreApplication>
using BenchApp = QCoreApplication;
#endif

int main(int argc, char** argv)
{
#ifdef ZEVA_BENCH_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    BenchApp app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
