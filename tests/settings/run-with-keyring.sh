#!/usr/bin/env bash
# Runs a test against a real Secret Service: a fresh HOME, a private session bus and
# a gnome-keyring whose login keyring is created and unlocked without any prompt.
#
# With --seal first, the program runs once with --seal before its tests, in a process of
# its own. With --locked, the same, then the keyring is restarted locked: its unlock
# prompt waits on a virtual display for an answer that never comes, and the tests run
# with KEYRING_STATE=locked.
set -euo pipefail
mode=unlocked
seal=:
case "${1:-}" in
  --seal) seal='"$0" --seal || exit 1'; shift ;;
  --locked) mode=locked; shift ;;
esac
test_program=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export HOME=$root/home XDG_CONFIG_HOME=$root/config XDG_DATA_HOME=$root/data
export XDG_RUNTIME_DIR=$root/runtime XDG_CACHE_HOME=$root/cache KEYRING_STATE=$mode
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
if [ "$mode" = unlocked ]; then
  unset DISPLAY
  exec dbus-run-session -- bash -c '
    echo -n keyring-test-password | gnome-keyring-daemon --daemonize --unlock --components=secrets >/dev/null
    '"$seal"'
    exec "$0"
  ' "$test_program"
fi
exec xvfb-run -a dbus-run-session -- bash -c '
  echo -n keyring-test-password | gnome-keyring-daemon --daemonize --unlock --components=secrets >/dev/null
  "$0" --seal || exit 1
  gnome-keyring-daemon --replace --daemonize --components=secrets >/dev/null 2>&1
  exec "$0"
' "$test_program"
