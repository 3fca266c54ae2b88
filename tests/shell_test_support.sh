# What the shell tests share; sourced by tests/*_test.sh:
#   . "$(dirname "$0")/shell_test_support.sh"
# fail TEXT           ends the test with "FAIL: TEXT"
# make_scratch NAME   sets $scratch to a fresh folder removed at exit
# check TEXT CMD...   runs CMD: "ok: TEXT", or "FAILED: TEXT" and $failed=1
# matches TEXT ERE    true when TEXT matches the extended regular expression
# zip_text PYTHON ARCHIVE NAME   prints the text of the archive's entry NAME

fail() { echo "FAIL: $*"; exit 1; }

make_scratch() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/qb_$1.XXXXXX") || fail "no scratch folder"
  trap 'rm -rf "$scratch"' EXIT
}

failed=0
check() {
  what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

matches() { printf '%s\n' "$1" | grep -Eq "$2"; }

zip_text() {
  "$1" -c 'import sys, zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]).decode("utf-8"))' "$2" "$3"
}
