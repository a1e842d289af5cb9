#!/usr/bin/env bash
# Builds and runs every benchmark; each prints "name value unit" lines.
set -euo pipefail
source "$(dirname "$0")/tools/setup.sh"
qv_install_packages "${QV_PACKAGES[@]}" lua5.4
qv_build
cmake --build "$QV_BUILD" --target benchmarks
export SDL_VIDEODRIVER=offscreen
export XDG_DATA_HOME="$(mktemp -d)"
trap 'rm -rf "$XDG_DATA_HOME"' EXIT
status=0
for b in "$QV_BUILD"/bench/*; do
  [ -x "$b" ] && [ -f "$b" ] || continue
  "$b" || { echo "benchmark failed: $(basename "$b")" >&2; status=1; }
done
exit $status
