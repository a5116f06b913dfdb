#include "TestPatch.h"
#include "TestFiles.h"

#include <QCoreApplication>

namespace {

// [r lattice-in] -> reorder to [voice type value] -> voice 0 goes to all
// clones, others to one; each clone's control outlet reports its own
// silence, prefixed with its number by [clone].
const char* mainPatchText = R"(#N canvas 0 0 600 400 12;
#X obj 10 10 r lattice-in;
#X msg 10 40 \$3 \$2 \$1;
#X obj 10 70 route 0;
#X msg 10 100 all \$1 \$2;
#X obj 10 130 clone -s 1 test_voice 128;
#X obj 200 170 s voice-stop;
#X obj 300 10 r master-vol;
#X obj 10 200 *~ 1;
#X obj 10 230 dac~ 1 2;
#X obj 400 10 r query-macros;
#X msg 400 40 0 %1;
#X obj 400 70 s output-voice-info;
#X connect 0 0 1 0;
#X connect 1 0 2 0;
#X connect 2 0 3 0;
#X connect 2 1 4 0;
#X connect 3 0 4 0;
#X connect 4 1 5 0;
#X connect 4 0 7 0;
#X connect 6 0 7 1;
#X connect 7 0 8 0;
#X connect 7 0 8 1;
#X connect 9 0 10 0;
#X connect 10 0 11 0;
)";

// [type value]: 1 gate, 2 frequency, 3 volume; macros are dropped.
const char* voicePatchText = R"(#N canvas 0 0 600 400 12;
#X obj 10 10 inlet;
#X obj 10 40 route 1 2 3;
#X obj 10 70 sel 0;
#X msg 10 100 0 50;
#X msg 60 100 1 5;
#X obj 10 130 vline~;
#X obj 150 100 osc~;
#X obj 150 160 *~;
#X obj 150 190 *~ 1;
#X obj 10 220 outlet~;
#X obj 10 160 threshold~ 0.001 0 0.0005 0;
#X obj 300 220 outlet;
#X connect 0 0 1 0;
#X connect 1 0 2 0;
#X connect 2 0 3 0;
#X connect 2 1 4 0;
#X connect 3 0 5 0;
#X connect 4 0 5 0;
#X connect 1 1 6 0;
#X connect 1 2 8 1;
#X connect 6 0 7 0;
#X connect 5 0 7 1;
#X connect 7 0 8 0;
#X connect 8 0 9 0;
#X connect 5 0 10 0;
#X connect 10 1 11 0;
)";

} // namespace

TestPatch::TestPatch(const QString& macroAnswer)
{
    const QString main = dir_.filePath(QStringLiteral("test_main.pd"));
    if (dir_.isValid() &&
        putFile(main, QString::fromLatin1(mainPatchText).arg(macroAnswer).toUtf8()) &&
        putFile(dir_.filePath(QStringLiteral("test_voice.pd")), voicePatchText))
        mainPatch_ = main;
}

bool TestPatch::useShipped(const QString& voiceFile)
{
    mainPatch_.clear();
    const QString shell = shippedFolder() + QStringLiteral("/shell/");
    for (const char* file : {"lattice_main.pd", "lattice_vprep.pd", "equal-loudness.pd",
                             "tb_compressor~.pd", "tb_compressorUI.pd", "lattice_voice.pd"}) {
        const QString name = QLatin1String(file);
        const QString target = dir_.filePath(name);
        QFile::remove(target);
        if (!QFile::copy(name == "lattice_voice.pd" ? voiceFile : shell + name, target))
            return false;
    }
    mainPatch_ = dir_.filePath(QStringLiteral("lattice_main.pd"));
    return true;
}

QString TestPatch::shippedFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/patches");
}

QStringList TestPatch::shippedVoices()
{
    QStringList voices;
    const QDir folder(shippedFolder());
    for (const QString& name : folder.entryList({QStringLiteral("*.pd")}, QDir::Files))
        voices.append(folder.filePath(name));
    return voices;
}
