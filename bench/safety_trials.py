#!/usr/bin/env python3
"""Tries the tool as users would, with other programs and other runs touching
the layout, and counts the changes lost without a word.

    python3 bench/safety_trials.py --exe build/default/quarvel
                                          [--trials 60,16,6,20,50] [--seed N]
                                          [--scratch DIR]

These are timing-based trials, run by hand: they are not part of the test
suite and assert nothing. Everything happens in a scratch folder under
/var/tmp (removed afterwards). The trials, with their counts in --trials order
(0 skips one):

1. two runs in place (output = input) on one small layout, the second started
   at a random moment within one run-time of the first. Lost: a run printed
   DONE and the final file is not the two runs applied in turn (either order),
   or not the result of the run that printed DONE when the other failed.
2. an editor saves the layout (every other trial a rename-save, the rest an
   in-place save: truncate and write) at a random moment during a run of
   300,000 copies. The editor's version has a section with a marker. Lost: the
   run printed DONE and the marker is gone.
3. another program rewrites a 60 MB layout in place (truncate, then 1 MiB
   chunks; its version has a new section at both ends) at a random moment
   near the start of a run on it. Lost: the run
   printed DONE and the result is neither the tool applied to the whole old
   file, nor to the whole new file, nor the new file itself; or it is the tool
   applied to the old file although the other program had already written to
   the file the tool replaced (its version went with the old file).
4. runs of 300,000 copies on one layout, each killed with SIGKILL at a random
   moment, then one clean run. Lost: after a kill the layout is neither the old
   file nor the complete new one. Leftovers: what the folder holds besides the
   layout after the clean run.
5. rounds of 20 runs started at once in place on one small layout, each adding
   one meter. Lost: more runs printed DONE than meters were added; a run that
   failed although its meter was added counts as "other".

Each trial also counts honest failures (exit 1 with "ERROR: " and nothing a
DONE promised is lost), fine outcomes, and "other" (a time-out, a crash, an
unexpected exit, or a failure that lost a change all the same).
"""
import argparse
import hashlib
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
MAKE_LAYOUT = os.path.join(REPO, "bench", "make_layout.py")
LAYOUT = "layout.ini"
PROCESS_TIMEOUT = 60  # seconds for any one run of the tool
MB = 1_000_000

# Trial 1: two runs that give different results, so that a lost one shows.
RUN_A = ["CPU1", "2000", "40", "0", "Core", "Processor"]
RUN_B = ["CPU1", "3000", "0", "30", "Core"]
# Trials 2 and 4: a run long enough to be caught in the middle.
RUN_LONG = ["CPU1", "300000", "40", "0", "Core", "Processor"]
# Trial 3: 570,000 meters make about 60 MB. The target stands near the start,
# so that a read cut short still finds it (as a meter high in a layout would).
SCAN_METERS = 570_000
RUN_SCAN = ["M1000", "3", "40", "0"]
# Trial 5: many runs at once, each adding one meter to a small layout.
AT_ONCE = 20
RUN_ONE = ["A1", "1", "4", "0"]
SMALL = b"[Meter 1]\r\nName=A1\r\nLeft=0\r\nRight=4\r\n"

live = []  # processes to stop if the script is interrupted


class Tally:
    """The counts of one trial, and notes on what was seen."""

    def __init__(self, name):
        self.name = name
        self.runs = self.lost = self.honest = self.fine = self.other = 0
        self.left_files = self.left_bytes = 0
        self.notes = {}

    def add(self, kind, note=None):
        self.runs += 1
        setattr(self, kind, getattr(self, kind) + 1)
        if note:
            self.note(note)

    def note(self, text):
        self.notes[text] = self.notes.get(text, 0) + 1


def make_layout(kind, path, *extra):
    subprocess.run([sys.executable, MAKE_LAYOUT, kind] + list(extra) + [path], check=True)
    with open(path, "rb") as f:
        return f.read()


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def contains(path, marker):
    with open(path, "rb") as f:
        return marker in f.read()


