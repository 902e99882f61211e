#!/bin/bash
# run.sh SECONDS [TARGET...]
# Builds the fuzz targets with clang (build/fuzz), makes the seed corpora and
# runs each target for SECONDS (default all three targets, one after the
# other). The corpus grows in build/fuzz/corpus/TARGET between runs; crashers
# land in build/fuzz/artifacts/TARGET. Prints one line of figures per target
# and exits non-zero when any target found a crash, a leak or a time-out.
set -uo pipefail
seconds=${1:?usage: run.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(mount_walk op_sequence path_parser)

root=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSIVO_FUZZ_BUILD:-$root/build/fuzz}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DTESSIVO_FUZZ=ON > "$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
fi
cmake --build "$build" --target fuzz_pack_image $(printf 'fuzz_%s ' "${targets[@]}") > /dev/null ||
  { cmake --build "$build" --target fuzz_pack_image $(printf 'fuzz_%s ' "${targets[@]}"); exit 1; }

seeds=$build/seeds
rm -rf "$seeds"
"$root/fuzz/make_seeds.sh" "$build/fuzz/fuzz_pack_image" "$seeds" || exit 1

status=0
for t in "${targets[@]}"; do
  case $t in
    mount_walk) max_len=65536 ;;
    *) max_len=2048 ;;
  esac
  corpus=$build/corpus/$t
  artifacts=$build/artifacts/$t
  mkdir -p "$corpus" "$artifacts"
  log=$build/fuzz_$t.log
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=$max_len \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$seeds/$t" > "$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  found=$(ls "$artifacts" | wc -l)
  printf '%-12s %6ss  execs %-9s (%s/s)  %s  corpus %s  artifacts %s  exit %s\n' \
    "$t" "$seconds" "${execs:-?}" "${rate:-?}" "${cov:-cov: ?}" "$(ls "$corpus" | wc -l)" "$found" "$rc"
  if [ $rc -ne 0 ]; then
    status=1
    grep -E 'finding:|ERROR: |SUMMARY|runtime error' "$log" | head -5
  fi
done
exit $status
