// rfid_map.json as the wand's listener reads it, from an in-memory document.

#include "FuzzSupport.h"
#include "RfidMap.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    initFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<QJsonObject> json = parseDocument(data, size);
    if (!json)
        return 0;
    RfidMap map;
    map.read(*json);
    checkRfidMap(map);
    return 0;
}
