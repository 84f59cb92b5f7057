// Times the C++ core alone, without the interpreter: reading and converting the input
// and building Python results are outside the timed region, destroying the result is
// inside (it is part of what a call costs).
//
//   core_bench [--repeat K] PIECE.csv...      (rows of tick,pitch; a header row is skipped)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cosiatec.hpp"
#include "recursia.hpp"
#include "sia.hpp"
#include "siatec.hpp"
#include "sweepline.hpp"

using namespace motivra::sia;

namespace {

std::vector<Point> read_csv(const char* path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "core_bench: cannot open %s\n", path);
        std::exit(1);
    }
    std::vector<Point> points;
    std::string line;
    while (std::getline(in, line)) {
        unsigned long tick = 0, pitch = 0;
        if (std::sscanf(line.c_str(), "%lu,%lu", &tick, &pitch) == 2) {
            points.push_back(Point{static_cast<std::uint32_t>(tick), static_cast<std::uint32_t>(pitch)});
        }
    }
    return points;
}

double median_seconds(int repeat, const std::function<void()>& run) {
    std::vector<double> times;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--repeat") {
        repeat = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: core_bench [--repeat K] PIECE.csv...\n");
        return 2;
    }
    std::printf("%-40s %6s %10s %10s %10s %10s %10s\n", "piece", "points", "sia", "siatec", "sweepline", "cosiatec",
                "recursia");
    for (int a = first; a < argc; ++a) {
        std::vector<Point> d = read_csv(argv[a]);
        std::sort(d.begin(), d.end());
        const double sia = median_seconds(repeat, [&] { (void)sia_table(d, false); });
        const double siatec = median_seconds(repeat, [&] { (void)build_tecs_from_mtps(d, false); });
        const double sweep = median_seconds(repeat, [&] { (void)sweepline::build_tecs_from_mtps(d, false); });
        const double cos = median_seconds(repeat, [&] { (void)cosiatec_compress(d, false, true); });
        const double rec = median_seconds(repeat, [&] { (void)recursive_cosiatec_compress(d, false, 2, true); });
        std::string name = argv[a];
        name = name.substr(name.find_last_of('/') + 1);
        std::printf("%-40s %6zu %10.4f %10.4f %10.4f %10.4f %10.4f\n", name.c_str(), d.size(), sia, siatec, sweep, cos,
                    rec);
    }
    return 0;
}
