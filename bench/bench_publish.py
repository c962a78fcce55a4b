#!/usr/bin/python3
"""`quillon publish` on a loopback mosquitto with simulated modules at zero
scan time: how long a spectrum takes from complete (its `completed` time) to
received by a subscriber, median and 99th percentile, and how many spectra per
second six modules (three processes of two) sustain with none lost.

    /usr/bin/python3 bench/bench_publish.py --cli build/cli/quillon
"""
import argparse
import datetime
import json
import os
import statistics
import sys
import threading
import time

import paho.mqtt.publish as mqtt_publish

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tests", "publish"))
sys.path.insert(0, os.path.join(HERE, os.pardir, "examples"))
from fleet_collect import new_client  # noqa: E402


def completed_seconds(doc):
    at = datetime.datetime.strptime(doc["completed"], "%Y-%m-%dT%H:%M:%S.%fZ")
    return at.replace(tzinfo=datetime.timezone.utc).timestamp()


class Listener:
    """Every spectrum's arrival time, by (serial, id)."""

    def __init__(self, port):
        self.arrived = {}
        self.lock = threading.Condition()
        self.client = new_client("bench-listener")
        self.client.on_message = self._message
        self.client.on_subscribe = lambda *a: self._notify()
        self.subscribed = False
        self.client.connect("127.0.0.1", port)
        self.client.subscribe("quillon/+/spectrum", 1)
        self.client.loop_start()

    def _notify(self):
        with self.lock:
            self.subscribed = True
            self.lock.notify_all()

    def _message(self, client, userdata, message):
        now = time.time()
        doc = json.loads(message.payload)
        with self.lock:
            self.arrived.setdefault((doc["serial"], doc["id"]), (now, completed_seconds(doc)))
            self.lock.notify_all()

    def wait(self, predicate, timeout):
        with self.lock:
            return self.lock.wait_for(predicate, timeout)

    def close(self):
        self.client.disconnect()
        self.client.loop_stop()


def send(port, serial, cmd):
    mqtt_publish.single(f"quillon/{serial}/cmd", json.dumps(cmd), qos=1, hostname="127.0.0.1",
                   port=port)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", default="build/cli/quillon", help="the quillon program")
    parser.add_argument("--latency-spectra", type=int, default=300)
    parser.add_argument("--spectra", type=int, default=2000, help="per module, for the rate")
    args = parser.parse_args()
    os.environ["QUILLON_CLI"] = os.path.abspath(args.cli)
    from broker import Broker  # noqa: E402
    from publish_process import Publisher  # noqa: E402

    broker = Broker()
    publishers = []
    listener = Listener(broker.port)
    try:
        assert listener.wait(lambda: listener.subscribed, 10)
        for p in range(3):
            serials = [f"BENCH-{p}{m}" for m in range(2)]
            # A queue that holds a whole run: the rate is what reaches the
            # subscriber, not what the modules could measure.
            publishers.append(Publisher(broker, "--queue", str(10 * args.spectra), modules=2,
                                        serials=serials))
        serials = [s for pub in publishers for s in pub.serials]
        time.sleep(1)

        # Latency: one module, spectra spaced so that each travels alone.
        first = serials[0]
        send(broker.port, first, {"id": 1, "op": "series", "count": args.latency_spectra,
                                  "interval_s": 0.01})
        assert listener.wait(lambda: sum(k[0] == first for k in listener.arrived)
                             == args.latency_spectra, 60)
        with listener.lock:
            spent = sorted((got - done) * 1000 for (s, _), (got, done) in listener.arrived.items()
                           if s == first)
        p99 = spent[min(len(spent) - 1, int(len(spent) * 0.99))]
        print(f"complete -> received: median {statistics.median(spent):.3f} ms, "
              f"p99 {p99:.3f} ms ({len(spent)} spectra, one module)")

        # Rate: every module at once, as fast as the modules give spectra.
        with listener.lock:
            listener.arrived.clear()
        start = time.time()
        for serial in serials:
            send(broker.port, serial, {"id": 2, "op": "series", "count": args.spectra})
        total = args.spectra * len(serials)
        assert listener.wait(lambda: len(listener.arrived) == total, 600), len(listener.arrived)
        with listener.lock:
            last = max(got for got, _ in listener.arrived.values())
            complete = all(sorted(i for s, i in listener.arrived if s == serial)
                           == list(range(args.latency_spectra + 1,
                                         args.latency_spectra + args.spectra + 1))
                           if serial == first else
                           sorted(i for s, i in listener.arrived if s == serial)
                           == list(range(1, args.spectra + 1)) for serial in serials)
        print(f"{len(serials)} modules: {total / (last - start):.0f} spectra/s sustained "
              f"({total} spectra in {last - start:.2f} s, none lost: {complete})")
    finally:
        listener.close()
        for pub in publishers:
            pub.stop()
        broker.close()


if __name__ == "__main__":
    main()
