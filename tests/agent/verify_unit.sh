#!/bin/sh
# The packaged systemd unit of kvx-agent, checked by systemd-analyze verify (no systemd needs
# to run): ExecStart points at the built program, the manual page is not asked for (help2man
# makes it only for the package). Any line systemd-analyze prints about the unit fails it, and
# the settings the agent relies on must be there. Exit 77 (skipped) without systemd-analyze.
set -eu
unit=$1 agent=$2
command -v systemd-analyze >/dev/null 2>&1 || { echo "systemd-analyze missing: skipped"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s#/usr/bin/kvx-agent#$agent#" "$unit" > "$dir/kvx-agent.service"
out=$(systemd-analyze verify --man=no "$dir/kvx-agent.service" 2>&1) || { echo "$out"; exit 1; }
if echo "$out" | grep -q kvx-agent; then echo "$out"; exit 1; fi
for need in 'Restart=on-failure' 'SupplementaryGroups=dialout' 'User=kvx-agent' \
            'StateDirectory=kvx-agent kvx-agent/logs' 'StandardError=journal' 'KillSignal=SIGTERM'; do
  grep -qx "$need" "$unit" || { echo "the unit lacks $need"; exit 1; }
done
echo "kvx-agent.service verifies"
