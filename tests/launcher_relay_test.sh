#!/bin/sh
# The launcher under Wine, seen from outside through Wine's relay trace of
# MessageBoxW (owner none, the report, caption "Error", MB_OK):
#   - a launcher whose application cannot be started reports it, exits with
#     217 and leaves no work folder;
#   - the same with a temporary folder named outside any ANSI code page: the
#     box shows the path as written;
#   - a work folder that another (Unix) user planted in the temporary
#     folder is refused, and nothing in it is started.
#   launcher_relay_test.sh WINE_RUN PREFIX BROKEN_LAUNCHER WITH_ENV PROBE_APP
wine_run=$1
prefix=$2
launcher=$3
with_env=$4
probe=$5
. "$(dirname "$0")/shell_test_support.sh"
unset DISPLAY WAYLAND_DISPLAY
scratch=$(mktemp -d)
trap 'rm -rf "$scratch" "$prefix/drive_c/qb-relay-$$"' EXIT
mkdir "$scratch/user"

# Trace only MessageBoxW (the whole relay trace of a run is huge).
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxW /f \
  >/dev/null 2>&1


run() {  # [NAME=VALUE...] -> $scratch/calls, $rc
  (cd "$scratch/user" && WINEDEBUG=+relay "$wine_run" "$prefix" "$with_env" "$@" -- "$launcher" \
    2>"$scratch/trace" >/dev/null)
  rc=$?
  grep -a 'Call user32.MessageBoxW(' "$scratch/trace" >"$scratch/calls"
}
calls() { wc -l <"$scratch/calls" | tr -d ' '; }

# The command line in the message is the quoted application path and the
# empty argument's separating space.
run
expected='MessageBoxW\(00000000,[0-9a-f]+ L"An unhandled exception occurred at \$[0-9A-F]{16}:\\r\\nEProcess: Failed to execute \\"C:\\\\.*\\\\quintabel5\\\\quintabel\.exe\\"  : [0-9]+\\r\\n.*,[0-9a-f]+ L"Error",00000000\) ret='
check "the run ends with exit code 217" [ "$rc" = 217 ]
check "one message box" [ "$(calls)" = 1 ]
check "the box shows the EProcess report, caption Error, type MB_OK" matches "$(sed -n 1p "$scratch/calls")" "$expected"
# The user's folder got nothing; the work folder under Wine's temporary
# folder was removed before the report.
check "nothing written to the user's folder" [ -z "$(ls -A "$scratch/user")" ]
# Only the work folder under Wine's own temporary folder is this run's: the
# other tests of the suite run launchers with temporary folders of their own
# (also below drive_c/users), possibly at this very moment.
check "no work folder left" [ -z "$(ls -d "$prefix"/drive_c/users/*/Temp/quintabel5 2>/dev/null)" ]

# A temporary folder "日本語-Łódź": outside code page 1252 and any other.
temp_name='日本語-Łódź'
unix_temp="$prefix/drive_c/qb-relay-$$/$temp_name"
mkdir -p "$unix_temp"
run "TEMP=C:\\qb-relay-$$\\$temp_name" "TMP=C:\\qb-relay-$$\\$temp_name"
check "non-ASCII temporary folder: exit code 217" [ "$rc" = 217 ]
check "non-ASCII temporary folder: one box" [ "$(calls)" = 1 ]
check "the box names the work folder as written" matches "$(sed -n 1p "$scratch/calls")" \
  'Failed to execute \\"C:\\\\qb-relay-[0-9]+\\\\\\65e5\\672c\\8a9e-\\0141\\00f3d\\017a\\\\quintabel5\\\\quintabel\.exe'
check "no work folder left under it" [ ! -e "$unix_temp/quintabel5" ]
check "no gate lock left under it" [ ! -e "$unix_temp/quintabel5.lock" ]

# A work folder planted by another user: another Unix user owns it, so
# Wine shows another owner. Only root can set that up.
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
  planted="$prefix/drive_c/qb-relay-$$/shared"
  mkdir -p "$planted/quintabel5/dereroz"
  cp "$probe" "$planted/quintabel5/quintabel.exe"
  chown -R nobody "$planted/quintabel5"
  run "TEMP=C:\\qb-relay-$$\\shared" "TMP=C:\\qb-relay-$$\\shared"
  check "planted work folder: exit code 217" [ "$rc" = 217 ]
  check "planted work folder: the box says it is unsafe" matches "$(sed -n 1p "$scratch/calls")" \
    'EInOutError: Unsafe work folder \\"C:\\\\qb-relay-[0-9]+\\\\shared\\\\quintabel5\\\\\\"'
  check "planted work folder: its program never ran" [ -z "$(ls -A "$scratch/user")" ]
  check "planted work folder: left as it was" [ -f "$planted/quintabel5/quintabel.exe" ]
else
  echo "skipped: a work folder of another user (needs root)"
fi
exit $failed
