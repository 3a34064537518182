// The console reporter of the frame benchmarks' summaries: the usual table,
// and each benchmark's best repetition in CPU and in wall time. The best one
// is the one that lost least time to other work on the machine.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace keo::bench {

struct BestTime {
    double cpuMs = -1;  // per iteration; -1 without a completed run
    double wallMs = -1; // likewise
};

class BestTimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            BestTime& best = best_[run.run_name.function_name];
            const double cpu = 1000.0 * run.cpu_accumulated_time / run.iterations;
            const double wall = 1000.0 * run.real_accumulated_time / run.iterations;
            if (best.cpuMs < 0 || cpu < best.cpuMs)
                best.cpuMs = cpu;
            if (best.wallMs < 0 || wall < best.wallMs)
                best.wallMs = wall;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    BestTime best(const std::string& name) const {
        const auto it = best_.find(name);
        return it == best_.end() ? BestTime{} : it->second;
    }

private:
    std::map<std::string, BestTime> best_;
};

} // namespace keo::bench
