#!/usr/bin/env python3
"""Summary of one benchmark run: ratios against the floor, and rates.

Reads the JSON files the benchmarks wrote (--benchmark_out) and prints two
tables: every benchmark that reports a "ratio" to its floor (with its aim and
whether the run met it), every rate (pixels, calls or bytes per second), the
processor time of the rest, and the bytes per message of the compression
benchmarks (the raw size and the ratio left blank where a benchmark counts
only the message).
Exits 0 whatever the figures: a missed aim is a finding, not a build failure.

  bench_summary.py RESULT.json...
"""
import json
import sys


def rows(paths):
    for path in paths:
        with open(path) as file:
            data = json.load(file)
        for bench in data.get("benchmarks", []):
            if bench.get("run_type", "iteration") == "iteration" and "error_occurred" not in bench:
                yield bench


def rate_of(bench):
    for key, unit in (("pixels/s", "pixels/s"), ("items_per_second", "calls/s"),
                      ("bytes_per_second", "bytes/s")):
        if key in bench:
            return bench[key], unit
    return None


def human(value):
    for scale, suffix in ((1e9, " G"), (1e6, " M"), (1e3, " k")):
        if value >= scale:
            return f"{value / scale:.2f}{suffix}"
    return f"{value:.1f} "


def main(paths):
    benches = list(rows(paths))
    if not benches:
        sys.exit("bench_summary: no benchmark results in " + " ".join(paths))
    floors = [b for b in benches if "ratio" in b]
    print(f"{'against the floor':<40} {'time':>10} {'floor':>10} {'ratio':>7} {'aim':>6}")
    for bench in floors:
        aim = bench.get("aim", 0)
        verdict = "" if not aim else ("met" if bench["ratio"] <= aim else "MISSED")
        print(f"{bench['name']:<40} {bench['us']:>8.1f}us {bench['floor_us']:>8.1f}us "
              f"{bench['ratio']:>6.2f}x {aim:>5.2f}x {verdict}")
    print()
    print(f"{'rates':<40} {'per second':>16}")
    for bench in benches:
        rate = rate_of(bench)
        if rate and "ratio" not in bench:
            print(f"{bench['name']:<40} {human(rate[0]) + rate[1]:>16}")
    others = [b for b in benches if "ratio" not in b and not rate_of(b)]
    if others:
        print()
        print(f"{'times':<40} {'processor time':>16}")
        for bench in others:
            print(f"{bench['name']:<40} {bench['cpu_time']:>13.1f} {bench['time_unit']:>2}")
    messages = [b for b in benches if "message_bytes" in b]
    if messages:
        print()
        print(f"{'message bytes':<40} {'raw':>10} {'message':>10} {'smaller':>8}")
        for bench in messages:
            raw, sent = bench.get("raw_bytes"), bench["message_bytes"]
            raw_text = f"{raw:,.0f}" if raw is not None else "-"
            ratio = f"{raw / sent:.1f}x" if raw is not None and sent > 0 else "-"
            print(f"{bench['name']:<40} {raw_text:>10} {sent:>10,.0f} {ratio:>8}")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] in ("--help", "-h"):
        print(__doc__)
        sys.exit(0)
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1:])
