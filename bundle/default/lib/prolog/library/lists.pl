% A library file of the demo runtime.
:- module(demo_lists, [demo_member/2]).
demo_member(X, [X|_]).
demo_member(X, [_|T]) :- demo_member(X, T).
