#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/ChangeHub.h"

namespace pm {

// The calls the project core makes into the application shell. The defaults are what a program
// without a user interface does; the shell's application object overrides them. The order of the
// operations is fixed.
class HostHooks {
public:
    virtual ~HostHooks() = default;
    // Sees every broadcast first; a non-zero answer ends the broadcast and is returned.
    virtual std::int32_t onNotification(std::uint32_t code, ChangeArgument argument);
    // A scene's picture finished loading outside an export.
    virtual void requestPreviewRefresh();
    // The names of the steps undo and redo would take; either may be absent.
    virtual void showUndoNames(const std::optional<std::string>& undo,
                               const std::optional<std::string>& redo);
    virtual void setDocumentPath(const std::string& path);
    // Asks the user for a missing picture. `path` holds the old path on entry and the user's
    // choice on return; empty means the user gave up.
    virtual std::int32_t askForMissingImage(const std::string& shownPath, std::string& path);
    // Looks for a missing file somewhere likely; non-zero when `path` now holds a path worth
    // trying.
    virtual std::int32_t searchForMissingFile(std::string& path);
    virtual void forgetSearchFolder();
    // As askForMissingImage, for the sound file.
    virtual std::int32_t askForMissingSound(const std::string& shownPath, std::string& path);
};

}  // namespace pm
