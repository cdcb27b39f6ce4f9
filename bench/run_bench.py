#!/usr/bin/env python3
"""Times whole runs of quarvel against the floor: bench/floor.c, which does only
what any tool that never loses a file must do (read the layout, write a new
file beside the output, flush it, rename it over the output, flush the folder),
given a file of the tool's output size.

    python3 bench/run_bench.py [--pairs N] [--scratch DIR] [--tool EXE]
                               [--baseline EXE] [--only NAMES] [--keep]

Builds a Release quarvel in build/bench unless --tool is given, and the floor
with the system's C compiler; writes the layouts into a scratch folder (removed
afterwards unless --keep). For every workload, runs the tool and the floor in
--pairs pairs, in alternating order, and prints the median of the per-pair
ratios tool / floor with their range, the median times, and the tool's peak
resident memory. With --baseline, another build is timed in the same pairs,
after a check that it writes the same bytes.
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

# name, layout kind (make_layout.py, "sample" or "huge"), its size argument,
# meter, copies, the arguments after the copies, the output ("" for a file
# beside the layout).
WORKLOADS = [
    ("S sample", "sample", None, "CPU1", 4, ["40", "0", "Core", "Processor", "Label"], ""),
    ("W1 scan", "scan", 500_000, "M250000", 0, ["0", "0"], ""),
    ("W1 scan x4", "scan", 2_000_000, "M1000000", 0, ["0", "0"], ""),
    # One copy: the run also looks at every name line for the copies' names.
    ("W1 scan 1 copy", "scan", 500_000, "M250000", 1, ["40", "0"], ""),
    ("W2 copy", "copy", None, "CPU1", 1_000_000, ["40", "0", "Core", "Processor"], ""),
    ("W3 params", "params", None, "Wide1", 100_000, ["40", "0"] + PARAMS8, ""),
    ("M huge line", "huge", 400_000_000, "A1", 1, ["4", "0"], "/dev/null"),
]


def build():
    out = os.path.join(REPO, "build", "bench")
    subprocess.run(["cmake", "-S", REPO, "-B", out, "-DCMAKE_BUILD_TYPE=Release", "-DQUARVEL_BUILD_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out, "--target", "quarvel", "-j", "2"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(out, "quarvel")


def build_floor(scratch):
    floor = os.path.join(scratch, "floor")
    subprocess.run(["cc", "-O2", "-o", floor, os.path.join(HERE, "floor.c")], check=True)
    return floor


def make_layout(kind, size, path):
    if kind == "sample":
        shutil.copyfile(os.path.join(REPO, "examples", "sample.ini"), path)
    elif kind == "huge":
        # The target's one line is a hole in a sparse file: it reads as NULs.
        with open(path, "wb") as f:
            f.write(b"[Meter 1]\r\nName=A1\r\nLeft=0\r\nRight=4\r\nText=")
            f.seek(size, 1)
            f.write(b"\r\n[PluginInfo]\r\n")
    else:
        args = [sys.executable, os.path.join(HERE, "make_layout.py"), kind]
        subprocess.run(args + ([str(size)] if size else []) + [path], check=True)


def timed(cmd):
    """Wall seconds and peak resident bytes of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("failed (%d): %s" % (child.returncode, " ".join(cmd)))
    return seconds, usage.ru_maxrss * 1024


def peak_memory(cmd, fallback):
    """Peak resident bytes of one more run, taken by GNU time: what wait4 gives
    this script counts the forked Python's memory too (about 14 MB)."""
    if not os.path.exists("/usr/bin/time"):
        return fallback
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + cmd, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(report.read().split()[-1]) * 1024


def remove(path):
    if os.path.exists(path) and os.path.isfile(path):
        os.remove(path)


def same_bytes(a, b):
    with open(a, "rb") as x, open(b, "rb") as y:
        while True:
            p, q = x.read(1 << 20), y.read(1 << 20)
            if p != q:
                return False
            if not p:
                return True


def machine_text():
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    fs = subprocess.run(["df", "--output=fstype", "."], capture_output=True, text=True).stdout.split()
    return "%s, %d cores, Linux %s, %s file system, load %.2f at start" % (
        cpu or platform.processor(), os.cpu_count() or 0, platform.release(), fs[-1] if fs else "?",
        os.getloadavg()[0])


