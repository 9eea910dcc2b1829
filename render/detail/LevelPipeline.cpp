#include "render/detail/LevelPipeline.h"

#include <algorithm>

#include "render/PerfKit.h"
#include "render/detail/ImageOps.h"
#include "render/detail/RowHalves.h"

namespace pm::detail {

namespace {

// The worker is woken for at least this many new rows (or the last ones): fewer would spend
// more on waking than on work.
constexpr std::uint32_t kWakeRows = 32;

ImageBuffer rowBand(const ImageBuffer& image, std::uint32_t first, std::uint32_t count) {
    return ImageBuffer::wrap(image.format, image.width, count, image.pitch, image.row(first));
}

// Rows below this are made on one thread.
constexpr std::uint32_t kWorthSplitting = 64;
// The worker's unit of work between looks at whether it is to hand over.
constexpr std::uint32_t kPieceRows = 128;

}  // namespace

LevelPipeline::LevelPipeline(Work work, std::optional<LevelsTable> curve)
    : m_work(work), m_curve(std::move(curve)) {}

LevelPipeline::~LevelPipeline() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void LevelPipeline::start(const ImageBuffer& picture, const std::vector<Size>& levels, Size proxy) {
    m_started = true;
    m_picture = picture;
    m_levelSizes = levels;
    m_proxySize = proxy;
    // The memory is taken here, before the caller faults in the picture's: mapping memory waits
    // while another thread faults a range in, so the worker would wait for all of it. Faulting
    // in, the slow part, is the worker's, side by side with the caller's.
    if (!takeMemory()) {
        m_failed = true;
        return;
    }
    m_worker = std::thread([this] { work(); });
}

bool LevelPipeline::takeMemory() {
    const auto take = [this](Size size, Stage* stage) {
        return PerfKit::allocate(&stage->image, m_picture.format, static_cast<int>(size.width),
                                 static_cast<int>(size.height)) == PixelStatus::Ok;
    };
    m_levels.resize(m_levelSizes.size());
    for (std::size_t i = 0; i < m_levelSizes.size(); ++i) {
        if (!take(m_levelSizes[i], &m_levels[i])) {
            return false;
        }
    }
    return take(m_proxySize, &m_proxy);
}

bool LevelPipeline::makeStages() {
    const auto makeStage = [](const ImageBuffer& from, Stage* stage) {
        prefaultImage(stage->image);
        stage->resampler = std::make_unique<AreaResampler>(from.width, from.height,
                                                           stage->image.width, stage->image.height);
        return stage->resampler->usable();
    };
    const ImageBuffer* from = &m_picture;
    for (Stage& level : m_levels) {
        if (!makeStage(*from, &level)) {
            return false;
        }
        from = &level.image;
    }
    return makeStage(m_picture, &m_proxy);
}

void LevelPipeline::rowsReady(std::uint32_t rows) {
    if (!m_worker.joinable()) {
        return;
    }
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        m_rows = rows;
        if (rows >= m_signalled + kWakeRows || rows == m_picture.height) {
            m_signalled = rows;
            wake = true;
        }
    }
    if (wake) {
        m_wake.notify_one();
    }
}

void LevelPipeline::work() {
    if (!makeStages()) {
        m_failed = true;
        return;
    }
    std::uint32_t seen = 0;
    for (;;) {
        std::uint32_t rows = 0;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_handOver || m_signalled > seen; });
            if (m_stop || m_handOver) {
                return;
            }
            rows = m_signalled;
        }
        seen = rows;
        if (advance(rows)) {
            std::lock_guard lock(m_mutex);
            m_complete = true;
            return;
        }
    }
}

