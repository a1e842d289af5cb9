#!/usr/bin/env bash
# Builds everything (installing what is missing) and runs every test, headless.
# Extra arguments go to ctest (for example -R squirrel).
set -euo pipefail
source "$(dirname "$0")/tools/setup.sh"
qv_install_packages "${QV_PACKAGES[@]}"
qv_build
export SDL_VIDEODRIVER=offscreen
cd "$QV_BUILD"
ctest --output-on-failure --parallel "$(nproc)" "$@"
