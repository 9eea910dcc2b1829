#include "render/PictureInsertion.h"

#include <algorithm>
#include <deque>
#include <future>
#include <memory>
#include <thread>

#include "core/ErrorInfo.h"
#include "core/ProgressReporter.h"
#include "core/ProjectContext.h"
#include "core/ScenePicture.h"
#include "render/SceneImage.h"

namespace pm {

namespace {

// One decode on its own thread: a picture and what went wrong with it.
struct Decoded {
    std::unique_ptr<ScenePicture> picture;
    std::string problem;
};

// Pictures decoded ahead of the one being added: two keep both processors busy, and more would
// only hold more full pictures outside the cache's count.
constexpr std::size_t kAhead = 2;

Decoded decode(const ProjectContext& context, const std::string& path) {
    Decoded d;
    d.picture = context.makePicture();
    ErrorInfo errors;  // the project's record belongs to the user-interface thread
    auto* image = dynamic_cast<SceneImage*>(d.picture.get());
    if (image != nullptr) {
        // Only the proxy and the size are needed now: a JPEG is decoded reduced, and the full
        // picture is read when a frame first needs it, under the picture cache.
        image->setDetailNeeded({SceneImage::kProxySide, SceneImage::kProxySide});
    }
    if (!d.picture || !d.picture->load(path, nullptr, errors)) {
        d.problem = errors.text();
        d.picture.reset();
        return d;
    }
    if (image != nullptr) {
        image->unload();
        image->setDetailNeeded({});
    }
    return d;
}

}  // namespace

int appendPictures(ProjectContext& context, const std::vector<std::string>& paths, TickTime length,
                   ProgressReporter* progress,
                   const std::function<void(const InsertedPicture&)>& each) {
    Project& project = context.project();
    ChangeBatch batch(context);
    std::deque<std::future<Decoded>> ahead;
    std::size_t next = 0;
    const auto startMore = [&] {
        while (ahead.size() < kAhead && next < paths.size()) {
            const std::string path = paths[next++];
            ahead.push_back(
                std::async(std::launch::async, [&context, path] { return decode(context, path); }));
        }
    };
    int added = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        startMore();
        Decoded d = ahead.front().get();
        ahead.pop_front();
        // The next decode starts before this picture is added, so the two overlap.
        startMore();
        InsertedPicture result{paths[i], -1, std::move(d.problem)};
        if (d.picture) {
            context.errors().clear();
            result.sceneId =
                project.insertLoadedSceneAt(project.projectLength(), std::move(d.picture), length);
            if (result.sceneId < 0) {
                result.problem = context.errors().text();
            }
        }
        added += result.sceneId >= 0 ? 1 : 0;
        if (each) {
            each(result);
        }
        if (progress != nullptr &&
            !progress->setFraction(100.0 * static_cast<double>(i + 1) / paths.size())) {
            break;  // the pictures still decoding are dropped when their futures go
        }
    }
    return added;
}

}  // namespace pm
