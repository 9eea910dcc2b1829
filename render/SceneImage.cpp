#include "render/SceneImage.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/ErrorInfo.h"
#include "core/MessageIds.h"
#include "core/MotionParameter.h"
#include "core/ProgressReporter.h"
#include "core/ProjectContext.h"
#include "core/SceneMotion.h"
#include "core/StringTable.h"
#include "render/DefaultPicture.h"
#include "render/ImageDecoder.h"
#include "render/ImageMemoryBudget.h"
#include "render/PerfKit.h"
#include "render/PictureLoader.h"
#include "render/detail/AreaResampler.h"
#include "render/detail/ImageOps.h"
#include "render/detail/LevelPipeline.h"
#include "render/detail/RowHalves.h"

namespace pm {

namespace {

constexpr std::uint32_t kOutOfMemory = msg::kMemoryAllocationFailed | ErrorInfo::kSerious;

constexpr auto kLoadPoll = std::chrono::milliseconds(5);
constexpr auto kReaderPoll = std::chrono::milliseconds(2);
// Scale changes within this ratio over a scene keep one level for all its frames.
constexpr double kSteadyZoomRatio = 1.3;

// A scene whose zoom changes little: every frame is drawn from the level its middle needs.
bool steadyZoom(const SceneMotion& scene) {
    const int keys = scene.keyCount(Scale);
    if (keys < 2) {
        return false;
    }
    double low = 1e9;
    double high = -1.0;
    auto sampleSpan = [&](float from, float to) {
        for (int i = 0; i <= 4; ++i) {
            const double v = scene.evaluate(Scale, from + (to - from) * static_cast<float>(i) / 4);
            low = std::min(low, v);
            high = std::max(high, v);
        }
    };
    KeyframeDesc key;
    KeyframeDesc next;
    for (int i = 0; i + 1 < keys; ++i) {
        scene.getKey(Scale, i, key);
        scene.getKey(Scale, i + 1, next);
        sampleSpan(key.time, next.time);
    }
    scene.getKey(Scale, keys - 1, key);
    sampleSpan(key.time, 1.0f);
    return low > 0.0 && high / low <= kSteadyZoomRatio;
}
// Level sizes are exact products such as 0.7 × 700 = 490; the tolerance keeps binary rounding
// from truncating them to one pixel less.
constexpr double kSizeTolerance = 1e-6;

std::uint32_t scaledSide(double factor, std::uint32_t side) {
    return static_cast<std::uint32_t>(factor * side + kSizeTolerance);
}

// The sizes of levels 1 onwards of a picture of w × h, each made from the one before.
std::vector<detail::LevelPipeline::Size> levelSizes(const MipSchedule& scheduleIn, std::uint32_t w,
                                                    std::uint32_t h, int lastLevel) {
    MipSchedule schedule = scheduleIn;
    schedule.fill(w);
    std::vector<detail::LevelPipeline::Size> sizes;
    const int last = std::min({schedule.levelCount() - 1, MipSchedule::kMaxLevels, lastLevel});
    detail::LevelPipeline::Size from{w, h};
    for (int level = 1; level <= last; ++level) {
        if (scaledSide(schedule.scale(level), w) < MipSchedule::kMinLevelWidth) {
            break;
        }
        const double factor =
            level == 1 ? schedule.scale(1) : schedule.scale(level) / schedule.scale(level - 1);
        from = {std::max<std::uint32_t>(1, scaledSide(factor, from.width)),
                std::max<std::uint32_t>(1, scaledSide(factor, from.height))};
        sizes.push_back(from);
    }
    return sizes;
}

// Frames need the picture this much wider than the scale's samples say, to cover the frames
// between the samples.
constexpr double kDetailMargin = 1.03;

// The last level to build for frames needing at least `narrowest` pixels across, of a picture
// whose level 0 is `width` wide: one past the coarsest level chooseLevel() gives any of them,
// since it never gives the last level built. Every level when nothing is known.
int lastLevelFor(const MipSchedule& schedule, std::uint32_t narrowest, std::uint32_t width) {
    if (narrowest == 0 || width == 0) {
        return MipSchedule::kMaxLevels;
    }
    const double needed = narrowest / kDetailMargin / width;
    int coarsest = 0;
    for (int level = 1; level <= MipSchedule::kMaxLevels; ++level) {
        if (needed < schedule.threshold(level)) {
            coarsest = level;
        }
    }
    return coarsest + 1;
}

bool isHeldPath(const std::string& path) {
    return !path.empty() && path.front() == '[';
}

// A held picture's path shows its file name in square brackets; the decoder wants the name.
std::string decoderName(const std::string& path) {
    if (path.size() >= 2 && path.front() == '[' && path.back() == ']') {
        return path.substr(1, path.size() - 2);
    }
    return path;
}

// Bands smaller than this are not worth a second thread.
constexpr std::uint64_t kBandPixels = 1u << 18;

// Rows of a picture of this width worth a second thread.
std::uint32_t rowsWorthSplitting(std::uint32_t width) {
    return static_cast<std::uint32_t>(2 * kBandPixels / std::max<std::uint32_t>(width, 1));
}

// Applies a tone curve to a picture in place, half of the rows on a second processor.
PixelStatus applyInBands(const LevelsTable& table, const ImageBuffer& image) {
    bool ok = true;
    detail::inRowHalves(0, image.height, rowsWorthSplitting(image.width),
                        [&](std::uint32_t first, std::uint32_t end) {
                            const ImageBuffer band =
                                ImageBuffer::wrap(image.format, image.width, end - first,
                                                  image.pitch, image.row(first));
                            if (table.apply(band, band) != PixelStatus::Ok) {
                                ok = false;
                            }
                        });
    return ok ? PixelStatus::Ok : PixelStatus::InvalidSize;
}

PixelStatus validateBoth(const ImageBuffer& a, const ImageBuffer& b) {
    const PixelStatus s = detail::validateImage(a);
    return s != PixelStatus::Ok ? s : detail::validateImage(b);
}

// Area averaging of a large picture on two processors, each making half of the rows: every
// destination row depends only on the source rows it covers, so the halves are those of a
// single pass.
PixelStatus resampleLarge(const ImageBuffer& destination, const ImageBuffer& source) {
    if (destination.format != source.format || bytesPerPixel(source.format) != 4 ||
        validateBoth(destination, source) != PixelStatus::Ok) {
        return PerfKit::copy(destination, source);
    }
    const detail::AreaResampler resampler(source.width, source.height, destination.width,
                                          destination.height);
    if (!resampler.usable()) {
        return PerfKit::copy(destination, source);
    }
    detail::inRowHalves(0, destination.height, rowsWorthSplitting(destination.width + source.width),
                        [&](std::uint32_t first, std::uint32_t end) {
                            resampler.run(destination, source, first, end);
                        });
    return PixelStatus::Ok;
}

}  // namespace

PixelStatus SceneImage::resample(const ImageBuffer& destination, const ImageBuffer& source) {
    return resampleLarge(destination, source);
}

namespace {

// Pixels shared with another holder (the built-in picture, a copied scene) are never written.
bool ownsAlone(const ImageBuffer& image) {
    return image.storage && image.storage.use_count() == 1;
}

}  // namespace

// What the pixels come from, kept for reloading.
struct SceneImage::Source {
    enum class Kind { Default, File, Memory, Pixels } kind = Kind::Default;
    std::string path;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    std::shared_ptr<const HeldPicture> held;
    ImageBuffer pixels;
    bool pixelsHaveAlpha = false;
    bool sameAs(const Source& other) const {
        return kind == other.kind && path == other.path && bytes == other.bytes &&
               held == other.held && pixels.pixels == other.pixels.pixels;
    }
};

// Everything one load produces, built aside and published at once; the published one is what
// readers see.
struct SceneImage::Built {
    std::array<ImageBuffer, kLevelCount> levels;
    int levelsBuilt = 0;
    ImageBuffer proxy;
    // The held size, for a picture copied while its full image is unloaded.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t decodedWidth = 0;
    std::uint32_t decodedHeight = 0;
    bool hasAlpha = false;
    bool prepared = false;
    bool levelsDone = false;
    bool reducedForDetail = false;
    DetailNeeded madeFor;
};

// What one load decided before decoding, and the pipeline that builds the reduced copies while
// it decodes.
struct SceneImage::LoadPlan {
    ImagePrepSettings prep;
    MipSchedule schedule;
    int budgetMegabytes = 0;  // 0: no memory limit
    DetailNeeded need;
    std::optional<detail::LevelPipeline> pipeline;
    bool pipelineTried = false;
};

struct SceneImage::State {
    // The three locks of the reader protocol: state (loaded, loading), busy, readers.
    std::mutex stateMutex;
    bool loaded = false;
    bool loading = false;
    std::mutex busyMutex;
    bool busy = false;
    std::mutex readerMutex;
    int readers = 0;

