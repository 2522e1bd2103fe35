// What the benchmarks that print ratios share: Google Benchmark's console
// output, with each run's CPU time per iteration kept for the ratios to a
// reference measured in the same run (CPU time: the machine is shared, and
// wall time counts others' work), and the run of the benchmarks the command
// line selects.
//
// Threading: the benchmark library's main thread.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace benchsupport {

class CCpuTimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations > 0 && !run.error_occurred) {
        m_seconds[run.benchmark_name()] =
            run.cpu_accumulated_time / static_cast<double>(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // CPU seconds per iteration of the run `name`; 0 when it did not run.
  double Seconds(const std::string& name) const {
    const auto it = m_seconds.find(name);
    return it == m_seconds.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> m_seconds;
};

// Takes the benchmark options out of the command line, runs the benchmarks
// it selects into reporter and shuts the library down again.
inline void RunBenchmarks(int* argc, char** argv, CCpuTimeReporter& reporter) {
  benchmark::Initialize(argc, argv);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}

}  // namespace benchsupport
