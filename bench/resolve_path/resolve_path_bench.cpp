// Time per resolution of a ten-component path inside a share, with and without one
// symbolic link on the way, beside realpath(3) of the same physical path.

#include "share/share.h"
#include "tool/login_state.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// srv/pub/d1/.../d9 inside a fresh directory of its own, with the link d4/l5 -> d5.
struct bench_tree {
    std::string root;
    user_share_list shares;
    std::string virtual_plain;
    std::string virtual_link;
    std::string physical_plain;
    std::string physical_link;
};

bench_tree& tree()
{
    static bench_tree t;
    return t;
}

bool build_tree()
{
    char pattern[] = "/tmp/kestrad-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return false;
    bench_tree& t = tree();
    t.root = fs::canonical(pattern).string();
    const std::string pub = t.root + "/srv/pub";
    std::string physical = pub;
    std::string physical_link = pub;
    t.virtual_plain = "/pub";
    t.virtual_link = "/pub";
    for (int i = 1; i <= 9; ++i) {
        const std::string name = "d" + std::to_string(i);
        physical += "/" + name;
        t.virtual_plain += "/" + name;
        physical_link += i == 5 ? "/l5" : "/" + name;
        t.virtual_link += i == 5 ? "/l5" : "/" + name;
    }
    std::error_code error;
    fs::create_directories(physical, error);
    if (error || symlink("d5", (pub + "/d1/d2/d3/d4/l5").c_str()) != 0)
        return false;
    t.physical_plain = physical;
    t.physical_link = physical_link;

    user_share entry;
    entry.name = "pub";
    entry.path = pub;
    entry.writeable = 1;
    t.shares.push_front(entry);
    login_state.smb_mode = 1;
    // The login stands at the virtual root.
    return chdir(SHARE_ROOT_DIR) == 0;
}

void resolve(benchmark::State& state, const std::string& path, const std::string& expected)
{
    const char* result = kestrad_share_resolve_path(&tree().shares, path.c_str(), 0);
    if (result == nullptr || expected != result) {
        state.SkipWithError("the resolver did not give the physical path");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kestrad_share_resolve_path(&tree().shares, path.c_str(), 0));
}

void canonical(benchmark::State& state, const std::string& path)
{
    char buffer[PATH_MAX];
    for (auto _ : state)
        benchmark::DoNotOptimize(realpath(path.c_str(), buffer));
}

void BM_resolve_plain(benchmark::State& state) { resolve(state, tree().virtual_plain, tree().physical_plain); }
void BM_realpath_plain(benchmark::State& state) { canonical(state, tree().physical_plain); }
void BM_resolve_link(benchmark::State& state) { resolve(state, tree().virtual_link, tree().physical_plain); }
void BM_realpath_link(benchmark::State& state) { canonical(state, tree().physical_link); }

BENCHMARK(BM_resolve_plain);
BENCHMARK(BM_realpath_plain);
BENCHMARK(BM_resolve_link);
BENCHMARK(BM_realpath_link);

// The usual table, then each resolver figure as a multiple of realpath's.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    // Plain text, so the figures can be pasted into a note as they stand.
    ratio_reporter() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions the median, reported after the runs, is the figure kept.
        for (const Run& run : runs) {
            const bool figure = run.run_type == Run::RT_Iteration ||
                                (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median");
            if (figure && !run.error_occurred)
                nanoseconds_[run.run_name.function_name] =
                    run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const char* kind : {"plain", "link"}) {
            const auto resolver = nanoseconds_.find(std::string("BM_resolve_") + kind);
            const auto system = nanoseconds_.find(std::string("BM_realpath_") + kind);
            if (resolver == nanoseconds_.end() || system == nanoseconds_.end())
                continue;
            std::printf("%-6s resolver %8.0f ns  realpath %8.0f ns  ratio %.2f\n", kind, resolver->second,
                        system->second, resolver->second / system->second);
        }
    }

private:
    std::map<std::string, double> nanoseconds_;
};

} // namespace

int main(int argc, char** argv)
{
    if (!build_tree()) {
        std::perror("cannot build the benchmark tree");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(tree().root, ignored);
    return 0;
}
