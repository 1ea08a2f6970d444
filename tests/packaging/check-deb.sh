#!/usr/bin/env bash
# Makes the Debian package from a build folder, unpacks it into a scratch root as dpkg would
# install it, and checks that every file lands in its XDG place, that the package depends on
# what its programs link and load, and that the desktop entry and the AppStream metainfo pass
# their validators. With scanlume-local, the system service as well: systemd accepts its unit,
# and the package's own postinst makes its user and its data folder in a scratch root, which a
# purge keeps. Exits 77, the test's skip code, with the reason when a tool is missing.
# Usage: check-deb.sh <build folder> <scratch folder> <version> <scanlume-local built: ON/OFF>
set -euo pipefail
build=$1
scratch=$2
version=$3
with_localservice=$4
packaged_localservice() { case $with_localservice in ON | on | TRUE | true | 1) ;; *) false ;; esac; }

tools=(cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli readelf lintian man)
if packaged_localservice; then
  tools+=(systemd-analyze systemd-sysusers systemd-tmpfiles)
fi
for tool in "${tools[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (tools/install-deps.sh installs it)"
    exit 77
  fi
done
# The units that the service's unit depends on, for systemd-analyze verify.
host_units=
if packaged_localservice; then
  for dir in /usr/lib/systemd/system /lib/systemd/system; do
    if [ -f "$dir/sysinit.target" ]; then
      host_units=$dir
      break
    fi
  done
  if [ -z "$host_units" ]; then
    echo "SKIPPED: systemd's units are not installed (tools/install-deps.sh installs them)"
    exit 77
  fi
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack could not make the package"
  exit 1
fi
debs=("$scratch"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  ls -l "$scratch/out"
  echo "FAIL: expected one .deb from cpack"
  exit 1
fi
deb=${debs[0]}
root=$scratch/root
dpkg -x "$deb" "$root"

# The control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = pictoport ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "Architecture is '$(field Architecture)'"
# Package names of a relation field, without versions and alternatives.
names() { field "$1" | tr ',|' '\n\n' | sed 's/(.*)//; s/^ *//; s/ *$//' | grep -v '^$' || true; }
depends=$(names Depends)
recommends=$(names Recommends)

# Every file of the package: its place, and what it must be. Nothing else may be in it.
share=usr/share
hicolor=$share/icons/hicolor
expected=(
  "usr/bin/pictoport                                     program"
  "$share/applications/pictoport.desktop                 desktop"
  "$share/metainfo/jp.scanlume.Pictoport.metainfo.xml    metainfo"
  "$hicolor/16x16/apps/pictoport.png                     png 16"
  "$hicolor/24x24/apps/pictoport.png                     png 24"
  "$hicolor/32x32/apps/pictoport.png                     png 32"
  "$hicolor/48x48/apps/pictoport.png                     png 48"
  "$hicolor/64x64/apps/pictoport.png                     png 64"
  "$hicolor/128x128/apps/pictoport.png                   png 128"
  "$hicolor/256x256/apps/pictoport.png                   png 256"
  "$hicolor/scalable/apps/pictoport.svg                  svg"
  "$share/doc/pictoport/copyright                        copyright"
  "$share/doc/pictoport/changelog.gz                     changelog"
  "$share/man/man1/pictoport.1.gz                        manual"
)
if packaged_localservice; then
  expected+=(
    "usr/bin/scanlume-local                                program"
    "$share/man/man1/scanlume-local.1.gz                   manual"
    "usr/lib/systemd/system/scanlume-local.service         unit"
    "usr/lib/sysusers.d/scanlume-local.conf                sysusers"
    "usr/lib/tmpfiles.d/scanlume-local.conf                tmpfiles"
    "etc/default/scanlume-local                            default"
  )
fi
# Width and height from a PNG's IHDR chunk.
png_size() { od -An -tu4 --endian=big -j16 -N8 "$1" | awk '{ print $1 "x" $2 }'; }

listed=()
for row in "${expected[@]}"; do
  read -r path kind arg <<<"$row"
  listed+=("$path")
  file=$root/$path
  if [ ! -f "$file" ]; then
    fail "$path is not in the package"
    continue
  fi
  case $kind in
  program)
    [ -x "$file" ] || fail "$path is not executable"
    readelf -h "$file" 2>/dev/null | grep -q 'Type: *EXEC\|Type: *DYN' || fail "$path is not a program"
    if readelf -d "$file" | grep -q 'RPATH\|RUNPATH'; then
      fail "$path keeps a library search path: $(readelf -d "$file" | grep 'RPATH\|RUNPATH')"
    fi
    if ldd "$file" | grep -q 'not found'; then
      fail "$path needs libraries that are not installed: $(ldd "$file" | grep 'not found')"
    fi
    ;;
  desktop)
    # Hints pass (MedicalSoftware alone is a hint); warnings and errors do not.
    if ! desktop-file-validate "$file" >"$scratch/desktop.log" 2>&1 ||
      grep -q ': warning: \|: error: ' "$scratch/desktop.log"; then
      fail "desktop-file-validate refuses $path: $(cat "$scratch/desktop.log")"
    fi
    ;;
  metainfo)
    appstreamcli validate --no-net "$file" >"$scratch/appstream.log" 2>&1 ||
      fail "appstreamcli refuses $path: $(cat "$scratch/appstream.log")"
    ;;
  png)
    size=$(png_size "$file")
    [ "$size" = "${arg}x${arg}" ] || fail "$path is $size, not ${arg}x${arg}"
    ;;
  svg)
    grep -q '<svg' "$file" || fail "$path is not an SVG image"
    ;;
  copyright)
    head -n1 "$file" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
      fail "$path is not in Debian's copyright format"
    ;;
  changelog)
    zcat "$file" | head -n1 | grep -q "^pictoport ($version) " ||
      fail "$path does not begin with version $version"
    ;;
  unit | sysusers | tmpfiles | default)
    # Checked below, in a root where they are installed.
    ;;
  manual)
    # man renders it, and groff has nothing to say about it.
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null || true)
    [ -z "$warnings" ] || fail "$path: $warnings"
    LC_ALL=C.UTF-8 man -l "$file" 2>/dev/null | grep -q 'SYNOPSIS' || fail "$path does not render"
    ;;
  esac
