#pragma once

#include <cstdint>

namespace pm {

// Notification codes. Codes up to 0x0FFFFFFF are held back while a batch is open.
inline constexpr std::uint32_t kChangeProjectReplaced = 0x10000;
inline constexpr std::uint32_t kChangeProject = 0x10001;
inline constexpr std::uint32_t kChangeScene = 0x10002;
inline constexpr std::uint32_t kChangeCurrentScene = 0x10003;
inline constexpr std::uint32_t kChangeCursor = 0x20000;
inline constexpr std::uint32_t kChangeKeyValues = 0x30000;
inline constexpr std::uint32_t kChangeKeyTangents = 0x30001;
inline constexpr std::uint32_t kChangeKeys = 0x30002;
inline constexpr std::uint32_t kChangeKeyModes = 0x30003;
inline constexpr std::uint32_t kChangeMarkers = 0x30004;

// The argument is a number (a parameter bit mask, a kind) or, for the cursor and marker codes, the
// address of the new value (a float normalized time, a TickTime), valid during the broadcast.
using ChangeArgument = std::intptr_t;

// Where changes to the project are announced. The project context implements it; views listen.
class ChangeHub {
public:
    virtual ~ChangeHub() = default;
    // Broadcasts (or, inside a batch, collects) a change; the first non-zero answer is returned.
    virtual std::int32_t notify(std::uint32_t code, ChangeArgument argument) = 0;
    virtual void beginBatch(bool collect) = 0;
    virtual void endBatch(bool quiet) = 0;
};

// Holds a batch open for a scope, so that every return path and every exception closes it.
class ChangeBatch {
public:
    explicit ChangeBatch(ChangeHub& hub, bool collect = true) : m_hub(hub) {
        m_hub.beginBatch(collect);
    }
    ~ChangeBatch() { m_hub.endBatch(false); }
    ChangeBatch(const ChangeBatch&) = delete;
    ChangeBatch& operator=(const ChangeBatch&) = delete;

private:
    ChangeHub& m_hub;
};

}  // namespace pm
