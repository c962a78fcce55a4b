#!/usr/bin/python3
"""Gathers the spectra of every module that `quillon publish` serves on an MQTT
broker into one SQLite file, and commands any of them.

    fleet_collect.py --broker mqtt://broker.lab:1883 --db fleet.sqlite
    fleet_collect.py --broker mqtt://broker.lab:1883 --scan QN-0042
    fleet_collect.py --broker mqtt://broker.lab:1883 --series QN-0042 20 1.5
    fleet_collect.py --db fleet.sqlite --query

It subscribes to P/+/spectrum and P/+/status (P: --prefix, default quillon)
with a persistent session, so the broker keeps what arrives while the collector
is away. A spectrum may arrive twice (QoS 1 is "at least once"); it is stored
once, by its module's serial number, the publisher's run and its id (ids start
at 1 with every run of `quillon publish`).

Reading the spectra back (the arrays are JSON):

    import json, sqlite3
    db = sqlite3.connect("fleet.sqlite")
    for serial, n in db.execute("SELECT serial, COUNT(*) FROM spectra GROUP BY serial"):
        print(serial, n)
    row = db.execute("SELECT wavelength_nm, intensity FROM spectra WHERE serial = ? "
                     "ORDER BY id DESC LIMIT 1", ("QN-0042",)).fetchone()
    wavelengths, values = json.loads(row[0]), json.loads(row[1])

Needs Debian's python3-paho-mqtt.
"""
import argparse
import itertools
import json
import signal
import sqlite3
import sys
import threading
import time
import urllib.parse

import paho.mqtt.client as mqtt

SCHEMA = """CREATE TABLE IF NOT EXISTS spectra (
    serial TEXT NOT NULL,
    run TEXT NOT NULL,
    id INTEGER NOT NULL,
    started TEXT,
    sample TEXT,
    comment TEXT,
    quantity TEXT,
    configuration TEXT,
    wavelength_nm TEXT NOT NULL,
    intensity TEXT NOT NULL,
    document TEXT NOT NULL,
    PRIMARY KEY (serial, run, id))"""