    // Guards the fields below for short reads and the publication of a rebuilt picture.
    std::mutex dataMutex;
    Source source;
    std::string displayName;
    Built current;
    std::optional<bool> alphaOverride;
    DetailNeeded detailNeeded;
    std::uint32_t preparedCount = 0;
    MipSchedule schedule{1};
    bool modified = false;

    std::atomic<bool> loadFailed{false};
};

// Waits until no reader holds a reference, then marks the picture busy and keeps readers out
// until it is destroyed.
class SceneImage::WriteGuard {
public:
    explicit WriteGuard(SceneImage& image) : m_image(image), m_readers(image.m_state->readerMutex) {
        while (m_image.m_state->readers > 0) {
            m_readers.unlock();
            std::this_thread::sleep_for(kReaderPoll);
            m_readers.lock();
        }
        std::lock_guard busy(m_image.m_state->busyMutex);
        m_image.m_state->busy = true;
    }
    ~WriteGuard() {
        std::lock_guard busy(m_image.m_state->busyMutex);
        m_image.m_state->busy = false;
    }
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;

private:
    SceneImage& m_image;
    std::unique_lock<std::mutex> m_readers;
};

SceneImage::SceneImage(ProjectContext* context, PublishedHook published)
    : m_context(context), m_published(std::move(published)), m_state(std::make_unique<State>()) {
    ErrorInfo scratch;
    installDefault(nullptr, scratch);
}

SceneImage::~SceneImage() {
    waitWhileLoading();
}

// ---------------------------------------------------------------------------------------------
// Loading

bool SceneImage::load(const std::string& path, ProgressReporter* progress, ErrorInfo& errors) {
    return load(path, progress, errors, 0);
}

bool SceneImage::load(const std::string& path, ProgressReporter* progress, ErrorInfo& errors,
                      unsigned flags) {
    if (path.empty()) {
        return installDefault(progress, errors);
    }
    if (isHeldPath(path)) {
        // Pictures held in the project arrive through loadFromMemory.
        return true;
    }
    Source source;
    source.kind = Source::Kind::File;
    source.path = path;
    return loadSource(source, progress, errors, flags, false);
}

bool SceneImage::loadFromMemory(const std::string& name,
                                std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                                ProgressReporter* progress, ErrorInfo& errors, unsigned flags) {
    Source source;
    source.kind = Source::Kind::Memory;
    source.path = name;
    source.bytes = std::move(bytes);
    return loadSource(source, progress, errors, flags, true);
}

bool SceneImage::loadHeld(const std::string& name, std::shared_ptr<const HeldPicture> held,
                          ProgressReporter* progress, ErrorInfo& errors) {
    Source source;
    source.kind = Source::Kind::Memory;
    source.path = name;
    source.held = std::move(held);
    return loadSource(source, progress, errors, 0, true);
}

bool SceneImage::loadFromPixels(const std::string& name, const ImageBuffer& pixels, bool hasAlpha,
                                std::shared_ptr<const HeldPicture> held, ErrorInfo& errors) {
    if (pixels.pixels == nullptr || pixels.format != PixelFormat::Bgra32 ||
        pixels.width < kMinSide || pixels.height < kMinSide || pixels.width > kMaxSide ||
        pixels.height > kMaxSide) {
        return errors.report(msg::kCouldNotLoadBitmap) != 0;
    }
    Source source;
    source.kind = Source::Kind::Pixels;
    source.path = name;
    source.held = std::move(held);
    source.pixels = pixels;
    source.pixelsHaveAlpha = hasAlpha;
    return loadSource(source, nullptr, errors, 0, true);
}

bool SceneImage::adoptDeferred(const std::string& path, std::shared_ptr<const HeldPicture> held,
                               std::uint32_t width, std::uint32_t height, bool hasAlpha,
                               const ImageBuffer& proxy) {
    if (proxy.pixels == nullptr || proxy.format != PixelFormat::Bgra32 || width < kMinSide ||
        height < kMinSide || width > kMaxSide || height > kMaxSide) {
        return false;
    }
    Source source;
    source.kind = held ? Source::Kind::Memory : Source::Kind::File;
    source.path = path;
    source.held = std::move(held);
    Built built;
    built.proxy = proxy;
    built.width = width;
    built.height = height;
    built.decodedWidth = width;
    built.decodedHeight = height;
    built.hasAlpha = hasAlpha;
    claimLoading();
    {
        WriteGuard guard(*this);
        // The stored proxy was made from the prepared picture.
        publishLocked(std::move(built), source, m_prep.changeCount());
    }
    endLoading(false);
    return true;
}

bool SceneImage::reload(ProgressReporter* progress, ErrorInfo& errors) {
    Source source;
    {
        std::lock_guard data(m_state->dataMutex);
        source = m_state->source;
    }
    return loadSource(source, progress, errors, 0, true);
}

bool SceneImage::installDefault(ProgressReporter* progress, ErrorInfo& errors) {
    if (progress != nullptr) {
        progress->setStatusText(strings::text(msg::kLoadingDefaultImage));
    }
    return loadSource(Source{}, nullptr, errors, 0, true);
}

bool SceneImage::decodeSource(const Source& source, ProgressReporter* progress, ErrorInfo& errors,
                              ImageBuffer* out, bool* hasAlpha, std::uint32_t* width,
                              std::uint32_t* height, const RowsReady& rowsReady,
                              std::uint32_t minimumWidth) {
    if (source.kind == Source::Kind::Default) {
        *out = DefaultPicture::image();
        *hasAlpha = false;
        *width = DefaultPicture::kWidth;
        *height = DefaultPicture::kHeight;
        return out->pixels != nullptr;
    }
    ImageDecoder::Options options;
    options.maxSide = kMaxSide;
    options.rowsReady = rowsReady;
    options.minimumWidth = minimumWidth;
    if (source.kind == Source::Kind::Pixels) {
        *out = source.pixels;
        *hasAlpha = source.pixelsHaveAlpha;
        *width = source.pixels.width;
        *height = source.pixels.height;
        return out->pixels != nullptr;
    }
    ImageDecoder::Result result;
    if (source.kind == Source::Kind::File) {
        result = ImageDecoder::decodeFile(source.path, out, progress, options);
    } else {
        std::shared_ptr<const std::vector<std::uint8_t>> bytes = source.bytes;
        if (!bytes && source.held) {
            bytes = source.held->bytes();
            if (!bytes) {
                errors.report(msg::kCouldNotLoadBitmap);
            }
        }
        if (bytes) {
            result = ImageDecoder::decodeMemory(bytes->data(), bytes->size(),
                                                decoderName(source.path), out, progress, options);
        }
    }
    bool ok = result.ok();
    const bool sizeRefused = result.status == ImageDecoder::Status::TooLarge ||
                             (ok && (result.fullWidth < kMinSide || result.fullHeight < kMinSide));
    if (sizeRefused) {
        errors.report(msg::kUnsupportedSize,
                      {textArg(static_cast<int>(kMinSide)), textArg(static_cast<int>(kMinSide)),
                       textArg(static_cast<int>(kMaxSide)), textArg(static_cast<int>(kMaxSide))});
        ok = false;
    } else if (result.status == ImageDecoder::Status::OutOfMemory) {
        errors.report(kOutOfMemory);
    }
    if (!ok) {
        *out = ImageBuffer{};
        errors.report(msg::kCouldNotLoadImage, {textArg(source.path)});
        return false;
    }
    *hasAlpha = result.hasAlpha;
    *width = result.fullWidth;
    *height = result.fullHeight;
    return true;
}

bool SceneImage::loadSource(const Source& source, ProgressReporter* progress, ErrorInfo& errors,
                            unsigned flags, bool force) {
    if (upToDate(source, force)) {
        return true;
    }
    if (progress != nullptr && source.kind != Source::Kind::Default) {
        progress->setStatusFormat(strings::text(msg::kLoadingImage),
                                  {textArg(nameOf(source.path))});
    }
    claimLoading();
    LoadPlan plan;
    plan.prep = m_prep;
    {
        std::lock_guard data(m_state->dataMutex);
        plan.schedule = m_state->schedule;
    }
    // The built-in picture without preparation is the same for every scene: share one copy.
    if (source.kind == Source::Kind::Default && !plan.prep.isActive() &&
        plan.schedule.index() == 1 && (flags & kDeferLevels) == 0) {
        publishSharedDefault(source, plan.prep.changeCount());
        return true;
    }
    planLoad(plan, source, flags);
    Built built;
    if (!decodeInto(built, plan, source, progress, errors)) {
        return loadFailed(progress, errors);
    }
    m_state->loadFailed = false;
    dropFullImage();
    buildFromDecoded(built, plan, flags, progress, errors);
    publishLoaded(std::move(built), plan, source);
    return true;
}

bool SceneImage::upToDate(const Source& source, bool force) const {
    if (force || source.kind != Source::Kind::File) {
        return false;
    }
    bool same = false;
    {
        std::lock_guard data(m_state->dataMutex);
        same = m_state->source.kind == Source::Kind::File && m_state->source.path == source.path;
    }
    return same && isLoaded() && !preparationPending() && atBudgetSize();
}

void SceneImage::publishSharedDefault(const Source& source, std::uint32_t prepCount) {
    static const Built shared = [] {
        Built b;
        b.levels[0] = DefaultPicture::image();
        b.decodedWidth = DefaultPicture::kWidth;
        b.decodedHeight = DefaultPicture::kHeight;
        ErrorInfo scratch;
        buildLevels(b, MipSchedule(1), scratch);
        buildProxy(b, ImagePrepSettings{}, scratch);
        return b;
    }();
    Built copy = shared;
    {
        WriteGuard guard(*this);
        publishLocked(std::move(copy), source, prepCount);
    }
    endLoading(true);
}

// A picture decoded in place has its levels and proxy made from the rows already there while
// the rest is decoded. Not when auto levels must see the whole picture first, when the budget
// will replace level 0, or while a picture of the file's own is held (both sets of levels would
// be held at once; the built-in picture is small).
void SceneImage::planLoad(LoadPlan& plan, const Source& source, unsigned flags) const {
    plan.budgetMegabytes = limitMegabytes();
    bool holdsPicture = false;
    {
        std::lock_guard data(m_state->dataMutex);
        holdsPicture = m_state->source.kind != Source::Kind::Default &&
                       m_state->current.levels[0].pixels != nullptr;
    }
    // Auto levels needs the whole picture's histogram before anything can be made: the pipeline
    // gathers that meanwhile.
    const bool histogramOnly = plan.prep.isActive() && plan.prep.autoLevels();
    // A reduced decode only while nothing else decides the size, and not for auto levels, whose
    // curve comes from the whole picture's histogram.
    if (plan.budgetMegabytes == 0 && !histogramOnly) {
        std::lock_guard data(m_state->dataMutex);
        plan.need = m_state->detailNeeded;
    }
    if ((flags & kDeferLevels) == 0 && source.kind != Source::Kind::Pixels && !holdsPicture) {
        if (histogramOnly) {
            plan.pipeline.emplace(detail::LevelPipeline::Work::Histogram, std::nullopt);
        } else {
            plan.pipeline.emplace(detail::LevelPipeline::Work::Levels,
                                  plan.prep.isActive()
                                      ? std::optional(plan.prep.levelsFor(ImageBuffer{}))
                                      : std::nullopt);
        }
    }
}

bool SceneImage::decodeInto(Built& built, LoadPlan& plan, const Source& source,
                            ProgressReporter* progress, ErrorInfo& errors) {
    const RowsReady rowsReady = [&plan](const ImageBuffer& picture, std::uint32_t rows) {
        if (!plan.pipelineTried) {
            plan.pipelineTried = true;
            // Rows that arrive all at once (a turned picture) are made faster afterwards, on
            // two processors.
            const bool gradual = rows < picture.height;
            if (gradual &&
                (plan.budgetMegabytes == 0 ||
                 !ImageMemoryBudget::reducedSize(picture.bitsPerPixel, picture.width,
                                                 picture.height, plan.budgetMegabytes))) {
                plan.pipeline->start(
                    picture,
                    levelSizes(plan.schedule, picture.width, picture.height,
                               lastLevelFor(plan.schedule, plan.need.narrowest, picture.width)),
                    {proxyWidth(picture.width, picture.height),
                     proxyHeight(picture.width, picture.height)});
            }
        }
        plan.pipeline->rowsReady(rows);
    };
    ImageBuffer fresh;
    if (!decodeSource(source, progress, errors, &fresh, &built.hasAlpha, &built.decodedWidth,
                      &built.decodedHeight, plan.pipeline ? rowsReady : RowsReady{},
                      plan.need.widest)) {
        plan.pipeline.reset();
        return false;
    }
    built.reducedForDetail = fresh.width < built.decodedWidth;
    built.levels[0] = std::move(fresh);
    return true;
}

bool SceneImage::loadFailed(ProgressReporter* progress, ErrorInfo& errors) {
    m_state->loadFailed = true;
    bool hasOwnPicture = false;
    {
        std::lock_guard data(m_state->dataMutex);
        hasOwnPicture = m_state->source.kind != Source::Kind::Default &&
                        (m_state->current.levels[0].pixels != nullptr ||
                         m_state->current.proxy.pixels != nullptr);
    }
    endLoading(isLoaded());
    // A scene always has pixels: one that had none of its own shows the built-in picture.
    if (!hasOwnPicture) {
        installDefault(progress, errors);
    }
    return false;
}

// The old full image goes before the new one is built, so that both are not held at once;
// readers see the proxy meanwhile.
void SceneImage::dropFullImage() {
    if (!isLoaded()) {
        return;
    }
    WriteGuard guard(*this);
    {
        std::lock_guard state(m_state->stateMutex);
        m_state->loaded = false;
    }
    std::lock_guard data(m_state->dataMutex);
    m_state->current.levels.fill(ImageBuffer{});
    m_state->current.levelsBuilt = 0;
}

void SceneImage::buildFromDecoded(Built& built, LoadPlan& plan, unsigned flags,
                                  ProgressReporter* progress, ErrorInfo& errors) {
    std::vector<ImageBuffer> madeLevels;
    if (plan.pipeline && plan.pipeline->started() && progress != nullptr) {
        progress->setStatusText(strings::text(msg::kCreatingMipmaps));
    }
    const detail::LevelPipeline::CurveFor curveFor =
        [&plan](const LevelsTable::Histogram& histogram) { return plan.prep.levelsFor(histogram); };
    const bool pipelined = plan.pipeline && plan.pipeline->finish(built.levels[0], curveFor,
                                                                  &madeLevels, &built.proxy);
    if (pipelined) {
        for (std::size_t i = 0; i < madeLevels.size(); ++i) {
            built.levels[i + 1] = std::move(madeLevels[i]);
        }
        built.levelsBuilt = static_cast<int>(madeLevels.size());
        built.levelsDone = true;
        built.prepared = plan.prep.isActive();
    } else {
        if (plan.budgetMegabytes > 0) {
            const ImageBuffer& full = built.levels[0];
            if (const auto size = ImageMemoryBudget::reducedSize(
                    full.bitsPerPixel, full.width, full.height, plan.budgetMegabytes)) {
                ImageBuffer reduced;
                if (PerfKit::allocate(&reduced, full.format, static_cast<int>(size->width),
                                      static_cast<int>(size->height)) == PixelStatus::Ok &&
                    resample(reduced, full) == PixelStatus::Ok) {
                    built.levels[0] = std::move(reduced);
                } else {
                    errors.report(kOutOfMemory);
                }
            }
        }
        if ((flags & kDeferLevels) == 0) {
            if (progress != nullptr) {
                progress->setStatusText(strings::text(msg::kCreatingMipmaps));
            }
            prepareLevel0(built, plan.prep, errors);
            buildLevels(built, plan.schedule, errors,
                        lastLevelFor(plan.schedule, plan.need.narrowest, built.levels[0].width));
        }
        buildProxy(built, plan.prep, errors);
    }
}

void SceneImage::publishLoaded(Built&& built, const LoadPlan& plan, const Source& source) {
    // Pixels made for the need alone: reduced, or without the coarser copies.
    const ImageBuffer& level0 = built.levels[0];
    const bool capped =
        built.levelsDone && level0.pixels != nullptr &&
        built.levelsBuilt < static_cast<int>(levelSizes(plan.schedule, level0.width, level0.height,
                                                        MipSchedule::kMaxLevels)
                                                 .size());
    built.madeFor = built.reducedForDetail || capped ? plan.need : DetailNeeded{};
    {
        WriteGuard guard(*this);
        publishLocked(std::move(built), source, plan.prep.changeCount());
    }
    endLoading(true);
    if (m_published) {
        m_published();
    }
}

bool SceneImage::prepareLevel0(Built& built, const ImagePrepSettings& prep, ErrorInfo& errors) {
    built.prepared = false;
    if (!prep.isActive()) {
        return true;
    }
    ImageBuffer& full = built.levels[0];
    if (!ownsAlone(full)) {
        ImageBuffer own;
        if (PerfKit::allocate(&own, full.format, static_cast<int>(full.width),
                              static_cast<int>(full.height)) != PixelStatus::Ok) {
            return errors.report(kOutOfMemory) != 0;
        }
        if (prep.prepare(own, full) != PixelStatus::Ok) {
            return false;
        }
        full = std::move(own);
    } else if (applyInBands(prep.levelsFor(full), full) != PixelStatus::Ok) {
        return false;
    }
    built.prepared = true;
    return true;
}

bool SceneImage::buildLevels(Built& built, const MipSchedule& scheduleIn, ErrorInfo& errors,
                             int lastLevel) {
    MipSchedule schedule = scheduleIn;
    const ImageBuffer& full = built.levels[0];
    schedule.fill(full.width);
    bool ok = true;
    int count = 0;
    const int last = std::min({schedule.levelCount() - 1, MipSchedule::kMaxLevels, lastLevel});
    for (int level = 1; level <= last; ++level) {
        if (scaledSide(schedule.scale(level), full.width) < MipSchedule::kMinLevelWidth) {
            break;
        }
        ImageBuffer& target = built.levels[static_cast<std::size_t>(level)];
        if (target.pixels == nullptr) {
            const ImageBuffer& from = built.levels[static_cast<std::size_t>(level - 1)];
            if (from.pixels == nullptr) {
                break;
            }
            const double factor =
                level == 1 ? schedule.scale(1) : schedule.scale(level) / schedule.scale(level - 1);
            const std::uint32_t w = std::max<std::uint32_t>(1, scaledSide(factor, from.width));
            const std::uint32_t h = std::max<std::uint32_t>(1, scaledSide(factor, from.height));
            ImageBuffer made;
            if (PerfKit::allocate(&made, from.format, static_cast<int>(w), static_cast<int>(h)) !=
                PixelStatus::Ok) {
                // The smaller levels come from this one, so they stay missing too.
                errors.report(kOutOfMemory);
                ok = false;
                break;
            }
            detail::prefaultImage(made);
            if (resample(made, from) != PixelStatus::Ok) {
                ok = false;
                break;
            }
            target = std::move(made);
        }
        ++count;
    }
    built.levelsBuilt = count;
    built.levelsDone = true;
    return ok;
}

std::uint32_t SceneImage::proxyWidth(std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0) {
        return 0;
    }
    if (width >= height) {
        return kProxySide;
    }
    return std::max<std::uint32_t>(
        1, static_cast<std::uint32_t>(std::uint64_t{width} * kProxySide / height));
}

