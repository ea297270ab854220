#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh DIR [cmake options...]
# DIR is taken relative to the source folder unless it is an absolute path.
set -euo pipefail
dir=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
case "$dir" in
  /*) ;;
  *) dir="$root/$dir" ;;
esac
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$jobs"
