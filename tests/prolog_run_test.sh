#!/bin/sh
# The launcher with the Prolog bundle (bundle/prolog/) on the real runtime,
# as a user would run it: twice from a folder with data, from one without,
# and with a TEMP holding a space. After each run: the user's files, the
# runtime's home (the work folder) and nothing left in TEMP.
#   prolog_run_test.sh LAUNCHER SOURCE_DIR PYTHON
#   prolog_run_test.sh --skip REASON     says why and ends as skipped (77)
set -u
[ "$1" = "--skip" ] && { echo "SKIPPED: $2"; exit 77; }
launcher=$1
source_dir=$2
python=$3
. "$(dirname "$0")/shell_test_support.sh"
make_scratch prolog_run

run() {  # temp user [argument]: the launcher's output in $out
  mkdir -p "$1"
  # The runtime would take its home and libraries from these instead.
  out=$(cd "$2" && env -u SWI_HOME_DIR -u LD_LIBRARY_PATH TEMP="$1" TMP="$1" "$launcher" ${3+"$3"} 2>&1)
  code=$?
  printf '%s\n' "$out"
  [ $code -eq 0 ] || fail "the run in $2 ended with exit code $code"
  matches "$out" "^quintabel prolog: home $1/quintabel5/?\$" || fail "the runtime's home was not the work folder"
  [ -z "$(ls -A "$1")" ] || fail "left in TEMP: $(ls -A "$1")"
}
has_fact() { grep -qxF -- "$2" "$1/trad_dyn.pl" || { cat "$1/trad_dyn.pl"; fail "trad_dyn.pl lacks: $2"; }; }
data_folder() {  # folder: the sample data in a new folder
  mkdir -p "$1"
  cp "$source_dir/bundle/sample/trad_dyn.csv" "$1/" || fail "no sample data"
  "$python" "$source_dir/bundle/make_bundle.py" dictionary "$1/dereroz.zip" "$source_dir/bundle/sample/dereroz" \
    || fail "cannot make the sample dereroz.zip"
}

user=$scratch/user
data_folder "$user"
run "$scratch/temp" "$user" "soleil;sun"
for fact in "% argument: soleil;sun" "trad_dyn('livre', 'book')." "trad_dyn('l\\'école', 'the school')." \
            "trad_dyn('c:\\\\temp', 'a path with a backslash')." "trad_dyn('soleil', 'sun')."; do
  has_fact "$user" "$fact"
done
learnt=$(printf '%s\n' "jardin;garden" "l'école;the school" 'c:\temp;a path with a backslash' "ciel;sky" "soleil;sun")
[ "$(zip_text "$python" "$user/dereroz.zip" appris.txt)" = "$learnt" ] || fail "appris.txt is not the new pairs"
zip_text "$python" "$user/dereroz.zip" couleurs.txt | grep -qxF "bleu;blue" || fail "dereroz.zip lost couleurs.txt"

# The same folder again: the dictionary knows the pairs of the first run.
run "$scratch/temp" "$user" "lune;moon"
has_fact "$user" "trad_dyn('lune', 'moon')."
grep -qF soleil "$user/trad_dyn.pl" && fail "the second run's trad_dyn.pl holds the first run's argument"
[ "$(zip_text "$python" "$user/dereroz.zip" appris.txt)" = "$(printf '%s\n' "$learnt" "lune;moon")" ] \
  || fail "the second run did not add exactly lune;moon to appris.txt"

# No data: the bundle's dictionary, and only trad_dyn.pl comes back.
mkdir -p "$scratch/empty"
run "$scratch/temp" "$scratch/empty" "chat"
has_fact "$scratch/empty" "trad_dyn('chat', 'cat')."
[ "$(ls -A "$scratch/empty")" = "trad_dyn.pl" ] || fail "a folder without data got: $(ls -A "$scratch/empty")"

data_folder "$scratch/user two"
run "$scratch/te mp" "$scratch/user two" "arbre;tree"
has_fact "$scratch/user two" "trad_dyn('arbre', 'tree')."
echo "PASS"
