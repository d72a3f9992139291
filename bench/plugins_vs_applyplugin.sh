#!/usr/bin/env bash
# bench/plugins_vs_applyplugin.sh [BUILD_DIR]: ladspa-sdk's amp at 0.5 over a ten-minute
# stereo WAVE file, applyplugin next to quillet-cli apply (which runs the plug-in in
# quillet-plugin-host), one run. CPU is user + system of the program and its children.
set -euo pipefail
build="${1:-build-release}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
in="$tmp/tenmin.wav"
sox -n -r 44100 -c 2 -b 16 "$in" synth 600 sine 440 sine 550 vol 0.5 2>/dev/null
export LADSPA_PATH=/usr/lib/ladspa
measure() {  # NAME COMMAND...
  local name="$1"
  shift
  /usr/bin/time -f '%e %U %S' -o "$tmp/t" "$@" >/dev/null 2>&1
  read -r wall user sys < "$tmp/t"
  printf '%-44s %8s s wall %8.2f s CPU\n' "$name" "$wall" "$(echo "$user + $sys" | bc)"
}
# applyplugin needs a plug-in with as many inputs as the file has channels.
measure "applyplugin amp_stereo 0.5" applyplugin "$in" "$tmp/a.wav" /usr/lib/ladspa/amp.so amp_stereo 0.5
measure "quillet-cli apply ladspa:amp_mono,Gain=0.5" "$build/app/quillet-cli" apply "$in" "$tmp/b.wav" \
  ladspa:amp_mono,Gain=0.5
measure "quillet-cli apply amplify:50 (no plug-in)" "$build/app/quillet-cli" apply "$in" "$tmp/c.wav" amplify:50
