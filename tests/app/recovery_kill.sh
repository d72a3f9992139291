#!/usr/bin/env bash
# SIGKILL at random moments. Whatever the drill was doing (a selection, an edit, an
# effect pass, a save, or waiting after its last step), the document recovered on
# restart must be exactly the state after the last step it finished, or after the
# step it was finishing when that step's journal was already written: audio frame
# for frame, positions, file name and the whole undo ring.
# RECOVERY_RUNS kills (default 100); RECOVERY_LOG receives one line per run.
set -euo pipefail
drill="${QUILLET_DRILL:?set QUILLET_DRILL to the recovery_drill program}"
cli="${QUILLET_CLI:-}"
runs="${RECOVERY_RUNS:-100}"
work=$(mktemp -d)
trap 'kill -9 "${pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
log="${RECOVERY_LOG:-$work/runs.log}"
: > "$log"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"

"$drill" make "$work/in.wav"
mkdir -p "$work/ref-out"
XDG_CACHE_HOME="$work/ref-cache" "$drill" run "$work/in.wav" "$work/ref-out" --fingerprints > "$work/ref.log"
steps=$(grep -c '^done' "$work/ref.log")

# The drill's own timing of each step (microseconds): each kill aims at a random step
# (or the opening, or the wait after the last step) and lands at a random moment
# inside it, from a timer of the drill's own.
mkdir -p "$work/time-out"
XDG_CACHE_HOME="$work/time-cache" "$drill" run "$work/in.wav" "$work/time-out" --times > "$work/time.log" &
pid=$!
until grep -qs '^finished' "$work/time.log"; do
  kill -0 "$pid" 2>/dev/null || { echo "the drill stopped early:"; cat "$work/time.log"; exit 1; }
  sleep 0.01
done
kill -9 "$pid"; wait "$pid" 2>/dev/null || true
rm -rf "$work/time-cache"
last_step=$((steps - 1))
declare -A took
took[0]=$(awk '$1 == "done" && $2 == 0 { sub("t=", "", $3); print $3 }' "$work/time.log")
while read -r k us; do took[$k]=$us; done < <(awk '
  $1 == "start" { sub("t=", "", $4); s[$2] = $4 }
  $1 == "done" && $2 > 0 { sub("t=", "", $3); print $2, $3 - s[$2] }' "$work/time.log")
took[$((last_step + 1))]=20000
echo "drill: $last_step steps after ${took[0]} us of opening"

failures=0
for i in $(seq 1 "$runs"); do
  cache="$work/cache-$i"
  out="$work/out-$i"
  mkdir -p "$out"
  target=$((RANDOM % (last_step + 2)))  # 0: opening; last_step + 1: after the last step
  # A little past the step's usual end too: it may run longer this time.
  delay=$(( (RANDOM * 32768 + RANDOM) % (took[$target] * 5 / 4 + 50) ))
  if [ "$target" -gt "$last_step" ]; then delay=$((delay + took[0] + 2000000)); target=0; fi
  XDG_CACHE_HOME="$cache" "$drill" run "$work/in.wav" "$out" --kill-at "$target:$delay" > "$work/run.log" 2>&1 &
  pid=$!
  wait "$pid" 2>/dev/null || true

  last=$(awk '$1 == "done" { k = $2 } END { print k }' "$work/run.log")
  phase=$(awk '$1 == "start" { s = $3; k = $2 } $1 == "done" && $2 == k { s = "between" }
               $1 == "finished" { s = "finished" } END { print (s == "" ? "opening" : s) }' "$work/run.log")
  rc=0
  XDG_CACHE_HOME="$cache" "$drill" check > "$work/check.log" 2>&1 || rc=$?
  got=$(sed -n 's/^recovered //p' "$work/check.log")
  verdict=bad
  if [ -z "$last" ]; then
    # Killed before the document was open: nothing, or the opened file, comes back.
    if [ "$rc" = 3 ]; then verdict=ok; fi
    if [ "$got" = "$(sed -n 's/^done 0 //p' "$work/ref.log")" ]; then verdict=ok; fi
  else
    for k in "$last" $((last + 1)); do
      want=$(sed -n "s/^done $k //p" "$work/ref.log")
      if [ -n "$want" ] && [ "$got" = "$want" ]; then verdict=ok; matched=$k; fi
    done
  fi
  if grep -q 'missing or short\|unrecoverable' "$work/check.log"; then verdict=bad; fi
  # Now and then the same through quillet-cli, as a person would.
  if [ "$verdict" = ok ] && [ -n "$cli" ] && [ -n "$got" ] && [ $((i % 10)) = 0 ]; then
    frames=$(XDG_CACHE_HOME="$cache" "$cli" recover --list | sed -n 's/.*\tframes=\([0-9]*\).*/\1/p')
    [ "frames=$frames" = "$(echo "$got" | grep -o 'len=[0-9]*' | sed 's/len/frames/')" ] || verdict=bad
    mkdir -p "$work/saved-$i"
    XDG_CACHE_HOME="$cache" "$cli" recover --save "$work/saved-$i" > /dev/null || verdict=bad
    [ "$(ls "$work/saved-$i" | wc -l)" = 1 ] || verdict=bad
  fi
  echo "run $i kill=$target+${delay}us phase=$phase last_done=${last:-none} recovered=${matched:-none} $verdict" >> "$log"
  if [ "$verdict" != ok ]; then
    failures=$((failures + 1))
    echo "run $i FAILED (killed ${delay} us into step $target, in $phase, last done ${last:-none})"
    cat "$work/run.log" "$work/check.log"
  fi
  unset matched
  rm -rf "$cache" "$out" "$work/saved-$i"
done

echo "$runs kills, $failures failed; where the kills landed:"
awk '{ split($4, p, "="); n[p[2]]++ } END { for (k in n) printf "  %s %d\n", k, n[k] }' "$log" | sort
[ "$failures" = 0 ]
