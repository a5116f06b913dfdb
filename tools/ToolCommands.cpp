#include "ToolCommands.h"

#include <QList>
#include <algorithm>
#include <cstdio>

namespace {

QList<const LatticeToolCommand*>& registry()
{
    static QList<const LatticeToolCommand*> commands;
    return commands;
}

} // namespace

LatticeToolCommand::LatticeToolCommand(const char* commandName, const char* commandUsage,
                                       Runner runner)
    : name(commandName), usage(commandUsage), run(runner)
{
    registry().append(this);
}

namespace ToolCommands {

const LatticeToolCommand* find(const QString& name)
{
    for (const LatticeToolCommand* command : registry())
        if (name == QLatin1String(command->name))
            return command;
    return nullptr;
}

QList<const LatticeToolCommand*> all()
{
    QList<const LatticeToolCommand*> sorted = registry();
    std::sort(sorted.begin(), sorted.end(),
              [](auto a, auto b) { return qstrcmp(a->name, b->name) < 0; });
    return sorted;
}

int usageError(const QString& message)
{
    std::fprintf(stderr, "lattice-tool: %s\n", qPrintable(message));
    return exitUsage;
}

} // namespace ToolCommands
