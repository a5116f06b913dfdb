// The OSC address space, fed packets that liblo's client API made.
#include "OscAddressSpace.h"
#include "OscPackets.h"

#include <QtTest>

using namespace OscPackets;

namespace {

// Each command as "kind value path" (events) or "kind text port".
QStringList commandsOf(const QByteArray& packet, int* refused = nullptr, QString* why = nullptr)
{
    QStringList commands;
    const int count = OscAddressSpace::dispatch(
        packet.constData(), std::size_t(packet.size()),
        [&](const OscCommand& command) {
            if (command.kind == OscCommand::Event)
                commands << QStringLiteral("%1 %2%3")
                                .arg(command.event.type())
                                .arg(double(command.event.value()))
                                .arg(command.path ? ' ' + command.path->toString() : QString());
            else
                commands << QStringLiteral("k%1 %2 %3")
                                .arg(int(command.kind))
                                .arg(command.text)
                                .arg(command.port);
        },
        why);
    if (refused)
        *refused = count;
    return commands;
}

} // namespace

class OscAddressSpaceTest : public QObject
{
    Q_OBJECT

private slots:
    void readsEachAddress_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("command");
        const auto path = [](const char* text) {
            return [text](lo_message m) { lo_message_add_string(m, text); };
        };
        QTest::newRow("toggle") << message("/lattice/note/toggle", path("/3/-5")) << "0 1 /3/-5";
        QTest::newRow("on, velocity") << message("/lattice/note/on", [](lo_message m) {
            lo_message_add_string(m, "/5");
            lo_message_add_float(m, 0.5f);
        }) << "21 0.5 /5";
        QTest::newRow("on") << message("/lattice/note/on", path("/")) << "21 1 /";
        QTest::newRow("off") << message("/lattice/note/off", path("/7")) << "22 1 /7";
        QTest::newRow("stop") << message("/lattice/stop") << "1 0";
        QTest::newRow("transpose down")
            << message("/lattice/transpose", [](lo_message m) { lo_message_add_int32(m, -5); })
            << "2 -5";
        QTest::newRow("transpose home, float")
            << message("/lattice/transpose", [](lo_message m) { lo_message_add_float(m, 0.0f); })
            << "2 0";
        QTest::newRow("prime") << message("/lattice/prime", [](lo_message m) {
            lo_message_add_double(m, 11.0);
        }) << "10 11";
        QTest::newRow("volume") << message("/lattice/volume", [](lo_message m) {
            lo_message_add_float(m, 0.25f);
        }) << "6 0.25";
        QTest::newRow("volume step")
            << message("/lattice/volume/step", [](lo_message m) { lo_message_add_float(m, -0.1f); })
            << "5 -0.1";
        QTest::newRow("voice volume")
            << message("/lattice/voice-volume", [](lo_message m) { lo_message_add_int32(m, 1); })
            << "4 1";
        QTest::newRow("base") << message("/lattice/base", [](lo_message m) {
            lo_message_add_float(m, 432.0f);
        }) << "9 432";
        QTest::newRow("macro 8") << message("/lattice/macro", [](lo_message m) {
            lo_message_add_int32(m, 8);
            lo_message_add_float(m, 0.75f);
        }) << "18 0.75";
        QTest::newRow("patch step")
            << message("/lattice/patch", [](lo_message m) { lo_message_add_int32(m, -1); })
            << "8 -1";
        QTest::newRow("patch name") << message("/lattice/patch", path("Organ")) << "k1 Organ 0";
        QTest::newRow("mono, true")
            << message("/lattice/mono", [](lo_message m) { lo_message_add_true(m); }) << "7 1";
        QTest::newRow("record") << message("/lattice/record", [](lo_message m) {
            lo_message_add_false(m);
        }) << "k5  0";
        QTest::newRow("tag") << message("/lattice/tag", path("04A1B2")) << "k2 04A1B2 0";
        QTest::newRow("subscribe")
            << message("/lattice/subscribe", [](lo_message m) { lo_message_add_int32(m, 9001); })
            << "k3  9001";
        QTest::newRow("unsubscribe, host") << message("/lattice/unsubscribe", [](lo_message m) {
            lo_message_add_string(m, "10.0.0.2");
            lo_message_add_int32(m, 9001);
        }) << "k4 10.0.0.2 9001";
    }
    void readsEachAddress()
    {
        QFETCH(QByteArray, packet);
        QFETCH(QString, command);
        int refused = -1;
        QCOMPARE(commandsOf(packet, &refused), QStringList{command});
        QCOMPARE(refused, 0);
    }

    // Wrong types, counts and ranges are refused with a reason, never half taken.
    void refusesWhatDoesNotFit_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("reason");
        const auto number = [](float value) {
            return [value](lo_message m) { lo_message_add_float(m, value); };
        };
        QTest::newRow("path as number")
            << message("/lattice/note/on", number(3)) << "expects s:path";
        QTest::newRow("not a path")
            << message("/lattice/note/toggle", [](lo_message m) { lo_message_add_string(m, "/4"); })
            << "not a lattice path";
        QTest::newRow("loud velocity") << message("/lattice/note/on", [](lo_message m) {
            lo_message_add_string(m, "/3");
            lo_message_add_int32(m, 100);
        }) << "velocity";
        QTest::newRow("extra argument") << message("/lattice/note/off", [](lo_message m) {
            lo_message_add_string(m, "/3");
            lo_message_add_int32(m, 1);
        }) << "expects s:path";
        QTest::newRow("half a prime") << message("/lattice/transpose", number(3.5f)) << "prime";
        QTest::newRow("not a prime") << message("/lattice/prime", number(9)) << "prime";
        QTest::newRow("prime down") << message("/lattice/prime", number(-3)) << "prime";
        QTest::newRow("NaN volume") << message("/lattice/volume", number(std::nanf(""))) << "range";
        QTest::newRow("volume too loud") << message("/lattice/volume", number(1.5f)) << "range";
        QTest::newRow("base too low") << message("/lattice/base", number(5)) << "range";
        QTest::newRow("macro 9") << message("/lattice/macro", [](lo_message m) {
            lo_message_add_int32(m, 9);
            lo_message_add_float(m, 0.5f);
        }) << "macro 1..8";
        QTest::newRow("patch by 2") << message("/lattice/patch", number(2)) << "step";
        QTest::newRow("stop with argument")
            << message("/lattice/stop", number(1)) << "no arguments";
        QTest::newRow("port 0") << message("/lattice/subscribe", number(0)) << "port";
        QTest::newRow("elsewhere") << message("/mixer/volume", number(1)) << "no such address";
        QTest::newRow("near miss") << message("/lattice/notes/on", number(1)) << "no such address";
        QTest::newRow("garbage") << QByteArray("/lattice/stop\0\0\0x", 17) << "multiple of 4";
        QTest::newRow("no type tags")
            << QByteArray("/lattice/stop\0\0\0abcd", 20) << "not an OSC message";
        QTest::newRow("cut bundle")
            << bundle({message("/lattice/stop")}).chopped(4) << "wrong size";
    }
    void refusesWhatDoesNotFit()
    {
        QFETCH(QByteArray, packet);
        QFETCH(QString, reason);
        int refused = 0;
        QString why;
        QVERIFY(commandsOf(packet, &refused, &why).isEmpty());
        QCOMPARE(refused, 1);
        QVERIFY2(why.contains(reason), qPrintable(why));
    }

    // A bundle's messages run at once and in order, those of bundles within it too; its
    // refused messages do not stop the rest. Nesting has a limit.
    void runsBundlesInOrder()
    {
        const auto volume = [](float v) {
            return message("/lattice/volume", [v](lo_message m) { lo_message_add_float(m, v); });
        };
        int refused = -1;
        QCOMPARE(commandsOf(bundle({volume(0.1f), bundle({volume(0.2f), volume(7)}), volume(0.3f)}),
                            &refused),
                 (QStringList{"6 0.1", "6 0.2", "6 0.3"}));
        QCOMPARE(refused, 1);
        QCOMPARE(commandsOf(bundle({})), QStringList());

        QByteArray nested = volume(0.5f);
        for (int depth = 0; depth < OscAddressSpace::maxBundleDepth; ++depth)
            nested = bundle({nested});
        QCOMPARE(commandsOf(nested), QStringList{"6 0.5"});
        QString why;
        QVERIFY(commandsOf(bundle({nested}), &refused, &why).isEmpty());
        QVERIFY(why.contains("too deep"));
    }
};

QTEST_GUILESS_MAIN(OscAddressSpaceTest)
#include "OscAddressSpaceTest.moc"
