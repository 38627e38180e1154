#!/usr/bin/env bash
# Builds the engine and runs it on the shipped configuration with a short scripted
# protocol session, showing each command and the engine's replies.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh" "$root/build" >/dev/null

script='about
info rule 1
start 15
begin
info timeout_turn 1000
turn 8,8
takeback 8,8
board
7,7,1
8,8,2
done
end'

echo "$script" | sed 's/^/> /'
echo "-- engine output --"
cd "$root" && echo "$script" | "$root/build/pbrain-tovan"
