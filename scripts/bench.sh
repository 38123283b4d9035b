#!/usr/bin/env bash
# Builds the benchmarks (RelWithDebInfo, build-bench/), runs each several times and writes
# BENCHMARKS.md with every figure beside its target and the command that produced it.
#   scripts/bench.sh [RUNS]   repetitions inside each benchmark (default 5; medians reported)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-5}
BUILD_DIR=${BUILD_DIR:-build-bench}
JOBS=${JOBS:-2}
OUT=${OUT:-BENCHMARKS.md}

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(bench_link bench_memory bench_formats)
if grep -q '^PELNORA_GUI:BOOL=ON' "$BUILD_DIR/CMakeCache.txt"; then
  targets+=(gui_bench)
fi
cmake --build "$BUILD_DIR" -j"$JOBS" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
settings=$(mktemp -d)
export XDG_CONFIG_HOME="$settings"
trap 'rm -rf "$settings"' EXIT

results=$(mktemp)
declare -A command_of
measure() {  # measure KEYWORD COMMAND...: runs the command, keeps its RESULT lines
  local what=$1
  shift
  echo "== $what: $*" >&2
  command_of[$what]="$*"
  "$@" | tee -a "$results" >&2
}
B="$BUILD_DIR/bench"
measure paced "$B/bench_link" paced 3
measure pty "$B/bench_link" pty "$RUNS"
measure echo "$B/bench_link" echo "$RUNS"
measure kml "$B/bench_link" kml 3
measure route "$B/bench_link" route "$RUNS"
measure memory "$B/bench_link" memory
measure download_memory "$B/bench_memory" 32
formats_dir=$(mktemp -d)
measure formats "$B/bench_formats" "$RUNS" "$formats_dir"
rm -rf "$formats_dir"
if [ -x "$B/gui_bench" ]; then
  measure terminal "$B/gui_bench" terminal 3
  measure stall "$B/gui_bench" stall 3
  measure preview "$B/gui_bench" preview 5
  # Start to first paint: a fresh process each time, counted from just before exec.
  for _ in $(seq "$RUNS"); do
    PELNORA_BENCH_T0=$(date +%s%N) "$B/gui_bench" startup | tee -a "$results.startup" >&2
  done
  command_of[startup]="PELNORA_BENCH_T0=\$(date +%s%N) $B/gui_bench startup  (x$RUNS, median)"
  for key in startup_exec_to_paint_ms startup_main_to_paint_ms; do
    grep "RESULT $key " "$results.startup" | awk '{print $3}' | sort -g |
      awk -v k="$key" '{v[NR]=$1} END {m = NR % 2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2;
                                       printf "RESULT %s %.3f\n", k, m}' >>"$results"
  done
  rm -f "$results.startup"
fi

get() { awk -v k="$1" '$1=="RESULT" && $2==k {print $3}' "$results" | tail -1; }
verdict() {  # verdict VALUE OP LIMIT
  awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN {
    if (v == "") { print "not measured"; exit }
    ok = (op == "<=") ? (v + 0 <= l + 0) : (v + 0 >= l + 0)
    print ok ? "met" : "**missed**" }'
}
fmt() { awk -v v="$1" 'BEGIN { if (v == "") print "–"; else printf "%.1f", v }'; }

paced_limit=$(awk -v l="$(get paced_line_ms)" -v n="$(get paced_tracks)" 'BEGIN {printf "%.1f", l + 20 * n}')
pty_cpu_limit=400

