#!/bin/sh
# Rebuilds the game-object module for a running game, which starts this
# script from this folder when one of the module's sources changed. It builds
# gameobj_new.so into the application folder; the game swaps it in at its
# next check. The output goes to the game, which shows lines naming errors.
#   $1  the build folder (the game passes the parent of its application folder)
#   $2  the application folder
set -e
build="${1:?usage: rebuild_module.sh <build folder> [application folder]}"
exec cmake --build "$build" --target gameobj_new