std::uint32_t SceneImage::proxyHeight(std::uint32_t width, std::uint32_t height) {
    return proxyWidth(height, width);
}

bool SceneImage::buildProxy(Built& built, const ImagePrepSettings& prep, ErrorInfo& errors) {
    const ImageBuffer& full = built.levels[0];
    if (full.pixels == nullptr) {
        return false;
    }
    ImageBuffer proxy;
    if (PerfKit::allocate(
            &proxy, full.format, static_cast<int>(proxyWidth(full.width, full.height)),
            static_cast<int>(proxyHeight(full.width, full.height))) != PixelStatus::Ok) {
        return errors.report(kOutOfMemory) != 0;
    }
    if (resample(proxy, full) != PixelStatus::Ok) {
        return false;
    }
    // A deferred preparation must not leave the storyboard showing the raw picture.
    if (prep.isActive() && !built.prepared) {
        prep.prepare(proxy, proxy);
    }
    built.proxy = std::move(proxy);
    return true;
}

void SceneImage::publishLocked(Built&& built, const Source& source, std::uint32_t prepCount) {
    std::lock_guard data(m_state->dataMutex);
    const bool changed = !source.sameAs(m_state->source);
    if (changed) {
        m_state->modified = true;
        m_state->alphaOverride.reset();
    }
    m_state->source = source;
    m_state->displayName =
        source.kind == Source::Kind::Default ? std::string() : nameOf(source.path);
    for (int level = 0; level < kLevelCount; ++level) {
        m_state->current.levels[static_cast<std::size_t>(level)] =
            std::move(built.levels[static_cast<std::size_t>(level)]);
    }
    m_state->current.levelsBuilt = built.levelsBuilt;
    if (built.proxy.pixels != nullptr) {
        m_state->current.proxy = std::move(built.proxy);
    }
    if (m_state->current.levels[0].pixels != nullptr) {
        m_state->current.width = m_state->current.levels[0].width;
        m_state->current.height = m_state->current.levels[0].height;
    } else {
        m_state->current.width = built.width;
        m_state->current.height = built.height;
    }
    m_state->current.decodedWidth = built.decodedWidth;
    m_state->current.decodedHeight = built.decodedHeight;
    m_state->current.hasAlpha = m_state->alphaOverride.value_or(built.hasAlpha);
    m_state->current.prepared = built.prepared;
    m_state->current.levelsDone = built.levelsDone;
    m_state->current.reducedForDetail =
        built.reducedForDetail && m_state->current.levels[0].pixels != nullptr;
    m_state->current.madeFor =
        m_state->current.levels[0].pixels != nullptr ? built.madeFor : DetailNeeded{};
    m_state->preparedCount = prepCount;
}

