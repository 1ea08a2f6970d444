#!/usr/bin/env bash
# Which folder's code may include which: the core never reaches the windows, and the parts of
# scanlume-local depend one way. A new arrow goes into the table below on purpose or not at all.
# Usage: check-includes.sh <source folder>
set -euo pipefail
root=$1

declare -A allowed=(
  # Pictoport: src/<folder> may include "<folder>/..." of these.
  [src/common]="common"
  [src/platform]="platform common"
  [src/service]="service common"
  [src/imaging]="imaging common"
  [src/settings]="settings platform common"
  [src/files]="files platform service common"
  [src/items]="items files settings common"
  [src/recognition]="recognition files service common"
  [src/worker]="worker service common"
  [src/commands]="commands common"
  [src/ui]="ui commands recognition items files worker service settings imaging platform common"
  [src/app]="app ui commands recognition items files worker service settings imaging platform common"
  # scanlume-local
  [localservice/reading]="reading"
  [localservice/sendpage]="sendpage"
  [localservice/extraction]="extraction reading"
  [localservice/store]="store extraction reading"
  [localservice/http]="http store reading extraction sendpage"
  [localservice/send]="send http store"
  [localservice/certificate]="certificate"
  [localservice/admin]="admin store extraction"
  [localservice/qr]="qr http"
)

failures=0
for folder in "${!allowed[@]}"; do
  [ -d "$root/$folder" ] || { echo "FAIL: $folder is in the table but not in the sources"; failures=$((failures + 1)); continue; }
  while IFS=: read -r file line include; do
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$include")
    if ! grep -qw -- "$target" <<<"${allowed[$folder]}"; then
      echo "FAIL: ${file#"$root"/}:$line includes $target/, which $folder may not"
      failures=$((failures + 1))
    fi
  done < <(grep -rnE '^#include "[a-z]+/' "$root/$folder" --include='*.cpp' --include='*.h' || true)
done
# Every folder of code has its row.
for folder in "$root"/src/*/ "$root"/localservice/*/; do
  name=${folder#"$root"/}
  name=${name%/}
  [ -n "${allowed[$name]+set}" ] || { echo "FAIL: $name has no row in the table"; failures=$((failures + 1)); }
done
[ $failures -eq 0 ] && echo "every include follows the table"
exit $((failures > 0))
