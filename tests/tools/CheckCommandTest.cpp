#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Runs the built lattice-tool check on files made here and reads what it
// prints and how it exits.
class CheckCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void reportsFile_data();
    void reportsFile();
    void exitsWithTheWorstFile();
    void rejectsBadUsage_data();
    void rejectsBadUsage();

private:
    struct Run
    {
        int exitCode;
        QStringList out;
        QString err;
    };
    Run run(const QStringList& arguments) const;
    QString writeFile(const QString& name, const QByteArray& text) const;

    std::unique_ptr<QTemporaryDir> folder;
};

void CheckCommandTest::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
}

CheckCommandTest::Run CheckCommandTest::run(const QStringList& arguments) const
{
    QProcess process;
    process.setWorkingDirectory(folder->path());
    process.start(QStringLiteral(LATTICE_TOOL_PATH), QStringList{"check"} + arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, {}, QStringLiteral("did not finish normally")};
    return {process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
            QString::fromUtf8(process.readAllStandardError())};
}

QString CheckCommandTest::writeFile(const QString& name, const QByteArray& text) const
{
    QFile file(folder->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    return name;
}

void CheckCommandTest::reportsFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("clean map") << "rfid_map.json"
                               << QByteArray(R"({"04A1B2C3D4E5": {"event": 2, "value": 3},
                                                 "c": {"event": 4, "value": "/-5/7"}})")
                               << QStringList() << 0
                               << QStringList{"  04a1b2c3d4  Transpose 3",
                                              "  c           NoteToggle /-5/7", "  2 tag(s)",
                                              "  loads cleanly"};
    QTest::newRow("map with an invalid path")
        << "rfid_map.json" << QByteArray(R"({"t": {"event": 0, "value": "/4"}})") << QStringList()
        << 1
        << QStringList{"  0 tag(s)", "  skipped: RFID t was assigned invalid path /4. Ignoring."};
    QTest::newRow("map with names that cut to one tag")
        << "rfid_map.json" << QByteArray(R"({"ABCDEFGHIJ1": {"event": 2, "value": 3},
                          "abcdefghij2": {"event": 10, "value": 5}})")
        << QStringList() << 1
        << QStringList{
               "  abcdefghij  PrimeToggle 5",
               R"(  skipped: "ABCDEFGHIJ1" is replaced by "abcdefghij2", which gives the same tag abcdefghij)"};
    QTest::newRow("map value that is neither number nor path")
        << "rfid_map.json" << QByteArray(R"({"s": {"event": 2, "value": "3"}})") << QStringList()
        << 1
        << QStringList{
               "  s           Transpose 0",
               R"(  warning: "s": "value" is a string, neither a number nor a path starting with /; value 0 is used)"};
    QTest::newRow("map kind the player ignores")
        << "rfid_map.json" << QByteArray(R"({"k": {"event": 25, "value": 1}})") << QStringList()
        << 1
        << QStringList{"  k           kind 25, value 1",
                       "  warning: tag k has event kind 25, which the player ignores"};
    QTest::newRow("map not JSON by --kind")
        << "wand.txt" << QByteArray("{\"t\": ") << QStringList{"--kind", "rfid"} << 1
        << QStringList{"wand.txt (RFID map)", "  1 problem(s)"};

    QTest::newRow("options in part")
        << "options.json" << QByteArray(R"({"udpPort": 9000.7})") << QStringList() << 0
        << QStringList{"  udpPort = 9000", "  baseFrequency = 440 (default)", "  loads cleanly"};
    QTest::newRow("option of the wrong type")
        << "options.json" << QByteArray(R"({"udpPort": "9000"})") << QStringList() << 1
        << QStringList{"  udpPort = 8888 (default)",
                       R"(  skipped: "udpPort" is a string, not a number; the default 8888 stays)"};
    QTest::newRow("unknown option")
        << "options.json" << QByteArray(R"({"volume": 1})") << QStringList() << 1
        << QStringList{R"(  skipped: "volume" is not an option; it is ignored)"};
    QTest::newRow("window size of one number")
        << "options.json" << QByteArray(R"({"windowSize": "800"})") << QStringList() << 1
        << QStringList{
               R"(  windowSize = "-1,-1" (default))",
               R"(  skipped: "windowSize" needs two numbers separated by a comma; the default "-1,-1" stays)"};
    QTest::newRow("options as an array")
        << "options.json" << QByteArray("[1]") << QStringList() << 1
        << QStringList{"  skipped: the top level is an array, not an object; it reads as empty"};

    QTest::newRow("clean lattice")
        << "lattice.json"
        << QByteArray(
               R"({"colors": [{"prime": 1, "color": "#202020"}, {"prime": 3, "color": "red"}],
                          "root": {"children": {"3": {}, "-3": {"links": {"2": "/3"}}}}})")
        << QStringList() << 0 << QStringList{"  3 ball(s), 2 colour(s)", "  loads cleanly"};
    QTest::newRow("lattice with a child that is not a step")
        << "lattice.json" << QByteArray(R"({"root": {"children": {"3": {"children": {"4": {}}}}}})")
        << QStringList() << 1 << QStringList{"  2 ball(s), 0 colour(s)", "  1 problem(s)"};
}

void CheckCommandTest::reportsFile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, text);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);

    QVERIFY(!writeFile(name, text).isEmpty());
    const Run result = run(QStringList{name} + options);
    QCOMPARE(result.err, QString());
    QCOMPARE(result.exitCode, exitCode);
    for (const QString& line : lines)
        QVERIFY2(result.out.contains(line),
                 qPrintable(line + " not in:\n" + result.out.join('\n')));
}

void CheckCommandTest::exitsWithTheWorstFile()
{
    const QString clean = writeFile(QStringLiteral("options.json"), "{}");
    const QString broken = writeFile(QStringLiteral("rfid_map.json"), "{");
    const Run result = run({clean, broken, QStringLiteral("lattice.json")});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.contains(QStringLiteral("options.json (options)")));
    QVERIFY(result.out.contains(QStringLiteral("rfid_map.json (RFID map)")));
    QVERIFY(result.out.contains(QStringLiteral("lattice.json (lattice)")));
    QCOMPARE(result.out.count(QStringLiteral("  loads cleanly")), 1);
    QCOMPARE(result.out.count(QStringLiteral("  1 problem(s)")), 2);
}

void CheckCommandTest::rejectsBadUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no file") << QStringList();
    QTest::newRow("name tells nothing") << QStringList{"map.txt"};
    QTest::newRow("unknown kind") << QStringList{"map.txt", "--kind", "wand"};
    QTest::newRow("kind without value") << QStringList{"rfid_map.json", "--kind"};
    QTest::newRow("unknown option") << QStringList{"rfid_map.json", "--strict"};
}

void CheckCommandTest::rejectsBadUsage()
{
    QFETCH(QStringList, arguments);
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QVERIFY(result.err.startsWith(QStringLiteral("lattice-tool: ")));
    QCOMPARE(result.err.count('\n'), 1);
}

QTEST_GUILESS_MAIN(CheckCommandTest)
#include "CheckCommandTest.moc"
