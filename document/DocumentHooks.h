#pragma once

#include <string>

#include "core/HostHooks.h"

namespace pm {

// The shell's hooks for a program without windows: a missing picture or sound is given up (the
// scene shows the built-in picture, the project plays without sound), and the search for a
// missing file looks in the project file's own folder. The editor replaces them with its dialogs.
class DocumentHooks : public HostHooks {
public:
    void setDocumentPath(const std::string& path) override;
    std::int32_t searchForMissingFile(std::string& path) override;

    const std::string& documentPath() const { return m_documentPath; }

private:
    std::string m_documentPath;
};

}  // namespace pm
