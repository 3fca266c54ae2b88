#!/usr/bin/env bash
# The house style, checked: names (clang-tidy's readability-identifier-naming
# over every source file of both targets, see .clang-tidy) and layout
# (clang-format, see .clang-format). Needs the configured build folders
# "build" and "build-win" (scripts/test-all.sh makes them); exits non-zero on
# any finding.
#   scripts/lint.sh [--fix]     --fix applies the renames and the layout
set -euo pipefail
cd "$(dirname "$0")/.."
fix=""
[ "${1:-}" = "--fix" ] && fix=1

# Both builds write their compile commands; the two lists become one.
cmake -S . -B build -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake -S . -B build-win -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
python3 scripts/compile_database.py build-lint build build-win

status=0
echo "=== names (clang-tidy)"
files=$(git ls-files '*.cpp' | grep -v '^build')
if [ -n "$fix" ]; then
  run-clang-tidy -quiet -p build-lint -j "$(nproc)" -fix $files >/dev/null || true
fi
if ! run-clang-tidy -quiet -p build-lint -j "$(nproc)" $files >build-lint/tidy.log 2>&1; then
  grep -E "(warning|error):" build-lint/tidy.log | sort -u | head -100
  status=1
fi

# clang-tidy does not look at the names of structured bindings: the same
# rule as for local variables (UpperCamelCase) is checked here.
echo "=== structured bindings"
bindings=$(git grep -nE 'auto *&{0,2} *\[[^]]*\]' -- '*.cpp' '*.h' |
  grep -E 'auto *&{0,2} *\[ *([A-Za-z0-9_]+ *, *)*([a-z_][A-Za-z0-9_]*|[A-Z][A-Za-z0-9]*_[A-Za-z0-9_]*)' || true)
if [ -n "$bindings" ]; then
  echo "structured bindings are named in UpperCamelCase:"
  echo "$bindings"
  status=1
fi

echo "=== layout (clang-format)"
sources=$(git ls-files '*.cpp' '*.h')
if [ -n "$fix" ]; then
  clang-format -i $sources
fi
if ! clang-format --dry-run -Werror $sources 2>build-lint/format.log; then
  grep -E "error:" build-lint/format.log | head -50
  status=1
fi
exit $status
