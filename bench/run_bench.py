#!/usr/bin/env python3
"""Times whole runs of quarvel on large generated layouts against a durable
copy of a file of the output's size (dd ... conv=fsync, which reads, writes and
flushes as the tool must) and against a plain cp, side by side.

    python3 bench/run_bench.py [--reps N] [--scratch DIR] [--tool EXE]
                               [--baseline EXE] [--only NAMES] [--keep]

Builds a Release quarvel in build/bench unless --tool is given, writes the
layouts into a scratch folder (removed afterwards unless --keep), and for every
workload runs the tool, the durable copy and cp in turn, rotating their order,
--reps times. Prints medians, the median of the per-round ratios, and peak
resident memory (from /usr/bin/time), then the memory, growth and per-copy
figures. With --baseline another build of the tool is timed in the same rounds,
after a check that it writes the same output bytes.
"""
import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
MB = 1_000_000
PARAMS8 = ["P%d" % i for i in range(1, 9)]

# name, layout kind, layout argument, meter, copies, tool arguments after the
# copies, what the durable copy copies ("input" or "output").
WORKLOADS = [
    ("W1 scan", "scan", 500_000, "M250000", 0, ["0", "0"], "input"),
    ("W1 scan x2", "scan", 1_000_000, "M500000", 0, ["0", "0"], "input"),
    ("W1 scan x4", "scan", 2_000_000, "M1000000", 0, ["0", "0"], "input"),
    ("W2 copy 10k", "copy", None, "CPU1", 10_000, ["40", "0", "Core", "Processor"], "output"),
    ("W2 copy", "copy", None, "CPU1", 1_000_000, ["40", "0", "Core", "Processor"], "output"),
    ("W2 copy x2", "copy", None, "CPU1", 2_000_000, ["40", "0", "Core", "Processor"], "output"),
    ("W2 copy x4", "copy", None, "CPU1", 4_000_000, ["40", "0", "Core", "Processor"], "output"),
    ("W3 params", "params", None, "Wide1", 100_000, ["40", "0"] + PARAMS8, "output"),
    ("W3 no keys", "params", None, "Wide1", 100_000, ["40", "0"], "output"),
]


