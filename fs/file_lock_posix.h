// Whole-file locks on POSIX: the sharing of open files between programs.
// POSIX only.
#pragma once

// Takes the flock Operation (LOCK_SH or LOCK_EX) on Fd without waiting; 0,
// or the error code (EWOULDBLOCK while another opener holds a lock that
// refuses it).
int LockWithoutWaiting(int Fd, int Operation);
