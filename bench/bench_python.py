#!/usr/bin/python3
"""What the Python package adds to a scan: Spectrometer.scan() against the
simulated module with zero scan time, next to the same scan called bare
through ctypes (quillon_scan) and, when the C benchmark program is given, next to its
BM_ScanColumn228 figure (the same 228-point Column scan from C).

    QUILLONLIB_LIBRARY=build/libquillonlib.so.1 PYTHONPATH=python \\
        /usr/bin/python3 bench/bench_python.py --c-bench build/bench/quillon_bench
"""
import argparse
import ctypes
import json
import os
import subprocess
import sys
import time

os.environ.setdefault("QUILLONLIB_SIMULATOR", "1")
os.environ["QUILLONLIB_SIMULATOR_TIME_SCALE"] = "0"
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))

import numpy as np  # noqa: E402

import quillon  # noqa: E402
from quillon._library import lib  # noqa: E402


def median_us(calls, count, rounds):
    """The median time of one call of each of `calls`, in microseconds. Each
    call is timed alone and rounds alternate between the calls, so a busy
    shared machine neither shifts one figure more than the other nor lets a
    few preempted calls decide it."""
    times = [[] for _ in calls]
    for _ in range(rounds):
        for call, spent in zip(calls, times):
            for _ in range(count):
                start = time.perf_counter_ns()
                call()
                spent.append(time.perf_counter_ns() - start)
    return [float(np.median(spent)) / 1000 for spent in times]


def c_figure(program):
    out = subprocess.run([program, "--benchmark_filter=BM_ScanColumn228$",
                          "--benchmark_repetitions=10", "--benchmark_report_aggregates_only=true",
                          "--benchmark_format=json"], check=True, capture_output=True, text=True)
    run = next(b for b in json.loads(out.stdout)["benchmarks"] if b.get("aggregate_name") == "median")
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[run["time_unit"]]
    return run["real_time"] * scale


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--c-bench", help="the quillon_bench program")
    parser.add_argument("--scans", type=int, default=1000, help="scans per round")
    parser.add_argument("--rounds", type=int, default=10)
    args = parser.parse_args()

    with quillon.Spectrometer() as sp:
        sp.activate(0)  # the simulator's "Column 900-1700": 228 points
        sp.set_lamp(True)
        points = len(sp.scan())
        nm = np.empty(points, dtype=np.float64)
        counts = np.empty(points, dtype=np.int32)
        got = ctypes.c_size_t()
        handle = sp._h()
        bare, package, trivial = median_us(
            [lambda: lib.quillon_scan(handle, nm.ctypes.data, counts.ctypes.data, points,
                                      ctypes.byref(got)), sp.scan,
             lib.quillon_scan_type_count], args.scans, args.rounds)
        sp.set_lamp(False)

    print(f"{points}-point Column scan, zero module time, median of {args.rounds} rounds "
          f"of {args.scans} scans:")
    print(f"  a ctypes call of quillon_scan_type_count: {trivial:5.1f} us (what ctypes costs)")
    print(f"  quillon_scan through ctypes:         {bare:8.1f} us per scan")
    print(f"  quillon Spectrometer.scan():          {package:8.1f} us per scan "
          f"(+{package - bare:.1f} us)")
    if args.c_bench:
        from_c = c_figure(args.c_bench)
        print(f"  C benchmark BM_ScanColumn228 (median): {from_c:7.1f} us per scan "
              f"(static library, the tests' hidapi stand-in)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