done
while IFS= read -r path; do
  printf '%s\n' "${listed[@]}" | grep -qxF "$path" || fail "$path is in the package but not expected"
done < <(cd "$root" && find . -type f -printf '%P\n' | sort)

# The desktop entry, the metainfo and the files they name belong together.
desktop=$root/$share/applications/pictoport.desktop
if [ -f "$desktop" ]; then
  key() { sed -n "s/^$1=//p" "$desktop"; }
  [ -x "$root/usr/bin/$(key Exec | cut -d' ' -f1)" ] || fail "Exec=$(key Exec) is not in usr/bin"
  [ -f "$root/$hicolor/48x48/apps/$(key Icon).png" ] || fail "Icon=$(key Icon) has no hicolor icon"
  [ "$(key Categories)" = "Office;MedicalSoftware;" ] || fail "Categories=$(key Categories)"
  [ -n "$(key Name)" ] || fail "the desktop entry has no English Name"
  key 'Name\[ja\]' | grep -qP '[\x{3040}-\x{30FF}\x{4E00}-\x{9FFF}]' ||
    fail "the desktop entry has no Japanese Name[ja]"
fi
metainfo=$root/$share/metainfo/jp.scanlume.Pictoport.metainfo.xml
if [ -f "$metainfo" ]; then
  grep -q '<id>jp.scanlume.Pictoport</id>' "$metainfo" || fail "the metainfo's id is not its file name"
  grep -q '<launchable type="desktop-id">pictoport.desktop</launchable>' "$metainfo" ||
    fail "the metainfo does not launch pictoport.desktop"
fi