def build_tool():
    build = os.path.join(REPO, "build", "bench")
    subprocess.run(["cmake", "-S", REPO, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                    "-DQUARVEL_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "quarvel", "-j", "2"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "quarvel")


def timed(cmd, scratch):
    """Wall seconds and peak resident kilobytes of one run."""
    report = os.path.join(scratch, "time.txt")
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + cmd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("failed (%d): %s" % (done.returncode, " ".join(cmd)))
    with open(report) as f:
        peak_kb = int(f.read().split()[-1])
    return seconds, peak_kb


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def machine_text():
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    load = os.getloadavg()[0]
    fs = subprocess.run(["df", "--output=fstype", "."], capture_output=True, text=True).stdout.split()
    return "%s, %d cores, Linux %s, %s file system, load %.2f at start" % (
        cpu or platform.processor(), os.cpu_count() or 0, platform.release(), fs[-1] if fs else "?", load)


def run_workload(workload, tool, baseline, reps, scratch):
    name, kind, size, meter, copies, rest, bar = workload
    layout = os.path.join(scratch, "in-%s-%s.ini" % (kind, size))
    if not os.path.exists(layout):
        args = [sys.executable, os.path.join(HERE, "make_layout.py"), kind]
        subprocess.run(args + ([str(size)] if size else []) + [layout], check=True)
    out = os.path.join(scratch, "out.ini")
    tool_args = [layout, out, meter, str(copies)] + rest
    # A first run checks the arguments and gives the output size.
    remove(out)
    subprocess.run([tool] + tool_args, check=True, stdout=subprocess.DEVNULL)
    out_size = os.path.getsize(out)
    if baseline:
        # The same output, byte for byte, from the other build.
        other = os.path.join(scratch, "baseline-out.ini")
        remove(other)
        subprocess.run([baseline] + tool_args[:1] + [other] + tool_args[2:], check=True, stdout=subprocess.DEVNULL)
        with open(out, "rb") as a, open(other, "rb") as b:
            while True:
                x, y = a.read(1 << 20), b.read(1 << 20)
                if x != y:
                    sys.exit("%s: the output differs from the baseline's" % name)
                if not x:
                    break
        remove(other)
    source = os.path.join(scratch, "bar-source.ini")
    remove(source)
    if bar == "output":
        os.rename(out, source)
    else:
        source = layout
    copy_dest = os.path.join(scratch, "copy.ini")
    commands = [
        ("quarvel", [tool] + tool_args, out),
        ("dd", ["dd", "if=" + source, "of=" + copy_dest, "bs=1M", "conv=fsync"], copy_dest),
        ("cp", ["cp", source, copy_dest], copy_dest),
    ]
    if baseline:
        commands.append(("baseline", [baseline] + tool_args, out))
    times = {label: [] for label, _, _ in commands}
    peaks = {label: 0 for label, _, _ in commands}
    for round_index in range(reps):
        shift = round_index % len(commands)
        for label, cmd, dest in commands[shift:] + commands[:shift]:
            remove(dest)
            seconds, peak = timed(cmd, scratch)
            times[label].append(seconds)
            peaks[label] = max(peaks[label], peak)
    remove(out)
    remove(copy_dest)
    if bar == "output":
        remove(source)
    ratio = lambda a, b: statistics.median(x / y for x, y in zip(times[a], times[b]))
    result = {
        "name": name, "copies": copies, "in": os.path.getsize(layout), "out": out_size,
        "q": statistics.median(times["quarvel"]), "dd": statistics.median(times["dd"]),
        "cp": statistics.median(times["cp"]), "vs_dd": ratio("quarvel", "dd"),
        "vs_cp": ratio("quarvel", "cp"), "rss": peaks["quarvel"] * 1024,
    }
    if baseline:
        result["base"] = statistics.median(times["baseline"])
        result["base_vs_dd"] = ratio("baseline", "dd")
        result["base_rss"] = peaks["baseline"] * 1024
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--reps", type=int, default=5, help="rounds per workload (default 5)")
    parser.add_argument("--scratch", default=None, help="folder for the layouts (default: a new one in /var/tmp)")
    parser.add_argument("--tool", default=None, help="quarvel executable to time (default: build one)")
    parser.add_argument("--baseline", default=None, help="another quarvel executable to time alongside")
    parser.add_argument("--only", default=None, help="comma-separated workload names, e.g. 'W1 scan,W2 copy'")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    opts = parser.parse_args()

    tool = os.path.abspath(opts.tool) if opts.tool else build_tool()
    baseline = os.path.abspath(opts.baseline) if opts.baseline else None
    os.makedirs(opts.scratch, exist_ok=True) if opts.scratch else None
    scratch = tempfile.mkdtemp(prefix="quarvel-bench-", dir=opts.scratch or "/var/tmp")
    chosen = [w for w in WORKLOADS if not opts.only or w[0] in opts.only.split(",")]
    try:
        os.chdir(scratch)
        print("Machine: " + machine_text())
        print("Rounds: %d per workload, order rotated; times are medians, ratios the median of "
              "the per-round ratios.\n" % opts.reps)
        results = []
        for workload in chosen:
            results.append(run_workload(workload, tool, baseline, opts.reps, scratch))
            print("  done: %s" % workload[0], file=sys.stderr)
        report(results, baseline is not None)
    finally:
        os.chdir(REPO)
        if not opts.keep:
            shutil.rmtree(scratch, ignore_errors=True)
        else:
            print("Layouts kept in " + scratch)


def report(results, with_baseline):
    head = "| workload | input MB | output MB | quarvel s | dd fsync s | cp s | quarvel/dd | quarvel/cp | peak RSS MB | RSS limit MB |"
    rule = "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    if with_baseline:
        head += " baseline s | baseline/dd | baseline RSS MB |"
        rule += "---:|---:|---:|"
    print(head)
    print(rule)
    for r in results:
        limit = 16 * 2**20 + 1.5 * r["in"]
        line = "| %s | %.1f | %.1f | %.3f | %.3f | %.3f | %.2f | %.2f | %.1f | %.1f |" % (
            r["name"], r["in"] / MB, r["out"] / MB, r["q"], r["dd"], r["cp"], r["vs_dd"], r["vs_cp"],
            r["rss"] / 2**20, limit / 2**20)
        if with_baseline:
            line += " %.3f | %.2f | %.1f |" % (r["base"], r["base_vs_dd"], r["base_rss"] / 2**20)
        print(line)
    by_name = {r["name"]: r for r in results}
    print()
    for name in ("W1 scan", "W2 copy"):
        if name in by_name:
            r = by_name[name]
            print("%s: %.2fx the durable copy (target at most 2x): %s" % (
                name, r["vs_dd"], "met" if r["vs_dd"] <= 2 else "MISSED"))
    over = [r["name"] for r in results if r["rss"] > 16 * 2**20 + 1.5 * r["in"]]
    print("Memory: peak RSS within 16 MB + 1.5x input for every workload: %s" % (
        "yes" if not over else "NO (" + ", ".join(over) + ")"))
    if "W2 copy 10k" in by_name and "W2 copy" in by_name:
        a, b = by_name["W2 copy 10k"]["rss"], by_name["W2 copy"]["rss"]
        print("Memory vs copies: %.1f MB at 10,000 copies, %.1f MB at 1,000,000 copies" % (a / 2**20, b / 2**20))
    for base, names in (("W1 scan", ("W1 scan", "W1 scan x2", "W1 scan x4")),
                        ("W2 copy", ("W2 copy", "W2 copy x2", "W2 copy x4"))):
        if all(n in by_name for n in names):
            per_mb = [by_name[n]["q"] / (by_name[n]["out"] / MB) for n in names]
            spread = [p / per_mb[0] - 1 for p in per_mb]
            print("Growth %s: %s ms per output MB at 1x/2x/4x (%s vs 1x): %s" % (
                base, " / ".join("%.2f" % (p * 1000) for p in per_mb),
                " / ".join("%+.0f%%" % (s * 100) for s in spread),
                "within 25%" if all(abs(s) <= 0.25 for s in spread) else "OUTSIDE 25%"))
    if "W3 params" in by_name:
        r = by_name["W3 params"]
        line = "W3: %.2f us per copy, %.2fx the durable copy of its output" % (r["q"] / r["copies"] * 1e6, r["vs_dd"])
        if "W3 no keys" in by_name:
            n = by_name["W3 no keys"]
            line += "; without the eight keys %.2f us per copy" % (n["q"] / n["copies"] * 1e6)
        print(line)


if __name__ == "__main__":
    main()
