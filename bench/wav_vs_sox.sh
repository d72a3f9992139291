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

# Best of five runs: wall-clock seconds and CPU seconds (user + system). Wall time
# on a shared disk is noisy (write-back of other work), CPU time much less so.
best() {
  local bw="" bc=""
  for _ in 1 2 3 4 5; do
    /usr/bin/time -o "$work/time" -f "%e %U %S" "$@" >/dev/null 2>&1
    read -r w u sy <"$work/time"
    local c; c=$(echo "$u + $sy" | bc)
    if [ -z "$bw" ] || [ "$(echo "$w < $bw" | bc)" = 1 ]; then bw=$w; fi
    if [ -z "$bc" ] || [ "$(echo "$c < $bc" | bc)" = 1 ]; then bc=$c; fi
  done
  echo "$bw $bc"
}
read -r qw qc <<<"$(best "$cli" convert "$work/in.wav" "$work/q.wav")"
read -r sw sc <<<"$(best sox "$work/in.wav" "$work/s.wav")"
cmp <(tail -c +47 "$work/q.wav") <(sox "$work/in.wav" -t raw -) && echo "audio identical"
printf "quillet-cli convert: %.2f s wall, %.2f s CPU\n" "$qw" "$qc"
printf "sox:                 %.2f s wall, %.2f s CPU\n" "$sw" "$sc"
printf "ratio quillet/sox:   %.2f wall, %.2f CPU\n" "$(echo "$qw / $sw" | bc -l)" "$(echo "$qc / $sc" | bc -l)"
