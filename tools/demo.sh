#!/usr/bin/env bash
# Sets up, builds, and plays a short demonstration game of the engine against itself on
# the shipped networks and config, shown move by move by the match runner.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh" "$root/build" >/dev/null
cd "$root"
/usr/bin/python3 tools/match.py --engine1 build/pbrain-tovan --engine2 build/pbrain-tovan \
  --games 1 --rule freestyle --size 15 --turn-ms 500 --show-moves --show-board "$@"
