#include "CommandLine.h"

#include <cstring>

namespace {

const char* const helpText =
    "Usage: tuning-lattice [WORD...]\n"
    "Plays the Elsted Tuning Lattice, an instrument for just intonation.\n"
    "\n"
    "Each WORD names a source file whose log records the diagnostics window\n"
    "(Ctrl+9) shows, such as PdPlayer, PaAudioOutput, UdpListener, MidiInput or\n"
    "Lattice; case and one leading \"-\" do not matter. \"all\" shows the records\n"
    "of every file.\n"
    "\n"
    "  -h, --help   print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Qt's own options, such as -platform NAME and -style NAME, are taken too.\n"
    "Options, the lattice, the maps and log.txt are kept in\n"
    "$XDG_DATA_HOME/Elsted Tuning Lattice (~/.local/share/Elsted Tuning Lattice).\n";

} // namespace

std::optional<QByteArray> CommandLine::answer(int argc, const char* const* argv)
{
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h"))
            return QByteArray(helpText);
        version = version || !std::strcmp(argv[i], "--version");
    }
    if (version)
        return QByteArray("tuning-lattice (Elsted Tuning Lattice) " LATTICE_VERSION "\n");
    return std::nullopt;
}
