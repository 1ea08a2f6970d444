#!/usr/bin/env bash
# Runs a test against a real Secret Service: a fresh HOME, a private session bus and
# a gnome-keyring whose login keyring is created and unlocked without any prompt.
set -euo pipefail
test_program=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export HOME=$root/home XDG_CONFIG_HOME=$root/config XDG_DATA_HOME=$root/data
export XDG_RUNTIME_DIR=$root/runtime XDG_CACHE_HOME=$root/cache
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
exec dbus-run-session -- bash -c '
  echo -n keyring-test-password | gnome-keyring-daemon --daemonize --unlock --components=secrets >/dev/null
  exec "$0"
' "$test_program"