# The scanlume-local service, as a system with systemd would install it: a copy of the
# unpacked package with a minimal user database, in which the package's own postinst runs.
unit_name=scanlume-local.service
unit=usr/lib/systemd/system/$unit_name
data=var/lib/scanlume-local
if packaged_localservice && [ -f "$root/$unit" ]; then
  system=$scratch/system
  mkdir -p "$scratch/control" "$system/etc"
  cp -a "$root/." "$system/"
  dpkg-deb -e "$deb" "$scratch/control"

  # An upgrade keeps the admin's options.
  grep -qxF /etc/default/scanlume-local "$scratch/control/conffiles" 2>/dev/null ||
    fail "/etc/default/scanlume-local is not a conffile (an upgrade would overwrite the admin's options)"

  # systemd accepts the unit: its directives, the program it starts (in the package), the
  # manual page its Documentation= names (in the package), and the units it depends on (this
  # machine's, beside it, as on an installed system).
  cp -an "$host_units/." "$system/usr/lib/systemd/system/"
  verify_status=0
  MANPATH=$system/$share/man systemd-analyze verify --recursive-errors=no --root="$system" \
    "$unit_name" >"$scratch/verify.log" 2>&1 || verify_status=$?
  if [ $verify_status -ne 0 ] || grep -q scanlume-local "$scratch/verify.log"; then
    fail "systemd-analyze verify refuses $unit: $(cat "$scratch/verify.log")"
  fi

  # Every option of the service's command line, the unit's and the options file's default,
  # is one the program knows...
  exec_start=$(sed -n 's/^ExecStart=//p' "$system/$unit")
  default_options=$(env -i sh -c '. "$1" && printf %s "$SCANLUME_LOCAL_OPTS"' sh \
    "$system/etc/default/scanlume-local")
  usage=$("$system/usr/bin/scanlume-local" --help 2>&1 || true)
  for word in $exec_start $default_options; do
    case $word in
    --*)
      grep -qE -- "(^|[^-[:alnum:]])$word([^-[:alnum:]]|\$)" <<<"$usage" ||
        fail "the service runs scanlume-local with $word, which its --help does not know"
      ;;
    esac
  done
  # ...and its data folder is the one that the package makes for it.
  made=$(awk '$1 == "d" { print $2 }' "$system/usr/lib/tmpfiles.d/scanlume-local.conf")
  [ "$made" = "/$data" ] || fail "the tmpfiles.d entry makes '$made', not /$data"
  grep -qE -- "--data /$data( |\$)" <<<"$exec_start" ||
    fail "the unit does not run the service on /$data: $exec_start"
  [ "$(sed -n 's/^StateDirectory=//p' "$system/$unit")" = "${data#var/lib/}" ] ||
    fail "the unit's StateDirectory= is not /$data"

  # The postinst makes the user and the data folder (systemd-sysusers and systemd-tmpfiles with
  # the package's files, here into the scratch root as dpkg --root would ask); an upgrade's run
  # again changes nothing.
  echo "root:x:0:0:root:/root:/bin/sh" >"$system/etc/passwd"
  echo "root:x:0:" >"$system/etc/group"
  owner_of() { stat -c '%a %u:%g' "$system/$data"; }
  if [ "$(id -u)" -ne 0 ]; then
    echo "NOTE: not root: the data folder's owner is not checked"
  elif ! DPKG_ROOT=$system sh "$scratch/control/postinst" configure >"$scratch/postinst.log" 2>&1; then
    fail "postinst configure failed: $(cat "$scratch/postinst.log")"
  else
    account=$(grep '^scanlume-local:' "$system/etc/passwd" || true)
    if [ -z "$account" ]; then
      fail "postinst did not create the user scanlume-local: $(cat "$scratch/postinst.log")"
    elif [ ! -d "$system/$data" ]; then
      fail "postinst did not create /$data: $(cat "$scratch/postinst.log")"
    else
      IFS=: read -r _ _ uid gid _ home shell <<<"$account"
      [ "$uid" -gt 0 ] && [ "$uid" -lt 1000 ] || fail "scanlume-local has uid $uid, not a system one"
      [ "$home" = "/$data" ] || fail "scanlume-local's home is $home, not /$data"
      [ "$shell" = /usr/sbin/nologin ] || fail "scanlume-local's shell is $shell"
      grep -q "^scanlume-local:x:$gid:" "$system/etc/group" ||
        fail "scanlume-local's group $gid is not its own: $(cat "$system/etc/group")"
      [ "$(owner_of)" = "750 $uid:$gid" ] ||
        fail "/$data is $(owner_of) (mode uid:gid), not 750 $uid:$gid"
      before=$(owner_of)
      DPKG_ROOT=$system sh "$scratch/control/postinst" configure 0 >>"$scratch/postinst.log" 2>&1 ||
        fail "postinst configure failed on upgrade: $(cat "$scratch/postinst.log")"
      [ "$(grep -c '^scanlume-local:' "$system/etc/passwd")" = 1 ] && [ "$(owner_of)" = "$before" ] ||
        fail "postinst on upgrade changed the user or /$data: $(owner_of), $(cat "$system/etc/passwd")"
    fi
  fi

  # Removing and purging keep the data folder and what is in it (patients' photos).
  mkdir -p "$system/$data"
  echo photo >"$system/$data/kept"
  for step in "prerm remove" "postrm remove" "postrm purge"; do
    read -r script argument <<<"$step"
    DPKG_ROOT=$system sh "$scratch/control/$script" "$argument" >"$scratch/$script.log" 2>&1 ||
      fail "$script $argument failed: $(cat "$scratch/$script.log")"
  done
  [ -f "$system/$data/kept" ] || fail "removing and purging the package deleted /$data"
