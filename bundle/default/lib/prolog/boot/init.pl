% Start-up file of the demo runtime (an install carries it to show that
% nested folders are extracted).
:- module(demo_boot, []).
