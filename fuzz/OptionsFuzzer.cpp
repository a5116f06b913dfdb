// options.json as the settings read it, from an in-memory document.

#include "FuzzSupport.h"
#include "Settings.h"

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
    Settings settings;
    settings.read(*json);
    checkSettings(settings);
    return 0;
}
