// An OSC packet as the OSC input reads it: a message or a bundle of them,
// through the address space to the commands it would pass on.

#include "FuzzSupport.h"
#include "OscAddressSpace.h"

#include <cmath>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    initFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    int commands = 0;
    const int refused = OscAddressSpace::dispatch(bytes, size, [&](const OscCommand& command) {
        ++commands;
        const LatticeEvent& event = command.event;
        FUZZ_CHECK(std::isfinite(event.value()), "every value taken is a finite number");
        switch (command.kind) {
        case OscCommand::Event:
            FUZZ_CHECK(event.type() >= LatticeEvent::NoteToggle &&
                           event.type() <= LatticeEvent::NoteOff && event.type() != 19 &&
                           event.type() != 20,
                       "only the player's own kinds, never a patch handshake");
            if (command.path) {
                FUZZ_CHECK(command.path->isValid() && command.path->ratio().has_value(),
                           "a note's path leads to a ratio");
                FUZZ_CHECK(event.value() >= 0.0f && event.value() <= 1.0f,
                           "a velocity is a gain from 0 to 1");
            }
            break;
        case OscCommand::Subscribe:
        case OscCommand::Unsubscribe:
            FUZZ_CHECK(command.port >= 1 && command.port <= 65535, "a subscriber's port is a port");
            break;
        case OscCommand::PatchByName:
            FUZZ_CHECK(!command.text.isEmpty(), "a patch is asked for by a name");
            break;
        case OscCommand::Record:
            FUZZ_CHECK(command.port == 0 || command.port == 1, "a take starts or ends");
            break;
        case OscCommand::Tag:
            break;
        }
    });
    FUZZ_CHECK(refused >= 0, "refusals are counted");
    const bool bundle = size >= 8 && std::memcmp(bytes, "#bundle", 8) == 0;
    FUZZ_CHECK(bundle || commands + refused == 1, "a lone message is taken or refused, once");
    return 0;
}