bool LevelPipeline::advance(std::uint32_t rows) {
    if (m_work == Work::Histogram) {
        if (rows > m_prepared) {
            LevelsTable::Histogram band{};
            if (LevelsTable::histogramOf(rowBand(m_picture, m_prepared, rows - m_prepared),
                                         &band) != PixelStatus::Ok) {
                m_failed = true;
                return true;
            }
            for (std::size_t i = 0; i < band.size(); ++i) {
                m_histogram[i] += band[i];
            }
            m_prepared = rows;
        }
        return rows == m_picture.height;
    }
    // Work goes in pieces, so that a hand-over waits for one piece at most.
    while (m_curve && rows > m_prepared) {
        if (m_handOver) {
            return false;
        }
        const std::uint32_t count = std::min(rows - m_prepared, kPieceRows);
        const ImageBuffer band = rowBand(m_picture, m_prepared, count);
        if (m_curve->apply(band, band) != PixelStatus::Ok) {
            m_failed = true;
            return true;
        }
        m_prepared += count;
    }
    auto step = [this](Stage& stage, const ImageBuffer& from, std::uint32_t fromRows) {
        const std::uint32_t target = stage.resampler->rowsFrom(fromRows);
        while (stage.rowsDone < target && !m_handOver) {
            const std::uint32_t end = std::min(target, stage.rowsDone + kPieceRows);
            stage.resampler->run(stage.image, from, stage.rowsDone, end);
            stage.rowsDone = end;
        }
        return stage.rowsDone == stage.image.height;
    };
    bool done = true;
    const ImageBuffer* from = &m_picture;
    std::uint32_t fromRows = rows;
    for (Stage& level : m_levels) {
        done = step(level, *from, fromRows) && done;
        from = &level.image;
        fromRows = level.rowsDone;
    }
    done = step(m_proxy, m_picture, rows) && done;
    return done;
}

bool LevelPipeline::finish(const ImageBuffer& picture, const CurveFor& curveFor,
                           std::vector<ImageBuffer>* levels, ImageBuffer* proxy) {
    const bool whole = m_rows >= m_picture.height;
    if (m_worker.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            if (!whole) {
                // A picture that ended early gets nothing more.
                m_stop = true;
            } else if (m_work == Work::Histogram) {
                m_signalled = m_rows;
            }
        }
        // What the worker has not made yet is made below on two processors.
        m_handOver = whole && m_work == Work::Levels;
        m_wake.notify_one();
        m_worker.join();
    }
    if (!m_started || m_failed || !whole || picture.pixels != m_picture.pixels ||
        picture.width != m_picture.width || picture.height != m_picture.height) {
        return false;
    }
    if (m_work == Work::Histogram) {
        if (!m_complete) {
            return false;
        }
        // Everything waited for the curve.
        m_curve = curveFor(m_histogram);
        m_prepared = 0;
    }
    if (!completeInHalves()) {
        return false;
    }
    levels->clear();
    for (Stage& level : m_levels) {
        levels->push_back(std::move(level.image));
    }
    *proxy = std::move(m_proxy.image);
    return true;
}

bool LevelPipeline::completeInHalves() {
    const std::uint32_t height = m_picture.height;
    if (m_curve) {
        bool applied = true;
        inRowHalves(m_prepared, height, kWorthSplitting,
                    [&](std::uint32_t first, std::uint32_t end) {
                        const ImageBuffer band = rowBand(m_picture, first, end - first);
                        if (m_curve->apply(band, band) != PixelStatus::Ok) {
                            applied = false;
                        }
                    });
        if (!applied) {
            return false;
        }
        m_prepared = height;
    }
    auto complete = [](Stage& stage, const ImageBuffer& from) {
        inRowHalves(stage.rowsDone, stage.image.height, kWorthSplitting,
                    [&](std::uint32_t first, std::uint32_t end) {
                        stage.resampler->run(stage.image, from, first, end);
                    });
        stage.rowsDone = stage.image.height;
    };
    const ImageBuffer* from = &m_picture;
    for (Stage& level : m_levels) {
        complete(level, *from);
        from = &level.image;
    }
    complete(m_proxy, m_picture);
    return true;
}

}  // namespace pm::detail
