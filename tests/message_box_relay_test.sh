#!/bin/sh
# Checks the real MessageBoxW calls of the frame from outside: Wine's relay
# trace prints each call with its owner window, text (escaped, cut after a
# few dozen characters), caption and type.
#   message_box_relay_test.sh WINE_RUN PREFIX FRAME_CHILD
wine_run=$1
prefix=$2
child=$3
. "$(dirname "$0")/shell_test_support.sh"
# Without a display Wine's MessageBoxW returns at once instead of waiting for
# a click.
unset DISPLAY WAYLAND_DISPLAY
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Trace only MessageBoxW: the full relay trace of a run is hundreds of MB.
# The setting has no effect unless a run asks for the relay channel.
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxW /f \
  >/dev/null 2>&1

run() {  # scenario -> $scratch/calls, $scratch/rc
  WINEDEBUG=+relay "$wine_run" "$prefix" "$child" "$1" - 2>"$scratch/trace" >/dev/null
  echo $? >"$scratch/rc"
  grep -a 'Call user32.MessageBoxW(' "$scratch/trace" >"$scratch/calls"
}


calls() { wc -l <"$scratch/calls" | tr -d ' '; }
call_line() { sed -n "${1}p" "$scratch/calls"; }

hex='[0-9A-F]{16}'
tail_args=',[0-9a-f]+ L"Error",00000000\) ret='

# A raised EProcess: one box, owner none, the report, caption "Error", MB_OK.
run raise
check "raise ends with exit code 217" [ "$(cat "$scratch/rc")" = 217 ]
check "raise shows one box" [ "$(calls)" = 1 ]
check "the box holds the report, caption Error, type 0" matches "$(call_line 1)" \
  "MessageBoxW\(00000000,[0-9a-f]+ L\"An unhandled exception occurred at \\\$$hex:\\\\r\\\\nEProcess: Failed to execute \\\\\"nowhere\\\\\\\\quintabel\.exe\\\\\" x : 2\\\\r\\\\n  \\\$$hex\\\\r\\\\n.*\"(\.\.\.)?$tail_args"

# A report of 2,665 characters: three boxes, each after the 1,024 characters
# of the one before (the message is numbered pieces "<NNNN>" from offset 65).
run long
check "long ends with exit code 217" [ "$(cat "$scratch/rc")" = 217 ]
check "long shows three boxes" [ "$(calls)" = 3 ]
check "first box starts the report" matches "$(call_line 1)" \
  "L\"An unhandled exception occurred at \\\$$hex:\\\\r\\\\nEProcess: <0000><0001>.*$tail_args"
check "second box starts at character 1024" matches "$(call_line 2)" "[0-9a-f]+ L\"><0160><0161>.*$tail_args"
check "third box starts at character 2048" matches "$(call_line 3)" "[0-9a-f]+ L\"30><0331><0332>.*$tail_args"

# A message outside ASCII reaches the box as written: "é" is the UTF-16
# unit 00e9.
run nonascii
check "nonascii ends with exit code 217" [ "$(cat "$scratch/rc")" = 217 ]
check "the box shows the message as written" matches "$(call_line 1)" \
  "EFOpenError: Donn\\\\00e9es \\\\00e9\\\\r\\\\n"

# A character that the 1,024-character split would cut moves whole into the
# second box: "日" (65e5) opens it.
run splitchar
check "splitchar shows two boxes" [ "$(calls)" = 2 ]
# (Wine's trace shortens the first box's long text.)
check "the first box holds the text before it" matches "$(call_line 1)" "EProcess: aaaa.*$tail_args"
check "the second box starts with it, whole" matches "$(call_line 2)" "[0-9a-f]+ L\"\\\\65e5\\\\672c end"

# A normal run shows nothing.
run ok
check "ok ends with exit code 0" [ "$(cat "$scratch/rc")" = 0 ]
check "ok shows no box" [ "$(calls)" = 0 ]

exit $failed
