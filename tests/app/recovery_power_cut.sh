#!/usr/bin/env bash
# A power cut. The working folder lives on a small ext4 image mounted through a loop
# device in a private mount namespace (commit=300, so only fsync makes anything
# durable within a run). At a random moment the drill is killed and the image file is
# copied at once: the copy holds what the file system had sent to its disk (what
# fsync forced out, and whatever writeback happened to write) and nothing that sat
# only in its page cache - what a power cut leaves. The copy is mounted (its journal
# replayed, as after a reboot) and recovered. The document must be exactly a state
# the drill reached, no older than the last state it had waited to be durable, and
# no chain may point at audio that is missing or short.
# Needs root with loop devices; skipped (77) otherwise. RECOVERY_RUNS cuts (default 20).
set -euo pipefail
drill="${QUILLET_DRILL:?set QUILLET_DRILL to the recovery_drill program}"
runs="${RECOVERY_RUNS:-20}"

if [ "${1:-}" != --inside ]; then
  if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null || ! command -v mkfs.ext4 >/dev/null; then
    echo "power-cut test needs root, unshare and mkfs.ext4: skipped"; exit 77
  fi
  probe=$(mktemp -d)
  truncate -s 16M "$probe/p.img"
  if ! mkfs.ext4 -q "$probe/p.img" 2>/dev/null ||
     ! unshare -m --propagation private sh -c "mkdir -p '$probe/m' && mount -o loop '$probe/p.img' '$probe/m' && umount '$probe/m'" 2>/dev/null; then
    rm -rf "$probe"; echo "loop mounts are not available here: skipped"; exit 77
  fi
  rm -rf "$probe"
  exec unshare -m --propagation private bash "$0" --inside
fi

work=$(mktemp -d)
cleanup() {
  kill -9 "${pid:-0}" 2>/dev/null || true
  umount "$work/live" 2>/dev/null || true
  umount "$work/after" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
log="${RECOVERY_LOG:-$work/runs.log}"
: > "$log"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME" "$work/live" "$work/after"

"$drill" make "$work/in.wav"
mkdir -p "$work/ref-out"
XDG_CACHE_HOME="$work/ref-cache" "$drill" run "$work/in.wav" "$work/ref-out" --fingerprints --checkpoint 4 > "$work/ref.log"
t0=$(date +%s%3N)
XDG_CACHE_HOME="$work/time-cache" "$drill" run "$work/in.wav" "$work/ref-out" --checkpoint 4 > "$work/time.log" &
pid=$!
until grep -qs '^finished' "$work/time.log"; do sleep 0.01; done
total_ms=$(( $(date +%s%3N) - t0 ))
kill -9 "$pid"; wait "$pid" 2>/dev/null || true

failures=0
for i in $(seq 1 "$runs"); do
  truncate -s 0 "$work/disk.img"
  truncate -s 512M "$work/disk.img"
  mkfs.ext4 -q "$work/disk.img"
  mount -o loop,commit=300 "$work/disk.img" "$work/live"
  mkdir -p "$work/live/cache" "$work/live/out"
  delay=$(( (RANDOM * 32768 + RANDOM) % (total_ms * 11 / 10 + 1) ))
  # The drill kills itself at the chosen moment (a timer of its own).
  XDG_CACHE_HOME="$work/live/cache" "$drill" run "$work/in.wav" "$work/live/out" --checkpoint 4 \
    --kill-at "0:$((delay * 1000))" > "$work/run.log" 2>&1 &
  pid=$!
  wait "$pid" 2>/dev/null || true
  # The cut: the disk as it is this instant, before the page cache is written back.
  cp --sparse=always "$work/disk.img" "$work/cut.img"
  umount "$work/live"

  mount -o loop "$work/cut.img" "$work/after"
  rc=0
  XDG_CACHE_HOME="$work/after/cache" "$drill" check > "$work/check.log" 2>&1 || rc=$?
  umount "$work/after"

  last=$(awk '$1 == "done" { k = $2 } END { print k }' "$work/run.log")
  durable=$(awk '$1 == "durable" { k = $2 } END { print k }' "$work/run.log")
  got=$(sed -n 's/^recovered //p' "$work/check.log")
  verdict=bad
  matched=none
  if [ -z "$got" ]; then
    # Nothing came back: fine only when nothing had been made durable.
    [ -z "$durable" ] && [ "$rc" = 3 ] && verdict=ok
  else
    for k in $(seq "${durable:-0}" $(( ${last:-0} + 1 ))); do
      want=$(sed -n "s/^done $k //p" "$work/ref.log")
      if [ -n "$want" ] && [ "$got" = "$want" ]; then verdict=ok; matched=$k; fi
    done
  fi
  if grep -q 'missing or short\|unrecoverable' "$work/check.log"; then verdict=bad; fi
  echo "cut $i delay=${delay}ms last_done=${last:-none} durable=${durable:-none} recovered=$matched $verdict" >> "$log"
  if [ "$verdict" != ok ]; then
    failures=$((failures + 1))
    echo "cut $i FAILED (after ${delay} ms, last done ${last:-none}, durable ${durable:-none})"
    cat "$work/run.log" "$work/check.log"
  fi
  rm -f "$work/cut.img"
done
echo "$runs power cuts, $failures failed"
cat "$log"
[ "$failures" = 0 ]