SceneImage::Built SceneImage::takeBuilt() {
    std::lock_guard data(m_state->dataMutex);
    // The levels move out (nobody else then holds them, so they may be written in place); the
    // proxy stays for readers.
    Built built = m_state->current;
    m_state->current.levels.fill(ImageBuffer{});
    return built;
}

bool SceneImage::copyFrom(const ScenePicture& source, ProgressReporter* progress,
                          ErrorInfo& errors) {
    const auto* other = dynamic_cast<const SceneImage*>(&source);
    if (other == nullptr) {
        return load(source.path(), progress, errors);
    }
    if (other == this) {
        return true;
    }
    other->waitWhileLoading();
    // The pixels are shared, not copied: nothing writes into pixels that another holder has.
    Built built;
    Source from;
    MipSchedule schedule;
    std::uint32_t prepCount = 0;
    {
        std::lock_guard theirs(other->m_state->dataMutex);
        built = other->m_state->current;
        from = other->m_state->source;
        schedule = other->m_state->schedule;
        prepCount = other->m_state->preparedCount;
    }
    const bool loaded = other->isLoaded();
    claimLoading();
    m_prep = other->m_prep;
    {
        WriteGuard guard(*this);
        publishLocked(std::move(built), from, prepCount);
        std::lock_guard data(m_state->dataMutex);
        m_state->schedule = schedule;
    }
    endLoading(loaded);
    return true;
}