fi

# The Debian package that holds a library, by the path the loader resolves it to.
lib_package() {
  local owner candidate
  for candidate in "$1" "$(readlink -f "$1")" "/usr$1" "/usr$(readlink -f "$1")"; do
    if owner=$(dpkg -S "$candidate" 2>/dev/null); then
      echo "${owner%%:*}"
      return 0
    fi
  done
}
# The package depends on the package of every library its programs link (dpkg-shlibdeps)...
for program in pictoport scanlume-local; do
  file=$root/usr/bin/$program
  [ -f "$file" ] || continue
  resolved=$(ldd "$file")
  for so in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    # "libfoo.so.1 => /path (...)", or for the loader itself "/path/ld-linux...so.2 (...)"
    path=$(awk -v so="$so" '$1 == so && $2 == "=>" { print $3; exit }
      substr($1, length($1) - length(so)) == "/" so { print $1; exit }' <<<"$resolved")
    package=$([ -n "$path" ] && lib_package "$path" || true)
    if [ -z "$package" ]; then
      fail "$program links $so, which no installed package provides"
    elif ! grep -qxF "$package" <<<"$depends"; then
      fail "$program links $so from $package, which is not in Depends: $(field Depends)"
    fi
  done
done
# ...and on what is loaded without being linked.
relations=("Depends  qt6-qpa-plugins" "Recommends  fonts-noto-cjk" "Recommends  fonts-noto-color-emoji")
if packaged_localservice; then
  relations+=("Recommends  tesseract-ocr-jpn" "Recommends  tesseract-ocr-eng")
fi
for row in "${relations[@]}"; do
  read -r relation package <<<"$row"
  case $relation in
  Depends) list=$depends ;;
  Recommends) list=$recommends ;;
  esac
  grep -qxF "$package" <<<"$list" || fail "$package is not in $relation: $(field "$relation")"
done

# Debian's own checks: no error and no warning. (It says so when it runs as root; that line is
# no finding.)
lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
if grep -q '^[EW]: ' "$scratch/lintian.log"; then
  fail "lintian: $(grep '^[EW]: ' "$scratch/lintian.log")"
fi

echo "Depends: $(field Depends)"
echo "Recommends: $(field Recommends)"
if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed for $(basename "$deb")"
  exit 1
fi
echo "$(basename "$deb"): ${#expected[@]} files in place, validators pass"
