#include "document/DocumentHooks.h"

#include <filesystem>

namespace pm {

void DocumentHooks::setDocumentPath(const std::string& path) {
    m_documentPath = path;
}

std::int32_t DocumentHooks::searchForMissingFile(std::string& path) {
    if (m_documentPath.empty()) {
        return 0;
    }
    // Stored paths may come from another system and use either separator.
    const auto slash = path.find_last_of("/\\");
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (leaf.empty()) {
        return 0;
    }
    path = (std::filesystem::path(m_documentPath).parent_path() / leaf).string();
    return 1;
}

}  // namespace pm
