# Sourced by the other scripts: installs the given Debian packages when the
# command or file that stands for each is missing (root only).
# Usage: ensure_packages "cmd:cmake=cmake" "file:/usr/include/gtest/gtest.h=libgtest-dev" ...
ensure_packages() {
  local need=() entry kind what pkg
  for entry in "$@"; do
    kind=${entry%%:*}; what=${entry#*:}; pkg=${what#*=}; what=${what%%=*}
    case $kind in
      cmd) command -v "$what" >/dev/null 2>&1 || need+=("$pkg") ;;
      file) [ -e "$what" ] || need+=("$pkg") ;;
    esac
  done
  [ ${#need[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${need[*]} (run as root to install them)" >&2
    return 1
  fi
  echo "== installing: ${need[*]}"
  if [ -z "${RAWCONV_APT_UPDATED:-}" ]; then
    # A mirror caught mid-sync fails the update in part; the lists already
    # there usually still hold the packages, and a missing one fails below.
    apt-get update -qq || echo "apt-get update failed in part; installing from the package lists there are" >&2
    export RAWCONV_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
}
