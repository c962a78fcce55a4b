"""`quillon publish` against a real mosquitto, seen through the example collector."""
import signal
import subprocess
import time

import pytest

from broker import Broker
from publish_process import CLI, Publisher, collector_for, sim_env


@pytest.fixture
def broker():
    b = Broker()
    yield b
    b.close()


@pytest.fixture
def collector(broker, tmp_path):
    c = collector_for(broker, str(tmp_path / "fleet.sqlite"))
    assert c.wait(lambda: c.subscribed, 10)
    yield c
    c.close()


def status_of(collector, serial):
    with collector.lock:
        return dict(collector.statuses.get(serial, {}))


def wait_status(collector, serial, timeout=10, **fields):
    ok = collector.wait(lambda: all(collector.statuses.get(serial, {}).get(k) == v
                                    for k, v in fields.items()), timeout)
    assert ok, f"{serial}: {status_of(collector, serial)} is not {fields}"


def command(collector, serial, op, **fields):
    reply = collector.reply(serial, collector.command(serial, op, **fields))
    assert reply is not None, f"no reply to {op}"
    return reply


def test_commands_scan_and_run_a_series_on_the_chosen_module(broker, collector):
    pub = Publisher(broker)
    try:
        serial = pub.serials[0]
        wait_status(collector, serial, online=True, busy=False)
        status = status_of(collector, serial)
        assert status["serial"] == serial and len(status["versions"]) == 7
        assert status["active_position"] == 0 and status["dropped"] == 0

        reply = command(collector, serial, "scan", sample="flour", comment="bin 3")
        assert reply["ok"] is True and reply["error"] is None
        first = reply["spectrum"]
        assert collector.wait(lambda: collector.ids_of(serial) == [first], 10)
        doc = collector.document(serial, first)
        assert (doc["serial"], doc["id"], doc["sample"], doc["comment"]) == (serial, 1, "flour",
                                                                             "bin 3")
        scan = doc["scans"][0]
        assert scan["points"] == len(scan["wavelength_nm"]) == len(scan["intensity"]) == 228
        assert doc["quantity"] == "intensity" and doc["average"] == 1
        # "auto" switched the lamp on for the scan and off again after it.
        wait_status(collector, serial, lamp=False, busy=False)

        reply = command(collector, serial, "series", count=5, interval_s=0)
        assert reply["ok"] is True
        assert collector.wait(lambda: len(collector.ids_of(serial)) == 6, 10)
        assert collector.ids_of(serial) == [1, 2, 3, 4, 5, 6]
        assert [collector.document(serial, i)["scans"][0]["scan"] for i in range(2, 7)] == \
            [1, 2, 3, 4, 5]
        wait_status(collector, serial, busy=False)

        assert command(collector, serial, "lamp", on=True)["ok"]
        wait_status(collector, serial, lamp=True)
        with collector.lock:
            configs = collector.configurations[serial]
        assert [(c["position"], c["name"], c["points"]) for c in configs] == [
            (0, "Column 900-1700", 228), (1, "Hadamard 900-1700", 228),
            (2, "Column + Hadamard", 200)]
        assert [s["type"] for s in configs[2]["sections"]] == ["Column", "Hadamard"]
        assert command(collector, serial, "activate", position=2)["ok"]
        wait_status(collector, serial, active_position=2, active_name="Column + Hadamard")
        reply = command(collector, serial, "scan", lamp="keep", average=3)
        doc = collector.document(serial, reply["spectrum"])
        assert doc["configuration"]["name"] == "Column + Hadamard" and doc["average"] == 3
        assert doc["scans"][0]["points"] == 200
        reply = command(collector, serial, "scan", quantity="absorbance")
        assert reply["error"] == ("quantity absorbance needs a white reference, which the "
                                  "publisher does not keep")
        reply = command(collector, serial, "activate", position=7)
        assert reply["ok"] is False and "no configuration at position 7" in reply["error"]

        # A series until stopped: other commands are refused meanwhile, status and stop are not.
        assert command(collector, serial, "series", count=0, interval_s=0.02)["ok"]
        wait_status(collector, serial, busy=True)
        for op, fields in (("scan", {}), ("lamp", {"on": False}), ("activate", {"position": 0}),
                           ("series", {"count": 1})):
            assert command(collector, serial, op, **fields)["error"] == "busy"
        reply = command(collector, serial, "status")
        assert reply["ok"] and reply["status"]["busy"] is True
        assert reply["status"]["serial"] == serial
        reply = command(collector, serial, "stop")
        assert reply["ok"] and reply["stopped"] is True
        wait_status(collector, serial, busy=False, queued=0)
        ids = collector.ids_of(serial)
        assert ids == list(range(1, len(ids) + 1)) and len(ids) > 7
        # The lamp was on before the series: it stays on after it.
        assert status_of(collector, serial)["lamp"] is True
        assert command(collector, serial, "stop")["stopped"] is False
    finally:
        assert pub.stop() == 0


