#include "SpelledNote.h"

#include "LatticeRatio.h"
#include "NoteInterval.h"

#include <array>
#include <cmath>

namespace {

constexpr std::array<int, 7> semitonesAboveC{0, 2, 4, 5, 7, 9, 11};
constexpr std::array<char, 7> letterNames{'C', 'D', 'E', 'F', 'G', 'A', 'B'};

// The equal-tempered spelling of each pitch class from C = 0:
// C, C#, D, Eb, E, F, F#, G, G#, A, Bb, B.
constexpr std::array<int, 12> temperedLetters{0, 0, 1, 2, 2, 3, 3, 4, 4, 5, 6, 6};
constexpr std::array<int, 12> temperedAccidentals{0, 1, 0, -1, 0, 0, 1, 0, 1, 0, -1, 0};

constexpr int a4SemitoneNumber = 57;
constexpr double a4Hz = 440.0;
// Twelfth root of two, to the precision the note names have always used.
constexpr double semitoneRatio = 1.0594631;
// ln 2, likewise.
constexpr float ln2 = 0.6931472f;
// Far beyond anything audible, but safely inside int.
constexpr float semitoneLimit = 100000.0f;

// Non-negative remainder, so that notes below C0 still find their letter.
int positiveModulo(int value, int divisor)
{
    return (value % divisor + divisor) % divisor;
}

} // namespace

SpelledNote SpelledNote::fromFrequency(float hz, int calibrationHz)
{
    SpelledNote note;
    note.setFromFrequency(hz, calibrationHz);
    return note;
}

SpelledNote SpelledNote::fromSemitones(int semitoneNumber, int cents)
{
    SpelledNote note;
    note.setFromSemitones(float(semitoneNumber) + float(cents) / 100.0f);
    return note;
}

void SpelledNote::clear()
{
    letter = 0;
    accidental = 0;
    octave = 0;
    respelled = false;
}

int SpelledNote::wholeSemitoneNumber() const
{
    return semitonesAboveC[std::size_t(positiveModulo(letter, 7))] + 12 * octave + accidental;
}

double SpelledNote::semitoneNumber() const
{
    return wholeSemitoneNumber() + double(cents) / 100.0;
}

float SpelledNote::frequency() const
{
    return float(a4Hz * std::pow(semitoneRatio, semitoneNumber() - a4SemitoneNumber));
}

bool SpelledNote::setFromFrequency(float hz, int calibrationHz)
{
    if (!(hz > 0.0f) || !std::isfinite(hz) || calibrationHz <= 0)
        return false;
    return setFromSemitones(std::log(hz / float(calibrationHz)) / ln2 * 12.0f + a4SemitoneNumber);
}

bool SpelledNote::setFromSemitones(float semitones)
{
    if (!std::isfinite(semitones) || std::fabs(semitones) > semitoneLimit)
        return false;
    // Every conversion to int truncates toward zero; below C0 that leaves the
    // cents outside the usual range, which no lattice reaches in practice.
    int number = int(semitones);
    cents = (semitones - float(number)) * 100.0f;
    if (cents > 50.5f) {
        cents -= 100.0f;
        semitones += 1.0f;
        number = int(semitones);
    }
    octave = semitones >= 0.0f ? int(semitones / 12.0f) : int((semitones - 11.0f) / 12.0f);
    const std::size_t pitchClass = std::size_t(positiveModulo(number, 12));
    letter = temperedLetters[pitchClass];
    accidental = temperedAccidentals[pitchClass];
    return true;
}

void SpelledNote::addCents(float difference)
{
    cents += difference;
    if (cents <= -49.5f || cents > 50.5f) {
        setFromSemitones(float(semitoneNumber()));
        respelled = true;
    }
}

void SpelledNote::transposeBy(int step, int calibrationHz)
{
    if (!PrimeSteps::isValidStep(step))
        return;
    if (respelled) {
        const LatticeRatio ratio = PrimeSteps::stepRatio(step);
        setFromFrequency(frequency() * float(ratio.toDouble()), calibrationHz);
        return;
    }

    const NoteInterval interval = NoteInterval::fromStep(step);
    const int before = int(semitoneNumber());
    const int movedLetter = letter + interval.direction * interval.degree;
    octave += int(std::floor(movedLetter / 7.0)) + interval.direction * interval.octaves;
    letter = positiveModulo(movedLetter, 7);
    const int after = int(semitoneNumber());
    // The new letter and octave already account for after - before semitones;
    // the accidental makes up the rest of the interval.
    accidental += interval.semitones() - (after - before);

    if (accidental < -2 || accidental > 2) {
        // No triple sharps or flats: take the tempered spelling of the same
        // pitch. The cents ride along unchanged until the caller measures them.
        setFromSemitones(float(wholeSemitoneNumber()) + cents / 100.0f);
        respelled = true;
    }
}

QString SpelledNote::name() const
{
    return letterName() + accidentalText() + QString::number(octave);
}

QString SpelledNote::letterName() const
{
    return QString(QLatin1Char(letterNames[std::size_t(positiveModulo(letter, 7))]));
}

QString SpelledNote::accidentalText() const
{
    switch (accidental) {
    case -2:
        return QStringLiteral("bb");
    case -1:
        return QStringLiteral("b");
    case 1:
        return QStringLiteral("#");
    case 2:
        return QStringLiteral("##");
    default:
        return QString();
    }
}

SpelledNote spellLatticeNote(float baseFrequency, int calibrationHz, const QList<int>& steps,
                             float soundingFrequency)
{
    SpelledNote note = SpelledNote::fromFrequency(baseFrequency, calibrationHz);
    for (int step : steps)
        note.transposeBy(step, calibrationHz);
    SpelledNote target;
    if (target.setFromFrequency(soundingFrequency, calibrationHz))
        note.addCents(float((target.semitoneNumber() - note.semitoneNumber()) * 100.0));
    return note;
}
