#include "bench_options.h"

#include <hwy/targets.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace bench {

Options takeOptions(int& argc, char** argv) {
    Options o;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--targets=", 10) == 0) {
            o.targets = argv[i] + 10;
        } else if (std::strncmp(argv[i], "--groups=", 9) == 0) {
            o.groups = std::atoi(argv[i] + 9);
        } else if (std::strcmp(argv[i], "--cpu_rates") == 0) {
            o.cpuTime = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = std::min(argc, kept);
    return o;
}

std::vector<int64_t> pickTargets(const std::string& wanted, const std::vector<int64_t>& supported) {
    std::vector<int64_t> picked;
    for (int64_t t : supported) {
        bool take = false;
        if (wanted.empty()) {
#if HWY_ARCH_X86
            // Lower bits are better targets: AVX3_DL and AVX3 come before AVX2.
            take = t == supported.front() || t <= HWY_AVX2;
#else
            take = t == supported.front();
#endif
        } else {
            const std::string name = hwy::TargetName(t);
            take =
                wanted == "all" || ("," + wanted + ",").find("," + name + ",") != std::string::npos;
        }
        if (take) {
            picked.push_back(t);
        }
    }
    return picked;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

}  // namespace bench
