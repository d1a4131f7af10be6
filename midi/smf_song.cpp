#include "midi/smf_song.h"

#include <cstring>

namespace Smf {

void Song::append(
    std::uint64_t tick, std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix)
{
    const std::size_t offset = data.size();
    const std::size_t size = prefix.size() + bytes.size();
    events.push_back(
        { tick, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(size) });
    data.resize(offset + size);
    if (!prefix.empty())
        std::memcpy(data.data() + offset, prefix.data(), prefix.size());
    if (!bytes.empty())
        std::memcpy(data.data() + offset + prefix.size(), bytes.data(), bytes.size());
}

} // namespace Smf
