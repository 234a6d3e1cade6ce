#!/usr/bin/python3
"""kvx-agent end to end, with real parts: a mosquitto started here on a free loopback port
(generated configuration, password file and ACL, persistence on), dravo-sim on a
pseudo-terminal writing every block-A reply it served, kvx-agent, and an independent archive
stand-in written with paho-mqtt (persistent session, acknowledges with `archived` the way the
contract says). Checks:
  - a bad configuration is refused at start with the line named;
  - every record published carries the registers the simulator served (a reply's values);
  - the cable pulled: status "no controller" with the reason, then records by themselves;
  - the agent killed with SIGKILL mid-run and restarted: numbers continue without a repeat and
    the resend fills what the kill left unpublished;
  - the broker stopped and started again while the agent logs: nothing lost once the backlog
    has drained; the same with the agent killed while the broker was away;
  - TERM: exit status 0, the log file closed, status offline (retained);
  - the state folder lost: numbering goes on after the archive's, nothing taken twice;
  - end to end: every record in the agent's log files is in the archive stand-in, byte for byte,
    once, at its (file, index);
  - with kvx-archive given, it acknowledges instead of the stand-in, is stopped for a while,
    and its files are the agent's, byte for byte (cmp).
Usage: fleet_agent_test.py KVX_AGENT DRAVO_SIM [KVX_ARCHIVE]
"""
import base64
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

import paho.mqtt.client as mqtt

AGENT, SIM = sys.argv[1], sys.argv[2]
ARCHIVE = sys.argv[3] if len(sys.argv) > 3 and os.path.exists(sys.argv[3]) else None
SITE = "testsite"
HEADER, RECORD = 40, 84
# Logged field -> block A register it comes from (the fields that do not depend on the
# indicator type or on block B).
FIELD_REGISTER = {0: 9, 3: 13, 4: 14, 6: 16, 7: 17, 8: 18, 9: 23, 11: 25, 12: 28, 13: 29,
                  14: 32, 15: 35, 16: 37, 17: 34, 18: 40, 19: 42}

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what, flush=True)


def wait_for(predicate, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.1)
    check(False, "timed out: " + what)
    return False


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    def __init__(self, root):
        self.root = root
        self.port = free_port()
        self.proc = None
        passwd = os.path.join(root, "passwd")
        for i, (user, pw) in enumerate([("agent", "agent-pw"), ("archive", "archive-pw"),
                                        ("viewer", "viewer-pw")]):
            subprocess.run(["mosquitto_passwd", "-b"] + (["-c"] if i == 0 else []) +
                           [passwd, user, pw], check=True, capture_output=True)
        with open(os.path.join(root, "acl"), "w") as f:
            f.write("user agent\ntopic write kvx/%s/#\ntopic read kvx/%s/+/archived\n\n"
                    "user archive\ntopic read kvx/+/+/record\ntopic read kvx/+/+/identity\n"
                    "topic write kvx/+/+/archived\n\n"
                    "user viewer\ntopic read kvx/#\n" % (SITE, SITE))
        os.makedirs(os.path.join(root, "db"), exist_ok=True)
        with open(os.path.join(root, "mosquitto.conf"), "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous false\npassword_file %s\n"
                    "acl_file %s\npersistence true\npersistence_location %s/\n"
                    "autosave_interval 60\nmax_queued_messages 1000000\n"
                    "max_inflight_messages 100\n" % (self.port, passwd,
                                                     os.path.join(root, "acl"),
                                                     os.path.join(root, "db")))
            # Started by root (a container's test run), mosquitto would drop to its own user,
            # which cannot read this private folder.
            if os.geteuid() == 0:
                f.write("user root\n")

    def start(self):
        self.proc = subprocess.Popen(["mosquitto", "-c", os.path.join(self.root, "mosquitto.conf")],
                                     stdout=subprocess.DEVNULL,
                                     stderr=open(os.path.join(self.root, "broker.log"), "a"))
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("mosquitto did not start")

    def stop(self):
        if self.proc:
            self.proc.terminate()  # saves its database on the way out
            self.proc.wait(10)
            self.proc = None


