#!/usr/bin/env bash
# make-msi.sh OUT.msi "Product Name" VERSION "Folder Name"
# Builds a small per-machine MSI with wixl; its GUIDs derive from the name,
# so the same name always gives the same product family.
set -euo pipefail
out=${1:?OUT.msi} name=${2:?name} version=${3:?version} folder=${4:?folder}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

guid() {  # a stable GUID from a string
    local h
    h=$(printf '%s' "$1" | md5sum | cut -c1-32)
    echo "${h:0:8}-${h:8:4}-4${h:13:3}-a${h:17:3}-${h:20:12}"
}
# The product code spells the name's first 14 bytes, then a hash of the whole
# name: uninstall entries are listed in the order of their products' names.
code=$(printf '%s' "$name" | od -An -tx1 | tr -d ' \n' | cut -c1-28)
code=$(printf '%s%028d' "$code" 0 | cut -c1-28)$(printf '%s' "$name" | md5sum | cut -c1-4)
code=$(printf '%s' "$code" | tr a-f A-F)
code="${code:0:8}-${code:8:4}-${code:12:4}-${code:16:4}-${code:20:12}"
printf 'Installed by %s %s\r\n' "$name" "$version" >"$work/readme.txt"
sed -e "s|@NAME@|$name|" -e "s|@CODE@|$code|" -e "s|@VERSION@|$version|" -e "s|@FOLDER@|$folder|" \
    -e "s|@UPGRADE@|$(guid "upgrade:$name")|" -e "s|@COMPONENT@|$(guid "component:$name")|" \
    "$here/msi/product.wxs.in" >"$work/product.wxs"
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
# wixl takes file sources relative to the working folder. The package appears
# whole or not at all: the Wine tests wait for it to appear.
(cd "$work" && wixl -o "$out.part" product.wxs)
mv "$out.part" "$out"
