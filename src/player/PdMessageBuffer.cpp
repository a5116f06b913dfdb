#include "PdMessageBuffer.h"

#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"

#include <QDebug>
// libpd's ring buffer header has no C++ guard of its own.
extern "C" {
#include <z_ringbuffer.h>
}

namespace {

// Where the audio thread reads every buffer's backlog. Static so that
// draining never allocates; one area is enough because each drained buffer
// is executed before the next one is read.
PdMessageBuffer::Chunk readArea[PdMessageBuffer::maxChunks];

} // namespace

PdMessageBuffer::~PdMessageBuffer()
{
    release();
}

bool PdMessageBuffer::create(int bytes)
{
    if (!ring_)
        ring_ = rb_create(bytes);
    return ring_ != nullptr;
}

void PdMessageBuffer::release()
{
    if (ring_) {
        rb_free(ring_);
        ring_ = nullptr;
    }
}

bool PdMessageBuffer::writeEvent(const LatticeEvent* event)
{
    Chunk chunk{};
    chunk.type = event->type();
    chunk.value = event->value();
    if (auto noteEvent = dynamic_cast<const LatticeNoteEvent*>(event))
        chunk.path = noteEvent->path().bytes();
    return writeChunk(&chunk);
}

bool PdMessageBuffer::writeChunk(const Chunk* chunk)
{
    if (!ring_ || rb_available_to_write(ring_) < int(sizeof(Chunk))) {
        QString held;
        if (fullRecords_.admit(held))
            qWarning().noquote() << QStringLiteral("Command buffer full") + held;
        return false;
    }
    rb_write_to_buffer(ring_, 1, reinterpret_cast<const char*>(chunk), int(sizeof(Chunk)));
    return true;
}

void PdMessageBuffer::readChunks(ChunkList& list)
{
    Q_ASSERT(list.count == 0);
    if (!ring_)
        return;
    int bytes = rb_available_to_read(ring_);
    if (bytes <= 0)
        return;
    // Writers only ever add whole chunks, so the backlog is a whole number
    // of them. A larger buffer gives up its backlog a static area's worth
    // per read.
    if (bytes > capacityBytes)
        bytes = capacityBytes;
    rb_read_from_buffer(ring_, reinterpret_cast<char*>(readArea), bytes);
    const int chunkCount = (bytes + int(sizeof(Chunk)) - 1) / int(sizeof(Chunk));
    for (int i = 0; i < chunkCount; ++i)
        list.chunks[std::size_t(list.count++)] = &readArea[i];
}

int PdMessageBuffer::bytesWaiting() const
{
    return ring_ ? rb_available_to_read(ring_) : 0;
}