def parse_broker(url):
    """(host, port, tls) of mqtt://HOST[:PORT] or mqtts://HOST[:PORT]."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme not in ("mqtt", "mqtts") or not parts.hostname:
        raise ValueError(f"not an mqtt:// or mqtts:// address: {url}")
    tls = parts.scheme == "mqtts"
    return parts.hostname, parts.port or (8883 if tls else 1883), tls


def new_client(client_id):
    # paho-mqtt 2 asks which callback signatures the program expects.
    if hasattr(mqtt, "CallbackAPIVersion"):
        return mqtt.Client(mqtt.CallbackAPIVersion.VERSION1, client_id=client_id,
                           clean_session=False)
    return mqtt.Client(client_id=client_id, clean_session=False)


class Collector:
    """Keeps every spectrum once in `db_path`, the last status of every module,
    and the replies to the commands it sent."""

    def __init__(self, host, port, prefix="quillon", db_path="fleet.sqlite",
                 client_id="quillon-fleet-collect", tls_ca=None, username=None, password=None):
        self.prefix = prefix
        self.db = sqlite3.connect(db_path, check_same_thread=False)
        # Each spectrum is committed (and synced) before the broker hears it
        # arrived, so none is lost; the write-ahead log makes that one sync.
        self.db.execute("PRAGMA journal_mode=WAL")
        self.db.execute(SCHEMA)
        self.db.commit()
        self.lock = threading.Condition()
        self.statuses = {}   # serial -> last status document
        self.configurations = {}  # serial -> its stored configurations, by position
        self.replies = {}    # (serial, id) -> reply document
        self.reply_log = []  # (serial, reply document) in arrival order
        self.received = 0    # spectrum messages, duplicates included
        self.subscribed = False
        self.ids = itertools.count(int(time.time() * 1000))
        self.client = new_client(client_id)
        if username:
            self.client.username_pw_set(username, password)
        if tls_ca:
            self.client.tls_set(ca_certs=tls_ca)
        self.client.on_connect = self._connected
        self.client.on_message = self._message
        self.client.on_subscribe = self._subscribed
        self.client.reconnect_delay_set(min_delay=1, max_delay=5)
        self.client.connect_async(host, port, keepalive=30)
        self.client.loop_start()

    def close(self):
        self.client.disconnect()
        self.client.loop_stop()
        self.db.close()

    def _connected(self, client, userdata, flags, rc):
        if rc == 0:
            client.subscribe([(f"{self.prefix}/+/spectrum", 1), (f"{self.prefix}/+/status", 1),
                              (f"{self.prefix}/+/configurations", 1),
                              (f"{self.prefix}/+/reply", 1)])

    def _subscribed(self, client, userdata, mid, granted_qos):
        with self.lock:
            self.subscribed = True
            self.lock.notify_all()

    def _message(self, client, userdata, message):
        serial, leaf = message.topic[len(self.prefix) + 1:].rsplit("/", 1)
        try:
            doc = json.loads(message.payload)
        except ValueError:
            return
        with self.lock:
            if leaf == "spectrum":
                self.received += 1
                self._store(doc)
            elif leaf == "status":
                self.statuses[serial] = doc
            elif leaf == "configurations":
                self.configurations[serial] = doc
            elif leaf == "reply" and isinstance(doc, dict):
                self.replies[(serial, doc.get("id"))] = doc
                self.reply_log.append((serial, doc))
            self.lock.notify_all()

    def _store(self, doc):
        scan = doc["scans"][0]
        key = doc["quantity"]
        self.db.execute(
            "INSERT OR IGNORE INTO spectra VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            (doc["serial"], doc["run"], doc["id"], doc.get("started"), doc.get("sample"), doc.get("comment"),
             key, (doc.get("configuration") or {}).get("name"), json.dumps(scan["wavelength_nm"]),
             json.dumps(scan[key]), json.dumps(doc)))
        self.db.commit()

    def wait(self, predicate, timeout):
        """Waits until predicate() (called with the lock held) is true; its last value."""
        with self.lock:
            return self.lock.wait_for(predicate, timeout)

    def command(self, serial, op, **fields):
        """Sends a command; its id."""
        ident = next(self.ids)
        self.send_raw(serial, json.dumps({"id": ident, "op": op, **fields}))
        return ident

    def send_raw(self, serial, payload):
        self.client.publish(f"{self.prefix}/{serial}/cmd", payload, qos=1)

    def reply(self, serial, ident, timeout=10):
        """The reply to command `ident`, or None after `timeout` seconds."""
        if self.wait(lambda: (serial, ident) in self.replies, timeout):
            with self.lock:
                return self.replies[(serial, ident)]
        return None

    def ids_of(self, serial):
        """The ids of the spectra stored from `serial`, in the order they first came."""
        with self.lock:
            rows = self.db.execute("SELECT id FROM spectra WHERE serial = ? ORDER BY rowid",
                                   (serial,)).fetchall()
        return [r[0] for r in rows]

    def document(self, serial, ident):
        with self.lock:
            row = self.db.execute("SELECT document FROM spectra WHERE serial = ? AND id = ?",
                                  (serial, ident)).fetchone()
        return json.loads(row[0]) if row else None

    def online(self):
        with self.lock:
            return sorted(s for s, doc in self.statuses.items() if doc.get("online"))


def print_summary(db_path):
    db = sqlite3.connect(db_path)
    db.execute(SCHEMA)
    rows = db.execute("SELECT serial, COUNT(*), MIN(started), MAX(started) FROM spectra "
                      "GROUP BY serial ORDER BY serial").fetchall()
    for serial, count, first, last in rows:
        print(f"{serial}: {count} spectra from {first} to {last}")
    db.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--broker", default="mqtt://127.0.0.1:1883")
    parser.add_argument("--prefix", default="quillon")
    parser.add_argument("--db", default="fleet.sqlite")
    parser.add_argument("--client-id", default="quillon-fleet-collect")
    parser.add_argument("--tls-ca")
    parser.add_argument("--username")
    parser.add_argument("--password-file")
    parser.add_argument("--scan", metavar="SERIAL", help="scan once on this module")
    parser.add_argument("--series", nargs=3, metavar=("SERIAL", "COUNT", "INTERVAL"),
                        help="a series on this module (COUNT 0: until stopped)")
    parser.add_argument("--sample", help="the sample's name, stored with the spectra")
    parser.add_argument("--query", action="store_true",
                        help="print what the database holds and exit")
    parser.add_argument("--seconds", type=float, default=0,
                        help="collect for this long and exit (default: until Ctrl-C)")
    args = parser.parse_args()
    if args.query:
        print_summary(args.db)
        return 0
    host, port, tls = parse_broker(args.broker)
    password = None
    if args.password_file:
        with open(args.password_file, encoding="utf-8") as f:
            password = f.readline().rstrip("\r\n")
    collector = Collector(host, port, args.prefix, args.db, args.client_id,
                          tls_ca=args.tls_ca if tls else None, username=args.username,
                          password=password)
    extra = {"sample": args.sample} if args.sample else {}
    status = 0
    sent = []
    if args.scan:
        sent.append((args.scan, collector.command(args.scan, "scan", **extra)))
    if args.series:
        serial, count, interval = args.series
        sent.append((serial, collector.command(serial, "series", count=int(count),
                                               interval_s=float(interval), **extra)))
    for serial, ident in sent:
        reply = collector.reply(serial, ident)
        print(f"{serial}: {json.dumps(reply) if reply else 'no reply'}")
        status = status or (0 if reply and reply["ok"] else 1)
    stop = threading.Event()
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    stop.wait(args.seconds if args.seconds > 0 else None)
    collector.close()
    print_summary(args.db)
    return status


if __name__ == "__main__":
    sys.exit(main())
