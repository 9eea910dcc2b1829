#pragma once

#include <memory>
#include <string>

#include "export/ExporterModule.h"

namespace pm {

inline constexpr int kDirectExporter = 1;
inline constexpr int kFileExporter = 2;

// One format a module offers: a direct exporter (run from the Export menu) or a file exporter
// (a file type of the Render Video dialog).
struct ExporterFormat {
    std::shared_ptr<ExporterModule> module;
    int index = 0;
    int kind = 0;
    std::string identifier;
    std::string displayName;
    std::string filePattern;
    std::string fourthText;
};

}  // namespace pm
