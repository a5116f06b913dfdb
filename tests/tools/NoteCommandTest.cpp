#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "ToolRun.h"

// Runs the built lattice-tool note as a user would and reads what it prints.
class NoteCommandTest : public QObject
{
    Q_OBJECT

    using Run = ToolRun;
    static Run run(const QStringList& arguments)
    {
        return runTool(QStringLiteral("note"), arguments);
    }

private slots:
    void printsNoteLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("line");
        QTest::newRow("fifth") << QStringList{"/3"} << "E5 +2 3/2 660.000 Hz";
        QTest::newRow("transposed: ratio is the path's own")
            << QStringList{"/3", "--transpose", "/3"} << "B5 +4 3/2 990.000 Hz";
        QTest::newRow("respelled")
            << QStringList{"/17/17/17/17"} << "C#5 +20 83521/65536 560.749 Hz enh";
        QTest::newRow("lowest limits")
            << QStringList{"--base", "20", "/", "--calibration", "349"} << "G0 +50 1/1 20.000 Hz";
        QTest::newRow("highest limits")
            << QStringList{"/", "--base", "20000", "--calibration", "499"}
            << "C#10 -10 1/1 20000.000 Hz";
    }
    void printsNoteLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, line);
        const Run result = run(arguments);
        QCOMPARE(result.err, QString());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, line + '\n');
    }

    void printsJson()
    {
        const Run result = run({"--json", "/17/17/17", "--base", "440", "--transpose", "/2/-2"});
        QCOMPARE(result.exitCode, 0);
        QJsonObject note = QJsonDocument::fromJson(result.out.toUtf8()).object();
        QVERIFY(qAbs(note.take("frequency").toDouble() - 527.7637) < 0.001);
        QVERIFY(qAbs(note.take("cents").toDouble() - 14.866) < 0.01);
        QCOMPARE(note, (QJsonObject{{"path", "/17/17/17"},
                                    {"ratio", "4913/4096"},
                                    {"letter", "D"},
                                    {"accidental", -2},
                                    {"octave", 5},
                                    {"name", "Dbb5"},
                                    {"respelled", false}}));
    }

    void rejectsBadInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("no path") << QStringList{} << "PATH";
        QTest::newRow("invalid path") << QStringList{"/4"} << "/4";
        QTest::newRow("seven steps") << QStringList{"/3/3/3/3/3/3/3"} << "/3/3/3/3/3/3/3";
        QTest::newRow("invalid transposition")
            << QStringList{"/3", "--transpose", "/3/x"} << "/3/x";
        QTest::newRow("unknown option") << QStringList{"/3", "--colour"} << "--colour";
        QTest::newRow("missing value") << QStringList{"/3", "--base"} << "--base";
        QTest::newRow("base not a number") << QStringList{"/3", "--base", "nan"} << "nan";
        QTest::newRow("base too low") << QStringList{"/3", "--base", "19.99"} << "19.99";
        QTest::newRow("calibration too low") << QStringList{"/3", "--calibration", "348"} << "348";
        QTest::newRow("calibration not whole")
            << QStringList{"/3", "--calibration", "440.5"} << "440.5";
    }
    void rejectsBadInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, mentions);
        const Run result = run(arguments);
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.out, QString());
        QCOMPARE(result.err.count('\n'), 1);
        QVERIFY2(result.err.startsWith("lattice-tool: ") && result.err.contains(mentions),
                 qPrintable(result.err));
    }
};

QTEST_APPLESS_MAIN(NoteCommandTest)
#include "NoteCommandTest.moc"
