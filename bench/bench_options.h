#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// quarlo_bench's own options; Google Benchmark parses the rest.
struct Options {
    std::string targets;   // --targets=AVX3,AVX2 or all; empty for the default set
    bool cpuTime = false;  // --cpu_rates: one-thread rates over CPU time
    int groups = 0;        // --groups=N: the kernel's vectors in flight; 0 as it picks
};

// Takes the options above out of argv, keeping the others in their order,
// and sets argc to what is left.
Options takeOptions(int& argc, char** argv);

// The targets of `supported` (Highway targets, best first) named in
// `wanted`, a comma-separated list of Highway's target names or "all"; for
// an empty `wanted`, the best one and, on x86, every other one down to AVX2.
std::vector<int64_t> pickTargets(const std::string& wanted, const std::vector<int64_t>& supported);

// The median of the values, 0 for none.
double median(std::vector<double> values);

}  // namespace bench
