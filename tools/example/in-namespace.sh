#!/usr/bin/env bash
# Runs inside the private mount namespace that tools/in-namespace makes
# (fresh tmpfs mounts over /tmp and /run): lays the device's files out on
# their real paths, then runs the installed cfgwatch for a fixed time on its
# real clock.
#
#   in-namespace.sh SECONDS STAGE_DIR RESULT_DIR
#
# STAGE_DIR holds prefix/ (the installation), nvcfg.bin (the settings
# record), lease, applied.xml and applied-phone.xml. RESULT_DIR receives
# stdout, stderr and status of the daemon, idle-left if /tmp/idle is still
# there, and new/ (a copy of /tmp/new).
set -euo pipefail
seconds=$1
stage=$2
result=$3

mkdir -p /run/systemd/netif/leases "$result"
cp "$stage/lease" /run/systemd/netif/leases/2
mkdir /tmp/old
cp "$stage/applied.xml" /tmp/old/001a2b3c4d5e.xml
cp "$stage/applied-phone.xml" /tmp/old/001a2b3c4d5e-phone.xml
: >/tmp/idle

set +e
env -i PATH="$stage/prefix/bin:/usr/bin:/bin" SETTINGSDB_FILE="$stage/nvcfg.bin" \
    timeout "$seconds" "$stage/prefix/bin/cfgwatch" >"$result/stdout" 2>"$result/stderr" </dev/null
echo $? >"$result/status"
set -e

if [[ -e /tmp/idle ]]; then : >"$result/idle-left"; fi
if [[ -d /tmp/new ]]; then cp -R /tmp/new "$result/new"; fi
