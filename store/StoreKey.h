#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "store/Guid.h"
#include "store/StoreKeyPtr.h"
#include "store/ValueType.h"

namespace pm {

// A key (folder) of a hierarchical key/value store: named child keys and named typed values.
// Paths separate their components with "\"; an unnamed child is addressed as "#" plus its id in
// hexadecimal. Handles are reference counted (atomically, so any thread may drop one) and held
// through StoreKeyPtr.
//
// The virtual operations form a table whose slot order is fixed (slots 0 to 55, in declaration
// order); new operations go after the last slot. The base class implements every composite
// operation on top of the primitive ones, so a backend overrides only what it stores differently.
//
// Results: non-zero on success, 0 or a null handle on failure. Readers return the caller's
// default for anything missing or of another type.
class StoreKey {
public:
    static constexpr std::uint32_t kTypeStorage = 0x417066;   // 'Apf'
    static constexpr std::uint32_t kTypeRegistry = 0x524547;  // 'REG'
    static constexpr std::uint32_t kTypeNull = 0x444546;      // 'DEF'
    static constexpr std::size_t kMaxComponentLength = 259;
    static constexpr std::uint32_t kGuardMarker = 0x4B535651;  // "QVSK"

    StoreKey(const StoreKey&) = delete;
    StoreKey& operator=(const StoreKey&) = delete;

    void addRef() noexcept { m_refs.fetch_add(1, std::memory_order_relaxed); }
    bool isReadOnly() const { return m_readOnly; }

    /* 0 */ virtual void destroy() = 0;
    /* 1 */ virtual int release();
    /* 2 */ virtual std::uint32_t typeCode() const = 0;
    /* 3 */ virtual int capabilities() const { return 0; }
    /* 4 */ virtual StoreKeyPtr openChildAt(int index);
    /* 5 */ virtual StoreKeyPtr openChild(std::string_view name) = 0;
    /* 6 */ virtual StoreKeyPtr createChild(std::string_view name) = 0;
    /* 7 */ virtual int deleteChildAt(int index);
    /* 8 */ virtual int deleteChild(std::string_view name) = 0;
    /* 9 */ virtual int childName(int index, char* buffer, std::size_t size) = 0;
    /* 10 */ virtual int renameChild(std::string_view name, std::string_view newName) = 0;
    /* 11 */ virtual int copyChild(std::string_view name, std::string_view newName,
                                   StoreKey* other = nullptr, std::string_view guard = {});
    /* 12 */ virtual int moveChild(std::string_view name, std::string_view newName,
                                   StoreKey* other = nullptr, bool check = true);
    /* 13 */ virtual StoreKeyPtr createChildIfWritable(std::string_view name);
    /* 14 */ virtual std::int64_t getRaw(ValueType type, std::string_view name, void* buffer,
                                         std::size_t size, const void* defaultData) = 0;
    /* 15 */ virtual int setRaw(ValueType type, std::string_view name, const void* data,
                                std::size_t size) = 0;
    /* 16 */ virtual int deleteValue(std::string_view name) = 0;
    /* 17 */ virtual int hasValue(std::string_view name) = 0;
    /* 18 */ virtual int valueName(int index, char* buffer, std::size_t size) = 0;
    /* 19 */ virtual int renameValue(std::string_view name, std::string_view newName) = 0;
    /* 20 */ virtual int copyValue(std::string_view name, std::string_view newName,
                                   StoreKey* other = nullptr);
    /* 21 */ virtual int moveValue(std::string_view name, std::string_view newName,
                                   StoreKey* other = nullptr);
    /* 22 */ virtual std::int64_t valueSize(std::string_view name) = 0;
    /* 23 */ virtual ValueType valueType(std::string_view name) = 0;
    /* 24 */ virtual StoreKeyPtr openPath(std::string_view path);
    /* 25 */ virtual StoreKeyPtr createPath(std::string_view path);
    /* 26 */ virtual int deletePath(std::string_view path);
    /* 27 */ virtual int renamePath(std::string_view path, std::string_view newPath);
    /* 28 */ virtual int copyContent(StoreKey& source, std::string_view guard = {});
    /* 29 */ virtual int copyAll(StoreKey& source, bool check = true);
    /* 30 */ virtual int copyPath(std::string_view path, StoreKey* other,
                                  std::string_view otherPath, bool check = true);
    /* 31 */ virtual int movePath(std::string_view path, std::string_view newPath,
                                  StoreKey* other = nullptr, bool check = true);
    /* 32 */ virtual int copyIntoPath(std::string_view path, StoreKey& source, bool check = true);
    /* 33 */ virtual std::int64_t getWideString(std::string_view name, char16_t* buffer,
                                                std::size_t size, const char16_t* defaultText);
    /* 34 */ virtual std::int64_t getString(std::string_view name, char* buffer, std::size_t size,
                                            const char* defaultText);
    /* 35 */ virtual int setWideString(std::string_view name, std::u16string_view text);
    /* 36 */ virtual int setString(std::string_view name, std::string_view text);
    /* 37 */ virtual std::int32_t getInt(std::string_view name, std::int32_t defaultValue);
    /* 38 */ virtual int setInt(std::string_view name, std::int32_t value);
    /* 39 */ virtual std::int64_t getInt64(std::string_view name, std::int64_t defaultValue);
    /* 40 */ virtual int setInt64(std::string_view name, std::int64_t value);
    /* 41 */ virtual double getDouble(std::string_view name, double defaultValue);
    /* 42 */ virtual int setDouble(std::string_view name, double value);
    /* 43 */ virtual std::int64_t getBinary(std::string_view name, void* buffer, std::size_t size,
                                            const void* defaultData);
    /* 44 */ virtual int setBinary(std::string_view name, const void* data, std::size_t size);
    /* 45 */ virtual int getGuid(std::string_view name, Guid& out, const Guid& defaultGuid);
    /* 46 */ virtual int setGuid(std::string_view name, const Guid& guid);
    /* 47 */ virtual std::int64_t getCompressed(std::string_view name, void* buffer,
                                                std::size_t size, const void* defaultData);
    /* 48 */ virtual int setCompressed(std::string_view name, const void* data, std::size_t size);
    /* 49 */ virtual std::int64_t compressedSize(std::string_view name);
    /* 50 */ virtual int isCompressed(std::string_view name);
    /* 51 */ virtual std::string createGuard();
    /* 52 */ virtual int deleteGuard(std::string_view name);
    /* 53 */ virtual int hasGuard(std::string_view name);
    /* 54 */ virtual int findGuard(std::string_view name);
    // A binary value of `size` bytes that `read` hands over piece by piece (it fills the buffer it
    // is given and returns false when it cannot), so that a large file goes into the store
    // without a copy of it in memory. Backends that cannot append in pieces gather it first.
    using ReadPiece = std::function<bool(void* buffer, std::size_t size)>;
    /* 55 */ virtual int setBinaryFrom(std::string_view name, std::uint64_t size,
                                       const ReadPiece& read);

    // Conveniences over the slots above: whole strings without a caller-sized buffer.
    std::string readString(std::string_view name, std::string_view defaultText = {});
    std::u16string readWideString(std::string_view name, std::u16string_view defaultText = {});

protected:
    explicit StoreKey(bool readOnly) : m_readOnly(readOnly) {}
    // Destruction goes through destroy() (slot 0), never through a base pointer.
    ~StoreKey() = default;

private:
    std::atomic<int> m_refs{1};
    const bool m_readOnly;
};

}  // namespace pm
