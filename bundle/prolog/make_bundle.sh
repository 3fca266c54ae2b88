#!/usr/bin/env bash
# Builds a POSIX bundle of the Prolog dictionary application (quintabel.pl)
# on the Prolog runtime installed from Debian's swi-prolog-nox:
#   bundle/prolog/make_bundle.sh OUT.zip
# The archive holds, at its root:
#   quintabel.exe   the runtime's executable carrying the application as a
#                   saved state, with the run path $ORIGIN/lib
#   lib/            the shared libraries the executable names (the
#                   runtime's own, not the system's)
#   boot.prc, library/, lib/<arch>/
#                   the runtime's home: boot file, library and foreign
#                   modules; the work folder is the home
#   swipl.home      the marker (bundle/default/swipl.home): its first line
#                   "quintabel5" is the home relative to the temporary folder
#   dereroz.zip     the default dictionary (bundle/default/dereroz)
# Links are stored as the files they lead to (a link to nothing is left
# out), and every file with its Unix mode. Needs swipl, patchelf, zip and
# python3 (scripts/install-deps.sh installs them).
set -euo pipefail
[ $# -eq 1 ] || { sed -n '2,3p' "$0" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
out=$(realpath -m "$1")
for tool in swipl patchelf zip python3; do
  command -v "$tool" >/dev/null || { echo "make_bundle.sh: $tool is not installed" >&2; exit 1; }
done

eval "$(swipl --dump-runtime-variables=sh)"  # PLBASE, PLARCH
emulator=$PLBASE/bin/$PLARCH/swipl
[ -x "$emulator" ] || { echo "make_bundle.sh: no runtime executable at $emulator" >&2; exit 1; }

mkdir -p "$(dirname "$out")"
stage=$(mktemp -d "$(dirname "$out")/prolog-bundle.XXXXXX")
trap 'rm -rf "$stage"' EXIT
app=$stage/app
mkdir -p "$app/lib"

# The executable finds its libraries beside itself, whatever is installed.
cp "$emulator" "$stage/emulator"
chmod u+w "$stage/emulator"
patchelf --set-rpath '$ORIGIN/lib' "$stage/emulator"
for name in $(patchelf --print-needed "$emulator"); do
  case $name in libc.so.*|libm.so.*|libstdc++.so.*|libgcc_s.so.*) continue ;; esac
  path=$(ldd "$emulator" | awk -v n="$name" '$1 == n { print $3 }')
  [ -f "$path" ] || { echo "make_bundle.sh: $name of the runtime not found" >&2; exit 1; }
  cp -L "$path" "$app/lib/$name"
done

# The application, saved on that executable. Autoloading stays for run
# time, so library predicates come from the home in the work folder.
QB_STATE=$app/quintabel.exe QB_EMULATOR=$stage/emulator swipl -q -f none --no-packs \
  -g "getenv('QB_STATE', State), getenv('QB_EMULATOR', Emulator),
      qsave_program(State, [goal(main), toplevel(halt), stand_alone(true), autoload(false), emulator(Emulator)])" \
  -t halt "$here/quintabel.pl"
chmod 755 "$app/quintabel.exe"
libswipl=$(ldd "$app/quintabel.exe" | awk '$1 ~ /^libswipl/ { print $3 }')
[ "$libswipl" = "$app/lib/$(basename "$libswipl")" ] \
  || { echo "make_bundle.sh: quintabel.exe takes libswipl from $libswipl, not from beside itself" >&2; exit 1; }

# The home.
cp "$PLBASE/boot.prc" "$app/"
cp -a "$PLBASE/library" "$app/"
mkdir -p "$app/lib/$PLARCH"
cp -a "$PLBASE/lib/$PLARCH/." "$app/lib/$PLARCH/"
find "$app" -type l | while read -r link; do
  target=$(readlink -f "$link" || true)
  if [ -f "$target" ]; then
    cp --remove-destination "$target" "$link"
  else
    echo "make_bundle.sh: left out ${link#"$app/"}, a link to nothing" >&2
    rm "$link"
  fi
done

cp "$here/../default/swipl.home" "$app/swipl.home"
python3 "$here/../make_bundle.py" dictionary "$app/dereroz.zip" "$here/../default/dereroz"

rm -f "$stage/bundle.zip"
(cd "$app" && zip -q -r -X -D "$stage/bundle.zip" quintabel.exe swipl.home dereroz.zip boot.prc library lib)
mv "$stage/bundle.zip" "$out"