def run_workload(workload, tool, baseline, floor, pairs, scratch):
    name, kind, size, meter, copies, rest, out = workload
    layout = os.path.join(scratch, "in-%s-%s.ini" % (kind, size))
    if not os.path.exists(layout):
        make_layout(kind, size, layout)
    out = out or os.path.join(scratch, "out.ini")
    args = [layout, out, meter, str(copies)] + rest
    # A first run checks the arguments and leaves the floor its source, a
    # file of the output's size (the layout itself for an output that is
    # written directly).
    source = layout
    if out != "/dev/null":
        remove(out)
        timed([tool] + args)
        if baseline:
            other = os.path.join(scratch, "baseline-out.ini")
            timed([baseline, layout, other] + args[2:])
            if not same_bytes(out, other):
                sys.exit("%s: the baseline writes other bytes" % name)
            remove(other)
        source = os.path.join(scratch, "floor-in.ini")
        os.replace(out, source)
    out_size = os.path.getsize(source)
    floor_out = out if out == "/dev/null" else os.path.join(scratch, "floor-out.ini")
    commands = [("quarvel", [tool] + args), ("floor", [floor, source, floor_out])]
    if baseline:
        commands.append(("baseline", [baseline] + args))
    times = {label: [] for label, _ in commands}
    peak = {label: 0 for label, _ in commands}
    for index in range(pairs):
        order = commands if index % 2 == 0 else list(reversed(commands))
        for label, cmd in order:
            seconds, rss = timed(cmd)
            times[label].append(seconds)
            peak[label] = max(peak[label], rss)
    for label, cmd in commands:
        peak[label] = peak_memory(cmd, peak[label])
    for path in (out, floor_out, source if source != layout else ""):
        if path and path != "/dev/null":
            remove(path)
    ratios = lambda label: [t / f for t, f in zip(times[label], times["floor"])]
    result = {"name": name, "in": os.path.getsize(layout), "out": out_size,
              "floor": statistics.median(times["floor"])}
    for label in [c[0] for c in commands if c[0] != "floor"]:
        r = ratios(label)
        result[label] = (statistics.median(times[label]), statistics.median(r), min(r), max(r), peak[label])
    return result


def report(results, with_baseline):
    head = "| workload | input MB | output MB | floor ms | quarvel ms | quarvel / floor (range) | peak RSS MB |"
    rule = "|---|---:|---:|---:|---:|---:|---:|"
    if with_baseline:
        head += " baseline ms | baseline / floor (range) | baseline RSS MB |"
        rule += "---:|---:|---:|"
    print(head)
    print(rule)
    for r in results:
        line = "| %s | %.1f | %.1f | %.1f |" % (r["name"], r["in"] / MB, r["out"] / MB, r["floor"] * 1000)
        for label in ("quarvel", "baseline") if with_baseline else ("quarvel",):
            t, ratio, low, high, rss = r[label]
            line += " %.1f | %.2f (%.2f-%.2f) | %.1f |" % (t * 1000, ratio, low, high, rss / 2**20)
        print(line)
    print()
    for r in results:
        if r["name"].startswith("M"):
            for label in ("quarvel", "baseline") if with_baseline else ("quarvel",):
                print("%s, %s: peak memory %.2fx the input" % (r["name"], label, r[label][4] / r["in"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--pairs", type=int, default=9, help="pairs of runs per workload (default 9)")
    parser.add_argument("--scratch", default=None, help="folder for the layouts (default: a new one in /var/tmp)")
    parser.add_argument("--tool", default=None, help="quarvel executable to time (default: build one)")
    parser.add_argument("--baseline", default=None, help="another quarvel executable to time alongside")
    parser.add_argument("--only", default=None, help="comma-separated workload names, e.g. 'S sample,W1 scan'")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    opts = parser.parse_args()

    tool = os.path.abspath(opts.tool) if opts.tool else build()
    baseline = os.path.abspath(opts.baseline) if opts.baseline else None
    if opts.scratch:
        os.makedirs(opts.scratch, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="quarvel-bench-", dir=opts.scratch or "/var/tmp")
    chosen = [w for w in WORKLOADS if not opts.only or w[0] in opts.only.split(",")]
    try:
        floor = build_floor(scratch)
        os.chdir(scratch)
        print("Machine: " + machine_text())
        print("Pairs: %d per workload, order alternating; ratios are the median of the per-pair ratios.\n" % opts.pairs)
        results = []
        for workload in chosen:
            results.append(run_workload(workload, tool, baseline, floor, opts.pairs, scratch))
            print("  done: %s" % workload[0], file=sys.stderr)
        report(results, baseline is not None)
    finally:
        os.chdir(REPO)
        if not opts.keep:
            shutil.rmtree(scratch, ignore_errors=True)
        else:
            print("Layouts kept in " + scratch)


if __name__ == "__main__":
    main()
