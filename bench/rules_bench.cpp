// Micro-benchmarks of the per-line rules, on text shaped like the large
// layouts of make_layout.py. Whole runs are timed by run_bench.py.
#include <benchmark/benchmark.h>

#include <string>

#include "config/line_rules.h"
#include "config/scan.h"
#include "generate/advance.h"
#include "generate/copies.h"
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

void tidy_line_by_line(benchmark::State& state) {
    const std::string_view text = layout();
    for (auto _ : state) {
        Tidy_writer writer = start_tidy_writer(nullptr);
        for (std::size_t pos = 0; pos < end_of_lines(text);) write_line(writer, next_line(text, pos));
        benchmark::DoNotOptimize(writer.buffer.data());
    }
    count_lines(state, line_count(text));
}
BENCHMARK(tidy_line_by_line);

void tidy_whole_runs(benchmark::State& state) {
    const std::string_view text = layout();
    for (auto _ : state) {
        Tidy_writer writer = start_tidy_writer(nullptr);
        write_lines(writer, text, 0, end_of_lines(text));
        benchmark::DoNotOptimize(writer.buffer.data());
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

// The parameter rule on a value of twenty lone digits, as in the W3 workload.
void advance_twenty_digits(benchmark::State& state) {
    const std::string line = "P1=12345678901234567890";
    std::string out;
    std::int32_t k = 1;
    for (auto _ : state) {
        out.clear();
        advance_parameter_line(line, k++, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 20));
}
BENCHMARK(advance_twenty_digits);

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

// One copy of the ten-line meter of the W2 workload, rules taken apart once.
void write_one_copy(benchmark::State& state) {
    const std::string block =
        "[Meter 1]\r\nName=CPU1\r\nLeft=10\r\nRight=40\r\nTop=30\r\nBottom=90\r\nCore=1\r\nType=Bar\r\n"
        "[Source 1]\r\nProcessor=1\r\n";
    Run_settings settings;
    settings.meter_name = "CPU1";
    settings.parameter_keys = {"Core", "Processor"};
    const std::vector<Copy_line> plan = plan_copies(block, {0, end_of_lines(block)}, make_copy_rules(settings, 1));
    const unsigned digits = digits_used(plan);
    Copy_texts texts;
    std::string out;
    std::int32_t k = 1;
    for (auto _ : state) {
        set_copy_texts(texts, {k, 40 * k, 0, 2 + k}, digits);
        ++k;
        out.clear();
        for (const Copy_line& line : plan) write_planned_line(line, texts, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(write_one_copy);

}  // namespace
}  // namespace quarvel
