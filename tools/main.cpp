// lattice-tool: the instrument's command-line companion. It spells notes,
// checks data files, renders voices to WAV and plays the wand's part, using
// the program's own code.

#include "ToolCommands.h"

#include <QCoreApplication>
#include <QLocale>
#include <cstdio>

namespace {

void printUsage(FILE* to)
{
    std::fprintf(to, "usage: lattice-tool COMMAND [ARGUMENTS]\n\ncommands:\n");
    for (const LatticeToolCommand* command : ToolCommands::all())
        std::fprintf(to, "  lattice-tool %s\n", command->usage);
    std::fprintf(to, "  lattice-tool --help | -h | help\n  lattice-tool --version\n");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Elsted Tuning Lattice"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        printUsage(stderr);
        return ToolCommands::exitUsage;
    }
    const QString name = arguments.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        printUsage(stdout);
        return ToolCommands::exitOk;
    }
    if (name == QLatin1String("--version")) {
        std::printf("lattice-tool (Elsted Tuning Lattice) %s\n", LATTICE_VERSION);
        return ToolCommands::exitOk;
    }
    const LatticeToolCommand* command = ToolCommands::find(name);
    if (!command)
        return ToolCommands::usageError(QStringLiteral("unknown command \"%1\"").arg(name));
    return command->run(arguments);
}
