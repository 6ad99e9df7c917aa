#!/bin/sh
# Runs one installed program inside a private mount namespace, on fresh
# tmpfs mounts over /tmp and /run (made by tools/in-namespace), so it works
# on the real paths /tmp/new, /tmp/old, /tmp/idle and
# /run/systemd/netif/leases/2 without touching the machine's own.
#
#   in_namespace.sh SCENARIO_DIR OUTPUT_DIR PROGRAM
#
# SCENARIO_DIR may hold: lease (copied to /run/systemd/netif/leases/2),
# old/ (copied to /tmp/old), new/ (copied to /tmp/new), idle (a file: creates
# the marker /tmp/idle; a directory: copied there, so that removing it fails),
# modes (lines "MODE PATH", applied with chmod after the layout), bounding-set
# (capabilities to drop, as setpriv --bounding-set takes them, e.g.
# "-dac_override,-dac_read_search": file permissions then bind root too),
# env (lines NAME=VALUE, the program's whole environment), resolv.conf
# (placed over /etc/resolv.conf), victims/ (copied to /run/victims: root's
# own files outside /tmp that an attacker aims at), attacker and
# attacker-after (shell scripts run as the unprivileged user 65534, before
# the program starts and after it ended; their output is kept).
# OUTPUT_DIR receives: stdout, stderr, status, new/ and old/ (copies of
# /tmp/new and /tmp/old after the run), idle (if /tmp/idle is left), tmp-listing
# and run-listing (every path under /tmp and /run after the run), tmp-modes
# (mode, owner, type and path of each), victims/ (/run/victims after the run),
# attacker-output and attacker-after-output.
set -eu

scenario=$1
output=$2
program=$3

# The private mounts, the caller's paths under /tmp and the resolver come
# from the project's one namespace runner, which runs this script again
# inside the namespace it makes.
if [ -z "${IN_NAMESPACE_OUTER_TMP+set}" ]; then
    exec "$(dirname "$0")/../../tools/in-namespace" --resolv-conf "$scenario/resolv.conf" \
        /bin/sh "$0" "$@"
fi
translate() {
    case "$1" in
    /tmp/*) echo "${IN_NAMESPACE_OUTER_TMP:-/tmp}/${1#/tmp/}" ;;
    *) echo "$1" ;;
    esac
}

mkdir -p /run/systemd/netif/leases
if [ -f "$scenario/lease" ]; then
    cp "$scenario/lease" /run/systemd/netif/leases/2
fi
if [ -d "$scenario/old" ]; then
    cp -R "$scenario/old" /tmp/old
fi
if [ -d "$scenario/new" ]; then
    cp -R "$scenario/new" /tmp/new
fi
if [ -d "$scenario/idle" ]; then
    cp -R "$scenario/idle" /tmp/idle
elif [ -e "$scenario/idle" ]; then
    : >/tmp/idle
fi

if [ -d "$scenario/victims" ]; then
    cp -R "$scenario/victims" /run/victims
    chmod -R go-w,a+rX /run/victims
fi
# The attacker is an account of its own; its scripts are copied where it
# can read them.
as_attacker() {
    if [ -f "$scenario/$1" ]; then
        cp "$scenario/$1" "/run/$1.sh"
        chmod 755 "/run/$1.sh"
        (cd /tmp && setpriv --reuid=65534 --regid=65534 --clear-groups /bin/sh "/run/$1.sh") \
            >"$output/$1-output" 2>&1 || echo "exit status $?" >>"$output/$1-output"
        rm -f "/run/$1.sh"
    fi
}
as_attacker attacker

if [ -f "$scenario/modes" ]; then
    while read -r mode path; do
        chmod "$mode" "$path"
    done <"$scenario/modes"
fi
restrict=
if [ -f "$scenario/bounding-set" ]; then
    restrict="setpriv --bounding-set=$(cat "$scenario/bounding-set")"
fi

# The environment file names paths as the caller sees them.
set --
while IFS= read -r line; do
    name=${line%%=*}
    value=$(translate "${line#*=}")
    set -- "$@" "$name=$value"
done <"$scenario/env"

cd /
set +e
# The guard only matters when the fake clock fails to end the run.
env -i "$@" timeout -s KILL 300 $restrict "$program" >"$output/stdout" 2>"$output/stderr" </dev/null
status=$?
set -e
echo "$status" >"$output/status"

as_attacker attacker-after
# Copies are made without following links: a planted link shows as a link.
if [ -d /tmp/new ] && [ ! -L /tmp/new ]; then
    cp -R -P /tmp/new "$output/new"
fi
if [ -d /run/victims ]; then
    cp -R -P /run/victims "$output/victims"
fi
if [ -d /tmp/old ]; then
    cp -R -P /tmp/old "$output/old"
fi
if [ -e /tmp/idle ]; then
    : >"$output/idle"
fi
(cd /tmp && find . | LC_ALL=C sort) >"$output/tmp-listing"
(cd /tmp && find . -printf '%m %u %y %p\n' | LC_ALL=C sort -k4) >"$output/tmp-modes"
(cd /run && find . | LC_ALL=C sort) >"$output/run-listing"