def fresh_folder(scratch, name):
    folder = os.path.join(scratch, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def start(exe, folder, args):
    proc = subprocess.Popen([exe, LAYOUT, LAYOUT] + args, cwd=folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    live.append(proc)
    return proc


def finish(proc, tally=None):
    """'done', 'error' or 'other' (time-out, signal, unexpected output). The
    tally, if given, notes the kind of each error (the path left out)."""
    try:
        out, _ = proc.communicate(timeout=PROCESS_TIMEOUT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        live.remove(proc)
        return "other"
    live.remove(proc)
    lines = out.decode("utf-8", "replace").splitlines()
    if proc.returncode == 0 and any(line.startswith("DONE: ") for line in lines):
        return "done"
    errors = [line for line in lines if line.startswith("ERROR: ")]
    if proc.returncode == 1 and errors:
        if tally:
            tally.note("the tool said %s" % errors[0].rsplit(": ", 1)[0])
        return "error"
    return "other"


def run_once(exe, folder, args):
    return finish(start(exe, folder, args))


def applied(exe, scratch, data, runs):
    """Digest of the layout after `runs` applied in turn to `data`."""
    folder = fresh_folder(scratch, "expect")
    write_file(os.path.join(folder, LAYOUT), data)
    for args in runs:
        if run_once(exe, folder, args) != "done":
            sys.exit("the tool failed on its own: %s" % " ".join(args))
    result = digest(os.path.join(folder, LAYOUT))
    shutil.rmtree(folder)
    return result


def run_time(exe, scratch, data, args, reps):
    """Median wall time of an undisturbed run in place, from start to exit."""
    folder = fresh_folder(scratch, "timing")
    times = []
    for _ in range(reps):
        write_file(os.path.join(folder, LAYOUT), data)
        began = time.perf_counter()
        if run_once(exe, folder, args) != "done":
            sys.exit("the tool failed on its own: %s" % " ".join(args))
        times.append(time.perf_counter() - began)
    shutil.rmtree(folder)
    return statistics.median(times)


def leftovers(folder, tally):
    """Counts what the folder holds besides the layout; returns (files, bytes)."""
    files = size = 0
    for name in os.listdir(folder):
        if name != LAYOUT:
            files += 1
            size += os.lstat(os.path.join(folder, name)).st_size
    tally.left_files += files
    tally.left_bytes += size
    return files, size


def with_section(data, section):
    """`data` with `section` added before its plugin part."""
    at = data.rindex(b"[PluginInfo]")
    return data[:at] + section + data[at:]


def trial_concurrent(exe, scratch, count, rng):
    tally = Tally("1 two runs in place")
    layout = make_layout("copy", os.path.join(scratch, "small.ini"))
    a, b = applied(exe, scratch, layout, [RUN_A]), applied(exe, scratch, layout, [RUN_B])
    both = {applied(exe, scratch, layout, [RUN_A, RUN_B]), applied(exe, scratch, layout, [RUN_B, RUN_A])}
    original = hashlib.sha256(layout).hexdigest()
    window = run_time(exe, scratch, layout, RUN_A, 5)
    tally.note("one run takes %.1f ms; the second starts 0 to that after the first" % (window * 1000))
    for i in range(count):
        folder = fresh_folder(scratch, "t1")
        write_file(os.path.join(folder, LAYOUT), layout)
        first = start(exe, folder, RUN_A)
        time.sleep(rng.uniform(0, window))
        second = start(exe, folder, RUN_B)
        ends = (finish(first, tally), finish(second, tally))
        final = digest(os.path.join(folder, LAYOUT))
        want = {("done", "done"): both, ("done", "error"): {a},
                ("error", "done"): {b}, ("error", "error"): {original}}.get(ends)
        if want is None:
            tally.add("other", "a run neither printed DONE nor failed honestly")
        elif final in want:
            tally.add("fine" if ends == ("done", "done") else "honest")
        elif ends == ("done", "done") and final in (a, b):
            tally.add("lost", "both DONE, the %s run's copies gone" % ("second" if final == a else "first"))
        elif "done" in ends:
            tally.add("lost", "DONE, and the file is not the runs applied in turn")
        else:
            tally.add("other", "both failed, and the layout changed")
        leftovers(folder, tally)
        shutil.rmtree(folder)
    return tally


def trial_editor(exe, scratch, count, rng):
    tally = Tally("2 editor saves during a run")
    layout = make_layout("copy", os.path.join(scratch, "small.ini"))
    marker = b"Marker=saved by the editor"
    edited = with_section(layout, b"[EditorNote]\r\n" + marker + b"\r\n\r\n")
    tool_on_edited = applied(exe, scratch, edited, [RUN_LONG])
    edited_digest = hashlib.sha256(edited).hexdigest()
    window = run_time(exe, scratch, layout, RUN_LONG, 3)
    tally.note("a run of 300,000 copies takes %.0f ms; the save comes 0 to that after its start"
               % (window * 1000))
    for i in range(count):
        kind = "rename-save" if i % 2 == 0 else "in-place save"
        folder = fresh_folder(scratch, "t2")
        path = os.path.join(folder, LAYOUT)
        write_file(path, layout)
        proc = start(exe, folder, RUN_LONG)
        time.sleep(rng.uniform(0, window))
        try:
            if kind == "rename-save":
                write_file(path + ".editor-save", edited)
                os.replace(path + ".editor-save", path)
            else:
                write_file(path, edited)
        except OSError as e:
            # Say, a run that took the editor's own new file for litter.
            tally.note("%s: the editor's save failed: %s" % (kind, e.strerror))
        end = finish(proc, tally)
        kept = contains(path, marker)
        if end == "done" and kept:
            final = digest(path)
            tally.add("fine", "%s: DONE, %s" % (kind, "the run worked on the editor's version"
                                                 if final == tool_on_edited else
                                                 "the editor's save came after the replace"
                                                 if final == edited_digest else
                                                 "marker kept in some other file"))
        elif end == "done":
            tally.add("lost", "%s: DONE, the editor's section gone" % kind)
        elif end == "error" and kept:
            tally.add("honest", "%s: the run failed, the editor's version kept" % kind)
        else:
            tally.add("other", "%s: %s" % (kind, "failed, and the editor's section gone"
                                           if end == "error" else "no DONE, no honest error"))
        leftovers(folder, tally)
        shutil.rmtree(folder)
    return tally


def rewrite_in_place(path, data):
    """Truncates `path` and writes `data` in 1 MiB chunks with a short pause
    after each, as a program that formats its file while it saves it would
    (about a tenth of a second for 60 MB here, against some 20 ms without the
    pauses). Returns the inode written and whether `path` still names it
    once the rewrite is complete."""
    fd = os.open(path, os.O_WRONLY | os.O_TRUNC)
    try:
        inode = os.fstat(fd).st_ino
        view = memoryview(data)
        for at in range(0, len(data), 1 << 20):
            os.write(fd, view[at:at + (1 << 20)])
            time.sleep(0.0005)
    finally:
        os.close(fd)
    return inode, os.stat(path).st_ino == inode


def trial_rewrite(exe, scratch, count, rng):
    tally = Tally("3 rewrite while reading")
    old = make_layout("scan", os.path.join(scratch, "scan.ini"), str(SCAN_METERS))
    os.remove(os.path.join(scratch, "scan.ini"))
    # A section at both ends, so that a read that starts in the old file and
    # ends in the new one (or the reverse) gives neither of them.
    note = b"[Rewritten%s]\r\nMarker=written by another program\r\n\r\n"
    at = old.index(b"[Meter ")
    new = with_section(old[:at] + note % b"Head" + old[at:], note % b"Tail")
    tool_on_old = applied(exe, scratch, old, [RUN_SCAN])
    tool_on_new = applied(exe, scratch, new, [RUN_SCAN])
    new_digest = hashlib.sha256(new).hexdigest()
    window = run_time(exe, scratch, old, RUN_SCAN, 2) / 4
    tally.note("a %.0f MB layout; the rewrite starts 0 to %.0f ms after the run (a quarter of its run-time)"
               % (len(old) / MB, window * 1000))
    took = []
    for _ in range(count):
        folder = fresh_folder(scratch, "t3")
        path = os.path.join(folder, LAYOUT)
        write_file(path, old)
        old_inode = os.stat(path).st_ino
        proc = start(exe, folder, RUN_SCAN)
        time.sleep(rng.uniform(0, window))
        began = time.perf_counter()
        try:
            inode, still_named = rewrite_in_place(path, new)
        except OSError as e:
            finish(proc)
            tally.add("other", "the rewrite failed: %s" % e.strerror)
            shutil.rmtree(folder)
            continue
        took.append(time.perf_counter() - began)
        end = finish(proc, tally)
        final = digest(path)
        # The rewrite went to the file the tool replaced, if it wrote the old
        # inode and the name no longer points there.
        overwritten = inode == old_inode and os.stat(path).st_ino != inode
        if end == "done":
            if final == tool_on_new:
                tally.add("fine", "DONE, the run read the whole new file")
            elif final == new_digest:
                tally.add("fine", "DONE, the rewrite came after the replace")
            elif final == tool_on_old and overwritten:
                tally.add("lost", "DONE, the new file lost: the rewrite %s the replace"
                          % ("ended before" if still_named else "was still going at"))
            elif final == tool_on_old:
                tally.add("other", "DONE on the old file, but the rewrite is not accounted for")
            else:
                tally.add("lost", "DONE, the result built from a half-written file")
        elif end == "error" and final == new_digest:
            tally.add("honest", "the run failed, the new file kept")
        else:
            tally.add("other", "failed, and the new file gone" if end == "error"
                      else "no DONE, no honest error")
        leftovers(folder, tally)
        shutil.rmtree(folder)
    if took:
        tally.note("a rewrite took %.0f ms (median)" % (statistics.median(took) * 1000))
    return tally


def trial_killed(exe, scratch, count, rng):
    tally = Tally("4 killed runs, then a clean one")
    layout = make_layout("copy", os.path.join(scratch, "small.ini"))
    original = hashlib.sha256(layout).hexdigest()
    complete = applied(exe, scratch, layout, [RUN_LONG])
    window = run_time(exe, scratch, layout, RUN_LONG, 3)
    tally.note("a run takes %.0f ms; each is killed 0 to that after its start" % (window * 1000))
    folder = fresh_folder(scratch, "t4")
    path = os.path.join(folder, LAYOUT)
    for _ in range(count):
        write_file(path, layout)
        proc = start(exe, folder, RUN_LONG)
        time.sleep(rng.uniform(0, window))
        proc.send_signal(signal.SIGKILL)
        end = finish(proc)
        final = digest(path)
        if end != "other":
            tally.note("the run ended before the kill")
        if final in (original, complete):
            tally.add("fine")
        else:
            tally.add("lost", "after a kill the layout is neither the old nor the new file")
    files = sum(1 for name in os.listdir(folder) if name != LAYOUT)
    size = sum(os.lstat(os.path.join(folder, n)).st_size for n in os.listdir(folder) if n != LAYOUT)
    tally.note("before the clean run: %s besides the layout" % files_text(files, size))
    write_file(path, layout)
    end = run_once(exe, folder, RUN_LONG)
    tally.note("the clean run: %s" % ("DONE, complete result" if end == "done" and digest(path) == complete
                                      else end + ", result " + ("complete" if digest(path) == complete
                                                                else "wrong")))
    leftovers(folder, tally)
    shutil.rmtree(folder)
    return tally


def trial_many(exe, scratch, count, rng):
    tally = Tally("5 %d runs at once in place" % AT_ONCE)
    for _ in range(count):
        folder = fresh_folder(scratch, "t5")
        path = os.path.join(folder, LAYOUT)
        write_file(path, SMALL)
        ends = [finish(proc, tally) for proc in [start(exe, folder, RUN_ONE) for _ in range(AT_ONCE)]]
        with open(path, "rb") as f:
            added = f.read().count(b"[Meter ") - 1
        done, errors = ends.count("done"), ends.count("error")
        lost, false = max(done - added, 0), max(added - done, 0)
        for kind, n, note in (("fine", done - lost, None), ("lost", lost, "DONE, and its meter is not in the layout"),
                              ("other", false, "failed, and its meter was added all the same"),
                              ("honest", max(errors - false, 0), None),
                              ("other", ends.count("other"), "no DONE, no honest error")):
            for _ in range(n):
                tally.add(kind, note)
        leftovers(folder, tally)
        shutil.rmtree(folder)
    return tally


def files_text(files, size):
    if files == 0:
        return "0"
    return "%d file%s, %.1f MB" % (files, "" if files == 1 else "s", size / MB)


def report(tallies):
    print("| trial | runs | silent losses | honest failures | fine | other | leftovers |")
    print("|---|---:|---:|---:|---:|---:|---|")
    for t in tallies:
        print("| %s | %d | %d | %d | %d | %d | %s |"
              % (t.name, t.runs, t.lost, t.honest, t.fine, t.other, files_text(t.left_files, t.left_bytes)))
    print()
    for t in tallies:
        for text, n in sorted(t.notes.items()):
            print("trial %s: %s%s" % (t.name.split()[0], text, "" if n == 1 else " (%d)" % n))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", required=True, help="the quarvel build to try")
    parser.add_argument("--trials", default="60,16,6,20,50", help="counts of trials 1 to 5 (rounds for 5)")
    parser.add_argument("--seed", type=int, default=None, help="seed of the random moments")
    parser.add_argument("--scratch", default="/var/tmp", help="where the scratch folder goes")
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    counts = [int(n) for n in args.trials.split(",")]
    if len(counts) != 5 or not os.access(exe, os.X_OK):
        parser.error("--trials takes five counts, and --exe an executable")
    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "big")
    rng = random.Random(seed)
    print("quarvel %s, seed %d, trials %s, load %.2f, %s"
          % (exe, seed, ",".join(map(str, counts)), os.getloadavg()[0],
             time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())))
    sys.stdout.flush()
    began = time.perf_counter()
    scratch = tempfile.mkdtemp(prefix="quarvel-trials-", dir=args.scratch)
    tallies = []
    try:
        for run, count in zip((trial_concurrent, trial_editor, trial_rewrite, trial_killed, trial_many), counts):
            if count > 0:
                tallies.append(run(exe, scratch, count, rng))
                sys.stderr.write("%s: done after %.0f s\n" % (tallies[-1].name, time.perf_counter() - began))
    finally:
        for proc in live:
            proc.kill()
            proc.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    print()
    report(tallies)
    print("\n%.0f s in all" % (time.perf_counter() - began))


if __name__ == "__main__":
    main()
