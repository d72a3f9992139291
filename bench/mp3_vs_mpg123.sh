#!/usr/bin/env bash
# bench/mp3_vs_mpg123.sh: decode a 10-minute 320 kbit/s stereo MP3 with our decoder
# (bench_mp3) and with `mpg123 -t` (decode only) in the same run; prints the times and
# their ratio and appends them to bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."

file="${QUILLET_MP3_BENCH_FILE:-${TMPDIR:-/tmp}/quillet-bench-320k-10min.mp3}"
if [ ! -s "$file" ]; then
  wav="$(mktemp --suffix=.wav)"
  trap 'rm -f "$wav"' EXIT
  sox -R -n -r 44100 -c 2 -b 16 "$wav" synth 600 pinknoise sine 220-4400 gain -8
  lame --quiet -b 320 "$wav" "$file"
fi
QUILLET_JOBS="${QUILLET_JOBS:-1}" scripts/build release bench_mp3 >/dev/null

best() {  # best wall time in seconds of three runs of the command
  local t best=""
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N); "$@" >/dev/null 2>&1; end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

json="$(mktemp)"
QUILLET_MP3_BENCH_FILE="$file" build-release/bench/bench_mp3 --benchmark_filter=BM_Mp3DecodeFrames \
  --benchmark_repetitions=3 --benchmark_format=json >"$json"
ours=$(python3 -c 'import json,sys; r=[b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type")=="iteration"]; print(min(b["real_time"] for b in r)/1000.0)' "$json")
fps=$(python3 -c 'import json,sys; r=[b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type")=="iteration"]; print(int(max(b["mp3_frames_per_s"] for b in r)))' "$json")
rm -f "$json"
theirs=$(best mpg123 -t -q "$file")
ratio=$(echo "$ours / $theirs" | bc -l)
frames=$fps

printf 'file: %s\nours (bench_mp3 BM_Mp3DecodeFrames): %.3f s, %s frames/s\nmpg123 -t: %.3f s\nratio ours/mpg123: %.2f\n' \
  "$file" "$ours" "$frames" "$theirs" "$ratio"
{
  echo
  echo "### MP3 decoding vs mpg123 ($(date -u +%Y-%m-%d))"
  echo
  echo "Command: \`bench/mp3_vs_mpg123.sh\` (10-minute 320 kbit/s stereo file, lame -b 320; best of 3)"
  echo
  printf -- '- ours, frame decoder only: %.3f s (%s frames/s)\n' "$ours" "$frames"
  printf -- '- mpg123 %s -t: %.3f s\n' "$(mpg123 --version | head -1 | awk '{print $2}')" "$theirs"
  printf -- '- ratio ours/mpg123: %.2f (target: at most 1.5)\n' "$ratio"
} >>bench/RESULTS.md
