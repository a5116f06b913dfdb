#pragma once

#include <QString>
#include <QStringList>
#include <RtMidi.h>
#include <algorithm>

// What the MIDI input and output share about the library's ports.
namespace MidiPorts {

// "alsa" is the ALSA sequencer, anything else JACK.
inline RtMidi::Api apiOf(const QString& name)
{
    return name == QLatin1String("alsa") ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
}

// ALSA names a port "client:port 24:0", numbered afresh when a device comes
// back; two names are the same port when they agree without the numbers.
QString withoutNumbers(const QString& name);
// The ports `midi` sees, with their positions as the library counts them.
QStringList names(RtMidi& midi);
// The ports of others that `midi` sees: the program's own ports (and its
// short-lived probes) left out. Empty when the MIDI system cannot be used.
template <class Midi> QStringList othersPorts(const QString& api)
{
    try {
        Midi probe(apiOf(api), "Tuning Lattice ports");
        QStringList all = names(probe);
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [](const QString& name) {
                                     return name.startsWith(QLatin1String("Tuning Lattice"));
                                 }),
                  all.end());
        return all;
    } catch (const RtMidiError&) {
        return {};
    }
}
// The position of the port named `wanted`, or -1.
int find(RtMidi& midi, const QString& wanted);

} // namespace MidiPorts
