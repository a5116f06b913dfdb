#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

// Runs the built lattice-tool as a user would, in a folder of the test's own,
// and reads what it prints, how it exits and what it sends.
class LatticeToolTest : public QObject
{
    Q_OBJECT

    struct Run
    {
        int exitCode;
        QString out, err;
        QStringList lines() const { return out.split('\n', Qt::SkipEmptyParts); }
    };
    Run run(const QStringList& arguments) const
    {
        QProcess process;
        process.setWorkingDirectory(folder->path());
        process.start(QStringLiteral(LATTICE_TOOL_PATH), arguments);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
            return {-1, QString(), QStringLiteral("did not finish normally")};
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    bool writeFile(const QString& name, const QByteArray& text) const
    {
        QFile file(folder->filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }

    // The tool has finished sending; a datagram not there within five
    // seconds never came.
    static QByteArray receive(QUdpSocket& socket)
    {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(5000))
            return QByteArray();
        QByteArray datagram(int(socket.pendingDatagramSize()), '\0');
        socket.readDatagram(datagram.data(), datagram.size());
        return datagram;
    }

    // The wand's layout: tag character i at 27 + 4i, the wand at byte 23.
    static QByteArray wandDatagram(const QByteArray& tag, char wand)
    {
        QByteArray datagram(72, '\0');
        datagram[23] = wand;
        for (int i = 0; i < tag.size(); ++i)
            datagram[27 + 4 * i] = tag[i];
        return datagram;
    }

    std::unique_ptr<QTemporaryDir> folder;

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
    }

