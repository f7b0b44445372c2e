#!/usr/bin/env bash
# Brings the English catalogue up to date with the sources:
#   tools/lupdate.sh          update resources/translations/zentrel_en.ts
#   tools/lupdate.sh --check  fail when an English entry is unfinished or
#                             the catalogue is not up to date (CI runs this)
set -euo pipefail
cd "$(dirname "$0")/.."
folders=(app mainwindow station stats match report plantdb journal mqtt settings storage platform console capabilities link meter
         board/*.cpp tools/report tools/match tools/logger)
catalogue=resources/translations/zentrel_en.ts
if [ "${1:-}" = "--check" ]; then
    scratch="$(mktemp -d)"
    trap 'rm -rf "$scratch"' EXIT
    cp "$catalogue" "$scratch/zentrel_en.ts"
    lupdate -silent -locations none "${folders[@]}" -ts "$scratch/zentrel_en.ts"
    unfinished=$(grep -c 'type="unfinished"' "$scratch/zentrel_en.ts" || true)
    gone=$(grep -c 'type="obsolete"\|type="vanished"' "$scratch/zentrel_en.ts" || true)
    if [ "$unfinished" != 0 ] || [ "$gone" != 0 ]; then
        echo "zentrel_en.ts: $unfinished unfinished and $gone obsolete entries; run tools/lupdate.sh and translate" >&2
        grep -B3 'type="unfinished"\|type="obsolete"\|type="vanished"' "$scratch/zentrel_en.ts" | grep '<source>' >&2 || true
        exit 1
    fi
    echo "zentrel_en.ts: every entry translated, none obsolete"
    exit 0
fi
lupdate -no-obsolete -locations none "${folders[@]}" -ts "$catalogue"
