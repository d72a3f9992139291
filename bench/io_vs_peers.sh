#!/usr/bin/env bash
# bench/io_vs_peers.sh [10|180 ...]: our open, save, convert and decode beside sox and
# mpg123 on the same files, back to back in one run (hyperfine, a sync before every
# run), at 10 minutes and 3 hours of 44.1 kHz stereo. Prints a Markdown report: wall and
# CPU times, our time over the peer's, peak resident memory, and what a document keeps
# in the store. Runs on the Release build (scripts/build release first).
#
#   open+save WAVE  quillet-cli apply IN OUT amplify:100 (into the store and out again,
#                   as the editor opens and saves; amplify by 100 % changes nothing)
#                   against sox IN OUT
#   convert WAVE    quillet-cli convert IN OUT (reader to writer) against sox IN OUT
#   MP3 to WAVE     quillet-cli convert IN.mp3 OUT.wav against mpg123 -w OUT.wav IN.mp3
#   MP3 decode      bench_mp3 BM_Mp3DecodeOnce (the frame decoder alone, one thread)
#                   against mpg123 -t
#   MP3 open        bench_document BM_OpenToFullWaveform (into the store, then the peak
#                   columns of the whole document at 1920 pixels) against mpg123 -w
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="$root/build-release"
cli="$build/app/quillet-cli"
runs="${QUILLET_BENCH_RUNS:-5}"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10 180)

work="${QUILLET_BENCH_DIR:-${TMPDIR:-/tmp}/quillet-io-bench}"
mkdir -p "$work"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"

# Inputs: ten minutes of noise and a sweep; longer files repeat it (an MP3 without a
# VBR header frame, so its copies join into one stream).
[ -s "$work/w10.wav" ] || sox -R -n -r 44100 -c 2 -b 16 "$work/w10.wav" synth 600 pinknoise sine 220-4400 gain -8
[ -s "$work/m10.mp3" ] || lame --quiet -t -b 320 "$work/w10.wav" "$work/m10.mp3"
for m in "${sizes[@]}"; do
  n=$((m / 10))
  [ -s "$work/w$m.wav" ] || sox "$work/w10.wav" "$work/w$m.wav" repeat $((n - 1))
  [ -s "$work/m$m.mp3" ] || for _ in $(seq "$n"); do cat "$work/m10.mp3"; done >"$work/m$m.mp3"
done

echo "## Open, save, convert and decode beside sox and mpg123 ($(date -u +%Y-%m-%d))"
echo
echo "Command: \`bench/io_vs_peers.sh ${sizes[*]}\` (Release build, hyperfine $(hyperfine --version | awk '{print $2}'),"
echo "$runs runs each after one warm-up, \`sync\` before every run; sox $(sox --version | awk '{print $NF}'),"
echo "mpg123 $(mpg123 --version | awk '{print $2}')). Input: 44.1 kHz stereo 16-bit WAVE and 320 kbit/s MP3."
echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GB", $2 / 1e6}' /proc/meminfo);"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)."
echo
echo "| length | task | ours (wall, CPU) | peer (wall, CPU) | ratio wall | ratio CPU | ours peak RSS | peer peak RSS |"
echo "|---|---|---|---|---|---|---|---|"

rss() {  # peak resident memory of one run, MB
  /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null 2>&1 || true
  awk '{printf "%.0f MB", $1 / 1024}' "$work/rss"
}

pair() {  # label length ours peer
  local label=$1 length=$2 ours=$3 peer=$4
  hyperfine -N --style none --warmup 1 --runs "$runs" --prepare sync \
    --export-json "$work/h.json" "$ours" "$peer" >/dev/null 2>&1
  local r1 r2
  r1=$(eval rss "$ours")
  r2=$(eval rss "$peer")
  python3 - "$work/h.json" "$label" "$length" "$r1" "$r2" <<'EOF'
import json, sys
res = json.load(open(sys.argv[1]))["results"]
def stats(r):
    return r["mean"], r["stddev"] or 0.0, r["user"] + r["system"]
(ow, osd, oc), (pw, psd, pc) = stats(res[0]), stats(res[1])
print(f"| {sys.argv[3]} | {sys.argv[2]} | {ow:.2f} ± {osd:.2f} s, {oc:.2f} s | {pw:.2f} ± {psd:.2f} s, {pc:.2f} s"
      f" | {ow / pw:.2f} | {oc / pc:.2f} | {sys.argv[4]} | {sys.argv[5]} |")
EOF
}

for m in "${sizes[@]}"; do
  length=$([ "$m" -ge 60 ] && echo "$((m / 60)) h" || echo "$m min")
  w="$work/w$m.wav" mp3="$work/m$m.mp3"
  pair "open+save WAVE" "$length" "$cli apply $w $work/q.wav amplify:100" "sox $w $work/s.wav"
  pair "convert WAVE" "$length" "$cli convert $w $work/q.wav" "sox $w $work/s.wav"
  pair "MP3 to WAVE" "$length" "$cli convert $mp3 $work/q.wav" "mpg123 -q -w $work/s.wav $mp3"
  pair "MP3 decode, one thread" "$length" \
    "env QUILLET_MP3_BENCH_FILE=$mp3 $build/bench/bench_mp3 --benchmark_filter=BM_Mp3DecodeOnce" \
    "mpg123 -q -t $mp3"
  pair "MP3 open to full waveform" "$length" \
    "env QUILLET_BENCH_MP3=$mp3 $build/bench/bench_document --benchmark_filter=BM_OpenToFullWaveform" \
    "mpg123 -q -w $work/s.wav $mp3"
  rm -f "$work/q.wav" "$work/s.wav"
done
echo
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
echo
echo "What a document keeps in the store (sample and peak files; the same again in page"
echo "cache while it is fresh), compact sample files against four bytes a sample, with the"
echo "load and save times of bench_document in the same run:"
echo
echo "| length | input | compact | store | load | save | four bytes | store | load | save |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for m in "${sizes[@]}"; do
  length=$([ "$m" -ge 60 ] && echo "$((m / 60)) h" || echo "$m min")
  QUILLET_BENCH_WAVE="$work/w$m.wav" QUILLET_BENCH_MP3="$work/m$m.mp3" "$build/bench/bench_document" \
    --benchmark_filter='OpenSave' --benchmark_format=json >"$work/d.json" 2>/dev/null
  python3 - "$work/d.json" "$length" <<'EOF'
import json, sys
b = {x["name"].split("/iterations")[0]: x for x in json.load(open(sys.argv[1]))["benchmarks"]}
for kind, name in (("WAVE", "BM_OpenSaveWave"), ("MP3", "BM_OpenSaveMp3")):
    c, f = b[name + "/1"], b[name + "/0"]
    cells = lambda x: f"{x['store_MB']:.0f} MB | {x['load_s']:.2f} s | {x['save_s']:.2f} s"
    print(f"| {sys.argv[2]} | {kind} | | {cells(c)} | | {cells(f)} |")
EOF
done
