#include "store/detail/FolderNode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "store/detail/StoreEntry.h"

namespace pm::detail {

namespace {

constexpr std::uint64_t kHeaderBytes = 12;
constexpr std::uint64_t kRecordBytes = 12;
constexpr std::uint64_t kSlotStep = 8 * kRecordBytes;
constexpr std::int32_t kIdFloor = -268435456;  // ids wrap back to -2 below -2^28
constexpr std::uint64_t kMaxFolderBytes = 0xFFFFFFFFu;

int compareNames(std::string_view a, std::string_view b) {
    // Byte-wise on unsigned bytes, as std::string_view::compare does through char_traits<char>.
    const std::size_t n = std::min(a.size(), b.size());
    const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
    if (c != 0) {
        return c;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace

FolderNode::FolderNode(std::uint32_t entry, std::uint32_t depth)
    : m_entry(entry), m_depth(depth), m_pool(1, '\0') {}

std::optional<std::int32_t> FolderNode::parseId(std::string_view name) {
    if (name.size() < 2 || name.size() > 9 || name[0] != '#') {
        return std::nullopt;
    }
    std::uint32_t v = 0;
    for (std::size_t i = 1; i < name.size(); ++i) {
        const char c = name[i];
        int d = -1;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        }
        if (d < 0) {
            return std::nullopt;
        }
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(v);
}

bool FolderNode::load(const unsigned char* data, std::size_t size, std::string& why) {
    m_records.clear();
    m_ids.clear();
    m_namedCount = 0;
    m_pool.assign(1, '\0');
    m_slotBytes = 0;
    if (size == 0) {
        return true;  // an entry without data reads as an empty folder
    }
    if (size < kHeaderBytes + 1) {
        why = "folder data is too short";
        return false;
    }
    const std::uint64_t n = loadLe32(data);
    const std::uint64_t m = loadLe32(data + 4);
    const std::uint64_t poolStart = loadLe32(data + 8);
    if (m > n) {
        why = "folder has more named children than children";
        return false;
    }
    if (kHeaderBytes + n * kRecordBytes > poolStart || poolStart >= size) {
        why = "folder's child records or name pool lie outside its data";
        return false;
    }
    m_pool.assign(reinterpret_cast<const char*>(data) + poolStart,
                  reinterpret_cast<const char*>(data) + size);
    if (m_pool[0] != '\0') {
        why = "folder's name pool does not start with an empty name";
        return false;
    }
    m_slotBytes = poolStart - kHeaderBytes;
    m_records.reserve(static_cast<std::size_t>(n));
    for (std::uint64_t i = 0; i < n; ++i) {
        const unsigned char* r = data + kHeaderBytes + i * kRecordBytes;
        ChildRecord rec{loadLe32(r), static_cast<std::int32_t>(loadLe32(r + 4)), loadLe32(r + 8)};
        if (i < m) {
            if (rec.nameOffset == 0 || rec.nameOffset >= m_pool.size() ||
                std::memchr(m_pool.data() + rec.nameOffset, '\0', m_pool.size() - rec.nameOffset) ==
                    nullptr) {
                why = "a child's name lies outside the folder's name pool";
                return false;
            }
        } else if (rec.nameOffset != 0) {
            why = "an unnamed child record carries a name";
            return false;
        }
        if (!m_ids.insert(rec.id).second) {
            why = "two children of a folder share one id";
            return false;
        }
        m_records.push_back(rec);
        if (i < m) {
            ++m_namedCount;
            if (i > 0 && compareNames(nameAt(static_cast<std::size_t>(i - 1)),
                                      nameAt(static_cast<std::size_t>(i))) >= 0) {
                why = "a folder's names are not in strictly ascending order";
                return false;
            }
            if (nameAt(static_cast<std::size_t>(i)).empty()) {
                why = "a named child has an empty name";
                return false;
            }
        }
    }
    // Names must not share pool bytes: removing one name moves the bytes of the others.
    std::vector<std::pair<std::uint32_t, std::size_t>> spans;
    for (std::size_t i = 0; i < m_namedCount; ++i) {
        spans.emplace_back(m_records[i].nameOffset, nameAt(i).size() + 1);
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i - 1].first + spans[i - 1].second > spans[i].first) {
            why = "two children's names overlap in the name pool";
            return false;
        }
    }
    return true;
}

std::vector<unsigned char> FolderNode::serialize() const {
    const std::uint64_t poolStart = kHeaderBytes + m_slotBytes;
    std::vector<unsigned char> out(static_cast<std::size_t>(poolStart) + m_pool.size(), 0);
    storeLe32(out.data(), static_cast<std::uint32_t>(m_records.size()));
    storeLe32(out.data() + 4, static_cast<std::uint32_t>(m_namedCount));
    storeLe32(out.data() + 8, static_cast<std::uint32_t>(poolStart));
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        unsigned char* r = out.data() + kHeaderBytes + i * kRecordBytes;
        storeLe32(r, m_records[i].entry);
        storeLe32(r + 4, static_cast<std::uint32_t>(m_records[i].id));
        storeLe32(r + 8, m_records[i].nameOffset);
    }
    std::memcpy(out.data() + poolStart, m_pool.data(), m_pool.size());
    return out;
}

std::string_view FolderNode::nameAt(std::size_t pos) const {
    const std::uint32_t off = m_records[pos].nameOffset;
    if (off == 0) {
        return {};
    }
    return std::string_view(m_pool.data() + off);
}

std::string FolderNode::displayName(std::size_t pos) const {
    if (m_records[pos].nameOffset != 0) {
        return std::string(nameAt(pos));
    }
    char text[12];
    std::snprintf(text, sizeof text, "#%08x", static_cast<std::uint32_t>(m_records[pos].id));
    return text;
}

std::size_t FolderNode::lowerBound(std::string_view name) const {
    std::size_t lo = 0;
    std::size_t hi = m_namedCount;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (compareNames(nameAt(mid), name) < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

std::optional<std::size_t> FolderNode::find(std::string_view name) const {
    if (const auto id = parseId(name)) {
        for (std::size_t i = m_records.size(); i-- > 0;) {
            if (m_records[i].id == *id) {
                return i;
            }
        }
        return std::nullopt;
    }
    if (name.empty()) {
        return std::nullopt;
    }
    const std::size_t pos = lowerBound(name);
    if (pos < m_namedCount && nameAt(pos) == name) {
        return pos;
    }
    return std::nullopt;
}

std::optional<std::int32_t> FolderNode::nextId() {
    // Every id in [floor, -2] could be taken only by a folder of 2^28 children.
    if (m_ids.size() >= static_cast<std::size_t>(-2 - kIdFloor)) {
        return std::nullopt;
    }
    std::int32_t candidate = m_nextId;
    while (m_ids.count(candidate) != 0) {
        --candidate;
        if (candidate < kIdFloor) {
            candidate = -2;
        }
    }
    m_nextId = candidate - 1 < kIdFloor ? -2 : candidate - 1;
    return candidate;
}

std::uint32_t FolderNode::appendName(std::string_view name) {
    const auto offset = static_cast<std::uint32_t>(m_pool.size());
    m_pool.insert(m_pool.end(), name.begin(), name.end());
    m_pool.push_back('\0');
    return offset;
}

void FolderNode::removeName(std::uint32_t offset) {
    if (offset == 0) {
        return;
    }
    const std::size_t len = std::strlen(m_pool.data() + offset) + 1;
    m_pool.erase(m_pool.begin() + offset,
                 m_pool.begin() + static_cast<std::ptrdiff_t>(offset + len));
    for (auto& r : m_records) {
        if (r.nameOffset > offset) {
            r.nameOffset -= static_cast<std::uint32_t>(len);
        }
    }
}

void FolderNode::touch() {
    m_dirty = true;
    ++m_generation;
}

std::optional<std::size_t> FolderNode::insert(std::string_view name, std::uint32_t entry) {
    const bool named = !name.empty() && !parseId(name) && name.find('\0') == std::string_view::npos;
    const std::uint64_t slots = (m_records.size() + 1) * kRecordBytes;
    const std::uint64_t slotBytes = slots > m_slotBytes ? m_slotBytes + kSlotStep : m_slotBytes;
    if (kHeaderBytes + slotBytes + m_pool.size() + (named ? name.size() + 1 : 0) >
        kMaxFolderBytes) {
        return std::nullopt;
    }
    const auto id = nextId();
    if (!id) {
        return std::nullopt;
    }
    m_slotBytes = slotBytes;
    m_ids.insert(*id);
    ChildRecord rec{entry, *id, 0};
    std::size_t pos = m_records.size();
    if (named) {
        pos = lowerBound(name);
        rec.nameOffset = appendName(name);
        ++m_namedCount;
    }
    m_records.insert(m_records.begin() + static_cast<std::ptrdiff_t>(pos), rec);
    touch();
    return pos;
}

void FolderNode::remove(std::size_t pos) {
    const ChildRecord rec = m_records[pos];
    m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(pos));
    if (pos < m_namedCount) {
        --m_namedCount;
    }
    m_ids.erase(rec.id);
    removeName(rec.nameOffset);
    touch();
}

bool FolderNode::rename(std::size_t pos, std::string_view newName) {
    if (newName.empty() || parseId(newName) || newName.find('\0') != std::string_view::npos ||
        find(newName)) {
        return false;
    }
    if (kHeaderBytes + m_slotBytes + m_pool.size() + newName.size() + 1 > kMaxFolderBytes) {
        return false;
    }
    ChildRecord rec = m_records[pos];
    m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(pos));
    if (pos < m_namedCount) {
        --m_namedCount;
    }
    removeName(rec.nameOffset);
    const std::size_t at = lowerBound(newName);
    rec.nameOffset = appendName(newName);
    m_records.insert(m_records.begin() + static_cast<std::ptrdiff_t>(at), rec);
    ++m_namedCount;
    touch();
    return true;
}

}  // namespace pm::detail
