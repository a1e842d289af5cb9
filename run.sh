#!/usr/bin/env bash
# Builds the game (installing what is missing) and runs it with the given options.
# Without a display the game runs headless.
set -euo pipefail
source "$(dirname "$0")/tools/setup.sh"
qv_install_packages "${QV_PACKAGES[@]}"
qv_build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-offscreen}"
fi
exec "$QV_BUILD/game/quorvale" "$@"
