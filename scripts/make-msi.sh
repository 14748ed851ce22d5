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
printf 'Installed by %s %s\r\n' "$name" "$version" >"$work/readme.txt"
sed -e "s|@NAME@|$name|" -e "s|@VERSION@|$version|" -e "s|@FOLDER@|$folder|" \
    -e "s|@UPGRADE@|$(guid "upgrade:$name")|" -e "s|@COMPONENT@|$(guid "component:$name")|" \
    "$here/msi/product.wxs.in" >"$work/product.wxs"
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
# wixl takes file sources relative to the working folder.
(cd "$work" && wixl -o "$out" product.wxs)
