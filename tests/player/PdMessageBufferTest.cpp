#include "PdMessageBuffer.h"
#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"
#include "LogCapture.h"

#include <QtTest>
#include <cstddef>
#include <memory>

class PdMessageBufferTest : public QObject
{
    Q_OBJECT

private slots:
    void chunksCarryKindPathAndValue_data();
    void chunksCarryKindPathAndValue();
    void chunkLayoutIsFixed();
    void fullBufferDropsAndWarns();
    void drainTakesTheWholeBacklogInOrder();
};

using Chunk = PdMessageBuffer::Chunk;

void PdMessageBufferTest::chunksCarryKindPathAndValue_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("path"); // empty: not a note event
    QTest::newRow("note") << 0 << 1.0f << "/3/-5/23";
    QTest::newRow("root note") << 0 << 1.0f << "/";
    QTest::newRow("invalid note") << 0 << 1.0f << "/4";
    QTest::newRow("transpose") << 2 << -2.5f << "";
    QTest::newRow("unknown kind") << 99 << 7.0f << "";
}

void PdMessageBufferTest::chunksCarryKindPathAndValue()
{
    QFETCH(int, type);
    QFETCH(float, value);
    QFETCH(QString, path);
    PdMessageBuffer buffer;
    QVERIFY(buffer.create());
    // The buffer copies: the producer's event is gone before the read.
    LatticePath expectedPath;
    {
        std::unique_ptr<LatticeEvent> event;
        if (path.isEmpty()) {
            event = std::make_unique<LatticeEvent>(type, value);
        } else {
            auto note = std::make_unique<LatticeNoteEvent>(path);
            expectedPath = note->path();
            event = std::move(note);
        }
        buffer.writeEvent(event.get());
    }
    PdMessageBuffer::ChunkList list;
    buffer.readChunks(list);
    QCOMPARE(list.count, 1);
    const Chunk& chunk = *list.chunks[0];
    QCOMPARE(int(chunk.type), type);
    QCOMPARE(chunk.value, value);
    QCOMPARE(chunk.handshake, std::uint8_t(0));
    QCOMPARE(LatticePath::fromBytes(chunk.path), expectedPath);
    QCOMPARE(int(chunk.path[0]), path.isEmpty() ? 0 : int(expectedPath.bytes()[0]));
}

void PdMessageBufferTest::chunkLayoutIsFixed()
{
    // Kind, seven path bytes, one spare byte, value: 16 bytes in all.
    QCOMPARE(offsetof(Chunk, type), std::size_t(0));
    QCOMPARE(offsetof(Chunk, path), std::size_t(4));
    QCOMPARE(offsetof(Chunk, handshake), std::size_t(11));
    QCOMPARE(offsetof(Chunk, value), std::size_t(12));
}

void PdMessageBufferTest::fullBufferDropsAndWarns()
{
    PdMessageBuffer buffer;
    QVERIFY(buffer.create());
    LogCapture log;
    int written = 0;
    while (buffer.bytesWaiting() + int(sizeof(Chunk)) < PdMessageBuffer::capacityBytes) {
        const LatticeEvent event(LatticeEvent::VoiceVolumeSet, float(written++));
        buffer.writeEvent(&event);
    }
    QCOMPARE(log.count(QtWarningMsg, "Command buffer full"), 0);
    const int before = buffer.bytesWaiting();

    const LatticeNoteEvent overflow(QStringLiteral("/3"));
    buffer.writeEvent(&overflow);
    QCOMPARE(log.count(QtWarningMsg, "Command buffer full"), 1);
    QCOMPARE(buffer.bytesWaiting(), before);

    PdMessageBuffer::ChunkList list;
    buffer.readChunks(list);
    QCOMPARE(list.count, written);
    QCOMPARE(list.chunks[std::size_t(list.count - 1)]->value, float(written - 1));
    QCOMPARE(int(list.chunks[std::size_t(list.count - 1)]->type),
             int(LatticeEvent::VoiceVolumeSet));
}

void PdMessageBufferTest::drainTakesTheWholeBacklogInOrder()
{
    PdMessageBuffer buffer;
    QVERIFY(buffer.create());
    PdMessageBuffer::ChunkList list;
    buffer.readChunks(list);
    QCOMPARE(list.count, 0);
    // Several rounds, so that the ring's write position wraps around.
    for (int round = 0; round < 40; ++round) {
        for (int i = 0; i < 100; ++i) {
            const LatticeEvent event(i % 21, float(round * 100 + i));
            buffer.writeEvent(&event);
        }
        buffer.readChunks(list);
        QCOMPARE(list.count, 100);
        for (int i = 0; i < 100; ++i) {
            QCOMPARE(list.chunks[std::size_t(i)]->value, float(round * 100 + i));
            QCOMPARE(int(list.chunks[std::size_t(i)]->type), i % 21);
        }
        list.count = 0;
        QCOMPARE(buffer.bytesWaiting(), 0);
    }
}

QTEST_GUILESS_MAIN(PdMessageBufferTest)
#include "PdMessageBufferTest.moc"
