// The entry point of the image benchmarks: huge pages as the program has them, and a
// QGuiApplication on the offscreen platform for the image-format plugins.
#pragma once

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "core/hugepages.h"

namespace bench {

inline int runImageBenchmarks(int argc, char** argv) {
    preferHugePages(argv);  // measure what the program runs with
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    if (::benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}

}  // namespace bench
