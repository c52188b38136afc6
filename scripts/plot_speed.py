#!/usr/bin/env python3
"""Plots of time against message size, one per operation, from the
benchmark programs' JSON output: each line an implementation (corvane and
the peers measured beside it in the same binary), each point the median of
the repetitions, both axes logarithmic. Writes SVG files (no plotting
library needed) for docs/performance.md.

    build/default/bench/des3_bench --benchmark_out=des3.json --benchmark_out_format=json
    scripts/plot_speed.py --out docs/img des3.json base64.json md5.json

Benchmarks are named OPERATION/SIZE/IMPLEMENTATION[/...], SIZE as 64B,
1KiB, 1MiB; operations with fewer than two sizes are skipped.
"""
import argparse
import json
import math
import os
import re
import sys

UNITS = {"B": 1, "KiB": 1024, "MiB": 1024 * 1024}
SIZE = re.compile(r"^(\d+)(B|KiB|MiB)$")
COLOURS = ["#1f5fa8", "#c8553d", "#2e8540", "#8e44ad", "#b7950b", "#5d6d7e"]
WIDTH, HEIGHT, LEFT, RIGHT, TOP, BOTTOM = 640, 400, 70, 150, 40, 50


def medians(paths):
    """{operation: {implementation: {size: nanoseconds}}}"""
    table = {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for run in data.get("benchmarks", []):
            if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
                continue
            parts = run["run_name"].split("/")
            if len(parts) < 3:
                continue
            size = SIZE.match(parts[1])
            if not size:
                continue
            scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
            nanoseconds = run["real_time"] * scale
            operation, implementation = parts[0], parts[2]
            bytes_ = int(size.group(1)) * UNITS[size.group(2)]
            table.setdefault(operation, {}).setdefault(implementation, {})[bytes_] = nanoseconds
    return table


def ticks(low, high):
    return [10 ** k for k in range(math.floor(math.log10(low)), math.ceil(math.log10(high)) + 1)]


def label(value, unit):
    if unit == "bytes":
        for name, size in (("MiB", 1 << 20), ("KiB", 1 << 10)):
            if value >= size:
                return "%g %s" % (value / size, name)
        return "%g B" % value
    for name, size in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if value >= size:
            return "%g %s" % (value / size, name)
    return "%g ns" % value


def plot(operation, lines, path):
    xs = sorted({x for points in lines.values() for x in points})
    ys = [y for points in lines.values() for y in points.values()]
    xlow, xhigh = min(xs), max(xs)
    ylow, yhigh = ticks(min(ys), max(ys))[0], ticks(min(ys), max(ys))[-1]
    inner_w, inner_h = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM

    def px(x):
        return LEFT + inner_w * (math.log(x) - math.log(xlow)) / max(math.log(xhigh) - math.log(xlow), 1e-9)

    def py(y):
        return TOP + inner_h * (1 - (math.log(y) - math.log(ylow)) / (math.log(yhigh) - math.log(ylow)))

    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
           'font-size="12">' % (WIDTH, HEIGHT),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="22" font-size="15">%s: time per call against message size</text>' % (LEFT, operation)]
    for y in ticks(ylow, yhigh):
        out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#ddd"/>' % (LEFT, LEFT + inner_w, py(y), py(y)))
        out.append('<text x="%d" y="%.1f" text-anchor="end">%s</text>' % (LEFT - 6, py(y) + 4, label(y, "time")))
    for x in xs:
        out.append('<line x1="%.1f" x2="%.1f" y1="%d" y2="%d" stroke="#eee"/>' % (px(x), px(x), TOP, TOP + inner_h))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (px(x), TOP + inner_h + 18,
                                                                          label(x, "bytes")))
    out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#444"/>' % (LEFT, TOP, inner_w, inner_h))
    for i, (name, points) in enumerate(sorted(lines.items(), key=lambda item: item[0] != "corvane")):
        colour = COLOURS[i % len(COLOURS)]
        coords = " ".join("%.1f,%.1f" % (px(x), py(points[x])) for x in sorted(points))
        out.append('<polyline points="%s" fill="none" stroke="%s" stroke-width="2"/>' % (coords, colour))
        for x in sorted(points):
            out.append('<circle cx="%.1f" cy="%.1f" r="3" fill="%s"/>' % (px(x), py(points[x]), colour))
        ly = TOP + 16 + 18 * i
        out.append('<line x1="%d" x2="%d" y1="%d" y2="%d" stroke="%s" stroke-width="2"/>' %
                   (LEFT + inner_w + 12, LEFT + inner_w + 32, ly - 4, ly - 4, colour))
        out.append('<text x="%d" y="%d">%s</text>' % (LEFT + inner_w + 38, ly, name))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True, help="folder for the SVG files")
    parser.add_argument("json", nargs="+", help="benchmark output files (--benchmark_out_format=json)")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    written = 0
    for operation, lines in sorted(medians(args.json).items()):
        lines = {name: points for name, points in lines.items() if len(points) >= 2}
        if "corvane" not in lines:
            continue
        path = os.path.join(args.out, "speed-%s.svg" % operation)
        plot(operation, lines, path)
        print(path)
        written += 1
    if written == 0:
        print("no operation with two sizes or more", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
