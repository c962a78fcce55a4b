#!/usr/bin/python3
"""Latency of `quillon serve`'s API against the simulated module with zero
scan time: GET /api/module (answered from the server's published state) and
POST /api/scan (one scan through the module's thread), median and 99th
percentile with 1, 10 and 100 clients at once, each on its own keep-alive
connection, next to the library's own scan time from the C benchmark
BM_ScanColumn228 when that program is given. Answers other than 200 (a busy
module refusing) are counted and shown.

    /usr/bin/python3 bench/bench_serve.py --cli build/cli/quillon \\
        --c-bench build/bench/quillon_bench
"""
import argparse
import collections
import os
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tests", "serve"))
sys.path.insert(0, HERE)


def one_client(server, method, path, count, spent, statuses, lock, start):
    conn = server.connection(timeout=60)
    headers = {"Authorization": f"Bearer {server.token}"}
    body = b"{}" if method == "POST" else None
    mine, codes = [], []
    start.wait()
    for _ in range(count):
        began = time.perf_counter()
        try:
            conn.request(method, path, body=body, headers=headers)
            resp = conn.getresponse()
            resp.read()
            codes.append(resp.status)
        except OSError as error:
            codes.append(type(error).__name__)
            conn.close()
            conn = server.connection(timeout=60)
        mine.append((time.perf_counter() - began) * 1000)
    conn.close()
    with lock:
        spent.extend(mine)
        statuses.update(codes)


def measure(server, method, path, clients, per_client):
    spent, statuses, lock = [], collections.Counter(), threading.Lock()
    start = threading.Barrier(clients + 1)
    threads = [threading.Thread(target=one_client,
                                args=(server, method, path, per_client, spent, statuses, lock,
                                      start)) for _ in range(clients)]
    for thread in threads:
        thread.start()
    start.wait()
    for thread in threads:
        thread.join(timeout=300)
    return spent, statuses


def describe(name, clients, spent, statuses):
    ordered = sorted(spent)
    p99 = ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]
    other = {k: v for k, v in statuses.items() if k != 200}
    print(f"  {name:<16} {clients:>3} clients  median {statistics.median(ordered):8.3f} ms   "
          f"p99 {p99:8.3f} ms   ({len(ordered)} requests{', not 200: ' + str(other) if other else ''})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", default="build/cli/quillon", help="the quillon program")
    parser.add_argument("--c-bench", help="the quillon_bench program")
    parser.add_argument("--requests", type=int, default=2000, help="per concurrency, in all")
    parser.add_argument("--scans", type=int, default=500, help="per concurrency, in all")
    args = parser.parse_args()
    os.environ["QUILLON_CLI"] = args.cli

    from serve_process import Server  # noqa: E402  (needs QUILLON_CLI first)
    server = Server()
    results = []
    try:
        assert server.post("/api/lamp", {"on": True})[0] == 200
        measure(server, "GET", "/api/module", 1, 50)  # warm up
        for clients in (1, 10, 100):
            for name, method, path, total in (("GET /api/module", "GET", "/api/module",
                                               args.requests),
                                              ("POST /api/scan", "POST", "/api/scan",
                                               args.scans)):
                per_client = max(1, total // clients)
                results.append((name, clients, *measure(server, method, path, clients,
                                                        per_client)))
    finally:
        server.stop()
    print("quillon serve, keep-alive connections on the loopback, zero module time:")
    for result in results:
        describe(*result)
    if args.c_bench:
        # bench_python loads the library on import, though c_figure does not use it.
        os.environ.setdefault("QUILLONLIB_LIBRARY", os.path.join(
            os.path.dirname(os.path.abspath(args.c_bench)), os.pardir, "libquillonlib.so.1"))
        from bench_python import c_figure  # noqa: E402
        print(f"  library scan (C benchmark BM_ScanColumn228): {c_figure(args.c_bench) / 1000:7.3f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
