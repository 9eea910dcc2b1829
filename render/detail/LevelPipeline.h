#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "render/ImageBuffer.h"
#include "render/LevelsTable.h"
#include "render/detail/AreaResampler.h"

namespace pm::detail {

// Makes a picture's reduced copies and its proxy on a second thread while the picture's rows are
// still being decoded: each level's rows are made as soon as the rows they cover exist, from the
// level before (the first from the picture), and the proxy from the picture. A tone curve, when
// given, is applied to the picture's rows before anything reads them. The bytes are those of
// preparing the whole picture and then resampling it level by level. For a picture whose tone
// curve depends on the whole of it (auto levels) only the histogram is gathered meanwhile (and
// the memory taken); the rest waits for the last row.
class LevelPipeline {
public:
    struct Size {
        std::uint32_t width;
        std::uint32_t height;
    };

    enum class Work { Levels, Histogram };
    LevelPipeline(Work work, std::optional<LevelsTable> curve);
    ~LevelPipeline();
    LevelPipeline(const LevelPipeline&) = delete;
    LevelPipeline& operator=(const LevelPipeline&) = delete;

    bool started() const { return m_started; }
    // Begins work on `picture` (its rows filled from the top later): `levels` are the sizes of
    // levels 1 onwards, `proxy` the proxy's (both unused for the histogram).
    void start(const ImageBuffer& picture, const std::vector<Size>& levels, Size proxy);
    // The top `rows` rows of the picture are final.
    void rowsReady(std::uint32_t rows);
    // The tone curve for a picture's histogram (of (B + G + R) / 3).
    using CurveFor = std::function<LevelsTable(const LevelsTable::Histogram&)>;
    // Waits for the work on `picture` and hands out levels 1 onwards and the proxy; false (and
    // nothing handed out) when the work failed or was done on another picture. What is not made
    // yet is made now, on two processors; when only the histogram was gathered, that is the
    // picture's preparation with curveFor's curve and everything after it.
    bool finish(const ImageBuffer& picture, const CurveFor& curveFor,
                std::vector<ImageBuffer>* levels, ImageBuffer* proxy);

private:
    struct Stage {
        ImageBuffer image;
        std::unique_ptr<AreaResampler> resampler;
        std::uint32_t rowsDone = 0;
    };
    void work();
    // Takes the memory of the levels and the proxy; false when it cannot be had.
    bool takeMemory();
    // Faults that memory in and readies the resamplers.
    bool makeStages();
    // Makes what the first `rows` picture rows allow; true when everything is made.
    bool advance(std::uint32_t rows);
    // Makes what is left once every row is there, on two processors.
    bool completeInHalves();

    Work m_work;
    std::optional<LevelsTable> m_curve;
    LevelsTable::Histogram m_histogram{};
    bool m_started = false;
    ImageBuffer m_picture;
    std::vector<Size> m_levelSizes;
    Size m_proxySize{};
    std::uint32_t m_prepared = 0;
    // Levels 1 onwards, each from the one before, then the proxy from the picture.
    std::vector<Stage> m_levels;
    Stage m_proxy;
    bool m_failed = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint32_t m_rows = 0;
    std::uint32_t m_signalled = 0;
    bool m_stop = false;
    // Set once the last row is there: the worker stops after its piece, the rest is made in
    // halves.
    std::atomic<bool> m_handOver{false};
    bool m_complete = false;
    std::thread m_worker;
};

}  // namespace pm::detail
