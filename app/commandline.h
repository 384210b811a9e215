#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The tool's one command line. Without options it opens the windows; each
// mode below runs without a window and without a display:
//   zelmar --record …      the windowless recorder (zelmar --record --help)
//   zelmar --export-csv FILE --from "…" --to "…" [--ring 1s|10s]
//          [--db PATH | --db postgresql://…?station=NAME]
//   zelmar --help, zelmar --version

// Names the organisation, application and version, which place the default
// database and answer --version.
void nameTool();

// What a command line asks for.
enum class ToolMode {
    Windows,   // the windowed tool
    Record,    // the windowless recorder; its own options, help and exit codes
    ExportCsv, // a range of the recording as CSV
    Help,      // every mode and option on standard output
    Version,   // the version on standard output
    Usage,     // an option unknown, a value missing, an argument not expected
};

// The mode of a command line (program name first) and, for Usage, the one
// line that names what cannot be used.
struct Invocation {
    ToolMode mode = ToolMode::Windows;
    QString error;
};
Invocation readInvocation(const QStringList &arguments);

// Why the windows cannot be shown in `environment` (no X or Wayland display
// and no Qt platform named), in one line; empty when they can.
QString noDisplayReason(const QProcessEnvironment &environment);

// Runs a mode without a window (Help, Version, ExportCsv, Usage) and returns
// the process's exit code: 0, or non-zero with a one-line reason on standard error.
int runCommandLine(int argc, char *argv[], const Invocation &invocation);

// Prints "zelmar: <reason>" on standard error and returns the exit code 1.
int refuseToStart(const QString &reason);
