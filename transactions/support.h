// Timestamped log lines shared by the transactions and the test programs.
#pragma once

#include <sys/time.h>

#include <cstdio>

// Writes "[YYYY-MM-DD HH:MM:SS.uuuuuu] message\n" with the local time, in one
// formatted write so that lines of concurrent threads never mix. No flush.
void printWithTime(const char* message);

// The same line for a given time and stream (what printWithTime does with
// the current time and stdout).
void printWithTimeAt(FILE* out, const timeval& when, const char* message);

// Pause of a transaction: the pause text with the thread label for %s as a
// timestamped line, flushed, then a sleep of whole seconds (none for a
// negative number, which would otherwise last the better part of a century).
void pauseWithMessage(const char* format, const char* label, int seconds);
