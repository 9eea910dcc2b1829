#include "core/DefaultScenePicture.h"

#include <algorithm>

#include "core/ErrorInfo.h"
#include "core/MessageIds.h"

namespace pm {

namespace {}  // namespace

bool DefaultScenePicture::load(const std::string& path, ProgressReporter*, ErrorInfo& errors) {
    if (path.empty()) {
        return true;
    }
    return errors.report(msg::kCouldNotLoadImage, {textArg(path)}) != 0;
}

bool DefaultScenePicture::copyFrom(const ScenePicture& source, ProgressReporter* progress,
                                   ErrorInfo& errors) {
    return load(source.path(), progress, errors);
}

std::int64_t DefaultScenePicture::memoryEstimate() const {
    // The proxy's longer side is 200 pixels.
    const double c = std::max(kWidth * 0.005, kHeight * 0.005);
    const auto proxyWidth = static_cast<std::int64_t>(kWidth / c);
    const auto proxyHeight = static_cast<std::int64_t>(kHeight / c);
    return 4 * proxyWidth * proxyHeight + 5000 + 8LL * kWidth * kHeight;
}

}  // namespace pm