// ---------------------------------------------------------------------------------------------
// State

void SceneImage::claimLoading() {
    for (;;) {
        {
            std::lock_guard state(m_state->stateMutex);
            if (!m_state->loading) {
                m_state->loading = true;
                return;
            }
        }
        std::this_thread::sleep_for(kLoadPoll);
    }
}

void SceneImage::endLoading(bool loaded) {
    std::lock_guard state(m_state->stateMutex);
    m_state->loading = false;
    m_state->loaded = loaded;
}

void SceneImage::waitWhileLoading() const {
    while (isLoading()) {
        std::this_thread::sleep_for(kLoadPoll);
    }
}

bool SceneImage::isLoaded() const {
    std::lock_guard state(m_state->stateMutex);
    return m_state->loaded;
}

bool SceneImage::isLoading() const {
    std::lock_guard state(m_state->stateMutex);
    return m_state->loading;
}

bool SceneImage::lastLoadFailed() const {
    return m_state->loadFailed;
}

bool SceneImage::isBusy() const {
    std::lock_guard busy(m_state->busyMutex);
    return m_state->busy;
}

bool SceneImage::ensureLoaded() {
    if (isLoaded()) {
        return true;
    }
    if (isLoading()) {
        waitWhileLoading();
        if (isLoaded()) {
            return true;
        }
    }
    if (PictureLoader* loader = m_loader.load()) {
        return loader->loadNow(*this);
    }
    if (m_context != nullptr) {
        return reload(nullptr, m_context->errors());
    }
    ErrorInfo scratch;
    return reload(nullptr, scratch);
}

