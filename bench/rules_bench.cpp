// Micro-benchmarks of the per-line rules, on text shaped like the large
// layouts of make_layout.py. Whole runs are timed by run_bench.py.
#include <benchmark/benchmark.h>

#include <string>

#include "layout/lines.h"
#include "layout/numbers.h"
#include "layout/scan.h"
#include "generate/advance.h"
#include "generate/copies.h"
#include "generate/output.h"
#include "generate/tidy_writer.h"

namespace quarvel {
namespace {

std::string meter_text(int meters) {
    std::string text = "[Settings]\r\nWidth=200\r\nHeight=120\r\n\r\n";
    for (int i = 0; i < meters; ++i) {
        const std::string n = std::to_string(i);
        text += "[Meter " + n + "]\r\nName=M" + n + "\r\nLeft=" + std::to_string(10 + i % 100 * 40) +
                "\r\nRight=40\r\nTop=30\r\nBottom=90\r\nCore=" + std::to_string(i % 8) + "\r\n[Source " + n +
                "]\r\n\r\n";
    }
    return text + "[PluginInfo]\r\nVersion=1.0\r\n";
}

const std::string& layout() {
    static const std::string text = meter_text(20000);
    return text;
}

void count_lines(benchmark::State& state, std::size_t lines) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * layout().size()));
}

std::size_t line_count(std::string_view text) {
    std::size_t lines = 0;
    for (std::size_t pos = 0; pos < end_of_lines(text); next_line(text, pos)) ++lines;
    return lines;
}

void split_lines(benchmark::State& state) {
    const std::string_view text = layout();
    for (auto _ : state) benchmark::DoNotOptimize(line_count(text));
    count_lines(state, line_count(text));
}
BENCHMARK(split_lines);

void scan_layout(benchmark::State& state) {
    const std::string_view text = layout();
    for (auto _ : state) benchmark::DoNotOptimize(scan_input(text, "M10000"));
    count_lines(state, line_count(text));
}
BENCHMARK(scan_layout);

// The tidy pass with every line rebuilt, and with the runs in their written
// form going out as they stand.
void tidy_line_by_line(benchmark::State& state) {
    const std::string_view text = layout();
    const Byte_sink discard = [](std::string_view) { return true; };
    for (auto _ : state) {
        Tidy_writer writer = start_tidy_writer(discard);
        for (std::size_t pos = 0; pos < end_of_lines(text);) write_line(writer, next_line(text, pos));
        benchmark::DoNotOptimize(finish_tidy_writer(writer));
    }
    count_lines(state, line_count(text));
}
BENCHMARK(tidy_line_by_line);

void tidy_whole_runs(benchmark::State& state) {
    const std::string_view text = layout();
    const Scan_results results = scan_input(text, "M10000");
    const Byte_sink discard = [](std::string_view) { return true; };
    for (auto _ : state) {
        Tidy_writer writer = start_tidy_writer(discard);
        write_block(writer, text, {0, end_of_lines(text)}, results.unfinished);
        benchmark::DoNotOptimize(finish_tidy_writer(writer));
    }
    count_lines(state, line_count(text));
}
BENCHMARK(tidy_whole_runs);

void scan_integers(benchmark::State& state) {
    const std::string_view values[] = {"10", "4010", " 12345]", "-7", "2147483647"};
    for (auto _ : state) {
        for (std::string_view v : values) benchmark::DoNotOptimize(scan_int(v));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 5));
}
BENCHMARK(scan_integers);

void match_value_numbers(benchmark::State& state) {
    const std::string_view line = "Scale=1.5 and 2.25 of 3";
    for (auto _ : state) {
        std::string_view rest = line;
        std::size_t begin = 0;
        std::size_t end = 0;
        while (find_value_number(rest, begin, end)) rest.remove_prefix(end);
        benchmark::DoNotOptimize(rest.data());
    }
}
BENCHMARK(match_value_numbers);

// One copy of the ten-line meter of the W2 workload, from its template.
void write_one_copy(benchmark::State& state) {
    const std::string block =
        "[Meter 1]\r\nName=CPU1\r\nLeft=10\r\nRight=40\r\nTop=30\r\nBottom=90\r\nCore=1\r\nType=Bar\r\n"
        "[Source 1]\r\nProcessor=1\r\n";
    Copy_settings settings;
    settings.meter_name = "CPU1";
    settings.parameter_keys = {"Core", "Processor"};
    settings.x_shift = 40;
    const Scan_results results = scan_input(block, "CPU1");
    const Copy_template plan = plan_copy_template(block, results, settings);
    const Byte_sink discard = [](std::string_view) { return true; };
    Tidy_writer writer = start_tidy_writer(discard);
    std::int32_t k = 1;
    for (auto _ : state) write_copy(writer, plan, k++);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(write_one_copy);

}  // namespace
}  // namespace quarvel
