#!/usr/bin/env bash
# Runs inside `unshare --mount --propagation private`: fresh tmpfs mounts over
# /tmp and /run, the device's files laid out on their real paths, then the
# installed cfgwatch for a fixed time on its real clock.
#
#   in-namespace.sh SECONDS <inputs.tar >results.tar
#
# inputs.tar holds prefix/ (the installation), nvcfg.bin (the settings
# record), lease, applied.xml and applied-phone.xml. Passing files in and
# out as archives keeps this working wherever the caller's files are, /tmp
# included.
# results.tar holds stdout, stderr and status of the daemon, idle-left if
# /tmp/idle is still there, and new/ (a copy of /tmp/new).
set -euo pipefail
seconds=$1

mount -t tmpfs -o mode=755 example-run /run
mkdir -p /run/example/result /run/systemd/netif/leases
tar -x -C /run/example
mount -t tmpfs -o mode=1777 example-tmp /tmp

here=/run/example
result=$here/result
cp "$here/lease" /run/systemd/netif/leases/2
mkdir /tmp/old
cp "$here/applied.xml" /tmp/old/001a2b3c4d5e.xml
cp "$here/applied-phone.xml" /tmp/old/001a2b3c4d5e-phone.xml
: >/tmp/idle

set +e
env -i PATH="$here/prefix/bin:/usr/bin:/bin" SETTINGSDB_FILE="$here/nvcfg.bin" \
    timeout "$seconds" "$here/prefix/bin/cfgwatch" >"$result/stdout" 2>"$result/stderr" </dev/null
echo $? >"$result/status"
set -e

if [[ -e /tmp/idle ]]; then : >"$result/idle-left"; fi
if [[ -d /tmp/new ]]; then cp -R /tmp/new "$result/new"; fi
tar -c -C "$result" .
