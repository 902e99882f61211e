#!/usr/bin/env bash
# scripts/run-demo takes paths from the caller's working directory and leaves
# the panel picture there. The simulator is built already (this runs from
# the test suite), so the build step is a stand-in that does nothing.
#   run_demo_test.sh REPOSITORY
set -euo pipefail
root=$1
sim="$root/build/host/tools/tessivo-sim/tessivo-sim"
if [ ! -x "$sim" ]; then
  echo "skipped: $sim is not built"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/here"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/cmake"
chmod +x "$work/bin/cmake"
cd "$work/here"
PATH="$work/bin:$PATH" "$root/scripts/run-demo" --card-type none --passes 1 --quiet --report-json report.json >/dev/null
test -s tessivo-panel.png || { echo "no tessivo-panel.png in the caller's directory"; exit 1; }
test -s report.json || { echo "report.json was not written in the caller's directory"; exit 1; }
if [ -e "$root/report.json" ]; then
  echo "report.json went to the repository"
  exit 1
fi
grep -q '"cpu": "m4k"' report.json || { echo "run-demo did not run the chip's image on the core"; exit 1; }