def test_three_computers_of_two_modules_deliver_every_spectrum_once(broker, collector):
    publishers = [Publisher(broker, modules=2, serials=[f"QN-{p}1", f"QN-{p}2"])
                  for p in range(3)]
    try:
        serials = [s for pub in publishers for s in pub.serials]
        assert sorted(serials) == ["QN-01", "QN-02", "QN-11", "QN-12", "QN-21", "QN-22"]
        assert collector.wait(lambda: collector.online() == sorted(serials), 10)
        for serial in serials:
            assert command(collector, serial, "series", count=20, interval_s=0.01)["ok"]
        assert collector.wait(lambda: all(len(collector.ids_of(s)) == 20 for s in serials), 30)
        for serial in serials:
            assert collector.ids_of(serial) == list(range(1, 21))
            assert collector.document(serial, 20)["serial"] == serial
        assert collector.received >= 120
    finally:
        assert [pub.stop() for pub in publishers] == [0, 0, 0]
    assert collector.wait(lambda: collector.online() == [], 10)


def test_device_chooses_modules_by_serial_or_index(broker, collector):
    for args, chosen in ((["--device", "QD-2"], ["QD-2"]), (["--device", "0"], ["QD-1"]),
                         (["--all"], ["QD-1", "QD-2"])):
        pub = Publisher(broker, *args, modules=2, serials=["QD-1", "QD-2"], serving=len(chosen))
        try:
            assert pub.serials == chosen
            assert collector.wait(lambda: collector.online() == chosen, 10)
        finally:
            assert pub.stop() == 0
        assert collector.wait(lambda: collector.online() == [], 10)


MALFORMED = [
    (b"", None, "not JSON"),
    (b"{\"id\": 1, \"op\": ", None, "not JSON"),
    (b"\xff\xfe{}", None, "not JSON"),
    (b"[1, 2]", None, "a command is a JSON object"),
    (b"{\"id\": {\"a\": 1}, \"op\": \"scan\"}", None, "id must be a string or an integer"),
    (b"{\"id\": 106}", 106, "no op"),
    (b"{\"id\": 107, \"op\": 3}", 107, "op must be a string"),
    (b"{\"id\": 108, \"op\": \"explode\"}", 108, "unknown op 'explode'"),
    (b"{\"id\": 109, \"op\": \"scan\", \"average\": 0}", 109, "average must be from 1 to 1000"),
    (b"{\"id\": 110, \"op\": \"scan\", \"average\": \"2\"}", 110, "average must be a whole number"),
    (b"{\"id\": 111, \"op\": \"scan\", \"average\": 2.5}", 111, "average must be a whole number"),
    (b"{\"id\": 112, \"op\": \"scan\", \"lamp\": \"bright\"}", 112,
     "lamp must be auto, on, off or keep, not 'bright'"),
    (b"{\"id\": 113, \"op\": \"scan\", \"quantity\": \"colour\"}", 113,
     "quantity must be intensity, reflectance or absorbance, not 'colour'"),
    (b"{\"id\": 114, \"op\": \"scan\", \"sample\": 5}", 114, "sample must be a string"),
    (b"{\"id\": 115, \"op\": \"scan\", \"averge\": 2}", 115, "unknown field 'averge'"),
    (b"{\"id\": 116, \"op\": \"series\"}", 116, "series needs a count (0: until stopped)"),
    (b"{\"id\": 117, \"op\": \"series\", \"count\": -3}", 117, "count must not be negative"),
    (b"{\"id\": 118, \"op\": \"series\", \"count\": 2, \"interval_s\": -1}", 118,
     "interval_s must be from 0 to 86400"),
    (b"{\"id\": 119, \"op\": \"lamp\", \"on\": \"yes\"}", 119, "lamp needs \"on\": true or false"),
    (b"{\"id\": \"x20\", \"op\": \"activate\", \"position\": 1.5}", "x20",
     "position must be a whole number"),
    (b"{\"id\": 121, \"op\": \"activate\"}", 121, "activate needs a position"),
]