class ArchiveStandIn:
    """Keeps every record by (unit, seq), acknowledges `through` the contract's way."""

    def __init__(self, port, acknowledge):
        self.acknowledge = acknowledge
        self.lock = threading.Lock()
        self.records = {}  # seq -> message
        self.duplicates = 0
        self.late = 0
        self.through = 0
        self.sent_through = -1
        self.status = None
        self.statuses = []
        self.identity = None
        # The first record comes after the unit's identity, on the archive's one connection (an
        # archive skips the records of a unit it has no identity for).
        self.identity_first = None
        self.client = mqtt.Client(client_id="test-archive", clean_session=False)
        self.client.username_pw_set("archive", "archive-pw")
        self.client.on_connect = lambda c, u, f, rc: c.subscribe(
            [("kvx/+/+/record", 1), ("kvx/+/+/identity", 1)])
        self.client.on_message = self.on_message
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()
        self.viewer = mqtt.Client(client_id="test-viewer")
        self.viewer.username_pw_set("viewer", "viewer-pw")
        self.viewer.on_connect = lambda c, u, f, rc: c.subscribe(
            [("kvx/+/+/status", 1), ("kvx/+/+/identity", 1)])
        self.viewer.on_message = self.on_view
        self.viewer.connect("127.0.0.1", port)
        self.viewer.loop_start()

    def on_view(self, client, userdata, msg):
        payload = json.loads(msg.payload)
        with self.lock:
            if msg.topic.endswith("/status"):
                self.status = payload
                self.statuses.append(payload)
            else:
                self.identity = payload

    def on_message(self, client, userdata, msg):
        m = json.loads(msg.payload)
        unit = msg.topic.split("/")[1:3]
        if msg.topic.endswith("/identity"):
            with self.lock:
                if self.identity_first is None:
                    self.identity_first = True
            return
        with self.lock:
            if self.identity_first is None:
                self.identity_first = False
            self.unit = unit
            if m["seq"] <= self.through or m["seq"] in self.records:
                self.duplicates += 1
            else:
                self.records[m["seq"]] = m
                self.late += 1 if m["late"] else 0
            while self.through + 1 in self.records:
                self.through += 1
            through = self.through
        if self.acknowledge and through != self.sent_through:
            self.sent_through = through
            client.publish("kvx/%s/%s/archived" % tuple(unit),
                           json.dumps({"v": 1, "through": through}), 1, True)

    def snapshot(self):
        with self.lock:
            return dict(self.records), self.through

    def close(self):
        for c in (self.client, self.viewer):
            c.loop_stop()
            c.disconnect()


def served_tuples(path):
    tuples = set()
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) != 46 or parts[1] != "none":
                continue
            values = [int(v) for v in parts[2:]]
            tuples.add(tuple(values[FIELD_REGISTER[k] - 1] for k in sorted(FIELD_REGISTER)))
    return tuples


def record_tuple(raw):
    fields = struct.unpack("<21i", raw)[1:]
    return tuple(fields[k] for k in sorted(FIELD_REGISTER))


