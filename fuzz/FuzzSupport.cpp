#include "FuzzSupport.h"

#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"
#include "RfidMap.h"
#include "Settings.h"
#include "SpelledNote.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonParseError>
#include <cstdio>
#include <cstdlib>

namespace {

void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// What the object writes, as the text a save would put in its file.
template <typename Root> QByteArray writtenText(const Root& root)
{
    QJsonObject json;
    root.write(json);
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

// The file a save writes must load into an object that saves the same file.
template <typename Root> void checkWrittenFileReadsBack(const Root& root)
{
    const QByteArray first = writtenText(root);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(first, &error);
    FUZZ_CHECK(!document.isNull(), "a written file parses");
    Root again;
    again.read(document.object());
    FUZZ_CHECK(writtenText(again) == first, "a written file reads back to the same document");
}

void checkBalls(const Lattice& lattice, const LatticeBall& ball)
{
    FUZZ_CHECK(lattice.ballAtPath(ball.path()) == &ball, "every ball is found at its path");
    // Read from a file, each step of a path is a prime step, so every ball
    // has a ratio and, at the 1/1 transposition, its place in the index.
    FUZZ_CHECK(ball.ratio().has_value(), "every ball read from a file has a ratio");
    const LatticeBall* indexed = lattice.ballForRatio(*ball.ratio());
    FUZZ_CHECK(indexed && indexed->ratio() == ball.ratio(),
               "every ball's ratio is in the ratio index");
    for (auto it = ball.links().constBegin(); it != ball.links().constEnd(); ++it)
        FUZZ_CHECK(lattice.ballAtPath(it.value().path), "no link is left dangling");
    for (const LatticeBall* child : ball.children())
        checkBalls(lattice, *child);
}

void checkBallSpellings(const Lattice& lattice, const LatticeBall& ball, const Settings& settings)
{
    const float frequency =
        lattice.baseFrequency() * static_cast<float>(ball.ratio().value_or(0).toDouble());
    checkSpelledNote(lattice.noteForBall(ball, frequency, settings));
    for (const LatticeBall* child : ball.children())
        checkBallSpellings(lattice, *child, settings);
}

} // namespace

void initFuzzing()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    qInstallMessageHandler(discardMessage);
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

void trap(const char* what)
{
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

std::optional<QJsonObject> parseDocument(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (document.isNull())
        return std::nullopt;
    return document.object();
}

void checkSpelledNote(const SpelledNote& note)
{
    FUZZ_CHECK(note.letter >= 0 && note.letter <= 6, "a spelled note has a letter 0..6");
    FUZZ_CHECK(note.accidental >= -2 && note.accidental <= 2,
               "a spelled note has at most a double accidental");
}

void checkSpelling(float baseHz, int calibrationHz, const QList<int>& steps)
{
    LatticePath path;
    for (int step : steps)
        path.append(step);
    const double ratio = path.ratio().value_or(0).toDouble();
    const float frequency = baseHz * static_cast<float>(ratio);
    checkSpelledNote(spellLatticeNote(baseHz, calibrationHz, steps, frequency));
}

// Besides reading back: every tag finds its event, and every note event's
// path is valid, survives its own text and can be spelled.
void checkRfidMap(const RfidMap& map)
{
    checkWrittenFileReadsBack(map);
    for (const QString& tag : map.tags()) {
        const LatticeEvent* event = map.lookup(tag);
        FUZZ_CHECK(event, "every tag of the map finds its event");
        if (auto note = dynamic_cast<const LatticeNoteEvent*>(event)) {
            const LatticePath& path = note->path();
            FUZZ_CHECK(path.isValid() && LatticePath(path.toString()) == path,
                       "a mapped path is valid and reads back from its text");
            checkSpelling(440.0f, 440, path.toList());
        }
    }
}

// Besides reading back: the tree and its index agree, no link dangles, and
// every ball can be spelled the way its card spells it.
void checkLattice(const Lattice& lattice)
{
    checkWrittenFileReadsBack(lattice);
    checkBalls(lattice, *lattice.root());
    const Settings settings;
    checkBallSpellings(lattice, *lattice.root(), settings);
}

// Besides reading back: the stored frequencies spell, whatever the file made
// of them, a few balls in every direction.
void checkSettings(const Settings& settings)
{
    checkWrittenFileReadsBack(settings);
    for (const QList<int>& steps :
         {QList<int>{}, QList<int>{3, 3, 3, 3, 3, 3}, QList<int>{-3, -3, -3, -3, -3, -3},
          QList<int>{5, 7, 11, 13, 17, 19}, QList<int>{-23, -19, -17, -13, -11, -7},
          QList<int>{2, 2, 2, -2, 23, 23}})
        checkSpelling(settings.baseFrequency, settings.calibrationFrequency, steps);
}
