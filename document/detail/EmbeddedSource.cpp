#include "document/detail/EmbeddedSource.h"

#include "document/detail/StoreReading.h"

namespace pm::detail {

namespace {
constexpr const char* kRenderSettings = "PzRenderSettings";
constexpr const char* kOriginalData = "OrigBmpData";
constexpr const char* kOriginalSize = "OrigBmpSize";
constexpr const char* kPixelData = "BmpData";
constexpr const char* kWidth = "BmpWidth";
constexpr const char* kHeight = "BmpHeight";
constexpr std::uint32_t kMaxSide = 25000;
}  // namespace

EmbeddedSource::~EmbeddedSource() {
    detach();
}

bool EmbeddedSource::attach(const std::filesystem::path& path, std::string* why) {
    auto storage = std::make_unique<FileStorage>();
    if (!storage->open(path, FileStorage::kReadOnly)) {
        if (why != nullptr) {
            *why = storage->error();
        }
        return false;
    }
    StoreKeyPtr root = storage->root();
    if (!root) {
        if (why != nullptr) {
            *why = "the file holds no root node";
        }
        return false;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    std::lock_guard lock(m_mutex);
    m_root.reset();
    if (m_storage) {
        m_storage->close();
    }
    m_storage = std::move(storage);
    m_root = std::move(root);
    m_fileSize = ec ? 0 : size;
    return true;
}

void EmbeddedSource::detach() {
    std::lock_guard lock(m_mutex);
    m_root.reset();
    if (m_storage) {
        m_storage->close();
        m_storage.reset();
    }
    m_fileSize = 0;
    m_names.clear();
}

bool EmbeddedSource::attached() const {
    std::lock_guard lock(m_mutex);
    return static_cast<bool>(m_root);
}

StoreKeyPtr EmbeddedSource::root() const {
    std::lock_guard lock(m_mutex);
    return m_root;
}

std::uint64_t EmbeddedSource::fileSize() const {
    std::lock_guard lock(m_mutex);
    return m_fileSize;
}

StoreKeyPtr EmbeddedSource::settingsOf(const std::string& keyname) {
    if (!m_root) {
        return nullptr;
    }
    const auto mapped = m_names.find(keyname);
    const std::string& name = mapped != m_names.end() ? mapped->second : keyname;
    if (name.empty()) {
        return m_root->openChild(kRenderSettings);
    }
    StoreKeyPtr node = m_root->openChild(name);
    return node ? node->openChild(kRenderSettings) : nullptr;
}

std::shared_ptr<const std::vector<std::uint8_t>> EmbeddedSource::originalBytes(
    const std::string& keyname) {
    std::lock_guard lock(m_mutex);
    StoreKeyPtr settings = settingsOf(keyname);
    if (!settings) {
        return nullptr;
    }
    const std::int32_t declared = settings->getInt(kOriginalSize, 0);
    if (declared <= 0 || settings->valueSize(kOriginalData) != declared) {
        return nullptr;
    }
    return readSharedBlob(*settings, kOriginalData, m_fileSize);
}

std::int64_t EmbeddedSource::originalSize(const std::string& keyname) {
    std::lock_guard lock(m_mutex);
    StoreKeyPtr settings = settingsOf(keyname);
    if (!settings) {
        return -1;
    }
    const std::int32_t declared = settings->getInt(kOriginalSize, 0);
    if (declared <= 0 || settings->valueSize(kOriginalData) != declared ||
        static_cast<std::uint64_t>(declared) > m_fileSize) {
        return -1;
    }
    return declared;
}

std::shared_ptr<const std::vector<std::uint8_t>> EmbeddedSource::pixels(const std::string& keyname,
                                                                        std::uint32_t* width,
                                                                        std::uint32_t* height) {
    std::lock_guard lock(m_mutex);
    StoreKeyPtr settings = settingsOf(keyname);
    if (!settings) {
        return nullptr;
    }
    const std::int32_t w = settings->getInt(kWidth, 0);
    const std::int32_t h = settings->getInt(kHeight, 0);
    if (w <= 0 || h <= 0 || static_cast<std::uint32_t>(w) > kMaxSide ||
        static_cast<std::uint32_t>(h) > kMaxSide) {
        return nullptr;
    }
    const std::int64_t expected = std::int64_t{4} * w * h;
    if (settings->valueSize(kPixelData) != expected) {
        return nullptr;
    }
    auto bytes = readSharedBlob(*settings, kPixelData, m_fileSize);
    if (bytes) {
        *width = static_cast<std::uint32_t>(w);
        *height = static_cast<std::uint32_t>(h);
    }
    return bytes;
}

void EmbeddedSource::remap(const std::map<std::string, std::string>& names) {
    std::lock_guard lock(m_mutex);
    m_names = names;
}

}  // namespace pm::detail
