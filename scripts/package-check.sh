#!/usr/bin/env bash
# Builds the Debian package, checks it (lintian, desktop-file-validate, appstreamcli,
# systemd-analyze), installs it, runs the installed program headless on a command file, and
# removes it again. Run as root on a machine where installing the package is fine (CI does).
#   scripts/package-check.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh "${1:-build-package}")
deb=$(realpath "$deb")
packaging="$(dirname "$deb")/packaging"
echo "== $deb"

echo "== lintian (warnings listed, errors fail)"
lintian --fail-on error "$deb"
echo "== desktop-file-validate"
desktop-file-validate "$packaging"/*.desktop
echo "== appstreamcli validate"
appstreamcli validate --no-net "$packaging"/*.metainfo.xml

echo "== install"
apt-get install -y "$deb"
systemd-analyze verify /usr/lib/systemd/user/QuorinDriverServer@.service
test -x /usr/bin/QuorinDriverServer && test -x /usr/bin/QuorinSimulatedRegister

work=$(mktemp -d)
pid=
trap '[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
run() { # the installed program, headless, as a user would start it (exec: $! is its PID)
    exec env -u DISPLAY -u WAYLAND_DISPLAY HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
        QT_QPA_PLATFORM=offscreen /usr/bin/QuorinDriverServer "$@"
}
wait_for() { # wait_for FILE: up to 20 s, times QDS_TEST_TIME_SCALE
    local tries
    tries=$(awk -v s="${QDS_TEST_TIME_SCALE:-1}" 'BEGIN { n = 200 * s; print (n < 200 ? 200 : int(n)) }')
    for _ in $(seq "$tries"); do [ -e "$1" ] && return 0; sleep 0.1; done
    echo "missing: $1" >&2
    return 1
}
stop() { # stop PID: SIGTERM, exit status 0
    kill -TERM "$1"
    local status=0
    wait "$1" || status=$?
    [ "$status" -eq 0 ] || { echo "exit status $status" >&2; return 1; }
}

echo "== run with --folder"
folder="$work/cassa1"
run --folder "$folder" 2>"$work/stderr1" &
pid=$!
wait_for "$folder/TOSEND"
printf 'ITEM 1\r\n' > "$folder/TOSEND/.A.tmp" && mv "$folder/TOSEND/.A.tmp" "$folder/TOSEND/A.TXT"
wait_for "$folder/TOSEND/A.OK"
stop "$pid"
grep -q 'Dump=' "$folder/TOSEND/A.OK"

echo "== run with the per-user folder"
run 2>"$work/stderr2" &
pid=$!
wait_for "$work/home/.local/share/QuorinDriverServer/TOSEND"
stop "$pid"

echo "== the service template's command, as systemd would run it for QuorinDriverServer@cassa2"
unit=/usr/lib/systemd/user/QuorinDriverServer@.service
command=$(sed -n 's/^ExecStart=//p' "$unit" | sed "s|%h|$work/home|g; s|%i|cassa2|g")
environment=$(sed -n 's/^Environment=//p' "$unit")
# shellcheck disable=SC2086 # the unit's words, split as systemd splits them (no quotes there)
env -u DISPLAY -u WAYLAND_DISPLAY HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
    $environment $command 2>"$work/stderr3" &
pid=$!
wait_for "$work/home/.local/share/QuorinDriverServer/cassa2/TOSEND"
stop "$pid"

echo "== start at login, on and off"
(run --autostart on --folder "$folder")
ls "$work/home/.config/autostart/"QuorinDriverServer-*.desktop
desktop-file-validate "$work/home/.config/autostart/"QuorinDriverServer-*.desktop
(run --autostart off --folder "$folder")
[ -z "$(ls -A "$work/home/.config/autostart")" ]

echo "== remove"
apt-get remove -y quorindriverserver
test ! -e /usr/bin/QuorinDriverServer
# The users' folders stay as they were.
test -e "$folder/TOSEND/A.OK"
echo "== package checks passed"
