/*  The dictionary application of the Prolog bundle, saved as "quintabel.exe"
    on the runtime (bundle/prolog/make_bundle.sh). It works on the data files
    of the C++ demo application (bundle/demo_app/), in the same formats:

      - the dictionary: every "*.txt" file in the folder "dereroz" beside the
        executable, in name order, lines "word;translation" (UTF-8; a leading
        byte-order mark, CR line ends and empty lines are ignored; a line
        without ';' is a word without translation); the first translation of
        a word wins;
      - "trad_dyn.csv" beside the executable (when present): the user's
        pairs, same format; a word without translation is looked up in the
        dictionary (and left out when it is not there);
      - the first argument, "word;translation" or a word to look up: one pair
        more, after the user's;
      - "trad_dyn.pl" beside the executable: the pairs as trad_dyn/2 facts;
      - "dereroz/appris.txt": every pair the dictionary did not know yet is
        added to it, so the dictionary changes from run to run.

    The current folder is the user's and is not used. The last line on
    standard output names the runtime's home, where its library comes from.
*/

main :-
    catch(run, Error, (print_message(error, Error), halt(1))),
    halt(0).

run :-
    current_prolog_flag(argv, Arguments),
    (   Arguments = [Argument|_] -> true ; Argument = '' ),
    current_prolog_flag(executable, Executable),
    absolute_file_name(Executable, Program),
    file_directory_name(Program, Folder),
    directory_file_path(Folder, dereroz, Dictionary),
    dictionary_pairs(Dictionary, Known),
    user_pairs(Folder, Argument, Known, Pairs),
    directory_file_path(Folder, 'trad_dyn.pl', Facts),
    write_facts(Facts, Argument, Pairs),
    learn(Dictionary, Known, Pairs, Learnt),
    findall(Word, member(Word-_, Known), Words),
    sort(Words, Distinct),
    length(Distinct, WordCount),
    length(Pairs, FactCount),
    length(Learnt, LearntCount),
    current_prolog_flag(home, Home),
    one_line(Argument, Shown),
    format("quintabel prolog: argument \"~w\", ~d dictionary entries, ~d facts written, ~d new pairs learnt~n",
           [Shown, WordCount, FactCount, LearntCount]),
    format("quintabel prolog: home ~w~n", [Home]).

%   The pairs of every "*.txt" file of Dictionary, file by file in name order.
dictionary_pairs(Dictionary, Pairs) :-
    (   exists_directory(Dictionary)
    ->  directory_files(Dictionary, Names)
    ;   Names = []
    ),
    msort(Names, Sorted),
    findall(Pair,
            ( member(Name, Sorted),
              file_name_extension(_, txt, Name),
              directory_file_path(Dictionary, Name, File),
              exists_file(File),
              file_pairs(File, FilePairs),
              member(Pair, FilePairs)
            ),
            Pairs).

%   The user's pairs, then the argument's; a word without translation takes
%   the dictionary's first one, or is left out.
user_pairs(Folder, Argument, Known, Pairs) :-
    directory_file_path(Folder, 'trad_dyn.csv', Csv),
    (   exists_file(Csv) -> file_pairs(Csv, Given) ; Given = [] ),
    (   Argument == '' -> Extra = [] ; text_pairs(Argument, Extra) ),
    append(Given, Extra, All),
    convlist(translated(Known), All, Pairs).

translated(_, Word-Translation, Word-Translation) :-
    Translation \== "", !.
translated(Known, Word-"", Word-Translation) :-
    memberchk(Word-Translation, Known).

file_pairs(File, Pairs) :-
    read_file_to_string(File, Text, [encoding(utf8)]),
    text_pairs(Text, Pairs).

text_pairs(Text0, Pairs) :-
    (   sub_string(Text0, 0, 1, _, "\uFEFF") -> sub_string(Text0, 1, _, 0, Text) ; Text = Text0 ),
    split_string(Text, "\n", "", Lines),
    convlist(line_pair, Lines, Pairs).

line_pair(Line0, Word-Translation) :-
    (   string_concat(Line, "\r", Line0) -> true ; Line = Line0 ),
    Line \== "",
    (   sub_string(Line, Before, 1, After, ";")
    ->  sub_string(Line, 0, Before, _, Word),
        sub_string(Line, _, After, 0, Translation)
    ;   Word = Line,
        Translation = ""
    ),
    !.

write_facts(File, Argument, Pairs) :-
    one_line(Argument, Shown),
    setup_call_cleanup(
        open(File, write, Out, [encoding(utf8)]),
        ( format(Out, "% trad_dyn(Word, Translation): written by the quintabel Prolog application.~n", []),
          format(Out, "% argument: ~w~n", [Shown]),
          format(Out, ":- dynamic trad_dyn/2.~n", []),
          forall(member(Word-Translation, Pairs),
                 ( format(Out, "trad_dyn(", []),
                   write_quoted(Out, Word),
                   format(Out, ", ", []),
                   write_quoted(Out, Translation),
                   format(Out, ").~n", [])
                 ))
        ),
        close(Out)).

%   Text as a quoted atom that reads back as the same text.
write_quoted(Out, Text) :-
    string_codes(Text, Codes),
    put_char(Out, ''''),
    forall(member(Code, Codes), write_escaped(Out, Code)),
    put_char(Out, '''').

write_escaped(Out, 0'\\) :- !, format(Out, "\\\\", []).
write_escaped(Out, 0'\') :- !, format(Out, "\\'", []).
write_escaped(Out, 0'\n) :- !, format(Out, "\\n", []).
write_escaped(Out, 0'\r) :- !, format(Out, "\\r", []).
write_escaped(Out, 0'\t) :- !, format(Out, "\\t", []).
write_escaped(Out, Code) :-
    ( Code < 0x20 ; Code =:= 0x7F ), !,
    format(Out, "\\x~16R\\", [Code]).
write_escaped(Out, Code) :-
    put_code(Out, Code).

%   Appends to "appris.txt" the pairs that Known lacks, each once.
learn(Dictionary, Known, Pairs, Learnt) :-
    new_pairs(Pairs, Known, Learnt),
    (   Learnt == []
    ->  true
    ;   (   exists_directory(Dictionary) -> true ; make_directory(Dictionary) ),
        directory_file_path(Dictionary, 'appris.txt', File),
        setup_call_cleanup(
            open(File, append, Out, [encoding(utf8)]),
            forall(member(Word-Translation, Learnt), format(Out, "~w;~w~n", [Word, Translation])),
            close(Out))
    ).

new_pairs([], _, []).
new_pairs([Pair|Pairs], Known, Learnt) :-
    (   memberchk(Pair, Known)
    ->  Learnt = Rest,
        new_pairs(Pairs, Known, Rest)
    ;   Learnt = [Pair|Rest],
        new_pairs(Pairs, [Pair|Known], Rest)
    ).

one_line(Text, Line) :-
    split_string(Text, "\r\n", "", Parts),
    atomic_list_concat(Parts, ' ', Line).
