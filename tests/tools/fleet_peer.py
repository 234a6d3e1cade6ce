#!/usr/bin/python3
"""An agent and a watcher written apart from the program, on paho-mqtt (python3-paho-mqtt):
publishes the records of real log files the way an agent does, and waits for the archive's
acknowledgement. Used by the kvx-archive tests.

  fleet_peer.py publish --port P --site S --serial N LOG... [--order forward|shuffle:SEED]
                [--first A] [--last B] [--duplicates K] [--topic-site S2] [--no-identity]
  fleet_peer.py raw --port P --topic T (--payload TEXT | --size BYTES)...
  fleet_peer.py wait --port P --site S --serial N --through S [--timeout SECONDS]
common: --user U --password-file F (second line) --ca FILE (TLS, host "localhost")

Sequence numbers run 1, 2, 3, ... over the records of the files in the order given. As an agent
does at every connection, publish sends the unit's retained identity before its records (on the
same connection, so the broker hands it on first), unless --no-identity.
"""
import argparse
import base64
import json
import random
import struct
import sys
import time

import paho.mqtt.client as mqtt

RECORD = 84
HEADER = 40


def client(args, client_id=""):
    c = mqtt.Client(client_id=client_id, clean_session=True)
    if args.user:
        with open(args.password_file) as f:
            lines = f.read().split("\n")
        c.username_pw_set(args.user, lines[1])
    if args.ca:
        c.tls_set(ca_certs=args.ca)
    host = "localhost" if args.ca else "127.0.0.1"
    c.connect(host, args.port, keepalive=30)
    c.loop_start()
    return c


def records_of(paths):
    seq = 0
    for path in paths:
        data = open(path, "rb").read()
        head = data[:HEADER]
        has_header = len(data) >= HEADER and b"KVX" in head.split(b"\0")[0]
        body = data[HEADER:] if has_header else data
        name = path.rsplit("/", 1)[-1]
        for index in range(len(body) // RECORD):
            raw = body[index * RECORD:(index + 1) * RECORD]
            seq += 1
            fields = struct.unpack("<21i", raw)
            yield {
                "v": 1,
                "seq": seq,
                "file": name,
                "header": base64.b64encode(head).decode() if has_header else None,
                "index": index,
                "raw": base64.b64encode(raw).decode(),
                "time": fields[0],
                "values": {
                    "engine_speed": {"value": fields[16], "unit": "rpm"},
                    "exhaust_temp": {"value": fields[1], "unit": "F"},
                },
                "published_ms": int(time.time() * 1000),
                "late": False,
            }


def publish(args):
    records = [r for r in records_of(args.logs)
               if r["seq"] >= args.first and (args.last == 0 or r["seq"] <= args.last)]
    if args.order.startswith("shuffle:"):
        random.Random(int(args.order[8:])).shuffle(records)
    rng = random.Random(7)
    for _ in range(args.duplicates):
        again = dict(rng.choice(records))
        again["late"] = True
        records.insert(rng.randrange(len(records) + 1), again)
    prefix = "kvx/%s/%d/" % (args.topic_site or args.site, args.serial)
    c = client(args)
    infos = []
    if not args.no_identity:
        identity = {"v": 1, "site": args.site, "serial": args.serial, "firmware": 117,
                    "slave": 1, "agent": "fleet_peer"}
        infos.append(c.publish(prefix + "identity", json.dumps(identity), qos=1, retain=True))
    infos += [c.publish(prefix + "record", json.dumps(r), qos=1) for r in records]
    for info in infos:
        info.wait_for_publish(30)
        if not info.is_published():
            sys.exit("a record was not acknowledged by the broker")
    c.disconnect()
    c.loop_stop()
    print(len(records))


def raw(args):
    c = client(args)
    payloads = [p.encode() for p in args.payload] + [b"{" * n for n in args.size]
    for p in payloads:
        c.publish(args.topic, p, qos=1).wait_for_publish(30)
    c.disconnect()
    c.loop_stop()


def wait(args):
    seen = {"through": -1}

    def on_message(_c, _u, msg):
        seen["through"] = json.loads(msg.payload)["through"]

    c = client(args)
    c.on_message = on_message
    c.subscribe("kvx/%s/%d/archived" % (args.site, args.serial), qos=1)
    deadline = time.time() + args.timeout
    while seen["through"] < args.through and time.time() < deadline:
        time.sleep(0.05)
    c.disconnect()
    c.loop_stop()
    print(seen["through"])
    sys.exit(0 if seen["through"] >= args.through else 1)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("command", choices=["publish", "raw", "wait"])
    p.add_argument("logs", nargs="*")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--user")
    p.add_argument("--password-file")
    p.add_argument("--ca")
    p.add_argument("--site")
    p.add_argument("--topic-site")
    p.add_argument("--serial", type=int, default=0)
    p.add_argument("--order", default="forward")
    p.add_argument("--first", type=int, default=1)
    p.add_argument("--last", type=int, default=0)
    p.add_argument("--duplicates", type=int, default=0)
    p.add_argument("--no-identity", action="store_true")
    p.add_argument("--topic")
    p.add_argument("--payload", action="append", default=[])
    p.add_argument("--size", action="append", type=int, default=[])
    p.add_argument("--through", type=int, default=0)
    p.add_argument("--timeout", type=float, default=30)
    args = p.parse_intermixed_args()
    {"publish": publish, "raw": raw, "wait": wait}[args.command](args)


if __name__ == "__main__":
    main()
