#pragma once

#include <cstdint>
#include <string>

namespace pm {

class ErrorInfo;
class ProgressReporter;

// The still picture a scene shows, as the project model sees it. The picture library provides the
// real one; until a picture is loaded a scene shows the built-in default picture.
class ScenePicture {
public:
    virtual ~ScenePicture() = default;

    // Loads from a file; an empty path means the built-in default picture. A failure is reported
    // into `errors` and leaves the picture as it was.
    virtual bool load(const std::string& path, ProgressReporter* progress, ErrorInfo& errors) = 0;
    // Takes over another scene's picture (the same file, or the same embedded data).
    virtual bool copyFrom(const ScenePicture& source, ProgressReporter* progress,
                          ErrorInfo& errors) = 0;

    virtual std::string path() const = 0;
    virtual bool isDefault() const = 0;
    // Pixel size of the picture and the width it was decoded at.
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual int decodedWidth() const = 0;
    // Bytes the picture needs in memory with its thumbnail and levels.
    virtual std::int64_t memoryEstimate() const = 0;

    // The cache's view: pixels present, being loaded in the background, freed (proxy kept).
    virtual bool ensureLoaded() = 0;
    virtual void unload() = 0;
    virtual bool isLoaded() const = 0;
    virtual bool isLoading() const = 0;

    virtual bool modified() const = 0;
    virtual void setModified(bool modified) = 0;
};

}  // namespace pm
