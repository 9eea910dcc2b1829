#include "app/AppSettings.h"

#include <cmath>

#include "app/Preferences.h"
#include "core/Timecode.h"
#include "store/StoreKey.h"

namespace pm {

namespace {

constexpr char kKeyFrames[] = "KeyFrames";

bool readFlag(StoreKey& key, const char* name, bool current) {
    return key.getInt(name, current ? 1 : 0) != 0;
}

}  // namespace

std::optional<TickTime> AppSettings::frameDurationForFrameRate(double framesPerSecond) {
    if (!std::isfinite(framesPerSecond) || framesPerSecond <= 0.0) {
        return std::nullopt;
    }
    const double ticks = std::trunc(2.7e7 / framesPerSecond + 0.5);
    // Below one tick or beyond the longest scene is no frame rate anyone can mean.
    if (!(ticks >= 1.0) || ticks > static_cast<double>(kMaxSceneLength)) {
        return std::nullopt;
    }
    return static_cast<TickTime>(ticks);
}

double AppSettings::frameRateForDuration(TickTime frameDuration) {
    return 2.7e7 / static_cast<double>(effectiveFrameDuration(frameDuration));
}

void AppSettings::applyVideoFormat(std::optional<std::uint32_t> videoFormat) {
    if (videoFormat == 1u) {
        displayFrameDuration = 900'901;
        timecodeType = 0;
    } else if (videoFormat == 2u) {
        displayFrameDuration = 1'080'000;
        timecodeType = 1;
    }
}

void AppSettings::readUseDefaultScene(StoreKey& settings) {
    useDefaultScene = readFlag(settings, "UseDfltScene", true);
}

void AppSettings::load(StoreKey& settings) {
    const double rate = settings.getDouble("FrameRate", frameRateForDuration(displayFrameDuration));
    if (auto duration = frameDurationForFrameRate(rate)) {
        displayFrameDuration = *duration;
    }
    // The formatter knows types 0 to 3; any other would show every time as empty text.
    const int type = settings.getInt("TimeCodeType", timecodeType);
    if (type >= 0 && type <= 3) {
        timecodeType = type;
    }

    StoreKeyPtr keyFrames = Preferences::subsection(settings, kKeyFrames, false);
    const int mode = keyFrames->getInt("DefaultInterpolation", kDefaultInterpolation);
    defaultInterpolation = mode >= 1 && mode <= 3 ? mode : kDefaultInterpolation;
    const double smoothing = keyFrames->getDouble("DefaultPosSmoothing", kDefaultPosSmoothing);
    defaultPosSmoothing = std::isfinite(smoothing) ? smoothing : kDefaultPosSmoothing;
    imagesInProject = readFlag(*keyFrames, "BmpInPzp", true);
    replaceAutoCheck = readFlag(*keyFrames, "RplcAutocheck", true);
}

void AppSettings::save(StoreKey& settings) const {
    settings.setDouble("FrameRate", frameRateForDuration(displayFrameDuration));
    settings.setInt("TimeCodeType", timecodeType);
    settings.setInt("UseDfltScene", useDefaultScene ? 1 : 0);

    StoreKeyPtr keyFrames = Preferences::subsection(settings, kKeyFrames, true);
    keyFrames->setInt("DefaultInterpolation", defaultInterpolation);
    keyFrames->setDouble("DefaultPosSmoothing", defaultPosSmoothing);
    keyFrames->setInt("BmpInPzp", imagesInProject ? 1 : 0);
    keyFrames->setInt("RplcAutocheck", replaceAutoCheck ? 1 : 0);
}

}  // namespace pm
