#!/usr/bin/env bash
# Runs a command inside a D-Bus session of its own, with a GNOME keyring daemon serving the
# Secret Service from a temporary HOME. The daemon is stopped by the process id it got; the
# session bus ends with dbus-run-session.
set -euo pipefail
if [[ -z "${QRN_SECRET_SERVICE_SESSION:-}" ]]; then
  exec env QRN_SECRET_SERVICE_SESSION=1 dbus-run-session -- "$0" "$@"
fi

home=$(mktemp -d)
export HOME=$home XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/runtime
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
# With an empty password the daemon would wait for a prompt; this one unlocks at once.
printf 'quorin-test-password' |
  gnome-keyring-daemon --foreground --unlock --components=secrets >"$home/daemon.log" 2>&1 &
daemon=$!
trap 'kill "$daemon" 2>/dev/null; wait "$daemon" 2>/dev/null; rm -rf "$home"' EXIT

for _ in $(seq 100); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
    grep 'boolean true' >/dev/null; then
    break
  fi
  sleep 0.1
done
"$@"
