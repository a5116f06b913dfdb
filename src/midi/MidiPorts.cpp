#include "MidiPorts.h"

#include <QRegularExpression>

QString MidiPorts::withoutNumbers(const QString& name)
{
    static const QRegularExpression numbers(QStringLiteral(" \\d+:\\d+$"));
    return QString(name).remove(numbers);
}

QStringList MidiPorts::names(RtMidi& midi)
{
    QStringList names;
    const unsigned int count = midi.getPortCount();
    for (unsigned int i = 0; i < count; ++i)
        names.append(QString::fromStdString(midi.getPortName(i)));
    return names;
}

int MidiPorts::find(RtMidi& midi, const QString& wanted)
{
    const QStringList all = names(midi);
    const int exact = all.indexOf(wanted);
    if (exact >= 0)
        return exact;
    const QString bare = withoutNumbers(wanted);
    for (int i = 0; i < all.size(); ++i)
        if (withoutNumbers(all.at(i)) == bare)
            return i;
    return -1;
}
