#pragma once

#include <memory>

#include "store/detail/Storage.h"

namespace pm::detail {

// A storage held in memory: the same entry table, with a data area that has no holes.
class MemoryBackend final : public Storage {
public:
    static std::shared_ptr<MemoryBackend> create();

protected:
    bool readArea(std::uint64_t offset, void* buffer, std::size_t size) override;
    bool writeData(std::uint32_t entry, const void* data, std::size_t size) override;
    void releaseData(std::uint32_t entry) override;
    bool finish() override;

private:
    MemoryBackend();
    // Moves every entry's data that starts at or after `from` by delta bytes.
    void shiftOffsets(std::uint32_t except, std::uint64_t from, std::int64_t delta);
    bool reserve(std::uint64_t used);

    std::vector<unsigned char> m_area;
};

}  // namespace pm::detail
