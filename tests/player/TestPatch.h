#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A temporary patch folder holding the tests' own main patch: "lattice-in"
// drives 128 sine voices (5 ms attack, 50 ms release, then "voice-stop"),
// "master-vol" scales the sum, "query-macros" is answered with `macroAnswer`.
// useShipped() fills it as the program does instead. Test thread.
class TestPatch
{
public:
    explicit TestPatch(const QString& macroAnswer = QStringLiteral("cutoff(0.5):resonance"));

    bool isValid() const { return !mainPatch_.isEmpty(); }
    QFileInfo mainPatch() const { return QFileInfo(mainPatch_); }
    QString folder() const { return dir_.path(); }

    // The five shell patches and `voiceFile` as lattice_voice.pd; false if one is missing.
    bool useShipped(const QString& voiceFile);

    // The "patches" folder copied beside the test executables.
    static QString shippedFolder();
    // The shipped voice patches (every .pd file directly in that folder).
    static QStringList shippedVoices();

private:
    QTemporaryDir dir_;
    QString mainPatch_;
};
