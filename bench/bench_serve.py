#!/usr/bin/python3
"""Latency of `quillon serve`'s API against the simulated module with zero
scan time: GET /api/module (answered from the server's published state) and
POST /api/scan (one 228-point scan through the module's thread), median and
99th percentile, next to the library's own scan time from the C benchmark
BM_ScanColumn228 when that program is given.

    /usr/bin/python3 bench/bench_serve.py --cli build/cli/quillon \\
        --c-bench build/bench/quillon_bench
"""
import argparse
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tests", "serve"))
sys.path.insert(0, HERE)


def latencies_ms(conn, method, path, token, count):
    headers = {"Authorization": f"Bearer {token}"}
    body = b"{}" if method == "POST" else None
    spent = []
    for _ in range(count):
        start = time.perf_counter()
        conn.request(method, path, body=body, headers=headers)
        resp = conn.getresponse()
        resp.read()
        spent.append((time.perf_counter() - start) * 1000)
        assert resp.status == 200, (path, resp.status)
    return spent


def describe(name, spent):
    ordered = sorted(spent)
    p99 = ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]
    print(f"  {name:<16} median {statistics.median(ordered):7.3f} ms   p99 {p99:7.3f} ms   "
          f"({len(ordered)} requests)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", default="build/cli/quillon", help="the quillon program")
    parser.add_argument("--c-bench", help="the quillon_bench program")
    parser.add_argument("--requests", type=int, default=2000)
    parser.add_argument("--scans", type=int, default=500)
    args = parser.parse_args()
    os.environ["QUILLON_CLI"] = args.cli

    from serve_process import Server  # noqa: E402  (needs QUILLON_CLI first)
    server = Server()
    try:
        conn = server.connection()
        assert server.post("/api/lamp", {"on": True})[0] == 200
        latencies_ms(conn, "GET", "/api/module", server.token, 50)  # warm up
        module = latencies_ms(conn, "GET", "/api/module", server.token, args.requests)
        scan = latencies_ms(conn, "POST", "/api/scan", server.token, args.scans)
        conn.close()
    finally:
        server.stop()
    print("quillon serve, keep-alive connection on the loopback, zero module time:")
    describe("GET /api/module", module)
    describe("POST /api/scan", scan)
    if args.c_bench:
        # bench_python loads the library on import, though c_figure does not use it.
        os.environ.setdefault("QUILLONLIB_LIBRARY", os.path.join(
            os.path.dirname(os.path.abspath(args.c_bench)), os.pardir, "libquillonlib.so.1"))
        from bench_python import c_figure  # noqa: E402
        print(f"  library scan (C benchmark BM_ScanColumn228): {c_figure(args.c_bench) / 1000:7.3f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
