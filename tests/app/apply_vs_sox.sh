#!/bin/bash
# Checks quillet-cli apply against sox-made references: edits and lossless effects
# frame for frame, the others within a stated tolerance. Works in a scratch folder of
# its own, with settings of its own; exits 1 when a case fails or sox is missing.
# Run by ctest, or by hand: tests/app/apply_vs_sox.sh (after a release build).
CLI=${QUILLET_CLI:-$(cd "$(dirname "$0")/../.." && pwd)/build-release/app/quillet-cli}
set -u
command -v sox >/dev/null || { echo "sox is not installed: install the Debian package sox (scripts/deps does)"; exit 1; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; cd "$work" || exit 1
sox -n -r 44100 -c 2 -b 16 in.wav synth 3 sine 440 sine 660 gain -9
sox -n -r 44100 -c 2 -b 16 other.wav synth 0.5 square 220 gain -12
F=10000; G=50000; N=$((G-F))
sil() { sox -D -r 44100 -c 2 -n -b 16 "$2" synth "$1"s sine 0 vol 0; }
pass=0; fail=0
check() { # name reference-file quillet-args...
  local name=$1 ref=$2; shift 2
  rm -f out.wav
  if ! "$CLI" --settings settings apply in.wav out.wav "$@" 2>err.txt; then echo "FAIL $name: exit $? $(cat err.txt)"; fail=$((fail+1)); return; fi
  if cmp -s <(sox out.wav -t raw -) <(sox "$ref" -t raw -); then echo "ok   $name"; pass=$((pass+1));
  else echo "FAIL $name: frames differ ($(soxi -s out.wav) vs $(soxi -s "$ref"))"; fail=$((fail+1)); fi
}
sox in.wav head.wav trim 0s ${F}s; sox in.wav mid.wav trim ${F}s ${N}s; sox in.wav tail.wav trim ${G}s
sox in.wav upto.wav trim 0s ${G}s; sox in.wav from.wav trim ${F}s
sil $N gap.wav; sil 22050 half.wav
sox head.wav tail.wav r_delete.wav;               check delete r_delete.wav --from $F --to $G delete
check cut r_delete.wav --from $F --to $G cut
check trim mid.wav --from $F --to $G trim
check trim-start from.wav --from $F --to $G trim-start
check trim-end upto.wav --from $F --to $G trim-end
sox head.wav gap.wav tail.wav r_sil.wav;          check silence r_sil.wav --from $F --to $G silence
sox half.wav in.wav r_iss.wav;                    check insert-silence-start r_iss.wav insert-silence-start:500
sox in.wav half.wav r_ise.wav;                    check insert-silence-end r_ise.wav insert-silence-end:500
sox head.wav half.wav from.wav r_ish.wav;         check insert-silence-here r_ish.wav --from $F insert-silence-here:500
sox in.wav other.wav r_ife.wav;                   check insert-file-end r_ife.wav insert-file-end:other.wav
sox other.wav in.wav r_ifs.wav;                   check insert-file-start r_ifs.wav insert-file-start:other.wav
sox head.wav other.wav from.wav r_ifh.wav;        check insert-file-here r_ifh.wav --from $F insert-file-here:other.wav
sox upto.wav mid.wav mid.wav tail.wav r_rep.wav;  check repeat r_rep.wav --from $F --to $G repeat:2
check cut-paste in.wav --from $F --to $G cut paste
check copy-paste in.wav --from $F --to $G copy paste
check delete-undo in.wav --from $F --to $G delete undo
check delete-undo-redo r_delete.wav --from $F --to $G delete undo redo
# Mix: other.wav (22050 frames) over [F, F) grows the selection over the following audio.
sox in.wav mixpart.wav trim ${F}s 22050s; sox in.wav mixrest.wav trim $((F+22050))s
sox -m -v 1 mixpart.wav -v 1 other.wav mixed.wav
sox head.wav mixed.wav mixrest.wav r_mix.wav;     check mix-file r_mix.wav --from $F mix-file:other.wav,100,50,1,0
sox -m -v 1 mid.wav -v 1 other.wav mixed0.wav
sox head.wav mixed0.wav tail.wav r_mix0.wav;      check mix-file-shorter r_mix0.wav --from $F --to $G mix-file:other.wav,100,50,0,0

# Lossless effects: exact.
sox in.wav r_rev.wav reverse;                     check reverse r_rev.wav reverse
sox mid.wav r_m.wav reverse; sox head.wav r_m.wav tail.wav r_revr.wav
check reverse-range r_revr.wav --from $F --to $G reverse
check compressor-1-to-1 in.wav compressor:0,0,0
sox in.wav r_mono.wav remix 1;                    check channels-2-1 r_mono.wav channels:1
sox r_mono.wav r_st.wav remix 1 1;                check channels-1-2 r_st.wav channels:1 channels:2

# Effects whose rounding differs from sox's: the same length, and the difference
# within tol dB below full scale (peak) over frames [skip, length - skip).
near() { # name reference-file tol-dB skip quillet-args...
  local name=$1 ref=$2 tol=$3 skip=$4; shift 4
  rm -f out.wav
  if ! "$CLI" --settings settings apply in.wav out.wav "$@" 2>err.txt; then echo "FAIL $name: exit $? $(cat err.txt)"; fail=$((fail+1)); return; fi
  local n m; n=$(soxi -s out.wav); m=$(soxi -s "$ref")
  if [ "$n" != "$m" ]; then echo "FAIL $name: $n frames, sox made $m"; fail=$((fail+1)); return; fi
  sox -m -v 1 out.wav -v -1 "$ref" -b 32 diff.wav
  local pk; pk=$(sox diff.wav -n trim "${skip}s" "$((n - 2 * skip))s" stats 2>&1 | awk '/^Pk lev dB/ {print $4}')
  if awk -v p="$pk" -v t="$tol" 'BEGIN { exit !(p == "-inf" || p + 0 <= -t) }'; then echo "ok   $name (difference peak $pk dB)"; pass=$((pass+1));
  else echo "FAIL $name: difference peak $pk dB, above -$tol dB"; fail=$((fail+1)); fi
}
# A linear fade: sox's gain i/N and ours (a 2^24 ramp) differ only in rounding, so
# by at most one 16-bit step (-90.3 dB).
sox in.wav r_fin.wav fade t 132300s;                   near fade-in r_fin.wav 90 0 fade-in
sox in.wav r_fout.wav fade t 0 132300s 132300s;             near fade-out r_fout.wav 90 0 fade-out
# 44.1 to 48 kHz: our 63-tap Kaiser kernel and sox's long one both pass the 440 and
# 660 Hz tones with well under 0.1 dB of ripple; what is left (both are linear phase
# and aligned) must stay 60 dB below full scale, i.e. about 51 dB under the -9 dB
# tones. The first and last 100 frames hold the filters' run-in and are left out.
sox in.wav -r 48000 r_48k.wav rate -v;             near rate-44100-48000 r_48k.wav 60 100 rate:48000

# Auto trim of a tone between two seconds of silence: what sox's silence effect keeps,
# and at most one 256-frame block more at each end, plus the rest of the blocks the
# tone starts and ends in.
sil 88200 two.wav; sox two.wav in.wav two.wav padded.wav
sox padded.wav r_trim.wav silence 1 1s 0.1% reverse silence 1 1s 0.1% reverse
rm -f out.wav
if "$CLI" --settings settings apply padded.wav out.wav auto-trim 2>err.txt; then
  n=$(soxi -s out.wav); m=$(soxi -s r_trim.wav)
  if [ "$n" -ge "$m" ] && [ "$n" -le $((m + 4 * 256)) ]; then echo "ok   auto-trim ($n frames, sox kept $m)"; pass=$((pass+1));
  else echo "FAIL auto-trim: $n frames, sox kept $m"; fail=$((fail+1)); fi
else echo "FAIL auto-trim: exit $? $(cat err.txt)"; fail=$((fail+1)); fi
echo "passed $pass, failed $fail"
[ "$fail" -eq 0 ]
