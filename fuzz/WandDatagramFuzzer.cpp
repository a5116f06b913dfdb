// The wand's datagram as the UDP listener handles it: parsed from its bytes,
// then looked up in a small fixed RFID map.

#include "FuzzSupport.h"
#include "LatticeEvent.h"
#include "RfidMap.h"
#include "UdpListener.h"

namespace {

// Upper-case, accented and full-length tags, so that the lookup's case
// folding is exercised on more than plain ASCII.
const char fixedMap[] = R"({
  "0123456789": {"event": 0, "value": "/3"},
  "ABCDEFGHIJ": {"event": 0, "value": "/-2/5"},
  "tag": {"event": 2, "value": 3},
  "\u00c9t\u00c9": {"event": 1, "value": 0},
  "\u00ff\u00b5\u00df": {"event": 5, "value": -0.5}
})";

const RfidMap& map()
{
    static RfidMap* map = [] {
        auto* read = new RfidMap;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(fixedMap);
        read->read(parseDocument(bytes, sizeof fixedMap - 1).value());
        FUZZ_CHECK(read->tags().size() == 5, "the fixed map reads whole");
        return read;
    }();
    return *map;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    initFuzzing();
    map();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto reading = UdpListener::parseDatagram(reinterpret_cast<const char*>(data),
                                                    static_cast<qint64>(size));
    FUZZ_CHECK(reading.has_value() == (size == UdpListener::datagramSize),
               "a datagram is read exactly when it has the wand's size");
    if (!reading)
        return 0;
    FUZZ_CHECK(reading->wandId == static_cast<std::int8_t>(data[23]),
               "the wand id is byte 23, signed");
    const QString& tag = reading->tag;
    FUZZ_CHECK(tag.size() <= RfidMap::keyLength, "a tag holds at most ten characters");
    for (const QChar c : tag)
        FUZZ_CHECK(c.unicode() != 0 && c.unicode() <= 0xff, "a tag is non-zero Latin-1");
    const LatticeEvent* event = map().lookup(tag);
    FUZZ_CHECK((event != nullptr) == map().tags().contains(tag.toLower()),
               "a tag finds an event exactly when its lower case is a key");
    return 0;
}