void SceneImage::unload(bool alsoProxy) {
    claimLoading();
    {
        WriteGuard guard(*this);
        std::lock_guard data(m_state->dataMutex);
        m_state->current.levels.fill(ImageBuffer{});
        m_state->current.levelsBuilt = 0;
        m_state->current.prepared = false;
        m_state->current.levelsDone = false;
        m_state->current.reducedForDetail = false;
        m_state->current.madeFor = {};
        if (alsoProxy) {
            m_state->current.proxy = ImageBuffer{};
        }
    }
    endLoading(false);
}

void SceneImage::setLoader(PictureLoader* loader) {
    m_loader = loader;
}

int SceneImage::limitMegabytes() const {
    if (m_context == nullptr) {
        return 0;
    }
    // Exports draw every picture at its full resolution, whatever the preview's limit.
    if (m_context->project().exportState() != 0) {
        return 0;
    }
    const Project::ImageMemory memory = m_context->project().imageMemory();
    return memory.limitPerScene && memory.limitMegabytes > 0 ? memory.limitMegabytes : 0;
}

bool SceneImage::atBudgetSize() const {
    const int budget = limitMegabytes();
    std::lock_guard data(m_state->dataMutex);
    if (budget == 0) {
        return m_state->current.madeFor.known()
                   ? m_state->current.madeFor == m_state->detailNeeded
                   : m_state->current.width == m_state->current.decodedWidth;
    }
    const std::uint64_t size =
        ImageMemoryBudget::megabytes(32, m_state->current.width, m_state->current.height);
    const std::uint64_t decoded = ImageMemoryBudget::megabytes(32, m_state->current.decodedWidth,
                                                               m_state->current.decodedHeight);
    const auto cap = static_cast<std::uint64_t>(budget);
    return size == cap || (size < cap && size >= decoded);
}

