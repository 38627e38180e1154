#!/usr/bin/env bash
# Sets up and builds when needed, then serves the analysis board on 127.0.0.1 and prints its
# address (docs/analysis-board.md); options go to tools/analysis_board/server.py.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh" "$root/build" >/dev/null
exec /usr/bin/python3 "$root/tools/analysis_board/server.py" "$@"
