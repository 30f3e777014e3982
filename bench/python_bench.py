#!/usr/bin/python3
"""kelvo.assess from Python against the same assessments from C++.

On the sample (NsBs, salt, layers 1-5, 1 January 2004, its 383 salinity
records), times N calls of kelvo.assess in a Python loop (the observations
as a DataFrame, the domain loaded once) against N assessments made in a C++
loop on the same inputs (the engine and the map's contents, io::map_contents,
as kelvo map makes them before writing). The two loops alternate in rounds so
that both see the same load; the machine's load average is printed before and
after. With --figure FILE.png, the per-call times are drawn.

    PYTHONPATH=build/python bench/python_bench.py [--calls 100] [--rounds 5] [--figure FILE.png]
"""
import argparse
import os
import statistics
import time

import kelvo

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SCALE_DIR = os.path.join(ROOT, "sample", "BRINO_S")
LIST = os.path.join(ROOT, "sample", "metadata", "NsBs_network_2004.lst")
DAY = "2004-01-01"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=100, help="assessments of each side (default 100)")
    parser.add_argument("--rounds", type=int, default=5, help="alternations of the two loops (default 5)")
    parser.add_argument("--figure", help="draw the per-call times into this PNG")
    args = parser.parse_args()

    domain = kelvo.load_domain("NsBs", "salt", scale_dir=SCALE_DIR)
    table = kelvo.read_observations(LIST, param="salt")
    columns = kelvo._columns(table, "salt")
    kelvo.assess(domain, table, DAY)  # the first call pays for imports and caches
    load_before = os.getloadavg()
    python, cpp = [], []
    per_round = max(1, args.calls // args.rounds)
    while len(python) < args.calls:
        n = min(per_round, args.calls - len(python))
        cpp += kelvo._kelvo.engine_seconds(domain, columns, DAY, n)
        for _ in range(n):
            t0 = time.perf_counter()
            kelvo.assess(domain, table, DAY)
            python.append(time.perf_counter() - t0)
    load_after = os.getloadavg()

    ms = lambda v: 1e3 * v
    print(f"kelvo.assess on NsBs salt, layers 1-5, {DAY}: {len(table)} records, {args.calls} calls each side, "
          f"KELVO_THREADS threads: {kelvo._kelvo.threads()}, {os.cpu_count()} CPUs")
    print(f"load average before {load_before[0]:.2f} {load_before[1]:.2f} {load_before[2]:.2f}, "
          f"after {load_after[0]:.2f} {load_after[1]:.2f} {load_after[2]:.2f}")
    print(f"{'':24}{'total s':>9}{'median ms':>11}{'min ms':>9}{'max ms':>9}")
    for name, t in (("C++ (engine + map)", cpp), ("Python (kelvo.assess)", python)):
        print(f"{name:24}{sum(t):9.3f}{ms(statistics.median(t)):11.3f}{ms(min(t)):9.3f}{ms(max(t)):9.3f}")
    print(f"ratio Python / C++: total {sum(python) / sum(cpp):.3f}, median "
          f"{statistics.median(python) / statistics.median(cpp):.3f} (goal 1.2 or less)")

    if args.figure:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, ax = plt.subplots(figsize=(8, 4))
        ax.plot([ms(v) for v in cpp], ".", label=f"C++ loop: engine + map contents (median {ms(statistics.median(cpp)):.2f} ms)")
        ax.plot([ms(v) for v in python], ".", label=f"Python loop: kelvo.assess (median {ms(statistics.median(python)):.2f} ms)")
        ax.set_xlabel("call")
        ax.set_ylabel("milliseconds")
        ax.set_ylim(bottom=0)
        ax.set_title(f"NsBs salt, 5 layers, {DAY}: {args.calls} assessments each, load {load_before[0]:.2f}-{load_after[0]:.2f}")
        ax.legend(loc="lower right")
        fig.savefig(args.figure, dpi=100, bbox_inches="tight")
        print(f"written {args.figure}")


if __name__ == "__main__":
    main()
