#include "Lattice.h"
#include "LatticeBall.h"
#include "MidiMap.h"
#include "ScalaExchange.h"
#include "ScalaFiles.h"
#include "ScalaLattice.h"

#include <QtTest>
#include <cmath>

// Scala scale and keyboard mapping files, and the lattice paths of their
// ratios.
class ScalaTest : public QObject
{
    Q_OBJECT

    // Ratios as a/b, cents with three decimals, each with "@line" if asked.
    static QString pitchesOf(const ScalaScale& scale, bool withLines)
    {
        QStringList pitches;
        for (const ScalaPitch& pitch : scale.pitches)
            pitches << (pitch.ratio ? pitch.ratio->toString()
                                    : QString::number(pitch.cents, 'f', 3)) +
                           (withLines ? '@' + QString::number(pitch.line) : QString());
        return scale.description + '|' + pitches.join(' ');
    }

    static QString mappingOf(const KeyboardMapping& map, bool)
    {
        QStringList values;
        for (int value : {map.size, map.firstKey, map.lastKey, map.middleKey, map.referenceKey})
            values << QString::number(value);
        values << QString::number(map.referenceFrequency) << QString::number(map.octaveDegree);
        for (int degree : map.mapping)
            values << (degree == KeyboardMapping::unmapped ? "x" : QString::number(degree));
        return values.join(' ');
    }

    // Each case: a file's text, and what it reads as or how the error starts.
    // What reads also reads back the same after write().
    template <class File, class Cases, class Show>
    static void readsFiles(const QString& fileName, const Cases& cases, Show show)
    {
        for (const auto& [text, expected] : cases) {
            QString error;
            const std::optional<File> file = File::parse(text, fileName, &error);
            QCOMPARE(file ? show(*file, true) : error.left(int(qstrlen(expected))),
                     QString(expected));
            if (file) {
                const std::optional<File> again = File::parse(file->write(), fileName, &error);
                QVERIFY2(again, qPrintable(error));
                QCOMPARE(show(*again, false), show(*file, false));
            }
        }
    }

private slots:
    // Scales read as "description|pitch@line ...".
    void readsScales()
    {
        const std::pair<const char*, const char*> cases[] = {
            {"! a.scl\n!\nJust\n! count:\n 3\n!\n5/4\n! between\n3/2\n2/1\n",
             "Just|5/4@7 3/2@9 2/1@10"},
            {"\n2\n9/8\n2\n", "|9/8@3 2/1@4"},
            {"Ints\n  3 notes\n 3 twelfth\n  5/4\tthird\n2 ! octave", "Ints|3/1@3 5/4@4 2/1@5"},
            {"C\n3\n100.0\n -5.5 down\n1200.\n", "C|100.000@3 -5.500@4 1200.000@5"},
            {"W\r\n! c\r\n2\r\n3/2\r\n2/1\r\nabc\r\n", "W|3/2@4 2/1@5"},
            {"L\n1\n18446744073709551615/3\n", "L|6148914691236517205/1@3"},
            {"! only\n", "scale.scl:1: expected the description line, found the end"},
            {"D\n", "scale.scl:1: expected the number of notes, found the end"},
            {"D\n-2\n", "scale.scl:2: expected the number of notes, not \"-2\""},
            {"D\n3\n5/4\n! end\n", "scale.scl:4: expected pitch 2 of 3, found the end of the file"},
            {"D\n2\n5/4\nabc\n",
             "scale.scl:4: expected a pitch (a ratio like 81/80, an integer, or "
             "cents like 701.955), not \"abc\""},
            {"D\n2\n5/4\n\n", "scale.scl:4: expected a pitch ("},
            {"D\n1\n1.2.3\n", "scale.scl:3: expected a pitch ("},
            {"D\n1\n3/2/1\n", "scale.scl:3: expected a pitch ("},
            {"D\n1\n0/5\n", "scale.scl:3: expected a ratio above zero"},
            {"D\n1\n3/-2\n", "scale.scl:3: expected a ratio above zero"},
            {"D\n1\n3/0\n", "scale.scl:3: expected a ratio with a non-zero denominator"},
            {"D\n1\n3/18446744073709551616\n",
             "scale.scl:3: expected a ratio whose terms are below"},
        };
        readsFiles<ScalaScale>("scale.scl", cases, pitchesOf);
    }

