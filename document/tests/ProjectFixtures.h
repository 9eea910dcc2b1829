#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/HostHooks.h"
#include "core/KeyframeDesc.h"
#include "core/TickTime.h"
#include "render/tests/PictureFiles.h"
#include "document/ProjectDocument.h"

namespace pm {
class Scene;
class SceneMotion;
}  // namespace pm

namespace pm::test {

inline constexpr TickTime kSecond = 27'000'000;

// A PNG picture of `width` × `height` whose pixels depend on `seed`.
void writePicture(const std::string& path, int width, int height, int seed);
// The colour the picture of `seed` has at (x, y).
std::uint32_t pictureColour(int seed, int x, int y);
// A short 16-bit mono PCM WAV file.
void writeSound(const std::string& path, double seconds);

// Every key of every track of a scene, in order.
std::vector<std::vector<KeyframeDesc>> allKeys(const SceneMotion& scene);
void expectSameKeys(const std::vector<std::vector<KeyframeDesc>>& expected,
                    const std::vector<std::vector<KeyframeDesc>>& actual);

// A document whose saves and loads never see a full disk unless the test says so.
struct TestDocument : ProjectDocument {
    TestDocument();
    std::optional<std::int64_t> freeMegabytes;
    void setEmbed(bool embed);
};

// The pixel at (x, y) of a scene's full picture (loading it when needed).
std::uint32_t pixelOf(Scene& scene, int x, int y);

// The editor's hooks as the shell behaves: a "user" who answers the first question with a file in
// `answerFolder` and ticks the same-folder box; the search then uses the remembered folder.
class ShellLikeHooks : public HostHooks {
public:
    std::string answerFolder;
    bool tickSameFolder = true;
    int asked = 0;
    int searched = 0;
    int forgotten = 0;
    std::vector<std::string> shown;

    std::int32_t askForMissingImage(const std::string& shownPath, std::string& path) override;
    std::int32_t searchForMissingFile(std::string& path) override;
    void forgetSearchFolder() override;

private:
    std::string m_searchPath;
};

}  // namespace pm::test
