#pragma once

#include <QString>
#include <QStringList>

// The subcommands of lattice-tool. Each lives in its own source file and
// registers itself with a static LatticeToolCommand object:
//
//   static const LatticeToolCommand note{"note", "note PATH [--base HZ] ...", runNote};
//
// Exit statuses: 0 success, 1 the checked thing failed, 2 bad usage.
struct LatticeToolCommand
{
    using Runner = int (*)(const QStringList& arguments);

    LatticeToolCommand(const char* name, const char* usage, Runner run);

    const char* name;
    const char* usage;
    Runner run;
};

namespace ToolCommands {

constexpr int exitOk = 0;
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;

const LatticeToolCommand* find(const QString& name);
QList<const LatticeToolCommand*> all();

// Prints "lattice-tool: <message>" on stderr and returns exitUsage.
int usageError(const QString& message);

} // namespace ToolCommands
