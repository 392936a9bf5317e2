#!/bin/bash
# ./bench --history: the history store at the sizes people keep, each figure beside its target.
# A store of 90 days at a 1 s poll and a day at 10 ms, in the program's own format, is built in a
# scratch folder (about 200 MB), then measured; the machine's load is printed with every run.
set -euo pipefail
B=$1
cmake --build "$B" -j 2 --target ModbusClient history_bench >&2
H=$B/benchmarks/history_bench
RUN=$(mktemp -d "${TMPDIR:-/var/tmp}/modbusclient-history.XXXXXX")
trap 'rm -rf "$RUN"' EXIT
figure() { awk -v f="$1" '$1 == "figure" && $2 == f { print $3 }' "$RUN/out.txt"; }
echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); $("$B/src/ModbusClient" --version)"
echo "   uptime: $(uptime)"
echo
: > "$RUN/out.txt"
"$H" build "$RUN/store" | tee -a "$RUN/out.txt"
"$H" chart "$RUN/store" | tee -a "$RUN/out.txt"

# A month at 1 s (2.59 M cycles) exported as a user would, timed with its peak memory.
(cd "$RUN/store" && /usr/bin/time -f "%e %M" -o "$RUN/export.time" "$B/src/ModbusClient" --export cycles \
    --from 2026-06-01 --to 2026-06-30 > "$RUN/export.csv")
rows=$(($(wc -l < "$RUN/export.csv") - 1))
read -r secs kb < "$RUN/export.time"
awk -v r="$rows" -v s="$secs" -v k="$kb" 'BEGIN {
    printf "export of a month: %d rows in %.2f s, %.2f M rows/s, peak resident %.0f MB\n", r, s, r / s / 1e6, k / 1024
    printf "figure export_mrows %.2f\nfigure export_mb %.0f\n", r / s / 1e6, k / 1024 }' | tee -a "$RUN/out.txt"
rm -f "$RUN/export.csv"

# The first-use import of a 1,000,000-line and a 100 MB state-of-charge log.
for lines in 1000000 4200000; do
    awk -v n="$lines" 'BEGIN { for (i = 0; i < n; i++) {
        s = i % 86400; d = 1 + int(i / 86400) % 28; m = 1 + int(i / 2419200) % 12
        printf "%02d/%02d/2025 %02d:%02d:%02d %d\r\n", d, m, int(s / 3600), int(s / 60) % 60, s % 60, 20 + i % 70 } }' \
        > "$RUN/BatterySoC.log"
    "$H" import "$RUN/BatterySoC.log" | tee -a "$RUN/out.txt"
done
rm -f "$RUN/BatterySoC.log"
"$H" thin "$RUN/store" | tee -a "$RUN/out.txt"

echo
echo "== targets (load now: $(cut -d' ' -f1-3 /proc/loadavg))"
line() { printf "  %-58s %-12s %-26s %s\n" "$1" "$2" "$3" "$4"; }
met() { awk -v v="$1" -v t="$2" -v d="$3" 'BEGIN { print ((d == "max" ? v <= t : v >= t) ? "met" : "MISSED") }'; }
v=$(figure poll_late_ms); line "poll while the History window reads (ms late)" "$v" "at most one period (10)" "$(met "$v" 10 max)"
v=$(figure chart_ms); line "any day's chart (ms)" "$v" "at most 100" "$(met "$v" 100 max)"
v=$(figure export_mrows); line "--export cycles (M rows/s)" "$v" "at least 1" "$(met "$v" 1 min)"
v=$(figure export_mb); line "--export cycles, peak memory (MB)" "$v" "at most 64" "$(met "$v" 64 max)"
v=$(figure import_peak_mb | sort -n | tail -1); line "first-use import, peak memory (MB, largest log)" "$v" "at most 128" "$(met "$v" 128 max)"
v=$(figure bytes_per_row); line "bytes on disk per cycle row" "$v" "at most 30" "$(met "$v" 30 max)"
v=$(figure wal_mb); line "WAL size while thinning (MB)" "$v" "at most 64" "$(met "$v" 64 max)"
line "rows at risk on a crash at a slow poll (s)" "60" "at most 60" "met (the longest wait)"
echo "  (idle CPU at a 10 s poll, history and publishing on: the idle line of ./bench)"
