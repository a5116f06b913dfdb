#include "TestFiles.h"
#include "ToolRun.h"

#include <QUdpSocket>
#include <QtTest>

// Runs the built lattice-tool as a user would, in a folder of the test's own.
class LatticeToolTest : public QObject
{
    Q_OBJECT

    ToolRun run(const QStringList& arguments) const { return runTool(arguments, folder->path()); }
    std::unique_ptr<QTemporaryDir> folder;

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
    }

    void checkReportsFile()
    {
        // The arguments after "check", the first naming the file written; its
        // text; the exit status; text the report must hold.
        const auto check = [this](const QString& arguments, const QByteArray& text, int exitCode,
                                  const QStringList& expected) {
            folder = std::make_unique<QTemporaryDir>();
            QVERIFY(putFile(folder->filePath(arguments.section(' ', 0, 0)), text));
            const ToolRun result = run(("check " + arguments).split(' '));
            QCOMPARE(result.err, QString());
            QCOMPARE(result.exitCode, exitCode);
            for (const QString& part : expected)
                QVERIFY2(result.out.contains(part), qPrintable(part + " not in:\n" + result.out));
        };
        check("rfid_map.json",
              R"({"04A1B2C3D4E5": {"event": 2, "value": 3}, "c": {"event": 4, "value": "/-5/7"}})",
              0,
              {"  04a1b2c3d4  Transpose 3\n  c           NoteToggle /-5/7\n  2 tag(s)\n"
               "  loads cleanly"});
        check(
            "rfid_map.json",
            R"({"ABCDEFGHIJ1": {"event": 2, "value": 3}, "abcdefghij2": {"event": 10, "value": 5}})",
            1, {"  abcdefghij  PrimeToggle 5", R"("ABCDEFGHIJ1" is replaced by "abcdefghij2")"});
        check("wand.txt --kind rfid", "{\"t\": ", 1, {"wand.txt (RFID map)", "  1 problem(s)"});
        check("options.json lattice.json", "{}", 1, // the worst file sets the status
              {"options.json (options)", "  loads cleanly", "lattice.json (lattice)",
               "  1 problem(s)"});
        check("options.json", R"({"udpPort": 9000.7})", 0,
              {"  udpPort = 9000\n", "  baseFrequency = 440 (default)", "  loads cleanly"});
        check("options.json", R"({"udpPort": "9000", "volume": 1})", 1,
              {"  udpPort = 8888 (default)",
               R"(skipped: "udpPort" is a string, not a number; the default 8888 stays)",
               R"(skipped: "volume" is not an option; it is ignored)"});
        check("lattice.json",
              R"({"colors": [{"prime": 3, "color": "red"}],
                  "root": {"children": {"3": {}, "-3": {"links": {"2": "/3"}}}}})",
              0, {"  3 ball(s), 1 colour(s)", "  loads cleanly"});
        // A record of the reader is a problem: the duplicate key, the child that is no step.
        check("lattice.json", R"({"root": {"children": {"3": {"children": {"4": {}}}, "+3": {}}}})",
              1, {"  2 ball(s), 0 colour(s)", "both name step 3", "  2 problem(s)"});
    }

    // The arguments after "note" | the line printed. Transposed, the ratio is
    // the path's own.
    void notePrintsLine()
    {
        for (const QString text :
             {"/3|E5 +2 3/2 660.000 Hz", "/3 --transpose /3|B5 +4 3/2 990.000 Hz",
              "/17/17/17/17|C#5 +20 83521/65536 560.749 Hz enh",
              "--base 20 / --calibration 349|G0 +50 1/1 20.000 Hz",
              "/ --base 20000 --calibration 499|C#10 -10 1/1 20000.000 Hz",
              "/3 --notation letters|E5 +2 3/2 660.000 Hz",
              "/-13 --notation heji|C4 13^ +0 8/13 270.769 Hz",
              "/5/7 --notation heji --transpose /-3|E5 5v 7v +0 35/16 641.667 Hz"}) {
            const ToolRun result = run(QStringList{"note"} + text.section('|', 0, 0).split(' '));
            QCOMPARE(result.err, QString());
            QCOMPARE(result.exitCode, 0);
            QCOMPARE(result.out, text.section('|', 1) + '\n');
        }
        const ToolRun json =
            run({"note", "--json", "/17/17/17", "--base", "440", "--transpose", "/2/-2"});
        QCOMPARE(json.exitCode, 0);
        QJsonObject note = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QVERIFY(qAbs(note.take("frequency").toDouble() - 527.7637) < 0.001);
        QVERIFY(qAbs(note.take("cents").toDouble() - 14.866) < 0.01);
        QCOMPARE(note, QJsonDocument::fromJson(R"({"path": "/17/17/17", "ratio": "4913/4096",
            "letter": "D", "accidental": -2, "octave": 5, "name": "Dbb5", "respelled": false})")
                           .object());

        // The Helmholtz-Ellis spelling comes beside the letters one.
        const ToolRun heji = run({"note", "/5/5/7", "--notation", "heji", "--json"});
        QJsonObject spelled =
            QJsonDocument::fromJson(heji.out.toUtf8()).object().value("heji").toObject();
        QVERIFY(qAbs(spelled.take("cents").toDouble()) < 0.001);
        QCOMPARE(spelled, QJsonDocument::fromJson(R"({"letter": "D", "accidental": 1, "octave": 6,
            "primes": {"5": -2, "7": -1}, "respelled": false})")
                              .object());
    }

    // A run of any length; the way home is written as steps even when a
    // path cannot hold them. Each JSON case: steps|object|cents.
    void driftNamesTheCommaAndTheWayHome()
    {
        const ToolRun pump = run({"drift", "/3/3/3/3/-5/-2/-2"});
        QCOMPARE(pump.err, QString());
        QCOMPARE(pump.exitCode, 0);
        QCOMPARE(pump.out, "monzo [-4 4 -1>\ncents +21.506\ncomma syntonic comma 81/80\n"
                           "home /5/-3/2/-3/-3/2/-3 (7 steps, more than the 6 a path holds)\n");
        for (const QString text :
             {R"(/3|{"monzo": {"2": -1, "3": 1}, "comma": null, "home": "/-3"}|-498.045)",
              R"(/5/5/-7/-7|{"monzo": {"5": 2, "7": -2}, "comma": "unnamed",
                 "home": "/7/-5/7/-5"}|34.976)"}) {
            const ToolRun json = run({"drift", "--json", text.section('|', 0, 0)});
            QCOMPARE(json.exitCode, 0);
            QJsonObject drift = QJsonDocument::fromJson(json.out.toUtf8()).object();
            QVERIFY(qAbs(drift.take("cents").toDouble() - text.section('|', 2).toDouble()) < 0.001);
            QCOMPARE(drift, QJsonDocument::fromJson(text.section('|', 1, 1).toUtf8()).object());
        }
    }

    // Each case: the arguments after "wand" (%1 a free port; without one,
    // 8888), the tag, the wand byte and how it is printed, read as signed.
    // The wand's layout: tag character i at 27 + 4i, the wand at byte 23.
    void wandSendsDatagram()
    {
        const std::tuple<QString, QByteArray, char, const char*> cases[] = {
            {"04A1B2C3D4 --port %1", "04A1B2C3D4", 0, "0"},
            {"abc --wand 200 --host 127.0.0.1 --port %1", "abc", char(200), "-56"},
            {"caf\u00e9 --port %1", "caf\xe9", 0, "0"},
            {"end", "end", 0, "0"}};
        for (const auto& [arguments, tag, wand, printed] : cases) {
            QUdpSocket listener;
            if (!listener.bind(QHostAddress::LocalHost, arguments.contains("%1") ? 0 : 8888))
                continue; // port 8888 is in use on this machine
            const QString port = QString::number(listener.localPort());
            const ToolRun result =
                run(("wand " + QString(arguments).replace("%1", port)).split(' '));
            QCOMPARE(result.err, QString());
            QCOMPARE(result.exitCode, 0);
            QCOMPARE(result.out, "sent tag \"" + QString::fromLatin1(tag) + "\" from wand " +
                                     printed + " to 127.0.0.1 port " + port + '\n');
            QByteArray expected(72, '\0');
            expected[23] = wand;
            for (int i = 0; i < tag.size(); ++i)
                expected[27 + 4 * i] = tag[i];
            QVERIFY(listener.hasPendingDatagrams() || listener.waitForReadyRead(5000));
            QByteArray datagram(int(listener.pendingDatagramSize()), '\0');
            listener.readDatagram(datagram.data(), datagram.size());
            QCOMPARE(datagram, expected);
            QVERIFY(!listener.hasPendingDatagrams());
        }
    }

    // One line on standard error, naming what is wrong (the last argument, or
    // what follows '|'), and nothing done. The cases are separated by ';'.
    void rejectsBadUsage()
    {
        const QString cases =
            "tune;check;check map.txt;check map.txt --kind wand;check rfid_map.json --strict;"
            "note;note /-2147483648;note /3/3/3/3/3/3/3;note /3 --transpose /3/x;"
            "note /3 --colour;note /3 --base;note /3 --base nan;note /3 --base 19.99;"
            "note /3 --notation neumes;"
            "note /3 --calibration 348;note /3 --calibration 440.5;wand;wand 04A1B2C3D4E;"
            "wand \u20ac;wand a --wand 256;wand a --port 0;wand a --repeat 3|--repeat;"
            "drift;drift /3/4;drift /3 /5;drift / --base";
        for (const QString& text : cases.split(';')) {
            const QStringList arguments = text.section('|', 0, 0).split(' ');
            const QString named = text.contains('|') ? text.section('|', 1) : arguments.last();
            const ToolRun result = run(arguments);
            QVERIFY2(result.exitCode == 2 && result.out.isEmpty() && result.err.count('\n') == 1 &&
                         result.err.startsWith("lattice-tool: ") && result.err.contains(named),
                     qPrintable(text + ": " + QString::number(result.exitCode) + ' ' + result.err));
        }
    }
};

QTEST_GUILESS_MAIN(LatticeToolTest)
#include "LatticeToolTest.moc"
