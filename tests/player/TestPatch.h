#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A patch folder for one test, in a temporary directory that goes with it.
// By default it holds a small main patch of the tests' own that honours the
// player's protocol: "lattice-in" drives 128 sine voices (5 ms attack, 50 ms
// release, "voice-stop" when a released voice falls silent), "master-vol"
// scales the sum and "query-macros" is answered with `macroAnswer`.
// useShipped() fills it instead the way the program does, from the shell
// patches beside the executables and one voice patch.
//
// GUI (test) thread.
class TestPatch
{
public:
    explicit TestPatch(const QString& macroAnswer = QStringLiteral("cutoff(0.5):resonance"));

    bool isValid() const { return !mainPatch_.isEmpty(); }
    QFileInfo mainPatch() const { return QFileInfo(mainPatch_); }
    QString folder() const { return dir_.path(); }

    // Copies the five shell patches and `voiceFile` as lattice_voice.pd; the
    // main patch becomes lattice_main.pd. False when a file is missing.
    bool useShipped(const QString& voiceFile);

    // The "patches" folder copied beside the test executables.
    static QString shippedFolder();
    // The shipped voice patches (every .pd file directly in that folder).
    static QStringList shippedVoices();

private:
    QTemporaryDir dir_;
    QString mainPatch_;
};
