#pragma once

#include <QString>
#include <QStringList>
#include <RtMidi.h>

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
// The position of the port named `wanted`, or -1.
int find(RtMidi& midi, const QString& wanted);

} // namespace MidiPorts
