# Shared by run.sh, test.sh and bench.sh: installs the Debian packages the
# project needs (only those missing) and configures and builds the tree.
# Sourced, not run.

QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QV_BUILD="${QV_BUILD_DIR:-$QV_ROOT/build}"

QV_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libepoxy-dev libopenal-dev libopenal1 libstb-dev
  libgl1-mesa-dri libegl-mesa0
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core
)

qv_install_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# qv_build [extra cmake options...]: configure (first time) and build everything.
qv_build() {
  if [ ! -f "$QV_BUILD/build.ninja" ]; then
    cmake -S "$QV_ROOT" -B "$QV_BUILD" -G Ninja "$@"
  fi
  cmake --build "$QV_BUILD" --parallel "$(nproc)"
}

# glibc's heap trimming costs tens of milliseconds per frame on large frees.
export GLIBC_TUNABLES="glibc.malloc.trim_threshold=1073741824"
