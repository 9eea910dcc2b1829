#pragma once

#include "core/ScenePicture.h"

namespace pm {

// A scene picture for builds without the picture library: the built-in 1024 x 768 picture. It
// cannot read files, so loading a path fails with "Could not load image file." and the path.
class DefaultScenePicture : public ScenePicture {
public:
    static constexpr int kWidth = 1024;
    static constexpr int kHeight = 768;

    bool load(const std::string& path, ProgressReporter* progress, ErrorInfo& errors) override;
    bool copyFrom(const ScenePicture& source, ProgressReporter* progress,
                  ErrorInfo& errors) override;

    std::string path() const override { return {}; }
    bool isDefault() const override { return true; }
    int width() const override { return kWidth; }
    int height() const override { return kHeight; }
    int decodedWidth() const override { return kWidth; }
    std::int64_t memoryEstimate() const override;

    bool ensureLoaded() override { return true; }
    void unload() override {}
    bool isLoaded() const override { return true; }
    bool isLoading() const override { return false; }

    bool modified() const override { return m_modified; }
    void setModified(bool modified) override { m_modified = modified; }

private:
    bool m_modified = false;
};

}  // namespace pm