std::string SceneImage::nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---------------------------------------------------------------------------------------------
// Facts

std::string SceneImage::path() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->source.kind == Source::Kind::Default ? std::string() : m_state->source.path;
}

std::shared_ptr<const HeldPicture> SceneImage::heldPicture() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->source.held;
}

std::shared_ptr<const std::vector<std::uint8_t>> SceneImage::memoryBytes() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->source.bytes;
}

ImageBuffer SceneImage::sourcePixels() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->source.pixels;
}

std::string SceneImage::displayName() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->displayName;
}

bool SceneImage::isDefault() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->source.kind == Source::Kind::Default;
}

int SceneImage::width() const {
    std::lock_guard data(m_state->dataMutex);
    return static_cast<int>(m_state->current.width);
}

int SceneImage::height() const {
    std::lock_guard data(m_state->dataMutex);
    return static_cast<int>(m_state->current.height);
}

int SceneImage::decodedWidth() const {
    std::lock_guard data(m_state->dataMutex);
    return static_cast<int>(m_state->current.decodedWidth);
}

int SceneImage::decodedHeight() const {
    std::lock_guard data(m_state->dataMutex);
    return static_cast<int>(m_state->current.decodedHeight);
}

std::int64_t SceneImage::memoryEstimate() const {
    std::lock_guard data(m_state->dataMutex);
    const std::int64_t pw =
        proxyWidth(m_state->current.decodedWidth, m_state->current.decodedHeight);
    const std::int64_t ph =
        proxyHeight(m_state->current.decodedWidth, m_state->current.decodedHeight);
    return 4 * pw * ph + 5000 +
           8 * std::int64_t{m_state->current.decodedWidth} * m_state->current.decodedHeight;
}

bool SceneImage::modified() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->modified;
}

void SceneImage::setModified(bool modified) {
    std::lock_guard data(m_state->dataMutex);
    m_state->modified = modified;
}

bool SceneImage::hasAlpha() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->current.hasAlpha;
}

void SceneImage::setHasAlpha(bool hasAlpha) {
    std::lock_guard data(m_state->dataMutex);
    m_state->alphaOverride = hasAlpha;
    m_state->current.hasAlpha = hasAlpha;
}

int SceneImage::mipLevelsBuilt() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->current.levelsBuilt;
}

bool SceneImage::isPrepared() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->current.prepared;
}

ImageBuffer SceneImage::proxy() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->current.proxy;
}

int SceneImage::mipSchedule() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->schedule.index();
}

// ---------------------------------------------------------------------------------------------
// Readers

ImageBuffer SceneImage::getImage(int level, bool* locked, PictureAccess* access) {
    if (locked != nullptr) {
        *locked = false;
    }
    if (access == nullptr || *access == PictureAccess::Full) {
        ensureLoaded();
    }
    auto giveProxy = [&] {
        if (access != nullptr) {
            *access = PictureAccess::Proxy;
        }
        return proxy();
    };
    if (isBusy()) {
        return giveProxy();
    }
    std::lock_guard readers(m_state->readerMutex);
    if (!isLoaded() || isBusy()) {
        return giveProxy();
    }
    ++m_state->readers;
    if (locked != nullptr) {
        *locked = true;
    }
    if (access != nullptr) {
        *access = PictureAccess::Full;
    }
    std::lock_guard data(m_state->dataMutex);
    if (level >= 0 && level < kLevelCount &&
        m_state->current.levels[static_cast<std::size_t>(level)].pixels != nullptr) {
        return m_state->current.levels[static_cast<std::size_t>(level)];
    }
    return m_state->current.proxy;
}

void SceneImage::releaseImage() {
    std::lock_guard readers(m_state->readerMutex);
    if (m_state->readers > 0) {
        --m_state->readers;
    }
}

int SceneImage::readerCount() const {
    std::lock_guard readers(m_state->readerMutex);
    return m_state->readers;
}

// ---------------------------------------------------------------------------------------------
// Level choice

int SceneImage::chooseLevel(double neededScale) const {
    std::lock_guard data(m_state->dataMutex);
    for (int level = m_state->current.levelsBuilt - 1; level >= 1; --level) {
        if (neededScale < m_state->schedule.threshold(level)) {
            return level;
        }
    }
    return 0;
}