def test_malformed_commands_each_get_an_error_reply_and_serving_goes_on(broker, collector):
    pub = Publisher(broker)
    try:
        serial = pub.serials[0]
        wait_status(collector, serial, online=True)
        for payload, _, _ in MALFORMED:
            collector.send_raw(serial, payload)
        assert collector.wait(lambda: len(collector.reply_log) == len(MALFORMED), 15)
        got = [(doc["id"], doc["ok"], doc["error"]) for _, doc in collector.reply_log]
        assert got == [(ident, False, error) for _, ident, error in MALFORMED]
        assert pub.proc.poll() is None
        reply = command(collector, serial, "scan")
        assert reply["ok"] and reply["spectrum"] == 1
    finally:
        assert pub.stop() == 0


def test_sigterm_stops_the_series_switches_the_lamp_off_and_says_offline(broker, collector):
    pub = Publisher(broker)
    serial = pub.serials[0]
    wait_status(collector, serial, online=True)
    assert command(collector, serial, "series", count=0, interval_s=0.01, lamp="on")["ok"]
    assert collector.wait(lambda: len(collector.ids_of(serial)) >= 5, 10)
    assert pub.stop(signal.SIGTERM) == 0
    wait_status(collector, serial, online=False)
    last = status_of(collector, serial)
    assert last["lamp"] is False and last["busy"] is False and last["queued"] == 0
    # Everything measured before the signal went out before the program ended.
    ids = collector.ids_of(serial)
    assert ids == list(range(1, len(ids) + 1))
    # The next run counts from 1 again; its spectra are kept beside the first run's.
    again = Publisher(broker)
    try:
        wait_status(collector, serial, online=True)
        assert command(collector, serial, "scan")["spectrum"] == 1
        assert collector.wait(lambda: collector.ids_of(serial) == ids + [1], 10)
    finally:
        assert again.stop() == 0


def test_sigkill_leaves_the_will_within_the_keepalive(broker, collector):
    pub = Publisher(broker, "--keepalive", "5")
    serial = pub.serials[0]
    wait_status(collector, serial, online=True)
    killed = time.monotonic()
    assert pub.stop(signal.SIGKILL) == -signal.SIGKILL
    wait_status(collector, serial, timeout=7.5, online=False)
    assert time.monotonic() - killed < 5
    assert status_of(collector, serial) == {"online": False, "serial": serial}


def test_spectra_measured_while_the_broker_is_away_arrive_in_order_after_it(broker, collector):
    pub = Publisher(broker, modules=2, serials=["QR-1", "QR-2"])
    try:
        collector.wait(lambda: collector.online() == pub.serials, 10)
        broker.wait_saved()  # the collector's session
        for serial in pub.serials:
            assert command(collector, serial, "series", count=20, interval_s=0.1)["ok"]
        assert collector.wait(lambda: len(collector.ids_of("QR-2")) >= 3, 10)
        # Frozen, the broker leaves what it was sent unacknowledged; killed,
        # it loses it: only the publisher can send it again.
        broker.proc.send_signal(signal.SIGSTOP)
        time.sleep(0.5)
        broker.stop(signal.SIGKILL)
        time.sleep(0.5)
        broker.start()
        for serial in pub.serials:
            assert collector.wait(lambda: len(collector.ids_of(serial)) == 20, 40), \
                collector.ids_of(serial)
            assert collector.ids_of(serial) == list(range(1, 21))
            wait_status(collector, serial, busy=False, queued=0, dropped=0)
    finally:
        assert pub.stop() == 0


