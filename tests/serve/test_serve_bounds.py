"""`quillon serve` attacked on the loopback: slow clients, floods of header
lines, a huge chunked body, and a stop with event streams open. Every loop
is bounded in count and time."""
import os
import signal
import socket
import tempfile
import threading
import time

from serve_process import Server, lamp_commands, resident_kib, sim_env

MIB = 1024


def connect(server):
    return socket.create_connection((server.host, server.port), timeout=10)


def timed_scan(server):
    began = time.monotonic()
    status = server.post("/api/scan")[0]
    return status, time.monotonic() - began


def test_two_hundred_slow_clients_cost_neither_answers_nor_memory():
    server = Server()
    try:
        before = resident_kib(server.proc.pid)
        slow = []
        for _ in range(200):
            sock = connect(server)
            sock.sendall(b"GET /api/module HTTP/1.1\r\n")
            slow.append(sock)
        opened = time.monotonic()
        # One header line every 2 s from each, while a client with the token scans.
        for round_ in range(4):
            for i, sock in enumerate(slow):
                sock.sendall(b"X-Slow-%d: %d\r\n" % (round_, i))
            assert [timed_scan(server)[0] for _ in range(3)] == [200] * 3
            status, seconds = timed_scan(server)
            assert status == 200 and seconds < 1, seconds
            time.sleep(max(0.0, opened + 2 * (round_ + 1) - time.monotonic()))
        assert resident_kib(server.proc.pid) - before < 20 * MIB
        # Ten seconds after connecting, a header still not complete ends the connection.
        cut = 0
        for sock in slow:
            sock.settimeout(max(0.1, opened + 12 - time.monotonic()))
            try:
                cut += sock.recv(1024) == b""
            except (ConnectionResetError, socket.timeout):
                pass
            sock.close()
        assert cut == 200
    finally:
        assert server.stop() == 0


def flood(server, head, piece, total, sent):
    """Sends `head`, then `piece` until `total` bytes went out or the server
    ended the connection; the bytes sent land in `sent` and the answer's first
    line is returned (empty when the connection was reset first)."""
    sock = connect(server)
    count = 0
    try:
        sock.sendall(head)
        while count < total:
            sock.sendall(piece)
            count += len(piece)
    except OSError:
        pass
    sent.append(count)
    try:
        sock.settimeout(2)
        return sock.recv(4096).split(b"\r\n")[0]
    except OSError:
        return b""
    finally:
        sock.close()


def test_header_floods_and_a_chunked_body_are_refused_within_bounded_memory():
    server = Server()
    try:
        pid = server.proc.pid
        auth = f"Authorization: Bearer {server.token}\r\n".encode()
        host = f"Host: {server.host}:{server.port}\r\n".encode()
        # The limits, and their texts, on requests just over them.
        sock = connect(server)
        sock.sendall(b"GET /api/module HTTP/1.1\r\n" + host + b"X-Big: " + b"a" * 17000 + b"\r\n\r\n")
        answer = sock.recv(4096)
        assert answer.startswith(b"HTTP/1.1 431") and b"over 16 KiB" in answer
        sock.close()
        chunk = b"11800\r\n" + b" " * 0x11800 + b"\r\n0\r\n\r\n"
        sock = connect(server)
        sock.sendall(b"POST /api/lamp HTTP/1.1\r\n" + host + auth +
                     b"Transfer-Encoding: chunked\r\n\r\n" + chunk)
        answer = sock.recv(4096)
        assert answer.startswith(b"HTTP/1.1 413") and b"over 64 KiB" in answer
        sock.close()

        before = resident_kib(pid)
        peak = [before]
        done = threading.Event()

        def watch():
            while not done.wait(0.02):
                peak.append(resident_kib(pid))

        watcher = threading.Thread(target=watch)
        watcher.start()
        sent, answers = [], []
        line = b"X-Filler: " + b"a" * 8180 + b"\r\n"
        floods = [threading.Thread(target=lambda: answers.append(flood(
            server, b"GET /api/module HTTP/1.1\r\nHost: evil.com\r\n", line, 200 << 20, sent)))
            for _ in range(3)]
        for thread in floods:
            thread.start()
        for thread in floods:
            thread.join(timeout=60)
        piece = b"10000\r\n" + b"x" * 0x10000 + b"\r\n"
        answers.append(flood(server, b"POST /api/lamp HTTP/1.1\r\n" + host + auth +
                             b"Transfer-Encoding: chunked\r\n\r\n", piece, 150 << 20, sent))
        done.set()
        watcher.join()
        # Each was cut off long before its end, with a refusal when the client could still read it.
        assert len(sent) == 4 and max(sent) < 8 << 20, sent
        assert all(a in (b"", b"HTTP/1.1 431 Request Header Fields Too Large",
                         b"HTTP/1.1 413 Payload Too Large") for a in answers), answers
        assert max(peak) - before < 20 * MIB, (before, max(peak))
        time.sleep(0.5)
        assert resident_kib(pid) - before < 5 * MIB
        assert server.get("/api/module")[0] == 200
    finally:
        assert server.stop() == 0


def test_sigterm_with_ten_event_streams_ends_within_a_second_with_the_lamp_off():
    wire = tempfile.NamedTemporaryFile(prefix="wire-", delete=False)
    server = Server(env=sim_env(QUILLONLIB_SIMULATOR_TRACE=wire.name))
    try:
        streams = []
        for _ in range(10):
            conn = server.connection()
            conn.request("GET", "/api/events", headers={"Authorization": f"Bearer {server.token}"})
            resp = conn.getresponse()
            assert resp.status == 200 and resp.readline() == b"retry: 2000\n"
            streams.append(conn)
        assert server.post("/api/lamp", {"on": True})[0] == 200
        assert lamp_commands(wire.name)[-1] == "on"
        began = time.monotonic()
        server.proc.send_signal(signal.SIGTERM)
        assert server.proc.wait(timeout=5) == 0
        assert time.monotonic() - began < 1
        assert lamp_commands(wire.name)[-1] == "off"
        log = server.log()
        assert "lamp switched off" in log and server.token not in log
        for conn in streams:
            conn.close()
    finally:
        server.stop()
        os.unlink(wire.name)
