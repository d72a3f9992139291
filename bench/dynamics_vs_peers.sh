#!/usr/bin/env bash
# bench/dynamics_vs_peers.sh [BUILD_DIR]: noise reduction, the compressor and the noise
# gate side by side with sox (noisered, compand) and ffmpeg (afftdn) on the same
# ten-minute stereo file, in one run. The peers' times are CPU times (user + system)
# of reading the WAVE file and writing to /dev/null; ours are CPU times of the filters
# over the file in memory (bench_dynamics with QUILLET_BENCH_INPUT), so the ratio
# favours the peers slightly. Each is the best of three.
set -euo pipefail
build="${1:-build-release}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
in="$tmp/tenmin.wav"
# Speech-like bursts of two tones over steady hiss, hiss alone in the first 2 seconds.
sox -n -r 44100 -c 2 -b 16 "$tmp/hiss.wav" synth 600 whitenoise vol 0.01 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$tmp/tones.wav" synth 598 sine 300 sine 350 tremolo 0.7 100 vol 0.4 pad 2 0 2>/dev/null
sox -m "$tmp/hiss.wav" "$tmp/tones.wav" "$in" 2>/dev/null
sox "$in" -n trim 0 2 noiseprof "$tmp/profile" 2>/dev/null
frames=$((44100 * 600))

declare -A ours
while read -r name rate; do ours[$name]=$rate; done < <(
  QUILLET_BENCH_INPUT="$in" "$build/bench/bench_dynamics" \
    --benchmark_filter='BM_(Compressor|NoiseGate|NoiseReduction|NoiseReductionAutoProfile)$' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=false \
    --benchmark_format=csv 2>/dev/null |
    awk -F, 'NR > 1 && $1 !~ /_(mean|median|stddev|cv)"?$/ { gsub(/"/, "", $1);
             if (!($1 in best) || $7 > best[$1]) best[$1] = $7 } END { for (n in best) print n, best[n] }')

cpu() {  # best CPU seconds of three runs of the command
  local best="" t
  for _ in 1 2 3; do
    /usr/bin/time -o "$tmp/time" -f '%U %S' "$@" >/dev/null 2>&1
    t=$(awk '{ print $1 + $2 }' "$tmp/time")
    best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (a == "" || b < a) ? b : a }')
  done
  echo "$best"
}
printf '%-34s %14s %14s %8s\n' effect "peer frames/s" "ours frames/s" ratio
row() {  # NAME BENCH COMMAND...
  local name="$1" bench="$2"
  shift 2
  local s
  s=$(cpu "$@")
  awk -v n="$name" -v f="$frames" -v s="$s" -v o="${ours[$bench]}" \
    'BEGIN { p = f / s; printf "%-34s %14.0f %14.0f %8.2f\n", n, p, o, o / p }'
}
row "noise reduction vs sox noisered" BM_NoiseReduction sox "$in" -t wav /dev/null noisered "$tmp/profile" 0.21
row "noise reduction vs ffmpeg afftdn" BM_NoiseReduction ffmpeg -nostdin -v error -i "$in" -af afftdn -f null -
row "auto profile vs sox noiseprof" BM_NoiseReductionAutoProfile sox "$in" -n noiseprof "$tmp/p2"
# compand without its look-ahead delay: with one, sox 14.4.2 fails on stereo ("flowed
# asymmetrically"); without, it does less work than our look-ahead filters.
row "compressor vs sox compand" BM_Compressor sox "$in" -t wav /dev/null compand 0.01,0.2 -20,-20,0,-15 0 -90 0
row "noise gate vs sox compand" BM_NoiseGate sox "$in" -t wav /dev/null compand 0.01,0.1 -70,-70,-30,-30 0 -90 0