def test_stop_cancels_a_scan_in_progress(broker, collector):
    pub = Publisher(broker, time_scale="1")  # a scan of about 2 s
    try:
        serial = pub.serials[0]
        wait_status(collector, serial, online=True)
        assert command(collector, serial, "series", count=0)["ok"]
        wait_status(collector, serial, busy=True, lamp=True)
        time.sleep(0.3)
        asked = time.monotonic()
        assert command(collector, serial, "stop")["stopped"] is True
        wait_status(collector, serial, timeout=5, busy=False, lamp=False)
        assert time.monotonic() - asked < 1.5
        assert collector.ids_of(serial) == []  # the cancelled scan gave no spectrum
    finally:
        assert pub.stop() == 0


def test_a_publisher_started_before_its_broker_connects_once_the_broker_is_up(broker, tmp_path):
    broker.stop()
    pub = Publisher(broker)
    try:
        time.sleep(1.2)  # past the first retry
        broker.start()
        collector = collector_for(broker, str(tmp_path / "late.sqlite"))
        try:
            wait_status(collector, pub.serials[0], timeout=15, online=True)
        finally:
            collector.close()
    finally:
        assert pub.stop() == 0


def test_a_full_queue_drops_the_oldest_and_counts_each_drop(broker, collector):
    pub = Publisher(broker, "--queue", "5")
    try:
        serial = pub.serials[0]
        wait_status(collector, serial, online=True)
        assert command(collector, serial, "series", count=40, interval_s=0.05)["ok"]
        assert collector.wait(lambda: len(collector.ids_of(serial)) >= 1, 10)
        broker.stop()
        time.sleep(2.5)  # the series ends during the outage
        broker.start()
        wait_status(collector, serial, timeout=40, busy=False, queued=0)
        ids = collector.ids_of(serial)
        missing = set(range(1, 41)) - set(ids)
        assert ids == sorted(ids) and max(ids) == 40
        assert len(missing) >= 10 and status_of(collector, serial)["dropped"] == len(missing)
    finally:
        assert pub.stop() == 0


def test_a_broker_with_passwords_takes_the_right_one_only(tmp_path):
    broker = Broker(users={"bench1": "s3cret", "collector": "c0llect"})
    secrets = tmp_path / "bench1.pw"
    secrets.write_text("s3cret\n")
    wrong = tmp_path / "wrong.pw"
    wrong.write_text("guess\n")
    collector = collector_for(broker, str(tmp_path / "fleet.sqlite"), username="collector",
                              password="c0llect")
    good = Publisher(broker, "--username", "bench1", "--password-file", str(secrets),
                     serials=["QP-1"])
    bad = Publisher(broker, "--username", "bench1", "--password-file", str(wrong),
                    serials=["QP-2"])
    try:
        wait_status(collector, "QP-1", online=True)
        time.sleep(1.5)  # a refused login is tried again; it never gets in
        assert collector.online() == ["QP-1"] and bad.proc.poll() is None
    finally:
        refused = bad.log()
        assert good.stop() == 0 and bad.stop() == 0
        collector.close()
        broker.close()
    assert "the broker refused quillon-" in refused and "-QP-2: " in refused


def test_a_publisher_refuses_what_it_cannot_serve():
    for args, text in ((["--broker", "http://x"], "--broker needs mqtt://HOST[:PORT]"),
                       (["--broker", "mqtt://h:0"], "port must be from 1 to 65535"),
                       (["--broker", "mqtt://h", "--keepalive", "4"], "--keepalive needs seconds"),
                       (["--broker", "mqtt://h", "--queue", "0"], "--queue needs a count"),
                       (["--broker", "mqtt://h", "--tls-ca", "/etc/hostname"],
                        "--tls-ca goes with an mqtts:// broker"),
                       (["--broker", "mqtt://h", "--prefix", "a/#"], "--prefix needs topic"),
                       (["--prefix", "p"], "--broker mqtt://HOST[:PORT] is needed"),
                       (["--broker", "mqtt://h", "--password-file", "/etc/hostname"],
                        "--password-file goes with --username")):
        out = subprocess.run([CLI, "publish", *args], capture_output=True, text=True,
                             env=sim_env(), timeout=30)
        assert out.returncode == 2 and text in out.stderr, (args, out.stderr)
