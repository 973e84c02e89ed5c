#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages the way a Debian package is built (release build
# with the hardening flags of dpkg-buildflags, stripped binaries) in WORK_DIR,
# then checks them with Debian's own tools:
#   - lintian: no error and no warning (overrides ship in the package, each
#     with its reason);
#   - appstreamcli: the AppStream metadata, alone and against the installed tree;
#   - desktop-file-validate: the menu entry; Dolphin's service menu may only
#     draw the two messages its format implies;
#   - man: every program has a manual page that formats without a warning and
#     names every option or command the program itself lists;
#   - the changelog, the package and the AppStream release carry one version;
#   - the copyright file names the Debian package of every library a program
#     links, and nothing that is neither linked nor a dependency.
# Usage: check-package.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src="$(cd "$1" && pwd)"
work="$2"
mkdir -p "$work"
work="$(cd "$work" && pwd)"
build="$work/build"
debs="$work/debs"
root="$work/root"

for tool in cmake cpack dpkg-buildflags dpkg-deb dpkg-parsechangelog lintian \
            appstreamcli desktop-file-validate man objdump ldd; do
  command -v "$tool" >/dev/null || { echo "check-package: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# --- build as Debian does -----------------------------------------------------
cd "$src"   # dpkg-buildflags maps this directory out of the debug paths
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DTAVREL_BUILD_TESTS=OFF -DTAVREL_SANITIZE=OFF \
      "-DCMAKE_CXX_FLAGS=$CPPFLAGS $CXXFLAGS" -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
      "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" "-DCMAKE_SHARED_LINKER_FLAGS=$LDFLAGS" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -rf "$debs" "$root"
(cd "$build" && cpack -G DEB -B "$debs" >/dev/null)
mapfile -t packages < <(ls "$debs"/*.deb)
[ "${#packages[@]}" -ge 1 ] || { echo "check-package: cpack made no package"; exit 1; }

for deb in "${packages[@]}"; do
  name="$(dpkg-deb -f "$deb" Package)"
  mkdir -p "$root/$name"
  dpkg-deb -x "$deb" "$root/$name"
  echo "== $name $(dpkg-deb -f "$deb" Version): $(dpkg-deb -c "$deb" | wc -l) entries"
done

# --- lintian --------------------------------------------------------------------
# (Overridden tags are not shown: with --show-overrides they would count as failures.)
if ! lintian --no-cfg --fail-on error,warning --display-info "${packages[@]}"; then
  fail "lintian reports errors or warnings"
fi

# --- AppStream --------------------------------------------------------------------
for meta in "$root"/*/usr/share/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net "$meta" || fail "appstreamcli validate $meta"
  tree="${meta%/usr/share/metainfo/*}"
  appstreamcli validate-tree --no-net "$tree" || fail "appstreamcli validate-tree $tree"
done

# --- desktop entries ----------------------------------------------------------------
for entry in "$root"/*/usr/share/applications/*.desktop; do
  out="$(desktop-file-validate "$entry" 2>&1)" || true
  [ -z "$out" ] || fail "desktop-file-validate: $out"
done
# KDE's service-menu format puts MimeType and Actions in a Type=Service entry;
# the validator only knows them for applications. Anything else is a fault.
for menu in "$root"/*/usr/share/kio/servicemenus/*.desktop; do
  [ -x "$menu" ] || fail "$menu is not executable"
  out="$(desktop-file-validate "$menu" 2>&1 |
         grep -v -e 'key "MimeType" is present in group "Desktop Entry", but the type is "Service"' \
                 -e 'key "Actions" is present in group "Desktop Entry", but the type is "Service"')" || true
  [ -z "$out" ] || fail "desktop-file-validate: $out"
done

# --- manual pages ---------------------------------------------------------------------
for dir in "$root"/*/; do
  for program in "$dir"usr/bin/*; do
    base="$(basename "$program")"
    page="${dir}usr/share/man/man1/$base.1.gz"
    if [ ! -f "$page" ]; then fail "no manual page for $base"; continue; fi
    warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "man $base: $warnings"
    text="$(MANWIDTH=200 LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null)"
    grep -q "^NAME" <<<"$text" || fail "man $base has no NAME section"
    # The client has no options of its own (and would open a window).
    [ "$base" = tavrellite ] && continue
    # What the program itself lists: the options of --help, the command words of
    # its usage line.
    help="$("$program" --help 2>&1 || true)"
    words="$(grep -o -E -- '--[a-z][a-z-]+' <<<"$help" || true)
$(sed -n 's/^\(Uso\|Usage\): *[^ ]* *//p' <<<"$help" | grep -o -E '(^|[ |])[a-z][a-z-]*' | tr -d ' |' || true)"
    [ -n "${words//[[:space:]]/}" ] || fail "$base --help lists nothing"
    for word in $(sort -u <<<"$words"); do
      grep -q -w -F -- "$word" <<<"$text" || fail "man $base does not mention $word"
    done
  done
done

# --- one version --------------------------------------------------------------------------
for deb in "${packages[@]}"; do
  name="$(dpkg-deb -f "$deb" Package)"
  version="$(dpkg-deb -f "$deb" Version)"
  changelog="$root/$name/usr/share/doc/$name/changelog.gz"
  zcat "$changelog" >"$work/changelog" 2>/dev/null || fail "$name: $changelog is not gzip"
  logged="$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>/dev/null || true)"
  [ "$logged" = "$version" ] || fail "$name is $version but its changelog says ${logged:-nothing}"
  for meta in "$root/$name"/usr/share/metainfo/*.metainfo.xml; do
    [ -f "$meta" ] || continue
    grep -q "<release version=\"$version\"" "$meta" || fail "$meta has no release $version"
  done
done

# --- the copyright file and what the programs load ---------------------------------------
owner() {   # the Debian package that installed a library path
  local path="$1" alt
  case "$path" in /usr/*) alt="${path#/usr}" ;; *) alt="/usr$path" ;; esac
  { dpkg -S "$path" 2>/dev/null || dpkg -S "$alt" 2>/dev/null; } | head -n 1 | cut -d: -f1
}
for deb in "${packages[@]}"; do
  name="$(dpkg-deb -f "$deb" Package)"
  copyright="$root/$name/usr/share/doc/$name/copyright"
  [ -f "$copyright" ] || { fail "$name has no copyright file"; continue; }
  linked=()
  for program in "$root/$name"/usr/bin/*; do
    objdump -p "$program" >/dev/null 2>&1 || continue   # not an ELF file
    resolved="$(ldd "$program")"
    for soname in $(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }'); do
      path="$(awk -v so="$soname" '$1 == so && $2 == "=>" { print $3 }' <<<"$resolved")"
      package="$(owner "$path")"
      if [ -z "$package" ]; then fail "$name: no Debian package owns $soname ($path)"; continue; fi
      linked+=("$package")
      grep -q -F "($package)" "$copyright" || fail "$name: $(basename "$program") links $soname from $package, which its copyright file does not list"
    done
  done
  depends=" $(dpkg-deb -f "$deb" Depends | sed -e 's/([^)]*)//g' -e 's/[,|]/ /g') "
  for listed in $(sed -n 's/^ .*(\([a-z0-9][a-z0-9.+-]*\)): .*/\1/p' "$copyright"); do
    [[ " ${linked[*]} " == *" $listed "* || "$depends" == *" $listed "* ]] ||
      fail "$name: its copyright file lists $listed, which it neither links nor depends on"
  done
done

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures failure(s)"
  exit 1
fi
echo "check-package: ${#packages[@]} packages pass lintian, appstreamcli, desktop-file-validate and man"
