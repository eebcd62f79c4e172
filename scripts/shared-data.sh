# Sourced by the test and benchmark scripts: finds the folder of real
# receiver data the tests read (RINEX files from several receivers) and
# exports it as RAWCONV_SHARED_DATA, which the build passes to the tests.
#   1. RAWCONV_SHARED_DATA when it is set already;
#   2. shared/data beside the checkout (../shared/data), as on the build
#      machines;
#   3. for a clone of a checkout on this machine (git clone of a folder, as
#      when testing a fresh clone in a temporary folder), shared/data beside
#      the checkout it was cloned from.
# find_shared_data ROOT fails, with a message on stderr, when none is there.
find_shared_data() {
  local root=$1 origin candidate
  if [ -z "${RAWCONV_SHARED_DATA:-}" ]; then
    candidate=$root/../shared/data
    if [ ! -d "$candidate" ]; then
      origin=$(git -C "$root" config --get remote.origin.url 2>/dev/null || true)
      origin=${origin#file://}
      [ -n "$origin" ] && candidate=$origin/../shared/data
    fi
    if [ -d "$candidate" ]; then
      RAWCONV_SHARED_DATA=$(cd "$candidate" && pwd)
    fi
  fi
  if [ -z "${RAWCONV_SHARED_DATA:-}" ] || [ ! -d "$RAWCONV_SHARED_DATA" ]; then
    echo "the real test data was not found: expected ../shared/data beside the checkout" \
      "(or beside the checkout it was cloned from), or a folder in RAWCONV_SHARED_DATA" >&2
    return 1
  fi
  export RAWCONV_SHARED_DATA
}