def log_records(folder):
    """(file, index) -> raw bytes of every record in the agent's log files."""
    out = {}
    for name in sorted(os.listdir(folder)):
        data = open(os.path.join(folder, name), "rb").read()
        start = HEADER if data[:3] == b"KVX" else 0
        for i in range((len(data) - start) // RECORD):
            out[(name, i)] = data[start + i * RECORD:start + (i + 1) * RECORD]
    return out


def main():
    root = tempfile.mkdtemp(prefix="kvx-fleet-agent-")
    broker = Broker(root)
    broker.start()
    sim = subprocess.Popen([SIM, "--link", os.path.join(root, "tty"), "--served",
                            os.path.join(root, "served.txt"), "--pull-ms", "14000"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    wait_for(lambda: os.path.exists(os.path.join(root, "tty")), 10, "the simulator's device")
    cred = os.path.join(root, "agent.cred")
    with open(cred, "w") as f:
        f.write("agent\nagent-pw\n")
    os.chmod(cred, 0o600)
    conf = os.path.join(root, "agent.conf")
    with open(conf, "w") as f:
        f.write("port = %s\nsite = %s\nbroker = mqtt://127.0.0.1:%d\ncredentials_file = %s\n"
                "log_folder = %s\nstate_folder = %s\nreply_timeout_ms = 500\n"
                % (os.path.join(root, "tty"), SITE, broker.port, cred,
                   os.path.join(root, "logs"), os.path.join(root, "state")))
    agent_log = open(os.path.join(root, "agent.log"), "a")

    def start_agent():
        return subprocess.Popen([AGENT, "--config", conf], stdout=agent_log, stderr=agent_log)

    # With kvx-archive built, it acknowledges and the stand-in only watches.
    # Refused at start, the line or the file named: a credentials file others may read, a bad
    # value.
    os.chmod(cred, 0o644)
    r = subprocess.run([AGENT, "--config", conf], capture_output=True, text=True, timeout=10)
    check(r.returncode == 2 and "agent.cred" in r.stderr, "a readable credentials file: %r"
          % r.stderr)
    os.chmod(cred, 0o600)
    bad = os.path.join(root, "bad.conf")
    with open(bad, "w") as f:
        f.write(open(conf).read().replace("site = " + SITE, "site = kvx/#"))
    r = subprocess.run([AGENT, "--config", bad], capture_output=True, text=True, timeout=10)
    check(r.returncode == 2 and "line 2: site" in r.stderr, "a bad site: %r" % r.stderr)

    archive = ArchiveStandIn(broker.port, acknowledge=ARCHIVE is None)
    archive_dir = os.path.join(root, "archive")
    archive_proc = None

    def start_archive():
        if not ARCHIVE:
            return None
        cred_a = os.path.join(root, "archive.cred")
        with open(cred_a, "w") as f:
            f.write("archive\narchive-pw\n")
        os.chmod(cred_a, 0o600)
        return subprocess.Popen([ARCHIVE, "--broker", "mqtt://127.0.0.1:%d" % broker.port,
                                 "--dir", archive_dir, "--credentials", cred_a],
                                stdout=agent_log, stderr=agent_log)

    try:
        archive_proc = start_archive()
        agent = start_agent()
        wait_for(lambda: archive.snapshot()[1] >= 15, 30, "first records archived")
        with archive.lock:
            check(archive.identity is not None and archive.identity["serial"] == 2417 and
                  archive.identity["site"] == SITE, "identity retained: %r" % archive.identity)
            check(archive.status is not None and archive.status["state"] == "online",
                  "status online: %r" % archive.status)
            check(archive.identity_first is True, "the identity came before the first record")

        # The cable pulled for 14 s (six bad ticks of three timed-out reads, then a failed
        # Connect): "no controller" with the reason, then logging and publishing resume by
        # themselves.
        with archive.lock:
            check([st["state"] for st in archive.statuses] == ["online"],
                  "one status, online, after the start: %r" % archive.statuses)
            seen = len(archive.statuses)
        sim.send_signal(signal.SIGUSR1)
        wait_for(lambda: any(st["state"] == "no controller" and "Next try" in st["reason"]
                             for st in list(archive.statuses)[seen:]), 20,
                 "status no controller with the reason")
        with archive.lock:
            print("while the cable was out:", archive.statuses[-1], flush=True)
        before_plug = archive.snapshot()[1]
        wait_for(lambda: archive.snapshot()[1] >= before_plug + 15 and
                 archive.status["state"] == "online", 60, "records after the cable is back")

        # SIGKILL mid-run, a pause, and a new start: numbers continue, the gap is filled.
        agent.send_signal(signal.SIGKILL)
        agent.wait()
        before_kill = archive.snapshot()[1]
        time.sleep(2)
        agent = start_agent()
        wait_for(lambda: archive.snapshot()[1] >= before_kill + 20, 30, "records after the kill")

        # The broker away for a while: the agent keeps logging; all of it arrives afterwards.
        broker.stop()
        time.sleep(6)
        broker.start()
        logged_by_now = len(log_records(os.path.join(root, "logs")))
        wait_for(lambda: archive.snapshot()[1] >= logged_by_now + 5, 60,
                 "the backlog after the broker's restart")

        # Killed while the broker is away: what it logged and never published is found again
        # through the journal after the restart and sent once the broker is back.
        broker.stop()
        time.sleep(3)
        agent.send_signal(signal.SIGKILL)
        agent.wait()
        agent = start_agent()
        time.sleep(3)
        broker.start()
        logged_by_now = len(log_records(os.path.join(root, "logs")))
        wait_for(lambda: archive.snapshot()[1] >= logged_by_now + 5, 60,
                 "the backlog after a kill while the broker was away")

        # The archive away for a while: the broker queues for its session, the agent resends
        # what the archive's `through` says it lacks once it stands still.
        if archive_proc:
            archive_proc.terminate()
            check(archive_proc.wait(15) == 0, "kvx-archive exit status 0 after TERM")
            time.sleep(4)
            archive_proc = start_archive()

        # The state folder lost (a gateway set up again) while the archive keeps the unit: the
        # numbers go on after the archive's, none taken for a record it has.
        agent.send_signal(signal.SIGTERM)
        check(agent.wait(15) == 0, "exit status 0 after TERM")
        shutil.rmtree(os.path.join(root, "state"))
        agent = start_agent()
        logged_by_now = len(log_records(os.path.join(root, "logs")))
        wait_for(lambda: archive.snapshot()[1] >= logged_by_now + 10, 30,
                 "records after the state folder was lost")

        # TERM: a clean stop.
        agent.send_signal(signal.SIGTERM)
        check(agent.wait(15) == 0, "exit status 0 after TERM")
        logged = log_records(os.path.join(root, "logs"))
        wait_for(lambda: archive.snapshot()[1] >= len(logged), 20, "the last records after TERM")
        time.sleep(0.5)
        with archive.lock:
            check(archive.status is not None and archive.status["state"] == "offline",
                  "status offline after TERM: %r" % archive.status)
        records, through = archive.snapshot()

        # End to end: every logged record once, byte for byte, at its place; nothing else.
        check(through == len(logged), "archived through %d, logged %d" % (through, len(logged)))
        by_place = {}
        for seq, m in records.items():
            place = (m["file"], m["index"])
            check(place not in by_place, "two numbers for %r" % (place,))
            by_place[place] = m
        check(set(by_place) == set(logged), "archived places differ from the log's: %d vs %d"
              % (len(by_place), len(logged)))
        for place, raw in logged.items():
            if place in by_place:
                check(base64.b64decode(by_place[place]["raw"]) == raw,
                      "raw bytes of %r differ" % (place,))
        check(archive.late > 0, "the kill and the broker's absence left records to resend")
        # The registers the simulator served.
        served = served_tuples(os.path.join(root, "served.txt"))
        unmatched = [s for s, m in records.items()
                     if record_tuple(base64.b64decode(m["raw"])) not in served]
        check(not unmatched, "records whose values the simulator never served: %r"
              % unmatched[:5])
        speeds = [m["values"] for m in records.values()][:1]
        check(bool(speeds) and any(v == "engine_speed" for v in speeds[0]),
              "engineering values carried")
        if archive_proc:
            # The archive's files are the agent's, byte for byte.
            unit_dir = os.path.join(archive_dir, SITE, "2417")
            wait_for(lambda: all(
                os.path.exists(os.path.join(unit_dir, n)) and
                os.path.getsize(os.path.join(unit_dir, n)) ==
                os.path.getsize(os.path.join(root, "logs", n))
                for n in os.listdir(os.path.join(root, "logs"))), 30, "the archive's files")
            for name in os.listdir(os.path.join(root, "logs")):
                same = subprocess.run(["cmp", os.path.join(root, "logs", name),
                                       os.path.join(unit_dir, name)]).returncode == 0
                check(same, "cmp %s: the archive's file differs from the agent's" % name)
            # The agent names its unit before its records, and the archive keeps the units it
            # knows across its restart: it skipped nothing.
            skipped = [line for line in open(os.path.join(root, "agent.log"))
                       if line.startswith("kvx-archive: skipped")]
            check(not skipped, "kvx-archive skipped messages: %r" % skipped[:3])
        print("records %d, archived through %d, late %d, duplicates on the wire %d"
              % (len(logged), through, archive.late, archive.duplicates), flush=True)
    finally:
        archive.close()
        if archive_proc and archive_proc.poll() is None:
            archive_proc.terminate()
            archive_proc.wait(15)
        for p in (locals().get("agent"),):
            if p and p.poll() is None:
                p.kill()
        sim.terminate()
        sim.wait(10)
        broker.stop()
        agent_log.close()
        if failures or os.environ.get("KVX_KEEP_TEST_FILES"):
            print(open(os.path.join(root, "agent.log")).read()[-4000:])
            print("kept:", root)
        else:
            shutil.rmtree(root, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
