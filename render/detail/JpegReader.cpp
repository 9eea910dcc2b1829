#include "render/detail/JpegReader.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

// The JPEG library's headers need size_t and FILE declared before them, and jerror.h comes
// after jpeglib.h.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "render/PerfKit.h"
#include "render/detail/ImageOps.h"

namespace pm::detail {

namespace {

constexpr std::size_t kInputChunk = 64 * 1024;
// Rows asked of the library at once: enough for any sampling factor's row group.
constexpr int kStripRows = 16;
constexpr int kExifMarker = JPEG_APP0 + 1;

// The library reports a fatal error by calling error_exit, which must not return: it jumps back
// to the setjmp of the step that called into the library. Every step below is a function whose
// frame holds nothing with a destructor, so the jump skips no clean-up.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void errorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings (damaged data the library recovers from) are accepted, as the general decoder
// accepts them; nothing is printed.
void outputMessage(j_common_ptr) {}

struct SourceManager {
    jpeg_source_mgr pub;
    const JpegReader::ReadBytes* read = nullptr;
    std::uint8_t buffer[kInputChunk];
};

void initSource(j_decompress_ptr) {}

// A file that ends before its pixels do is a failure here (the general decoder then decides),
// rather than the library's grey rows.
boolean fillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<SourceManager*>(cinfo->src);
    const std::size_t got = (*src->read)(src->buffer, kInputChunk);
    if (got == 0) {
        ERREXIT(cinfo, JERR_INPUT_EOF);
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = got;
    return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<SourceManager*>(cinfo->src);
    while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
        count -= static_cast<long>(src->pub.bytes_in_buffer);
        fillInputBuffer(cinfo);
    }
    if (count > 0) {
        src->pub.next_input_byte += count;
        src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

void termSource(j_decompress_ptr) {}

struct Session {
    jpeg_decompress_struct cinfo{};
    ErrorManager error{};
    SourceManager source{};
    bool created = false;

    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        if (created) {
            jpeg_destroy_decompress(&cinfo);
        }
    }
};

bool readHeader(Session& s, const JpegReader::ReadBytes& read) {
    s.cinfo.err = jpeg_std_error(&s.error.pub);
    s.error.pub.error_exit = errorExit;
    s.error.pub.output_message = outputMessage;
    if (setjmp(s.error.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(&s.cinfo);
    s.created = true;
    s.source.read = &read;
    s.source.pub.init_source = initSource;
    s.source.pub.fill_input_buffer = fillInputBuffer;
    s.source.pub.skip_input_data = skipInputData;
    s.source.pub.resync_to_restart = jpeg_resync_to_restart;
    s.source.pub.term_source = termSource;
    s.cinfo.src = &s.source.pub;
    jpeg_save_markers(&s.cinfo, kExifMarker, 0xFFFF);
    return jpeg_read_header(&s.cinfo, TRUE) == JPEG_HEADER_OK;
}

bool startDecompress(Session& s, int eighths) {
    if (setjmp(s.error.jump) != 0) {
        return false;
    }
    s.cinfo.scale_num = static_cast<unsigned>(eighths);
    s.cinfo.scale_denom = 8;
    // The general decoder's accurate mode: the library's exact integer transform and smooth
    // chroma upsampling (its defaults, set here so that a changed default cannot creep in).
    s.cinfo.dct_method = JDCT_ISLOW;
    s.cinfo.do_fancy_upsampling = TRUE;
    s.cinfo.out_color_space = JCS_EXT_BGRA;
    return jpeg_start_decompress(&s.cinfo) != 0;
}

bool readRows(Session& s, JSAMPROW* rows, int count, JDIMENSION* got) {
    if (setjmp(s.error.jump) != 0) {
        return false;
    }
    *got = jpeg_read_scanlines(&s.cinfo, rows, static_cast<JDIMENSION>(count));
    return *got > 0;
}

bool finishDecompress(Session& s) {
    if (setjmp(s.error.jump) != 0) {
        return false;
    }
    return jpeg_finish_decompress(&s.cinfo) != 0;
}

int orientationOf(const jpeg_decompress_struct& cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
        if (m->marker == kExifMarker) {
            const int o = JpegReader::exifOrientation(m->data, m->data_length);
            if (o != 0) {
                return o;
            }
        }
    }
    return 1;
}

// Where stored pixel (x, r) of a w × h picture goes in the upright picture, for the EXIF
// orientations: the byte offset of (0, r) and the step from one x to the next.
struct Placement {
    std::ptrdiff_t rowStart;
    std::ptrdiff_t step;
};

Placement place(int orientation, std::uint32_t r, std::uint32_t w, std::uint32_t h,
                std::ptrdiff_t pitch) {
    const auto ri = static_cast<std::ptrdiff_t>(r);
    const auto wi = static_cast<std::ptrdiff_t>(w);
    const auto hi = static_cast<std::ptrdiff_t>(h);
    switch (orientation) {
        case 2:  // mirrored left to right
            return {ri * pitch + (wi - 1) * 4, -4};
        case 3:  // half turn
            return {(hi - 1 - ri) * pitch + (wi - 1) * 4, -4};
        case 4:  // mirrored top to bottom
            return {(hi - 1 - ri) * pitch, 4};
        case 5:  // mirrored along the main diagonal
            return {ri * 4, pitch};
        case 6:  // quarter turn clockwise
            return {(hi - 1 - ri) * 4, pitch};
        case 7:  // mirrored along the other diagonal
            return {(hi - 1 - ri) * 4 + (wi - 1) * pitch, -pitch};
        case 8:  // quarter turn anticlockwise
            return {ri * 4 + (wi - 1) * pitch, -pitch};
        default:
            return {ri * pitch, 4};
    }
}

// Writes decoded stored rows first..first+count into the upright picture.
void placeRows(const ImageBuffer& upright, int orientation, const std::uint8_t* strip,
               std::size_t stripPitch, std::uint32_t first, std::uint32_t count, std::uint32_t w,
               std::uint32_t h) {
    std::uint8_t* base = upright.pixels;
    if (orientation <= 4) {
        for (std::uint32_t k = 0; k < count; ++k) {
            const Placement p = place(orientation, first + k, w, h, upright.pitch);
            const std::uint8_t* from = strip + k * stripPitch;
            std::uint8_t* to = base + p.rowStart;
            if (p.step == 4) {
                std::memcpy(to, from, std::size_t{w} * 4);
                continue;
            }
            for (std::uint32_t x = 0; x < w; ++x, to += p.step) {
                std::memcpy(to, from + std::size_t{x} * 4, 4);
            }
        }
        return;
    }
    // Turned a quarter: the strip's rows land side by side, so walk it column by column.
    Placement p[kStripRows];
    for (std::uint32_t k = 0; k < count; ++k) {
        p[k] = place(orientation, first + k, w, h, upright.pitch);
    }
    for (std::uint32_t x = 0; x < w; ++x) {
        for (std::uint32_t k = 0; k < count; ++k) {
            std::memcpy(base + p[k].rowStart + static_cast<std::ptrdiff_t>(x) * p[k].step,
                        strip + k * stripPitch + std::size_t{x} * 4, 4);
        }
    }
}

// The library's size of a side decoded at `eighths` / 8: rounded up.
std::uint32_t scaledSide(std::uint32_t side, int eighths) {
    return static_cast<std::uint32_t>((std::uint64_t{side} * static_cast<unsigned>(eighths) + 7) /
                                      8);
}

}  // namespace

int JpegReader::exifOrientation(const std::uint8_t* payload, std::size_t size) {
    static constexpr std::uint8_t kId[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (payload == nullptr || size < 6 + 8 || std::memcmp(payload, kId, 6) != 0) {
        return 0;
    }
    const std::uint8_t* tiff = payload + 6;
    const std::size_t length = size - 6;
    bool little = false;
    if (tiff[0] == 'I' && tiff[1] == 'I') {
        little = true;
    } else if (!(tiff[0] == 'M' && tiff[1] == 'M')) {
        return 0;
    }
    auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42) {
        return 0;
    }
    const std::size_t ifd = u32(4);
    if (ifd < 8 || ifd > length - 2) {
        return 0;
    }
    const std::size_t entries = u16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        if (at + 12 > length) {
            return 0;
        }
        constexpr std::uint32_t kOrientationTag = 0x0112;
        constexpr std::uint32_t kShort = 3;
        if (u16(at) == kOrientationTag) {
            if (u16(at + 2) != kShort || u32(at + 4) != 1) {
                return 0;
            }
            const std::uint32_t value = u16(at + 8);
            return value >= 1 && value <= 8 ? static_cast<int>(value) : 0;
        }
    }
    return 0;
}

int JpegReader::eighthsFor(std::uint32_t width, std::uint32_t minimumWidth) {
    // Only halvings: the library's transforms for them are vectorised, while the others (6/8
    // takes a 6 x 6 transform for luma and 12 x 12 for subsampled chroma) are plain loops that
    // decode slower than the whole picture.
    if (minimumWidth == 0) {
        return 8;
    }
    for (int m = 1; m < 8; m *= 2) {
        if (scaledSide(width, m) >= minimumWidth) {
            return m;
        }
    }
    return 8;
}

JpegReader::Result JpegReader::decode(const ReadBytes& read, std::uint32_t maxSide,
                                      ImageBuffer* destination, const RowsReady& rowsReady,
                                      std::uint32_t minimumWidth) {
    Result result;
    Session s;
    if (destination == nullptr || !readHeader(s, read)) {
        return result;
    }
    const J_COLOR_SPACE space = s.cinfo.jpeg_color_space;
    if (!((space == JCS_YCbCr || space == JCS_RGB) && s.cinfo.num_components == 3) &&
        !(space == JCS_GRAYSCALE && s.cinfo.num_components == 1)) {
        result.outcome = Outcome::Unsupported;
        return result;
    }
    const std::uint32_t fullW = s.cinfo.image_width;
    const std::uint32_t fullH = s.cinfo.image_height;
    const int orientation = orientationOf(s.cinfo);
    const bool turned = orientation >= 5;
    result.fullWidth = turned ? fullH : fullW;
    result.fullHeight = turned ? fullW : fullH;
    result.width = result.fullWidth;
    result.height = result.fullHeight;
    if (fullW > maxSide || fullH > maxSide) {
        result.outcome = Outcome::TooLarge;
        return result;
    }
    const int eighths = eighthsFor(result.fullWidth, minimumWidth);
    const std::uint32_t w = scaledSide(fullW, eighths);
    const std::uint32_t h = scaledSide(fullH, eighths);
    if (fullW == 0 || fullH == 0 || !startDecompress(s, eighths) || s.cinfo.output_width != w ||
        s.cinfo.output_height != h || s.cinfo.output_components != 4) {
        return result;
    }
    result.width = turned ? h : w;
    result.height = turned ? w : h;
    ImageBuffer picture;
    if (const PixelStatus status =
            PerfKit::allocate(&picture, PixelFormat::Bgra32, static_cast<int>(result.width),
                              static_cast<int>(result.height));
        status != PixelStatus::Ok) {
        result.outcome =
            status == PixelStatus::OutOfMemory ? Outcome::OutOfMemory : Outcome::Failed;
        return result;
    }
    // Told before the picture's memory is faulted in, so that work waiting for the rows (the
    // reduced copies' own memory, say) can get ready on another processor meanwhile.
    if (orientation == 1 && rowsReady) {
        rowsReady(picture, 0);
    }
    prefaultImage(picture);
    // Upright pictures are decoded in place; turned ones go through a strip of stored rows.
    std::vector<std::uint8_t> strip(orientation == 1 ? 0 : std::size_t{w} * 4 * kStripRows);
    JSAMPROW rows[kStripRows];
    while (s.cinfo.output_scanline < h) {
        const std::uint32_t first = s.cinfo.output_scanline;
        const int want = static_cast<int>(std::min<std::uint32_t>(kStripRows, h - first));
        for (int k = 0; k < want; ++k) {
            rows[k] = orientation == 1 ? picture.row(first + static_cast<std::uint32_t>(k))
                                       : strip.data() + static_cast<std::size_t>(k) * w * 4;
        }
        JDIMENSION got = 0;
        if (!readRows(s, rows, want, &got)) {
            return result;
        }
        if (orientation == 1) {
            if (rowsReady) {
                rowsReady(picture, first + got);
            }
        } else {
            placeRows(picture, orientation, strip.data(), std::size_t{w} * 4, first, got, w, h);
        }
    }
    if (!finishDecompress(s)) {
        return result;
    }
    if (orientation != 1 && rowsReady) {
        rowsReady(picture, result.height);
    }
    *destination = std::move(picture);
    result.outcome = Outcome::Ok;
    return result;
}

}  // namespace pm::detail
