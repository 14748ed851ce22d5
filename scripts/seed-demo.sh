#!/usr/bin/env bash
# seed-demo.sh DIR: seeds the Wine prefix that wine-env.sh started in DIR with
# the demo machine: registry keys in both hives and installed products.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(cd "${1:?DIR}" && pwd)
env="$here/wine-env.sh"

"$env" run "$dir" reg import "Z:${here//\//\\}\\demo\\machine.reg" /reg:32 >/dev/null
"$env" run "$dir" reg import "Z:${here//\//\\}\\demo\\user.reg" >/dev/null

mkdir -p "$dir/msi"
grep -v '^#' "$here/demo/products.txt" | while IFS='|' read -r name version folder; do
    msi="$dir/msi/${name// /_}.msi"
    [ -f "$msi" ] || "$here/make-msi.sh" "$msi" "$name" "$version" "$folder"
    "$env" run "$dir" msiexec /i "Z:${msi//\//\\}" /qn >/dev/null
done
echo "demo machine seeded in $dir/prefix"
