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

# The standard Compact RINEX tools (crx2rnx, rnx2crx), outside readers of
# what the tests write. Their sources lie in tools/rnxcmp beside the data
# folder (../shared/tools/rnxcmp), or in RAWCONV_RNXCMP_SOURCE. They are not
# ours: built with plain gcc, without the sanitizers of our builds, once into
# folder OUT, which is exported as RAWCONV_RNXCMP_DIR for the build to pass
# to the tests. build_rnxcmp OUT fails, with a message, when the sources are
# missing or do not build.
build_rnxcmp() {
  local out=$1 source=${RAWCONV_RNXCMP_SOURCE:-$RAWCONV_SHARED_DATA/../tools/rnxcmp} tool
  if [ ! -f "$source/crx2rnx.c" ] || [ ! -f "$source/rnx2crx.c" ]; then
    echo "the Compact RINEX tools were not found: expected crx2rnx.c and rnx2crx.c in" \
      "$source (../shared/tools/rnxcmp beside the checkout, or RAWCONV_RNXCMP_SOURCE)" >&2
    return 1
  fi
  mkdir -p "$out"
  for tool in crx2rnx rnx2crx; do
    if [ ! -x "$out/$tool" ] || [ "$source/$tool.c" -nt "$out/$tool" ]; then
      gcc -O2 -w -o "$out/$tool" "$source/$tool.c" || return 1
    fi
  done
  RAWCONV_RNXCMP_DIR=$(cd "$out" && pwd)
  export RAWCONV_RNXCMP_DIR
}
