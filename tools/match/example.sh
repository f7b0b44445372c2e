#!/usr/bin/env bash
# Makes docs/matching.md's example assembly sheet from a generated lot:
#   tools/match/example.sh [build-folder]
# 400 cells (a few NG, voided and measured again), matched to 4S × 10P.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build}"
data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT
"$build/tools/zentrel-lotgen" "$data/journal" 400 3
"$build/tools/zentrel-match" "$data/journal" --series 4 --parallel 10 --pack-id PACK-EXAMPLE-1 \
    --plan "$data/plan.csv" --png "$data/sheet.png" | head -8
cp "$data/sheet.png" docs/pack-sheet.png
echo "wrote docs/pack-sheet.png (the sheet's first page)"
