# Sourced by test-slurm.sh and test-parallel.sh: a small archive of GPB
# files for scripts/convert-archive.sh and the checks both stages make on
# what a scheduler's tasks left behind.
#
#   make_archive DIR TOOLS_BUILD   the tree DIR/tree, the list DIR/all.txt,
#                                  single-process outputs in DIR/ref
#   clean_outputs DIR              removes every output from DIR/tree
#   check_outputs DIR              every output once, alike the reference,
#                                  no temporary file left
#   check_damaged_reported LOG...  each damaged file named in the logs
#   failing_shares N               the shares (of N) holding a failing file
#
# ARCHIVE_RUN_DATE fixes the run date of every header, so that outputs of
# different runs compare byte for byte.

ARCHIVE_RUN_DATE=1136073600
ARCHIVE_GOOD=200
# Damaged inputs: a cut recording (converted up to its last whole record,
# with a warning), random bytes and an empty file (both fail).
ARCHIVE_CUT=d03/cut.gpb
ARCHIVE_FAILING="d05/garbage.gpb d07/empty.gpb"

archive_fail() { echo "archive check: $*" >&2; exit 1; }

make_archive() {
  local dir=$1 build=$2 i sub name epochs
  mkdir -p "$dir/tree" "$dir/ref"
  # Ten folders of twenty recordings each. Every tenth recording is four
  # hours at 1 s, the others 300 epochs at 30 s, so that a task's share
  # takes long enough to be stopped in the middle.
  for ((i = 0; i < ARCHIVE_GOOD; i++)); do
    sub=$(printf 'd%02d' $((i % 10)))
    name=$(printf 'r%03d' "$i")
    mkdir -p "$dir/tree/$sub"
    if ((i % 10 == 3)); then epochs="--epochs 14400 --interval 1"; else epochs="--epochs 300 --interval 30"; fi
    # shellcheck disable=SC2086
    "$build/tools/make_synthetic_gpb" $epochs --satellites $((6 + i % 7)) \
      "$dir/tree/$sub/$name.gpb" "$dir/tree/$sub/$name.epp" >/dev/null
  done
  head -c 150000 "$dir/tree/d03/r003.gpb" >"$dir/tree/$ARCHIVE_CUT"
  cp "$dir/tree/d03/r003.epp" "$dir/tree/${ARCHIVE_CUT%.gpb}.epp"
  awk 'BEGIN { srand(28); for (i = 0; i < 40000; i++) printf "%c", int(rand() * 256) }' \
    >"$dir/tree/d05/garbage.gpb"
  : >"$dir/tree/d07/empty.gpb"
  # The list: the recordings by name, the damaged files among them, and a
  # blank line, which the recipe skips.
  (cd "$dir/tree" && find . -name 'r*.gpb' | sed 's|^\./||' | sort -t/ -k2) |
    awk -v d="$dir/tree/" -v cut="$ARCHIVE_CUT" -v failing="$ARCHIVE_FAILING" '
      BEGIN { split(failing, f, " ") }
      { print d $0 }
      NR == 30 { print d cut }
      NR == 50 { print "" }
      NR == 120 { print d f[1] }
      NR == 170 { print d f[2] }' >"$dir/all.txt"
  # The single-process run everything is compared with.
  local rc=0
  "$build/cli/gpb2rinex" -q -j 1 --fixed-run-date "$ARCHIVE_RUN_DATE" -o "$dir/ref" \
    --from-list "$dir/all.txt" 2>"$dir/ref.log" || rc=$?
  [ "$rc" = 1 ] || archive_fail "the reference run ended with $rc, not 1 (two damaged files fail)"
  local outputs
  outputs=$(find "$dir/ref" -type f | wc -l)
  [ "$outputs" = $(((ARCHIVE_GOOD + 1) * 2)) ] || archive_fail "the reference run wrote $outputs files"
}

clean_outputs() {
  find "$1/tree" -type f ! -name '*.gpb' ! -name '*.epp' -delete
}

check_outputs() {
  local dir=$1 f base n bad=0
  # Every output of the tree is an output of the reference, alike, and
  # there are as many: every recording's outputs exist once.
  n=0
  while IFS= read -r f; do
    base=${f##*/}
    n=$((n + 1))
    if ! cmp -s "$f" "$dir/ref/$base"; then
      echo "archive check: $f differs from the single-process run" >&2
      bad=1
    fi
  done < <(find "$dir/tree" -type f ! -name '*.gpb' ! -name '*.epp' ! -name '*.part-*' ! -name '*.old-*')
  [ "$bad" = 0 ] || exit 1
  [ "$n" = "$(find "$dir/ref" -type f | wc -l)" ] ||
    archive_fail "$n outputs in the tree, $(find "$dir/ref" -type f | wc -l) in the reference"
  # Each recording's outputs beside it.
  for f in "$dir"/tree/*/*.gpb; do
    case " $ARCHIVE_FAILING " in *" ${f#"$dir/tree/"} "*) continue ;; esac
    base=${f%.gpb}
    [ -f "$base.05o" ] && [ -f "$base.05n" ] || archive_fail "no outputs beside $f"
  done
  local left
  left=$(find "$dir/tree" \( -name '*.part-*' -o -name '*.old-*' \) | head -5)
  [ -z "$left" ] || archive_fail "temporary files left: $left"
}

check_damaged_reported() {
  local f
  for f in $ARCHIVE_FAILING; do
    grep -q "$f: Cannot open GPB file" "$@" || archive_fail "$f is not reported as failed in the logs"
  done
  grep -q "$ARCHIVE_CUT: warning: file ends in a damaged or truncated record" "$@" ||
    archive_fail "the cut recording is not reported in the logs"
}

# The shares (task numbers, of $2 tasks) that hold a failing file of the
# list $1, one a line: those tasks end with exit code 1, the others with 0.
failing_shares() {
  local list=$1 n=$2 f
  for f in $ARCHIVE_FAILING; do
    awk -v n="$n" -v f="/$f" 'NF { if (substr($0, length($0) - length(f) + 1) == f) print c % n; c++ }' "$list"
  done | sort -u
}
