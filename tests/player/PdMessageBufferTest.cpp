#include "PdMessageBuffer.h"
#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"
#include "LogCapture.h"

#include <QtTest>
#include <cstddef>

class PdMessageBufferTest : public QObject
{
    Q_OBJECT

private slots:
    void chunksCarryTheirEvents();
    void fullBufferWarnsAndStaysUnchanged();
};

using Chunk = PdMessageBuffer::Chunk;

void PdMessageBufferTest::chunksCarryTheirEvents()
{
    PdMessageBuffer buffer;
    QVERIFY(buffer.create());
    const LatticeNoteEvent note(QStringLiteral("/3/-5/23"));
    const LatticeEvent transpose(LatticeEvent::Transpose, -2.5f);
    buffer.writeEvent(&note);
    buffer.writeEvent(&transpose);
    PdMessageBuffer::ChunkList list;
    buffer.readChunks(list);
    QCOMPARE(list.count, 2);
    QCOMPARE(list.chunks[0]->type, std::int32_t(LatticeEvent::NoteToggle));
    QCOMPARE(LatticePath::fromBytes(list.chunks[0]->path), note.path());
    QCOMPARE(list.chunks[1]->type, std::int32_t(LatticeEvent::Transpose));
    QCOMPARE(list.chunks[1]->value, -2.5f);
    QCOMPARE(list.chunks[1]->path[0], std::uint8_t(0));
    QCOMPARE(list.chunks[1]->handshake, std::uint8_t(0));
}

void PdMessageBufferTest::fullBufferWarnsAndStaysUnchanged()
{
    PdMessageBuffer buffer;
    QVERIFY(buffer.create());
    // The second round wraps around the end of the ring.
    for (int round = 0; round < 2; ++round) {
        LogCapture log;
        int written = 0;
        for (; buffer.bytesWaiting() + int(sizeof(Chunk)) < PdMessageBuffer::capacityBytes;
             ++written) {
            const LatticeEvent event(written % 21, float(written));
            buffer.writeEvent(&event);
        }
        QCOMPARE(log.count(QtWarningMsg, "Command buffer full"), 0);
        const int before = buffer.bytesWaiting();
        // A flood writes one record, not one per lost event; the second
        // round follows within the second and writes none.
        const LatticeNoteEvent overflow(QStringLiteral("/3"));
        for (int i = 0; i < 1000; ++i)
            buffer.writeEvent(&overflow);
        QCOMPARE(log.count(QtWarningMsg, "Command buffer full"), round == 0 ? 1 : 0);
        QCOMPARE(buffer.bytesWaiting(), before);

        PdMessageBuffer::ChunkList list;
        buffer.readChunks(list);
        QCOMPARE(list.count, written);
        for (int i = 0; i < written; ++i) {
            QCOMPARE(list.chunks[std::size_t(i)]->type, i % 21);
            QCOMPARE(list.chunks[std::size_t(i)]->value, float(i));
        }
        QCOMPARE(buffer.bytesWaiting(), 0);
    }
}

QTEST_GUILESS_MAIN(PdMessageBufferTest)
#include "PdMessageBufferTest.moc"
