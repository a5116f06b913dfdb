#pragma once

#include <QByteArray>
#include <optional>

// The command-line words the program answers and ends on, --help (-h) and
// --version, looked for before the application object exists, so that they
// need no display and leave the user's data folder alone. Every other word
// is a diagnostics filter word (TuningLatticeApplication::diagnosticFilterWords).
namespace CommandLine {

// The text to print on standard output, or nothing when the program runs.
std::optional<QByteArray> answer(int argc, const char* const* argv);

} // namespace CommandLine