    // Mappings read as their values in file order, then the mapping.
    void readsKeyboardMappings()
    {
        const QByteArray header = "! m.kbm\n12\n48\n84\n60\n69\n440.0\n12\n! map\n";
        const std::pair<QByteArray, const char*> cases[] = {
            {header + "0\nx\n2\nx\n4\n5\nX\n7\nx\n9\nx\n11\n",
             "12 48 84 60 69 440 12 0 x 2 x 4 5 x 7 x 9 x 11"},
            {"0 ! linear\r\n21\r\n108\r\n62\r\n69\r\n432.5 Hz\r\n0\r\n", "0 21 108 62 69 432.5 0"},
            {header + "0\nx\n", "map.kbm:11: expected a scale degree or x for key 2 of the map, "
                                "found the end of the file"},
            {"12\n0\n127\n", "map.kbm:3: expected the middle key"},
            {"12\n0\nlast\n", "map.kbm:3: expected the last key to map (a MIDI key 0..127), "
                              "not \"last\""},
            {"0\n0\n128\n", "map.kbm:3: expected the last key"},
            {"0\n0\n127\n60\n69\n-440\n0\n", "map.kbm:6: expected the reference frequency"},
            {header + "0\n-1\n", "map.kbm:11: expected a scale degree or x for key 1"},
        };
        readsFiles<KeyboardMapping>("map.kbm", cases, mappingOf);
    }

    // Keys over two octaves and beyond, each "key:degree,period" or "key:-"
    // for none.
    void mapsKeysToDegrees()
    {
        const std::tuple<const char*, int, QString> cases[] = {
            {"12\n48\n84\n60\n69\n440\n12\n0\nx\n2\nx\n4\n5\nx\n7\nx\n9\nx\n11\n", 12,
             "47:- 48:0,-1 59:11,-1 60:0,0 61:- 67:7,0 72:0,1 83:11,1 84:0,2 85:-"},
            // White keys only: seven keys a period.
            {"7\n0\n127\n60\n69\n440\n12\n0\n2\n4\n5\n7\n9\n11\n", 12,
             "53:0,-1 59:11,-1 60:0,0 66:11,0 67:0,1 74:0,2"},
            {"0\n0\n127\n60\n69\n440\n0\n", 5, "50:0,-2 59:4,-1 60:0,0 64:4,0 66:1,1"},
            {"0\n0\n127\n60\n69\n440\n0\n", 0, "60:-"}};
        for (const auto& [text, scaleSize, expected] : cases) {
            const auto map = KeyboardMapping::parse(text, "map.kbm", nullptr);
            QVERIFY(map);
            for (const QString& item : expected.split(' ')) {
                const QString key = item.section(':', 0, 0);
                const auto degree = map->degreeOfKey(key.toInt(), scaleSize);
                QCOMPARE(
                    key + ':' +
                        (degree ? QString("%1,%2").arg(degree->first).arg(degree->second) : "-"),
                    item);
            }
        }
    }

    // Octave steps first, odd primes rising; each path leads back to its ratio.
    void findsPathsForRatios()
    {
        for (const char* row :
             {"1/1|/", "16/15|/2/-3/-5", "45/32|/-2/3/3/5", "7/4|/7", "1/4|/-2/-2", "8/5|/2/-5",
              "23/19|/-19/23", "729/64|/3/3/3/3/3/3", "29/16|has the prime 29",
              "3/899|has the prime 29", "961/2|has the prime 31",
              "18446744073709551557/1|has a prime beyond 23",
              "2187/1|needs 14 steps; a path holds 6", "729/512|needs 9 steps; a path holds 6",
              "0/1|is not above zero"}) {
            const QStringList fields = QString(row).split('|');
            const QStringList terms = fields[0].split('/');
            const LatticeRatio ratio(terms[0].toULongLong(), terms[1].toULongLong());
            QString why;
            const std::optional<LatticePath> path = pathForRatio(ratio, &why);
            QCOMPARE(path ? path->toString() : why, fields[1]);
            if (path)
                QCOMPARE(path->ratio().value_or(LatticeRatio()).toString(), fields[0]);
        }
    }

