// The benchmark program: the library's diagnostics go nowhere (no trace
// file, no syslog) so that the figures are the library's own.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string_view>

#include "platform/debug_output.h"

namespace {

void Discard(std::u16string_view, void*) {}

}  // namespace

int main(int argc, char** argv) {
    setenv("QUARVANE_PARAMETERS", "/nonexistent/qvbench/parameters.ini", 1);
    qv::debug_output::SetSinkForTesting(Discard, nullptr);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
