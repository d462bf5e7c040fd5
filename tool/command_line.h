// The utility's command line: -d [FILE], -u, -c STRING, -p PROFILE, each
// option beginning with '-' or '/', in any order, repeatable (a later value
// replaces an earlier one). Only an option's second character counts, in
// either case: -Dump is -d. Anything else, a missing argument of -c or -p,
// a -c argument longer than the 1023 characters of the connection string
// (cut, it would name another database or password), help requests and the
// obsolete options included, is refused with the usage text.
//
// After -d, the next argument is the dump file's name unless it begins with
// '-', or begins with '/' and is two characters long (an option such as
// /u): an absolute path is a file name.
//
// Pure functions over the arguments and the stream they print to; one
// thread.
#pragma once

#include <cstdio>

#include "tool/run_settings.h"

// Fills `settings` from the arguments and returns true; on a refusal prints
// the usage text to `out` and returns false, and the run ends with exit
// code 1.
bool ParseCommandLine(int argc, char** argv, RunSettings* settings, std::FILE* out);

// Prints the usage text with the program's name as invoked.
void PrintUsage(const char* programName, std::FILE* out);
