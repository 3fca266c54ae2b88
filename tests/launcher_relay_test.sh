#!/bin/sh
# A launcher whose application cannot be started, run under Wine: the
# failure report reaches the user through the real MessageBoxA call (read
# from Wine's relay trace: owner none, the report, caption "Error", MB_OK),
# the exit code is 217, and the work folder is gone.
#   launcher_relay_test.sh WINE_RUN PREFIX BROKEN_LAUNCHER
wine_run=$1
prefix=$2
launcher=$3
fail=0
unset DISPLAY WAYLAND_DISPLAY
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/user"

# Trace only MessageBoxA (the whole relay trace of a run is huge).
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxA /f \
  >/dev/null 2>&1

check() {  # description command...
  what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}
matches() { printf '%s\n' "$1" | grep -Eq "$2"; }

(cd "$scratch/user" && WINEDEBUG=+relay "$wine_run" "$prefix" "$launcher" 2>"$scratch/trace" >/dev/null)
rc=$?
grep -a 'Call user32.MessageBoxA(' "$scratch/trace" >"$scratch/calls"
# The command line in the message is the quoted application path and the
# empty argument's separating space.
expected='MessageBoxA\(00000000,[0-9a-f]+ "An unhandled exception occurred at \$[0-9A-F]{16}:\\r\\nEProcess: Failed to execute \\"C:\\\\.*\\\\quintabel5\\\\quintabel\.exe\\"  : [0-9]+\\r\\n.*,[0-9a-f]+ "Error",00000000\) ret='
check "the run ends with exit code 217" [ "$rc" = 217 ]
check "one message box" [ "$(wc -l <"$scratch/calls" | tr -d ' ')" = 1 ]
check "the box shows the EProcess report, caption Error, type MB_OK" matches "$(sed -n 1p "$scratch/calls")" "$expected"
# The user's folder got nothing; the work folder under Wine's temporary
# folder was removed before the report.
check "nothing written to the user's folder" [ -z "$(ls -A "$scratch/user")" ]
# Only the work folder under Wine's own temporary folder is this run's: the
# other tests of the suite run launchers with temporary folders of their own
# (also below drive_c/users), possibly at this very moment.
check "no work folder left" [ -z "$(ls -d "$prefix"/drive_c/users/*/Temp/quintabel5 2>/dev/null)" ]
exit $fail
