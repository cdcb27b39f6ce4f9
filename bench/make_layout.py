#!/usr/bin/env python3
"""Writes the large layouts that the benchmark times: our own, deterministic
(the same arguments always give the same bytes), CR LF line ends.

    make_layout.py scan METERS OUT     general settings, METERS meters of about
                                       ten lines with companion sections, the
                                       target "Meter<METERS/2>" in the middle,
                                       and a [PluginInfo] part
    make_layout.py copy OUT            a small layout whose target "CPU1" is a
                                       ten-line meter with two parameter keys
                                       (Core, Processor)
    make_layout.py params OUT          a small layout whose target "Wide1" has
                                       eight parameter keys P1 ... P8, each value
                                       twenty digits long
"""
import sys

CRLF = "\r\n"

HEAD = [
    "; Quarvel benchmark layout: generated, do not edit.",
    "",
    "[Settings]",
    "Update=1000",
    "Width=200",
    "Height=120",
    "Background=20,20,28,230",
    "",
    "[Variables]",
    "FontFace=Sans",
    "TextColor=230,230,230",
    "",
]

PLUGIN = [
    "[PluginInfo]",
    "Title=Benchmark layout",
    "Version=1.0",
    "",
]


def meter_lines(number, name, left, top, extra, output=True):
    """One meter section of about ten lines, companions included."""
    lines = [
        "[Meter %d]" % number,
        "Name=%s" % name,
        "Left=%d" % left,
        "Right=%d" % (left + 30),
        "Top=%d" % top,
        "Bottom=%d" % (top + 60),
    ]
    lines += extra
    lines.append("[Source %d]" % number)
    if output:
        lines.append("[Output %d]" % number)
    lines.append("")
    return lines


def write_lines(path, chunks):
    with open(path, "w", encoding="ascii", newline="") as out:
        for chunk in chunks:
            out.write(CRLF.join(chunk) + CRLF)


def scan_layout(meters):
    yield HEAD
    batch = []
    for i in range(meters):
        # About 105 bytes a meter: 500,000 meters make some 53 MB.
        batch += meter_lines(i, "M%d" % i, 10 + (i % 100) * 40, 30 + (i // 100 % 50) * 70,
                             ["Core=%d" % (i % 8)], output=i % 4 == 0)
        if len(batch) > 100000:
            yield batch
            batch = []
    if batch:
        yield batch
    yield PLUGIN


def small_layout(target):
    yield HEAD
    yield meter_lines(0, "Title", 10, 4, ["Text=System"])
    yield target
    yield meter_lines(2, "Memory", 60, 30, ["Core=0"])
    yield PLUGIN


def copy_layout():
    # Ten lines: header, name, four positions, two parameter keys, one companion.
    return small_layout([
        "[Meter 1]", "Name=CPU1", "Left=10", "Right=40", "Top=30", "Bottom=90",
        "Core=1", "Type=Bar", "[Source 1]", "Processor=1", "",
    ])


def params_layout():
    lines = ["[Meter 1]", "Name=Wide1", "Left=10", "Right=40", "Top=30", "Bottom=90"]
    for key in range(1, 9):
        lines.append("P%d=%s" % (key, "".join(str((key + d) % 10) for d in range(20))))
    lines.append("")
    return small_layout(lines)


def main(argv):
    if len(argv) == 4 and argv[1] == "scan":
        write_lines(argv[3], scan_layout(int(argv[2])))
    elif len(argv) == 3 and argv[1] == "copy":
        write_lines(argv[2], copy_layout())
    elif len(argv) == 3 and argv[1] == "params":
        write_lines(argv[2], params_layout())
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
