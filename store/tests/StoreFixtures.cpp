#include "StoreFixtures.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace pm::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pm-store-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void putLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(at + 2)) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

Bytes folderData(const std::vector<RawChild>& children) {
    std::uint32_t named = 0;
    std::string pool(1, '\0');
    std::vector<std::uint32_t> offsets;
    for (const auto& c : children) {
        if (c.name.empty()) {
            offsets.push_back(0);
            continue;
        }
        ++named;
        offsets.push_back(static_cast<std::uint32_t>(pool.size()));
        pool += c.name;
        pool += '\0';
    }
    const auto slots = static_cast<std::uint32_t>((children.size() + 7) / 8 * 8);
    Bytes out;
    putLe32(out, static_cast<std::uint32_t>(children.size()));
    putLe32(out, named);
    putLe32(out, 12 + 12 * slots);
    for (std::size_t i = 0; i < children.size(); ++i) {
        putLe32(out, children[i].entry);
        putLe32(out, static_cast<std::uint32_t>(children[i].id));
        putLe32(out, offsets[i]);
    }
    out.resize(12 + 12 * slots, 0);
    out.insert(out.end(), pool.begin(), pool.end());
    return out;
}

std::uint32_t RawFile::add(const Bytes& data) {
    const auto offset = static_cast<std::uint32_t>(m_data.size());
    m_data.insert(m_data.end(), data.begin(), data.end());
    return offset;
}

std::uint32_t RawFile::addText(const std::string& text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return add(b);
}

void RawFile::dataEntry(std::uint32_t type, std::int32_t parent, const Bytes& data) {
    entry(type, parent, add(data), static_cast<std::uint32_t>(data.size()));
}

Bytes RawFile::build() const {
    Bytes out = {'Q', 'V', 'S', 'F'};
    putLe32(out, 16);
    putLe32(out, static_cast<std::uint32_t>(m_entries.size()));
    putLe32(out, static_cast<std::uint32_t>(16 + 16 * m_entries.size()));
    for (const auto& e : m_entries) {
        putLe32(out, e.type);
        putLe32(out, static_cast<std::uint32_t>(e.parent));
        putLe32(out, e.low);
        putLe32(out, e.high);
    }
    out.insert(out.end(), m_data.begin(), m_data.end());
    return out;
}

namespace {

void readFolder(const Bytes& file, std::uint32_t dataStart, std::uint32_t index,
                const std::string& path, RawTree& tree) {
    tree.keys.push_back(path);
    const std::size_t entryAt = 16 + 16 * std::size_t{index};
    const std::uint32_t offset = le32(file, entryAt + 8);
    const std::uint32_t size = le32(file, entryAt + 12);
    if (size == 0) {
        return;
    }
    const std::size_t base = dataStart + std::size_t{offset};
    const std::uint32_t n = le32(file, base);
    const std::uint32_t pool = le32(file, base + 8);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t rec = base + 12 + 12 * std::size_t{i};
        const std::uint32_t child = le32(file, rec);
        const std::uint32_t id = le32(file, rec + 4);
        const std::uint32_t nameOffset = le32(file, rec + 8);
        std::string name;
        if (nameOffset == 0) {
            char text[12];
            std::snprintf(text, sizeof text, "#%08x", id);
            name = text;
        } else {
            for (std::size_t p = base + pool + nameOffset; file.at(p) != 0; ++p) {
                name += static_cast<char>(file[p]);
            }
        }
        const std::string childPath = path.empty() ? name : path + "\\" + name;
        const std::size_t childAt = 16 + 16 * std::size_t{child};
        EXPECT_EQ(static_cast<std::int32_t>(le32(file, childAt + 4)),
                  static_cast<std::int32_t>(index))
            << childPath;
        const std::uint32_t type = le32(file, childAt);
        if (type == 1) {
            readFolder(file, dataStart, child, childPath, tree);
            continue;
        }
        RawValue v{type, {}};
        const std::uint32_t low = le32(file, childAt + 8);
        const std::uint32_t high = le32(file, childAt + 12);
        if (type == 2 || type == 3 || type == 4) {
            putLe32(v.bytes, low);
            if (type != 2) {
                putLe32(v.bytes, high);
            }
        } else {
            const std::size_t at = dataStart + std::size_t{low};
            v.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                           file.begin() + static_cast<std::ptrdiff_t>(at + high));
        }
        tree.values[childPath] = v;
    }
}

}  // namespace

RawTree readLayout(const Bytes& file) {
    RawTree tree;
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "QVSF");
    EXPECT_EQ(le32(file, 4), 16u);
    if (le32(file, 8) > 0) {
        readFolder(file, le32(file, 12), 0, "", tree);
    }
    return tree;
}

}  // namespace pm::test
