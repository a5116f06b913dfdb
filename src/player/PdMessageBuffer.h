#pragma once

#include "LatticePath.h"
#include "RecordRateLimit.h"

#include <array>
#include <cstdint>

class LatticeEvent;
struct ring_buffer;

// A lock-free command buffer between one producer thread and the audio
// thread, over libpd's single-producer/single-consumer ring buffer. Events
// travel as fixed 16-byte chunks so that the audio thread never allocates
// to receive them; a full buffer drops the event with a warning and never
// makes the producer wait.
//
// Threads: create() and release() on the owner's thread while no audio
// runs; writeEvent()/writeChunk() on the one producer thread of this
// buffer; readChunks() on the audio thread only.
class PdMessageBuffer
{
public:
    // The image of one event as it travels through the ring, read and
    // written as raw bytes.
    struct Chunk
    {
        std::int32_t type;
        // A note event's path; for every other event an empty path (first
        // byte 0).
        LatticePath::Bytes path;
        // OpenPatch and ClosePatch: 1 marks the player's own requests of the
        // patch handshake, whose value is then the request's ticket.
        // NoteOn and NoteOff: 1 + the key (0..127) of a keyboard that holds
        // the note, so that its release stops what it started whatever the
        // transposition has become. 0 for everything else.
        std::uint8_t tag;
        float value;
    };
    static_assert(sizeof(Chunk) == 16, "chunks travel as 16-byte records");

    // Bytes of ring per buffer. libpd keeps one byte free, so at most 1023
    // chunks wait at a time.
    static constexpr int capacityBytes = 16384;
    static constexpr int maxChunks = capacityBytes / int(sizeof(Chunk));

    // What one drain of a buffer yields. The pointers point into a single
    // static read area shared by all buffers, valid until the next
    // readChunks() call of any buffer.
    struct ChunkList
    {
        std::array<const Chunk*, maxChunks> chunks{};
        int count = 0;
    };

    PdMessageBuffer() = default;
    PdMessageBuffer(const PdMessageBuffer&) = delete;
    PdMessageBuffer& operator=(const PdMessageBuffer&) = delete;
    ~PdMessageBuffer();

    // `bytes`, a multiple of 256, is the ring's size: capacityBytes, or more
    // for a buffer that must take a flood and hand it out over several
    // blocks.
    bool create(int bytes = capacityBytes);
    void release();
    bool isCreated() const { return ring_ != nullptr; }

    // Copies the event; the caller keeps it. Producer thread only.
    // Both return whether the event went in.
    bool writeEvent(const LatticeEvent* event);
    // Logs "Command buffer full" and drops the chunk when fewer than 16
    // bytes are free; while a flood lasts, at most once a second, with the
    // count of the events dropped meanwhile. Producer thread only.
    bool writeChunk(const Chunk* chunk);

    // Takes every waiting chunk with one read and appends one pointer per
    // chunk to an empty list. Audio thread only.
    void readChunks(ChunkList& list);

    // Bytes waiting to be read; any thread, for diagnostics and tests.
    int bytesWaiting() const;

private:
    ring_buffer* ring_ = nullptr;
    RecordRateLimit fullRecords_;
};
