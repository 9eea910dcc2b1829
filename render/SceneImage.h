#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ScenePicture.h"
#include "render/HeldPicture.h"
#include "render/ImageBuffer.h"
#include "render/ImagePrepSettings.h"
#include "render/MipSchedule.h"
#include "render/RenderModes.h"

namespace pm {

class ErrorInfo;
class PictureLoader;
class ProgressReporter;
class ProjectContext;
class SceneMotion;

// A scene's picture: the full image (level 0), reduced copies for rendering small, and a proxy
// whose longer side is 200 pixels that stays while the full image is unloaded.
//
// Render threads read through getImage/releaseImage; the user-interface thread and the loader
// thread rebuild. A rebuild waits until no reader holds a reference, and readers never see a
// picture in the middle of a rebuild: they get the proxy instead. A thread that holds a
// reference must release it before it loads or rebuilds the same picture.
class SceneImage : public ScenePicture {
public:
    static constexpr std::uint32_t kMinSide = 100;
    static constexpr std::uint32_t kMaxSide = 25000;
    static constexpr std::uint32_t kProxySide = 200;
    static constexpr int kLevelCount = MipSchedule::kMaxLevels + 1;

    // Load flags: leave preparation and the reduced copies for finishLevels().
    static constexpr unsigned kDeferLevels = 1;

    // Called on the loading thread each time a load has published new pixels.
    using PublishedHook = std::function<void()>;

    // `context` supplies the memory limit and the output width; a picture without one has no
    // memory limit. `published` lets the owner react to new pixels (the editor refreshes its
    // preview).
    explicit SceneImage(ProjectContext* context = nullptr, PublishedHook published = {});
    ~SceneImage() override;
    SceneImage(const SceneImage&) = delete;
    SceneImage& operator=(const SceneImage&) = delete;

    // ScenePicture. A path starting with "[" names a picture the project already holds.
    bool load(const std::string& path, ProgressReporter* progress, ErrorInfo& errors) override;
    bool load(const std::string& path, ProgressReporter* progress, ErrorInfo& errors,
              unsigned flags);
    // Decodes a picture held in memory (a project's embedded copy); `name` is its path in the
    // project and its extension chooses the decoder. The bytes are kept for reloading.
    bool loadFromMemory(const std::string& name,
                        std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                        ProgressReporter* progress, ErrorInfo& errors, unsigned flags = 0);
    // Decodes a picture whose bytes are held elsewhere (fetched now and again at every reload).
    bool loadHeld(const std::string& name, std::shared_ptr<const HeldPicture> held,
                  ProgressReporter* progress, ErrorInfo& errors);
    // Takes decoded Bgra32 pixels (a project's embedded pixels); they are kept for reloading.
    // `held` names where they came from, for holders that ask.
    bool loadFromPixels(const std::string& name, const ImageBuffer& pixels, bool hasAlpha,
                        std::shared_ptr<const HeldPicture> held, ErrorInfo& errors);
    // Shows `proxy` now and decodes only when the pixels are first needed: the file at `path`
    // when `held` is null, else the held bytes. `width` and `height` are the picture's size.
    bool adoptDeferred(const std::string& path, std::shared_ptr<const HeldPicture> held,
                       std::uint32_t width, std::uint32_t height, bool hasAlpha,
                       const ImageBuffer& proxy);
    bool copyFrom(const ScenePicture& source, ProgressReporter* progress,
                  ErrorInfo& errors) override;
    // Decodes the current picture again (after its preparation changed, or after it was
    // unloaded). The previous pixels stay when this fails.
    bool reload(ProgressReporter* progress, ErrorInfo& errors);

    std::string path() const override;
    std::string displayName() const;
    // Where a picture that is not a plain file comes from: the held picture (null otherwise), the
    // bytes given to loadFromMemory (null otherwise) and the pixels given to loadFromPixels.
    std::shared_ptr<const HeldPicture> heldPicture() const;
    std::shared_ptr<const std::vector<std::uint8_t>> memoryBytes() const;
    ImageBuffer sourcePixels() const;
    bool isDefault() const override;
    int width() const override;
    int height() const override;
    int decodedWidth() const override;
    int decodedHeight() const;
    std::int64_t memoryEstimate() const override;

    bool ensureLoaded() override;
    void unload() override { unload(false); }
    void unload(bool alsoProxy);
    bool isLoaded() const override;
    bool isLoading() const override;
    // The last decode of the picture's pixels failed (a file damaged or gone since it was first
    // read): the scene shows its proxy, or the built-in picture.
    bool lastLoadFailed() const;
    bool isBusy() const;

    bool modified() const override;
    void setModified(bool modified) override;

    // Readers. Level 0 is the full image. Without the full image (unloaded, or being rebuilt)
    // this gives the proxy and sets `access` to Proxy; otherwise it takes a reference
    // (locked = true), gives the level, or the proxy when that level does not exist, and sets
    // Full. Full on entry, or no `access`, loads the picture first. Every reference taken is
    // released with releaseImage().
    ImageBuffer getImage(int level, bool* locked, PictureAccess* access = nullptr);
    void releaseImage();
    int readerCount() const;
    ImageBuffer proxy() const;
    bool hasAlpha() const;
    // Sets the has-alpha flag as a motion template gives it. It holds across reloads of the same
    // picture and ends when another picture is loaded.
    void setHasAlpha(bool hasAlpha);
    int mipLevelsBuilt() const;
    bool isPrepared() const;