    void checkReportsFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines");
        auto row = [](const char* title, const char* name, const char* text, int exitCode,
                      const QStringList& lines, const QStringList& options = {}) {
            QTest::newRow(title) << name << QByteArray(text) << options << exitCode << lines;
        };
        row("clean map", "rfid_map.json",
            R"({"04A1B2C3D4E5": {"event": 2, "value": 3}, "c": {"event": 4, "value": "/-5/7"}})", 0,
            {"  04a1b2c3d4  Transpose 3", "  c           NoteToggle /-5/7", "  2 tag(s)",
             "  loads cleanly"});
        row("map with an invalid path", "rfid_map.json", R"({"t": {"event": 0, "value": "/4"}})", 1,
            {"  0 tag(s)", "  skipped: RFID t was assigned invalid path /4. Ignoring."});
        row("map with names that cut to one tag", "rfid_map.json",
            R"({"ABCDEFGHIJ1": {"event": 2, "value": 3}, "abcdefghij2": {"event": 10, "value": 5}})",
            1,
            {"  abcdefghij  PrimeToggle 5",
             R"(  skipped: "ABCDEFGHIJ1" is replaced by "abcdefghij2", which gives the same tag abcdefghij)"});
        row("map not JSON by --kind", "wand.txt", "{\"t\": ", 1,
            {"wand.txt (RFID map)", "  1 problem(s)"}, {"--kind", "rfid"});
        row("options in part", "options.json", R"({"udpPort": 9000.7})", 0,
            {"  udpPort = 9000", "  baseFrequency = 440 (default)", "  loads cleanly"});
        row("option of the wrong type", "options.json", R"({"udpPort": "9000"})", 1,
            {"  udpPort = 8888 (default)",
             R"(  skipped: "udpPort" is a string, not a number; the default 8888 stays)"});
        row("unknown option", "options.json", R"({"volume": 1})", 1,
            {R"(  skipped: "volume" is not an option; it is ignored)"});
        row("clean lattice", "lattice.json",
            R"({"colors": [{"prime": 3, "color": "red"}],
                "root": {"children": {"3": {}, "-3": {"links": {"2": "/3"}}}}})",
            0, {"  3 ball(s), 1 colour(s)", "  loads cleanly"});
        row("lattice with a child that is not a step", "lattice.json",
            R"({"root": {"children": {"3": {"children": {"4": {}}}}}})", 1,
            {"  2 ball(s), 0 colour(s)", "  1 problem(s)"});
    }
    void checkReportsFile()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);
        QVERIFY(writeFile(name, text));
        const Run result = run(QStringList{"check", name} + options);
        QCOMPARE(result.err, QString());
        QCOMPARE(result.exitCode, exitCode);
        for (const QString& line : lines)
            QVERIFY2(result.lines().contains(line), qPrintable(line + " not in:\n" + result.out));
    }

    void checkExitsWithTheWorstFile()
    {
        QVERIFY(writeFile("options.json", "{}") && writeFile("rfid_map.json", "{"));
        const Run result = run({"check", "options.json", "rfid_map.json", "lattice.json"});
        QCOMPARE(result.exitCode, 1); // lattice.json is missing
        const QStringList lines = result.lines();
        for (const char* header :
             {"options.json (options)", "rfid_map.json (RFID map)", "lattice.json (lattice)"})
            QVERIFY2(lines.contains(header), header);
        QCOMPARE(lines.count(QStringLiteral("  loads cleanly")), 1);
        QCOMPARE(lines.count(QStringLiteral("  1 problem(s)")), 2);
    }

    void notePrintsLine_data()
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
    void notePrintsLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, line);
        const Run result = run(QStringList{"note"} + arguments);
        QCOMPARE(result.err, QString());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, line + '\n');
    }

    void notePrintsJson()
    {
        const Run result =
            run({"note", "--json", "/17/17/17", "--base", "440", "--transpose", "/2/-2"});
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

    void wandSendsDatagram_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("line");
        QTest::newRow("ten characters")
            << "04A1B2C3D4" << QStringList() << wandDatagram("04A1B2C3D4", 0)
            << "sent tag \"04A1B2C3D4\" from wand 0 to 127.0.0.1 port %1\n";
        QTest::newRow("wand 200 is byte 200, read as -56")
            << "abc" << QStringList{"--wand", "200", "--host", "127.0.0.1"}
            << wandDatagram("abc", char(200))
            << "sent tag \"abc\" from wand -56 to 127.0.0.1 port %1\n";
        QTest::newRow("Latin-1 character")
            << QString::fromUtf8("caf\u00e9") << QStringList() << wandDatagram("caf\xe9", 0)
            << QString::fromUtf8("sent tag \"caf\u00e9\" from wand 0 to 127.0.0.1 port %1\n");
    }
    void wandSendsDatagram()
    {
        QFETCH(QString, tag);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, datagram);
        QFETCH(QString, line);
        QUdpSocket listener;
        QVERIFY(listener.bind(QHostAddress::LocalHost, 0));
        const QString port = QString::number(listener.localPort());
        const Run result = run(QStringList{"wand", tag, "--port", port} + options);
        QCOMPARE(result.err, QString());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, line.arg(port));
        QCOMPARE(receive(listener), datagram);
        QVERIFY(!listener.hasPendingDatagrams());
    }

    void wandSendsToPort8888ByDefault()
    {
        QUdpSocket listener;
        if (!listener.bind(QHostAddress::LocalHost, 8888))
            QSKIP("port 8888 is in use on this machine");
        QCOMPARE(run({"wand", "end"}).exitCode, 0);
        QCOMPARE(receive(listener), wandDatagram("end", 0));
    }

    // One line on standard error, naming what is wrong, and nothing done.
    void rejectsBadUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mentions");
        auto row = [](const char* name, const QStringList& arguments, const char* mentions = "") {
            QTest::newRow(name) << arguments << QString(mentions);
        };
        row("unknown command", {"tune"}, "tune");
        row("check: no file", {"check"});
        row("check: name tells nothing", {"check", "map.txt"}, "map.txt");
        row("check: unknown kind", {"check", "map.txt", "--kind", "wand"}, "wand");
        row("check: unknown option", {"check", "rfid_map.json", "--strict"}, "--strict");
        row("note: no path", {"note"}, "PATH");
        row("note: invalid path", {"note", "/4"}, "/4");
        row("note: seven steps", {"note", "/3/3/3/3/3/3/3"}, "/3/3/3/3/3/3/3");
        row("note: invalid transposition", {"note", "/3", "--transpose", "/3/x"}, "/3/x");
        row("note: unknown option", {"note", "/3", "--colour"}, "--colour");
        row("note: missing value", {"note", "/3", "--base"}, "--base");
        row("note: base not a number", {"note", "/3", "--base", "nan"}, "nan");
        row("note: base too low", {"note", "/3", "--base", "19.99"}, "19.99");
        row("note: calibration too low", {"note", "/3", "--calibration", "348"}, "348");
        row("note: calibration not whole", {"note", "/3", "--calibration", "440.5"}, "440.5");
        row("wand: no tag", {"wand"});
        row("wand: eleven characters", {"wand", "04A1B2C3D4E"});
        row("wand: character beyond Latin-1", {"wand", QString::fromUtf8("\u20ac")});
        row("wand: wand above a byte", {"wand", "a", "--wand", "256"}, "256");
        row("wand: port 0", {"wand", "a", "--port", "0"});
        row("wand: unknown option", {"wand", "a", "--repeat", "3"}, "--repeat");
    }
    void rejectsBadUsage()
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

QTEST_GUILESS_MAIN(LatticeToolTest)
#include "LatticeToolTest.moc"