    // Reduced into the octave, merged, sorted; 1/1 implied and 2/1 the
    // period. Write and parse give back the same ratios and comments.
    void writesScalesOfRatiosAndReadsThemBack()
    {
        const QList<LatticeRatio> ratios = {{3, 2},   {5, 4}, {3},    {1},   {2},
                                            {15, 16}, {8, 9}, {1, 3}, {5, 4}};
        const QStringList comments = {"/3", "", "/2/3", "root", "", "", "", "", "/5"};
        ScalaScale scale = scaleOfRatios(ratios, "! not a comment\nbut one line", comments);
        scale.fileName = "folder/lattice.scl";
        const QByteArray text = scale.write();
        QVERIFY(text.startsWith("! lattice.scl\n!\n ! not a comment but one line\n 6\n"));
        const auto back = ScalaScale::parse(text, "lattice.scl", nullptr);
        QVERIFY(back);
        QStringList written;
        for (const LatticeRatio& ratio : ratiosOfScale(*back))
            written << ratio.toString();
        QCOMPARE(written.join(' '), "1/1 5/4 4/3 3/2 16/9 15/8");
        QCOMPARE(back->description, "! not a comment but one line");
        QCOMPARE(back->pitches.last().ratio.value_or(LatticeRatio()), LatticeRatio(2));
        QStringList kept;
        for (const ScalaPitch& pitch : back->pitches) {
            kept << pitch.comment;
            QVERIFY(qAbs(pitch.cents - 1200 * std::log2(pitch.ratio->toDouble())) < 1e-9);
        }
        QCOMPARE(kept.join(','), "/5,,/3,,,");
        // Up by octaves would need a 65-bit numerator; down by octaves never
        // does. The denominator is the largest 64-bit prime.
        QCOMPARE(octaveReduced({(1ull << 63) + 1, 18446744073709551557ull}), LatticeRatio());
        QCOMPARE(octaveReduced({~0ull}), LatticeRatio(~0ull, 1ull << 63));
    }

    // The built-in lattice as a scale reads back as exactly its balls' ratios
    // in one octave; a scale comes in as keys, 1/1 on key 69, its period
    // repeating it, a degree in cents refused with its line.
    void exchangesScalesWithTheLattice()
    {
        Lattice lattice;
        lattice.setDefaults();
        QSet<LatticeRatio> balls;
        const std::function<void(const LatticeBall*)> visit = [&](const LatticeBall* ball) {
            balls.insert(octaveReduced(*ball->path().ratio()));
            for (const LatticeBall* child : ball->children())
                visit(child);
        };
        visit(lattice.root());
        const auto back = ScalaScale::parse(scaleOfLattice(lattice, "x").write(), "x.scl", nullptr);
        QVERIFY(back);
        const QList<LatticeRatio> read = ratiosOfScale(*back);
        QCOMPARE(QSet<LatticeRatio>(read.begin(), read.end()), balls);

        const auto scale =
            ScalaScale::parse("seven\n5\n7/6\n5/4\n701.955\n7/4\n2/1\n", "s.scl", nullptr);
        QVERIFY(scale);
        const ScalaImport keys = importScale(*scale, std::nullopt);
        QCOMPARE(keys.refusals,
                 QStringList{"s.scl:5: 701.955 cents has no ratio; a ball needs one"});
        QStringList played;
        for (int key : {64, 65, 69, 70, 71, 72, 73, 74, 75})
            played << keys.midiMap.value(QString("note %1").arg(key))
                          .toObject()
                          .value("value")
                          .toString();
        QCOMPARE(played.join(' '), "/-2 /-2/-3/7 / /-3/7 /5  /7 /2 /2/-3/7");

        // The classic 12-note 5-limit scale comes in as the default key map.
        const auto classic = ScalaScale::parse("5-limit\n12\n16/15\n9/8\n6/5\n5/4\n4/3\n45/32\n"
                                               "3/2\n8/5\n5/3\n9/5\n15/8\n2/1\n",
                                               "c.scl", nullptr);
        QVERIFY(classic);
        QCOMPARE(importScale(*classic, std::nullopt).midiMap, [] {
            QJsonObject keys = MidiMap::defaultMap();
            for (const QString& member : keys.keys())
                if (!member.startsWith("note "))
                    keys.remove(member);
            return keys;
        }());
    }
};

QTEST_GUILESS_MAIN(ScalaTest)
#include "ScalaTest.moc"