    // Level choice for rendering. `neededScale` is output pixels per picture pixel.
    int chooseLevel(double neededScale) const;
    // `outputWidth` 0 uses the project's assumed output width.
    float neededScale(const SceneMotion& scene, float time, bool useDecodedWidth,
                      int outputWidth = 0) const;
    // A scene whose zoom changes little renders every frame from one level.
    int levelForRendering(const SceneMotion& scene, double neededScale, bool useDecodedWidth) const;

    // How wide (upright, in picture pixels) a scene's frames at `outputWidth` need the picture:
    // for the most detailed frame and for the least. Zero when that cannot be told before the
    // picture is loaded.
    struct DetailNeeded {
        std::uint32_t widest = 0;
        std::uint32_t narrowest = 0;
        bool known() const { return widest > 0; }
        bool operator==(const DetailNeeded&) const = default;
    };
    DetailNeeded detailNeeded(const SceneMotion& scene, int outputWidth) const;
    // Lets later loads make only what those frames draw from, as an export does for every scene
    // (every frame it will draw is known): a JPEG is decoded reduced where that is cheaper, to no
    // less than `widest`, and the reduced copies coarser than any frame needs are left out.
    // Levels are then chosen against the decoded size, so each frame is drawn from as much detail
    // as the full picture's levels give it. An unknown need asks for everything again.
    void setDetailNeeded(DetailNeeded need);
    // What the pixels held were made for: unknown when they are the whole picture with all its
    // reduced copies.
    DetailNeeded madeFor() const;
    // Decoded smaller than its full size for the need it was made for.
    bool reducedForDetail() const;

    // Preparation. Setters on prepSettings() count changes; applyPreparation() rebuilds the
    // picture when the counter moved since the pixels were made.
    const ImagePrepSettings& prepSettings() const { return m_prep; }
    ImagePrepSettings& prepSettings() { return m_prep; }
    bool preparationPending() const;
    bool applyPreparation(ProgressReporter* progress, ErrorInfo& errors);
    // Prepares and builds the reduced copies of a picture loaded with kDeferLevels.
    bool finishLevels(ProgressReporter* progress, ErrorInfo& errors);

    int mipSchedule() const;
    // 0 removes the reduced copies; 1 to 3 rebuilds them.
    bool setMipSchedule(int index, ErrorInfo& errors);

    // The picture cache; without one, ensureLoaded() reloads directly.
    void setLoader(PictureLoader* loader);

    // The proxy size for a picture: the longer side 200 pixels, the other in proportion.
    static std::uint32_t proxyWidth(std::uint32_t width, std::uint32_t height);
    static std::uint32_t proxyHeight(std::uint32_t width, std::uint32_t height);
    // Area averaging into another size of the same format, on two processors when the picture
    // is large; the result is that of a single pass.
    static PixelStatus resample(const ImageBuffer& destination, const ImageBuffer& source);

private:
    // What the pixels come from, what one load builds, the plan of a load and the reader
    // protocol's locked state: all in SceneImage.cpp.
    struct Source;
    struct Built;
    struct LoadPlan;
    struct State;
    class WriteGuard;

    // The steps of a load: decide, plan, decode, build, publish.
    bool upToDate(const Source& source, bool force) const;
    void publishSharedDefault(const Source& source, std::uint32_t prepCount);
    void planLoad(LoadPlan& plan, const Source& source, unsigned flags) const;
    bool decodeInto(Built& built, LoadPlan& plan, const Source& source, ProgressReporter* progress,
                    ErrorInfo& errors);
    bool loadFailed(ProgressReporter* progress, ErrorInfo& errors);
    void dropFullImage();
    void buildFromDecoded(Built& built, LoadPlan& plan, unsigned flags, ProgressReporter* progress,
                          ErrorInfo& errors);
    void publishLoaded(Built&& built, const LoadPlan& plan, const Source& source);

    bool loadSource(const Source& source, ProgressReporter* progress, ErrorInfo& errors,
                    unsigned flags, bool force);
    // `rowsReady` is told, during a decode in place, how many top rows of the picture are final.
    using RowsReady = std::function<void(const ImageBuffer& picture, std::uint32_t rows)>;
    // `width` and `height` are the picture's full size; `out` may be smaller when
    // `minimumWidth` allowed a reduced decode.
    bool decodeSource(const Source& source, ProgressReporter* progress, ErrorInfo& errors,
                      ImageBuffer* out, bool* hasAlpha, std::uint32_t* width, std::uint32_t* height,
                      const RowsReady& rowsReady = {}, std::uint32_t minimumWidth = 0);
    // Builds levels 1 to `lastLevel` at most.
    static bool buildLevels(Built& built, const MipSchedule& schedule, ErrorInfo& errors,
                            int lastLevel = MipSchedule::kMaxLevels);
    static bool buildProxy(Built& built, const ImagePrepSettings& prep, ErrorInfo& errors);
    static bool prepareLevel0(Built& built, const ImagePrepSettings& prep, ErrorInfo& errors);
    // The caller holds a WriteGuard.
    void publishLocked(Built&& built, const Source& source, std::uint32_t prepCount);
    Built takeBuilt();
    bool installDefault(ProgressReporter* progress, ErrorInfo& errors);
    bool atBudgetSize() const;
    // The preview's memory limit for one picture: 0 megabytes for none.
    int limitMegabytes() const;
    void waitWhileLoading() const;
    void claimLoading();
    void endLoading(bool loaded);
    static std::string nameOf(const std::string& path);

    ProjectContext* m_context;
    const PublishedHook m_published;
    std::atomic<PictureLoader*> m_loader{nullptr};
    ImagePrepSettings m_prep;
    const std::unique_ptr<State> m_state;
};

}  // namespace pm
