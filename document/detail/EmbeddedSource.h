#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "render/HeldPicture.h"
#include "store/FileStorage.h"
#include "store/StoreKey.h"

namespace pm::detail {

// The project file kept open after loading or saving, from which pictures embedded in it are read
// when they are needed (possibly on the picture loader's thread). Pictures name their scene node
// by the name it had in the file they were loaded from; after a save the names are mapped to the
// nodes of the new file.
class EmbeddedSource {
public:
    EmbeddedSource() = default;
    ~EmbeddedSource();
    EmbeddedSource(const EmbeddedSource&) = delete;
    EmbeddedSource& operator=(const EmbeddedSource&) = delete;

    // False with the reason in `why` (when given) when the file is not a store that opens.
    bool attach(const std::filesystem::path& path, std::string* why = nullptr);
    void detach();
    bool attached() const;
    // A store is read by one thread at a time: whoever reads through root() holds this.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> hold() const {
        return std::unique_lock(m_mutex);
    }
    StoreKeyPtr root() const;
    std::uint64_t fileSize() const;

    // The embedded picture file (form 1) of the scene node loaded as `keyname` ("" for the root
    // of a single-scene file); null when there is none or it cannot be read.
    std::shared_ptr<const std::vector<std::uint8_t>> originalBytes(const std::string& keyname);
    // Its size without reading it; -1 when there is none.
    std::int64_t originalSize(const std::string& keyname);
    // The decoded pixels (form 2) with their size; empty when there are none.
    std::shared_ptr<const std::vector<std::uint8_t>> pixels(const std::string& keyname,
                                                            std::uint32_t* width,
                                                            std::uint32_t* height);

    // After a save: the node each loaded name now lives in.
    void remap(const std::map<std::string, std::string>& names);

private:
    StoreKeyPtr settingsOf(const std::string& keyname);

    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<FileStorage> m_storage;
    StoreKeyPtr m_root;
    std::uint64_t m_fileSize = 0;
    std::map<std::string, std::string> m_names;
};

// A scene picture embedded in the project file, read from the file kept open when it is decoded.
class EmbeddedPicture final : public HeldPicture {
public:
    EmbeddedPicture(std::shared_ptr<EmbeddedSource> source, std::string keyname)
        : m_source(std::move(source)), m_keyname(std::move(keyname)) {}
    std::shared_ptr<const std::vector<std::uint8_t>> bytes() const override {
        return m_source->originalBytes(m_keyname);
    }
    const std::string& keyname() const { return m_keyname; }
    const std::shared_ptr<EmbeddedSource>& source() const { return m_source; }

private:
    std::shared_ptr<EmbeddedSource> m_source;
    std::string m_keyname;
};

}  // namespace pm::detail
