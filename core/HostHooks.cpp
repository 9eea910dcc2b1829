#include "core/HostHooks.h"

namespace pm {

std::int32_t HostHooks::onNotification(std::uint32_t, ChangeArgument) {
    return 0;
}

void HostHooks::requestPreviewRefresh() {}

void HostHooks::showUndoNames(const std::optional<std::string>&,
                              const std::optional<std::string>&) {}

void HostHooks::setDocumentPath(const std::string&) {}

std::int32_t HostHooks::askForMissingImage(const std::string&, std::string& path) {
    path.clear();
    return 0;
}

std::int32_t HostHooks::searchForMissingFile(std::string&) {
    return 1;
}

void HostHooks::forgetSearchFolder() {}

std::int32_t HostHooks::askForMissingSound(const std::string&, std::string& path) {
    path.clear();
    return 0;
}

}  // namespace pm
