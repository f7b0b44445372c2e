#!/usr/bin/env bash
# Makes docs/report.md's example report from generated journal files:
#   tools/report/example.sh [build-folder]
# Two stations, three days, a limit change on the second day.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build}"
data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT
header='time,station,port,seq,r_mohm,v,verdict,r_text,v_text,r_range,v_range,r_low,r_high,v_low,v_high'
for station in A07 B12; do
    mkdir -p "$data/$station"
    for day in 05 06 07; do
        awk -v station="$station" -v day="$day" -v header="$header" 'BEGIN {
            srand(day * 100 + (station == "A07" ? 1 : 2));
            printf "\xef\xbb\xbf%s\n", header;
            base = station == "A07" ? 12.30 : 12.55;
            lo = 11.5; hi = 13.5; if (day >= 6) { lo = 11.8; hi = 13.2 }
            for (i = 0; i < 4000; i++) {
                t = 8 * 3600 + i * 7;
                drift = (day - 5) * 0.05 + 0.08 * sin(i / 400);
                # Box-Muller: a normal spread around the drifting mean
                u1 = rand(); u2 = rand(); z = sqrt(-2 * log(u1 + 1e-12)) * cos(6.283185 * u2);
                r = base + drift + 0.12 * z;
                v = 3.70 + 0.01 * z;
                verdict = (r < lo || r > hi || v < 3.6 || v > 3.8) ? "NG" : "PASS";
                printf "2026-12-%sT%02d:%02d:%02d.000+08:00,%s,COM3,%d,%.4f,%.4f,%s,%.4fmΩ,%.4fV,20mΩ,20V,%s,%s,3.6,3.8\n",
                    day, int(t / 3600), int(t % 3600 / 60), t % 60, station, i + 1, r, v, verdict, r, v, lo, hi;
            }
        }' > "$data/$station/readings-2026-12-$day.csv"
    done
done
"$build/tools/zentrel-report" "$data" --pdf "$data/report.pdf" --png "$data/page"
cp "$data/page-2.png" docs/report-page1.png
cp "$data/page-9.png" docs/report-control.png
cp "$data/page-13.png" docs/report-capability.png
echo "wrote docs/report-page1.png (the table), docs/report-control.png (16,000 readings as X̄-R)" \
     "and docs/report-capability.png (station A07's R)"