{
  echo "# Benchmarks"
  echo
  echo "Written by \`scripts/bench.sh $RUNS\` on $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores,"
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end of the run (the machine is shared"
  echo "with other work). Build: RelWithDebInfo in \`$BUILD_DIR\`. Times are medians of the runs inside each"
  echo "benchmark; ratios are medians of per-run ratios, both sides measured in the same run."
  echo "Wall times suffer from a loaded machine; where CPU time is given it is the thread's own."
  echo
  echo "| # | what | measured | target | verdict |"
  echo "|---|---|---|---|---|"
  echo "| 1 | download of $(get paced_tracks | cut -d. -f1) tracks, simulator paced at 115200 ($(get paced_wire_bytes | cut -d. -f1) bytes on the wire) | $(fmt "$(get paced_total_ms)") ms total; line time $(fmt "$(get paced_line_ms)") ms; $(fmt "$(get paced_overhead_per_track_ms)") ms per track above it | ≤ line time + 20 ms/track = $paced_limit ms | $(verdict "$(get paced_total_ms)" "<=" "$paced_limit") |"
  echo "| 2 | one 2 MiB track (65535 points) unpaced over a pty | $(fmt "$(get pty_download_ms)") ms wall, $(fmt "$(get pty_download_cpu_ms)") ms CPU; bare 32-byte read loop $(fmt "$(get pty_bare_ms)") ms wall, $(fmt "$(get pty_bare_cpu_ms)") ms CPU; ratio $(get pty_ratio) | ratio ≤ 1.3, CPU ≤ $pty_cpu_limit ms | $(verdict "$(get pty_ratio)" "<=" 1.3) / $(verdict "$(get pty_download_cpu_ms)" "<=" $pty_cpu_limit) |"
  echo "| 3a | building the terminal text of that download ($(get echo_chunks | cut -d. -f1) chunks, $(get echo_text_bytes | cut -d. -f1) characters) | $(fmt "$(get echo_render_ms)") ms ($(fmt "$(get echo_render_cpu_ms)") ms CPU) | ≤ 60 ms | $(verdict "$(get echo_render_ms)" "<=" 60) |"
  echo "| 3b | showing it in the terminal page (offscreen): last lines painted; Ctrl+Home to the first line; page memory | $(fmt "$(get terminal_show_ms)") ms; $(fmt "$(get terminal_first_line_ms)") ms; held by the page $(fmt "$(get terminal_page_held_per_log_byte)") × the log's $(get terminal_log_bytes | cut -d. -f1) bytes ($(get terminal_log_storage_bytes | cut -d. -f1) bytes the echo log's chunk storage, $(get terminal_view_bytes | cut -d. -f1) bytes the line index and view); next command $(fmt "$(get terminal_next_command_ms)") ms | ≤ 16 ms; ≤ 16 ms; ≤ 2 × | $(verdict "$(get terminal_show_ms)" "<=" 16) / $(verdict "$(get terminal_first_line_ms)" "<=" 16) / $(verdict "$(get terminal_page_held_per_log_byte)" "<=" 2) |"
  echo "| 3c | longest gap between 10 ms timer ticks on the interface thread while the progress dialog downloads 2 MiB into the terminal page | $(fmt "$(get stall_longest_gap_ms)") ms (dialog open $(fmt "$(get stall_dialog_ms)") ms) | ≤ 100 ms | $(verdict "$(get stall_longest_gap_ms)" "<=" 100) |"
  echo "| 3d | flight preview of a 65535-point track: path and profile drawn (640 × 480) | by altitude $(fmt "$(get preview_draw_altitude_ms)") ms, by vertical speed $(fmt "$(get preview_draw_climb_ms)") ms; the window's paint $(fmt "$(get preview_window_paint_ms)") ms | ≤ 50 ms | $(verdict "$(get preview_draw_climb_ms)" "<=" 50) |"
  echo "| 4 | \`WriteTrackKml\`, one 65535-point track ($(get kml_file_bytes | cut -d. -f1) bytes) vs \`gpsbabel -i gpx -f F.gpx -o kml -F out.kml\` on the same points | ours $(fmt "$(get kml_write_ms)") ms ($(fmt "$(get kml_write_cpu_ms)") ms CPU, written in pieces as made; \`BuildTrackKml\` of the whole text in one string alone takes $(fmt "$(get kml_build_text_cpu_ms)") ms CPU); gpsbabel $(fmt "$(get kml_gpsbabel_ms)") ms; ratio $(fmt "$(get kml_ratio)") | ratio ≥ 5 | $(verdict "$(get kml_ratio)" ">=" 5) |"
  echo "| 5 | route import of a KML with 10 000 placemarks ($(get route_file_bytes | cut -d. -f1) bytes) | refused (more than 255 points) after $(fmt "$(get route_import_ms)") ms; the whole reading (document, $(get route_full_read_points | cut -d. -f1) placemarks, positions and names) $(fmt "$(get route_full_read_ms)") ms | ≤ 100 ms | $(verdict "$(get route_full_read_ms)" "<=" 100) |"
  echo "| 6 | start to first painted main window, offscreen | $(fmt "$(get startup_exec_to_paint_ms)") ms from exec ($(fmt "$(get startup_main_to_paint_ms)") ms from main) | ≤ 300 ms | $(verdict "$(get startup_exec_to_paint_ms)" "<=" 300) |"
  echo "| 7 | peak memory (maxrss) of a 2 MiB download with its rendered echo log and its KML export | $(fmt "$(get memory_peak_mb)") MB (simulator in the same process included) | ≤ 100 MB | $(verdict "$(get memory_peak_mb)" "<=" 100) |"
  echo "| 8 | peak memory of a download of $(fmt "$(get memory_download_received_mb)") MiB received (echo log kept, tracks kept) | $(fmt "$(get memory_download_peak_mb)") MB, $(fmt "$(get memory_download_ratio)") × the bytes received, in $(fmt "$(get memory_download_ms)") ms | ≤ 3 × received + 40 MB = $(fmt "$(get memory_download_limit_mb)") MB | $(verdict "$(get memory_download_peak_mb)" "<=" "$(get memory_download_limit_mb)") |"
  for f in gpx kml_time igc; do
    echo "| 9 $f | a 65535-point track written as $f ($(get ${f}_file_bytes | cut -d. -f1) bytes) vs gpsbabel writing the same points as $f | ours $(fmt "$(get ${f}_write_ms)") ms ($(fmt "$(get ${f}_write_cpu_ms)") ms CPU); gpsbabel $(fmt "$(get ${f}_gpsbabel_ms)") ms; ratio $(fmt "$(get ${f}_ratio)") | ratio ≥ 5 | $(verdict "$(get ${f}_ratio)" ">=" 5) |"
  done
  echo "| 9m | peak memory while writing the three formats | $(fmt "$(get formats_memory_peak_mb)") MB | < 50 MB | $(verdict "$(get formats_memory_peak_mb)" "<=" 50) |"
  echo "| 10 | hostile route files (100 000 attributes on one element, 16 MiB of small elements, the most markup the bounds allow), each read in a fresh process | worst $(fmt "$(get route_hostile_worst_ms)") ms, worst peak $(fmt "$(get route_hostile_worst_peak_mb)") MB | ≤ 1000 ms, ≤ 100 MB | $(verdict "$(get route_hostile_worst_ms)" "<=" 1000) / $(verdict "$(get route_hostile_worst_peak_mb)" "<=" 100) |"
  echo
  echo "## Commands"
  echo
  for key in paced pty echo terminal stall preview kml route startup memory download_memory formats; do
    [ -n "${command_of[$key]:-}" ] && echo "- $key: \`${command_of[$key]}\`"
  done
  echo
  echo "## Raw results"
  echo
  echo '```'
  cat "$results"
  echo '```'
  if [ -f build-fuzz/fuzz_route.log ] || [ -f build-fuzz/fuzz_device.log ]; then
    echo
    echo "## Fuzzing (last \`scripts/fuzz.sh\` run in build-fuzz)"
    echo
    for target in fuzz_route fuzz_device; do
      log="build-fuzz/$target.log"
      [ -f "$log" ] || continue
      echo "- $target: $(grep -h '^Done' "$log" | tail -1); peak RSS $(grep -h '^stat::peak_rss_mb' "$log" | awk '{print $2}' | tail -1) MB; $(grep -qE '==[0-9]+==ERROR|deadly signal' "$log" && echo 'FAILED' || echo 'no crash, leak or hang')"
    done
  fi
  if [ -f bench/NOTES.md ]; then
    echo
    cat bench/NOTES.md
  fi
} >"$OUT"
rm -f "$results"
echo "wrote $OUT" >&2
