#!/usr/bin/env bash
# Side by side: `quillet-cli convert` against `sox` copying the same 1-hour stereo
# 44.1 kHz 16-bit WAVE file, in one run. Usage: bench/wav_vs_sox.sh [build-release]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-release}"
cli="$build/app/quillet-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/xdg"  # no stored format: 16-bit PCM like the input

sox -R -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 3600 sine 440 sine 660 vol 0.7
ls -l "$work/in.wav" | awk '{print "input bytes: " $5}'

best() {  # best of three wall-clock runs, in seconds
  local b=""
  for _ in 1 2 3; do
    local s e
    s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N)
    local t; t=$(echo "$e - $s" | bc)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}
q=$(best "$cli" convert "$work/in.wav" "$work/q.wav")
s=$(best sox "$work/in.wav" "$work/s.wav")
cmp <(tail -c +47 "$work/q.wav") <(sox "$work/in.wav" -t raw -) && echo "audio identical"
printf "quillet-cli convert: %.2f s\nsox:                 %.2f s\nratio quillet/sox:   %.2f\n" "$q" "$s" "$(echo "$q / $s" | bc -l)"
