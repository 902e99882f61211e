#!/usr/bin/env bash
# Makes the demo card's music, demo-tune.mp3: a short plucked tune over soft
# chords (8 s, mono), synthesised with sox and encoded with lame.
#   assets/make-tune.sh            rewrites assets/demo-tune.mp3
# The MP3 is kept in the repository so the build does not need sox or lame.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rate=44100
beat=0.25   # one eighth note at 120 beats per minute

# Melody, one note per eighth; "-" holds a rest.
melody=(E4 G4 C5 G4 A4 C5 E5 D5  C5 A4 F4 A4 G4 B4 D5 B4
        E4 G4 C5 G4 A4 C5 E5 G5  F5 D5 B4 G4 C5 G4 E4 C4)
i=0
for note in "${melody[@]}"; do
  printf -v part '%s/m%02d.wav' "$work" "$i"
  if [ "$note" = "-" ]; then
    sox -n -r $rate -c 1 "$part" trim 0 $beat
  else
    sox -n -r $rate -c 1 "$part" synth $beat pluck "$note" fade 0 $beat 0.05 vol 0.6
  fi
  i=$((i + 1))
done
sox "$work"/m*.wav "$work/melody.wav"

# One chord per bar of eight eighths (2 s): C, F, G, C.
j=0
for chord in "C3 E3 G3" "F3 A3 C4" "G3 B3 D4" "C3 G3 C4"; do
  set -- $chord
  sox -n -r $rate -c 1 "$work/c$j.wav" synth 2 sine "$1" sine "$2" sine "$3" \
    remix - fade 0.3 2 0.5 vol 0.18
  j=$((j + 1))
done
sox "$work"/c*.wav "$work/chords.wav"

sox -m "$work/melody.wav" "$work/chords.wav" "$work/tune.wav" reverb 30 fade 0 8 1 norm -1
lame --quiet -m m -b 64 --resample 44.1 "$work/tune.wav" demo-tune.mp3
ls -l demo-tune.mp3
