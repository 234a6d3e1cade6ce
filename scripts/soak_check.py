#!/usr/bin/env python3
"""Checks the viewer's log files against what dravo-sim served (its --served file).

Every logged record must be a block-A reply the simulator served intact (no fault, or only
bytes after it): the same values, in the same order, served within two seconds of the record's
time. A record that matches only a reply the simulator damaged is a wrong value accepted. Prints the figures; exit status 1
when a record matches nothing served (a wrong value accepted) or the counts disagree.

usage: soak_check.py SERVED LOGDIR [--expect-records N] [--served-before-us T]
  --expect-records N     the viewer's own count of records logged must equal the records found
  --served-before-us T   every reply served before T (microseconds since 1970) must be logged
                         (for a viewer killed at T: nothing served before its last tick is lost)
"""
import argparse
import glob
import os
import re
import struct
import sys

RECORD = 84
HEADER = 40
# Logged field -> input register of block A it comes from (1-based), for the fields that come
# from block A whatever the indicator type.
FROM_A = {0: 9, 3: 13, 4: 14, 6: 16, 7: 17, 8: 18, 9: 23, 11: 25, 12: 28, 13: 29, 14: 32,
          15: 35, 16: 37, 17: 34, 18: 40, 19: 42}


def read_log(path):
    data = open(path, 'rb').read()
    head = data[:HEADER].split(b'\0', 1)[0]
    start = HEADER if b'KVX' in head else 0
    body = data[start:]
    if len(body) % RECORD:
        raise SystemExit(f'{path}: {len(body) % RECORD} bytes of a cut record')
    return [struct.unpack('<21i', body[i:i + RECORD]) for i in range(0, len(body), RECORD)]


def hour_key(path):
    m = re.search(r'log_(\d+)_(\d+)_(\d+)_(\d+)', os.path.basename(path))
    return tuple(int(x) for x in m.groups()) if m else (0,)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('served')
    ap.add_argument('logdir')
    ap.add_argument('--expect-records', type=int)
    ap.add_argument('--served-before-us', type=int)
    a = ap.parse_args()

    # The reply as made is still on the line whole: nothing wrong with it, or only bytes after
    # it, which the master leaves unread.
    intact = {'none', 'trailing'}
    served = []
    everything = []
    faults = {}
    for line in open(a.served):
        parts = line.split()
        if len(parts) != 46:
            continue  # a line cut by a kill
        faults[parts[1]] = faults.get(parts[1], 0) + 1
        everything.append((int(parts[0]), parts[1], [int(x) for x in parts[2:]]))
        if parts[1] in intact:
            served.append((int(parts[0]), [int(x) for x in parts[2:]]))
    records = []
    for path in sorted(glob.glob(os.path.join(a.logdir, 'log_*.log')), key=hour_key):
        records += read_log(path)

    wrong = 0
    at = 0  # served replies before this one are used up
    matched = []
    for n, rec in enumerate(records):
        t = rec[0]
        found = None
        for k in range(at, len(served)):
            us, values = served[k]
            if us // 1000000 > t + 2:
                break
            if abs(us / 1e6 - t) <= 2 and all(rec[1 + f] == values[r - 1] for f, r in FROM_A.items()):
                found = k
                break
        if found is None:
            wrong += 1
            if wrong <= 5:
                kinds = [kind for us, kind, values in everything
                         if abs(us / 1e6 - t) <= 2 and all(rec[1 + f] == values[r - 1]
                                                           for f, r in FROM_A.items())]
                print(f'record {n} (time {t}) matches no intact reply; replies damaged by '
                      f'{kinds or "nothing"} had its values')
        else:
            matched.append(found)
            at = found + 1

    print('block-A replies served: ' + ', '.join(f'{k} {v}' for k, v in sorted(faults.items())))
    print(f'intact replies {len(served)}, records {len(records)}, wrong records {wrong}')
    ok = wrong == 0
    if a.expect_records is not None and a.expect_records != len(records):
        print(f'the viewer counted {a.expect_records} records logged, the files hold {len(records)}')
        ok = False
    if a.served_before_us is not None:
        # The connection sequence's own block-A read comes before the first record and is
        # never logged; from the first logged reply on, every one counts.
        used = set(matched)
        first = min(matched) if matched else len(served)
        missing = [k for k, (us, _) in enumerate(served)
                   if first <= k and us < a.served_before_us and k not in used]
        print(f'replies served before the kill not in the log: {len(missing)}')
        if missing or not matched:
            ok = False
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