float SceneImage::neededScale(const SceneMotion& scene, float time, bool useDecodedWidth,
                              int outputWidth) const {
    const double scale = scene.evaluate(Scale, time);
    double w = 0.0;
    double h = 0.0;
    double decoded = 0.0;
    {
        const bool loaded = isLoaded();
        std::lock_guard data(m_state->dataMutex);
        const bool full = loaded && m_state->current.levels[0].pixels != nullptr;
        const ImageBuffer& basis = full ? m_state->current.levels[0] : m_state->current.proxy;
        w = basis.width;
        h = basis.height;
        // A picture decoded reduced for the detail its frames need has its levels chosen
        // against its own size: the decoded width would pick levels it does not have.
        decoded = full && m_state->current.reducedForDetail ? w : m_state->current.decodedWidth;
    }
    if (outputWidth <= 0) {
        outputWidth = m_context != nullptr ? m_context->project().assumedWidth() : 720;
    }
    const double effective = h < w ? scale * w / h : scale;
    const double d = useDecodedWidth ? decoded : w;
    return d > 0.0 ? static_cast<float>(outputWidth * effective / d) : 0.0f;
}

SceneImage::DetailNeeded SceneImage::detailNeeded(const SceneMotion& scene, int outputWidth) const {
    double w = 0.0;
    double h = 0.0;
    {
        const bool loaded = isLoaded();
        std::lock_guard data(m_state->dataMutex);
        const ImageBuffer& basis = loaded && m_state->current.levels[0].pixels != nullptr
                                       ? m_state->current.levels[0]
                                       : m_state->current.proxy;
        w = basis.width;
        h = basis.height;
    }
    if (w <= 0.0 || h <= 0.0 || outputWidth <= 0) {
        return {};
    }
    // neededScale() is the output width times this over the decoded width.
    const auto widthAt = [&](float time, int output) {
        const double scale = scene.evaluate(Scale, time);
        return output * (h < w ? scale * w / h : scale);
    };
    // The scale's curve is smooth: dense samples and a margin cover the frames between them.
    constexpr int kSamples = 512;
    double most = 0.0;
    double least = 1e300;
    const auto take = [&](double width) {
        most = std::max(most, width);
        least = std::min(least, width);
    };
    for (int i = 0; i <= kSamples; ++i) {
        take(widthAt(static_cast<float>(i) / kSamples, outputWidth));
    }
    // A steady zoom picks its level for the project's assumed output width.
    if (steadyZoom(scene)) {
        take(widthAt(0.5f, m_context != nullptr ? m_context->project().assumedWidth() : 720));
    }
    if (!(least > 0.0) || most * kDetailMargin >= static_cast<double>(kMaxSide)) {
        return {};
    }
    // At least proxy-sized on both sides: a long, thin picture shown small would otherwise keep
    // only a few rows.
    const double floor = std::max(1.0, w / h) * kProxySide;
    return {static_cast<std::uint32_t>(std::ceil(std::max(most * kDetailMargin, floor))),
            static_cast<std::uint32_t>(std::floor(least))};
}

void SceneImage::setDetailNeeded(DetailNeeded need) {
    std::lock_guard data(m_state->dataMutex);
    m_state->detailNeeded = need.known() ? need : DetailNeeded{};
}

SceneImage::DetailNeeded SceneImage::madeFor() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->current.madeFor;
}

bool SceneImage::reducedForDetail() const {
    std::lock_guard data(m_state->dataMutex);
    return m_state->current.reducedForDetail;
}

int SceneImage::levelForRendering(const SceneMotion& scene, double neededScale,
                                  bool useDecodedWidth) const {
    if (!steadyZoom(scene)) {
        return chooseLevel(neededScale);
    }
    return chooseLevel(this->neededScale(scene, 0.5f, useDecodedWidth));
}

// ---------------------------------------------------------------------------------------------
// Preparation and levels

bool SceneImage::preparationPending() const {
    std::lock_guard data(m_state->dataMutex);
    return m_prep.changeCount() != m_state->preparedCount;
}

bool SceneImage::applyPreparation(ProgressReporter* progress, ErrorInfo& errors) {
    if (!preparationPending()) {
        return true;
    }
    // Prepared pixels cannot be unprepared: the picture is decoded again with the new settings.
    const bool wasLoaded = isLoaded();
    const bool ok = reload(progress, errors);
    if (ok && !wasLoaded) {
        unload(false);
    }
    return ok;
}

bool SceneImage::finishLevels(ProgressReporter* progress, ErrorInfo& errors) {
    claimLoading();
    const bool loaded = isLoaded();
    bool done = false;
    {
        std::lock_guard data(m_state->dataMutex);
        done = m_state->current.levelsDone;
    }
    bool ok = true;
    if (loaded && !done) {
        if (progress != nullptr) {
            progress->setStatusText(strings::text(msg::kCreatingMipmaps));
        }
        const ImagePrepSettings prep = m_prep;
        WriteGuard guard(*this);
        Built built = takeBuilt();
        Source source;
        MipSchedule schedule;
        {
            std::lock_guard data(m_state->dataMutex);
            source = m_state->source;
            schedule = m_state->schedule;
        }
        if (!built.prepared) {
            ok = prepareLevel0(built, prep, errors);
        }
        ok = buildLevels(built, schedule, errors) && ok;
        publishLocked(std::move(built), source, prep.changeCount());
    }
    endLoading(loaded);
    return ok;
}

bool SceneImage::setMipSchedule(int index, ErrorInfo& errors) {
    if (index < 0 || index > 3) {
        return false;
    }
    claimLoading();
    const bool loaded = isLoaded();
    bool ok = true;
    {
        WriteGuard guard(*this);
        Built built = takeBuilt();
        Source source;
        std::uint32_t prepCount = 0;
        {
            std::lock_guard data(m_state->dataMutex);
            m_state->schedule = MipSchedule(index);
            source = m_state->source;
            prepCount = m_state->preparedCount;
        }
        for (int level = 1; level < kLevelCount; ++level) {
            built.levels[static_cast<std::size_t>(level)] = ImageBuffer{};
        }
        built.levelsBuilt = 0;
        if (built.levels[0].pixels != nullptr && built.levelsDone) {
            ok = buildLevels(built, MipSchedule(index), errors);
        }
        publishLocked(std::move(built), source, prepCount);
    }
    endLoading(loaded);
    return ok;
}

}  // namespace pm
