#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "ToolRun.h"

// Runs the built lattice-tool check on files made here and reads what it
// prints and how it exits.
class CheckCommandTest : public QObject
{
    Q_OBJECT

    struct Run
    {
        int exitCode;
        QStringList out;
        QString err;
    };
    Run run(const QStringList& arguments) const
    {
        const ToolRun tool = runTool(QStringLiteral("check"), arguments, folder->path());
        return {tool.exitCode, tool.out.split('\n', Qt::SkipEmptyParts), tool.err};
    }
    bool writeFile(const QString& name, const QByteArray& text) const
    {
        QFile file(folder->filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }

    std::unique_ptr<QTemporaryDir> folder;

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
    }

    void reportsFile_data()
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
    void reportsFile()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);
        QVERIFY(writeFile(name, text));
        const Run result = run(QStringList{name} + options);
        QCOMPARE(result.err, QString());
        QCOMPARE(result.exitCode, exitCode);
        for (const QString& line : lines)
            QVERIFY2(result.out.contains(line),
                     qPrintable(line + " not in:\n" + result.out.join('\n')));
    }

    void exitsWithTheWorstFile()
    {
        QVERIFY(writeFile("options.json", "{}") && writeFile("rfid_map.json", "{"));
        const Run result = run({"options.json", "rfid_map.json", "lattice.json"}); // no lattice
        QCOMPARE(result.exitCode, 1);
        for (const char* header :
             {"options.json (options)", "rfid_map.json (RFID map)", "lattice.json (lattice)"})
            QVERIFY2(result.out.contains(header), header);
        QCOMPARE(result.out.count(QStringLiteral("  loads cleanly")), 1);
        QCOMPARE(result.out.count(QStringLiteral("  1 problem(s)")), 2);
    }

    void rejectsBadUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no file") << QStringList();
        QTest::newRow("name tells nothing") << QStringList{"map.txt"};
        QTest::newRow("unknown kind") << QStringList{"map.txt", "--kind", "wand"};
        QTest::newRow("unknown option") << QStringList{"rfid_map.json", "--strict"};
    }
    void rejectsBadUsage()
    {
        QFETCH(QStringList, arguments);
        const Run result = run(arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.out.isEmpty());
        QVERIFY(result.err.startsWith(QStringLiteral("lattice-tool: ")));
        QCOMPARE(result.err.count('\n'), 1);
    }
};

QTEST_GUILESS_MAIN(CheckCommandTest)
#include "CheckCommandTest.moc"
