#!/bin/sh
# Runs the launcher with its default bundle (the demo application) on the
# sample data, twice, as a user would, and checks what reaches the user's
# folder: trad_dyn.pl with the facts, and a dereroz.zip that learnt the new
# pairs once.
#   demo_run_test.sh LAUNCHER SOURCE_DIR PYTHON [WINE_RUN PREFIX]
# With WINE_RUN (cmake/wine-run) the Windows launcher runs under Wine, where
# TEMP and TMP are set inside the Windows environment through cmd. Either
# way the runs get a temporary folder of their own, whose leftovers are
# checked.
set -u
launcher=$1
source_dir=$2
python=$3
shift 3
. "$(dirname "$0")/shell_test_support.sh"
make_scratch demo_run
user=$scratch/user
mkdir -p "$user" "$scratch/temp/quintabel"
# Removed by the clean-up of every run: proof that the run used this TEMP.
echo left over > "$scratch/temp/quintabel/old.txt"
cp "$source_dir/bundle/sample/trad_dyn.csv" "$user/" || fail "no sample data"
"$python" "$source_dir/bundle/make_bundle.py" dictionary "$user/dereroz.zip" "$source_dir/bundle/sample/dereroz" \
  || fail "cannot make the sample dereroz.zip"

windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }
run() {  # [argument without spaces]
  if [ -n "$wine_run" ]; then
    t=$(windows_path "$scratch/temp")
    (cd "$user" && "$wine_run" "$wine_prefix" cmd /c \
      "set TEMP=$t&& set TMP=$t&& $(windows_path "$launcher") $*")
  else
    (cd "$user" && TEMP="$scratch/temp" TMP="$scratch/temp" "$launcher" "$@")
  fi
}
wine_run=${1:-}
wine_prefix=${2:-}

run bonjour
code=$?
[ $code -eq 0 ] || fail "first run ended with exit code $code"
[ -f "$user/trad_dyn.pl" ] || fail "no trad_dyn.pl in the user's folder"
for fact in "% argument: bonjour" \
            "trad_dyn('chat', 'cat')." \
            "trad_dyn('livre', 'book')." \
            "trad_dyn('l\\'école', 'the school')." \
            "trad_dyn('c:\\\\temp', 'a path with a backslash')."; do
  grep -qxF -- "$fact" "$user/trad_dyn.pl" || { cat "$user/trad_dyn.pl"; fail "trad_dyn.pl lacks: $fact"; }
done
learnt=$(zip_text "$python" "$user/dereroz.zip" appris.txt) || fail "dereroz.zip holds no appris.txt after the run"
for pair in "jardin;garden" "ciel;sky" "l'école;the school"; do
  printf '%s\n' "$learnt" | grep -qxF -- "$pair" || fail "appris.txt lacks $pair"
done
printf '%s\n' "$learnt" | grep -qxF "chat;cat" && fail "appris.txt holds a pair the dictionary knew"
zip_text "$python" "$user/dereroz.zip" couleurs.txt | grep -qxF "bleu;blue" || fail "dereroz.zip lost couleurs.txt"
[ -e "$scratch/temp/quintabel5" ] && fail "the work folder is still there"
[ -e "$scratch/temp/swipl.home" ] && fail "the runtime marker is still there"
[ -e "$scratch/temp/quintabel" ] && fail "the run did not use its TEMP (quintabel folder still there)"

# The second run, without an argument, starts from the packed dictionary:
# nothing is new any more.
run
code=$?
[ $code -eq 0 ] || fail "second run ended with exit code $code"
again=$(zip_text "$python" "$user/dereroz.zip" appris.txt) || fail "appris.txt lost on the second run"
[ "$again" = "$learnt" ] || fail "the second run changed appris.txt: $again"
grep -qxF "% argument: " "$user/trad_dyn.pl" || fail "the second run's application did not get an empty argument"
echo "PASS"
