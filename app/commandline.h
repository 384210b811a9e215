#pragma once

// Actions the tool runs from the command line without a window, for scripts
// and scheduled jobs: zelmar --export-csv FILE --from "…" --to "…" [--ring 1s|10s]
// [--db PATH | --db postgresql://…?station=NAME].

// Names the organisation and application, which place the default database.
void nameTool();

// True when the command line asks for an action that runs without a window
// (--help among them, which lists the options).
bool isCommandLineAction(int argc, char *argv[]);

// Runs that action and returns the process's exit code: 0, or non-zero with a
// one-line reason on standard error.
int runCommandLine(int argc, char *argv[]);
