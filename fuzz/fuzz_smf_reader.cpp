#include "tests/support/smf_builder.h"

#include <cstdint>
#include <cstdlib>

// Any bytes either fail to read or give a song that holds every property of songFault.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (!SmfBuilder::songFault(std::span(data, size)).isEmpty())
        std::abort();
    return 0;
}
