#include "render/ImageDecoder.h"

#include <FreeImage.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "core/ProgressReporter.h"
#include "render/PerfKit.h"
#include "render/detail/JpegReader.h"

namespace pm {

namespace {

// Where the decoder reads from: an open file or a block of memory, with the position the
// decoder has reached so that progress and a premature end can be told.
struct Stream {
    std::FILE* file = nullptr;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
    ProgressReporter* progress = nullptr;
    int shownPercent = -1;
    // The decoder asked for bytes the stream does not have: the picture was cut short. Decoders
    // such as the JPEG one fill the missing rows with grey and report success otherwise.
    bool overrun = false;

    void advance(std::size_t bytes) {
        position += bytes;
        if (progress != nullptr && size > 0) {
            const int percent =
                static_cast<int>(100.0 * static_cast<double>(position) / static_cast<double>(size));
            if (percent != shownPercent) {
                shownPercent = percent;
                progress->setFraction(std::min(percent, 100));
            }
        }
    }
};

Stream& streamOf(fi_handle handle) {
    return *static_cast<Stream*>(handle);
}

unsigned DLL_CALLCONV readProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    Stream& s = streamOf(handle);
    const std::size_t wanted = static_cast<std::size_t>(size) * count;
    if (wanted == 0) {
        return 0;
    }
    // A cancelled load ends the data here: the decoder winds down quickly and the picture fails.
    if (s.progress != nullptr && s.progress->cancelled()) {
        s.overrun = true;
        return 0;
    }
    const std::size_t remaining = s.position < s.size ? s.size - s.position : 0;
    // A record read (size > 1) that cannot be met in full, or any read at the very end, means
    // the data ended before the decoder was done; a byte read of a block may end short.
    if (wanted > remaining && (size > 1 || remaining == 0)) {
        s.overrun = true;
    }
    std::size_t got = 0;
    if (s.file != nullptr) {
        got = std::fread(buffer, 1, std::min(wanted, remaining), s.file);
    } else {
        got = std::min(wanted, remaining);
        std::copy_n(s.data + s.position, got, static_cast<std::uint8_t*>(buffer));
    }
    s.advance(got);
    return static_cast<unsigned>(got / size);
}

unsigned DLL_CALLCONV writeProc(void*, unsigned, unsigned, fi_handle) {
    return 0;
}

int DLL_CALLCONV seekProc(fi_handle handle, long offset, int origin) {
    Stream& s = streamOf(handle);
    long base = 0;
    if (origin == SEEK_CUR) {
        base = static_cast<long>(s.position);
    } else if (origin == SEEK_END) {
        base = static_cast<long>(s.size);
    }
    const long target = base + offset;
    if (target < 0) {
        return -1;
    }
    if (s.file != nullptr && std::fseek(s.file, target, SEEK_SET) != 0) {
        return -1;
    }
    s.position = static_cast<std::size_t>(target);
    return 0;
}

long DLL_CALLCONV tellProc(fi_handle handle) {
    return static_cast<long>(streamOf(handle).position);
}

// The picture library's TGA reader hands back a bitmap that is not one (and the program dies on
// it) for some headers it should refuse, such as a colour map of 0-bit entries: a header must
// describe a picture that fits in the file before the reader sees it.
bool plausibleTarga(Stream& stream) {
    std::uint8_t h[18] = {};
    seekProc(&stream, 0, SEEK_SET);
    if (readProc(h, 1, sizeof h, &stream) != sizeof h) {
        return false;
    }
    const int idLength = h[0];
    const int mapType = h[1];
    const int imageType = h[2];
    const int mapLength = h[5] | h[6] << 8;
    const int mapEntryBits = h[7];
    const int width = h[12] | h[13] << 8;
    const int height = h[14] | h[15] << 8;
    const int depth = h[16];
    const auto oneOf = [](int v, std::initializer_list<int> values) {
        return std::find(values.begin(), values.end(), v) != values.end();
    };
    const bool mapped = imageType == 1 || imageType == 9;
    const bool grey = imageType == 3 || imageType == 11;
    const bool mapOk = mapType == 0 || (mapType == 1 && oneOf(mapEntryBits, {15, 16, 24, 32}));
    const std::size_t mapBytes =
        mapType == 1 ? static_cast<std::size_t>(mapLength) * ((mapEntryBits + 7) / 8) : 0;
    return oneOf(imageType, {1, 2, 3, 9, 10, 11}) && mapOk &&
           (!mapped || (mapType == 1 && mapLength > 0 && depth == 8)) && (!grey || depth == 8) &&
           oneOf(depth, {8, 15, 16, 24, 32}) && width > 0 && height > 0 &&
           sizeof h + static_cast<std::size_t>(idLength) + mapBytes < stream.size;
}

FreeImageIO streamIo() {
    FreeImageIO io{};
    io.read_proc = readProc;
    io.write_proc = writeProc;
    io.seek_proc = seekProc;
    io.tell_proc = tellProc;
    return io;
}

struct BitmapDeleter {
    void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        FreeImage_Initialise(FALSE);
        // The TIFF library prints a line for every tag it does not know, dozens for one
        // photograph, straight to standard error. A file it cannot read still fails, and that
        // failure is reported as ours, naming the file.
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
    });
}

std::string lowerExtension(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\");
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    std::string ext(name.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return ext;
}

FREE_IMAGE_FORMAT formatForExtension(const std::string& ext) {
    struct Entry {
        const char* ext;
        FREE_IMAGE_FORMAT format;
    };
    static constexpr std::array<Entry, 16> kTable{{
        {"bmp", FIF_BMP},
        {"jpg", FIF_JPEG},
        {"jpeg", FIF_JPEG},
        {"jng", FIF_JNG},
        {"koa", FIF_KOALA},
        {"iff", FIF_LBM},
        {"mng", FIF_MNG},
        {"pcd", FIF_PCD},
        {"pcx", FIF_PCX},
        {"ras", FIF_RAS},
        {"tga", FIF_TARGA},
        {"tif", FIF_TIFF},
        {"tiff", FIF_TIFF},
        {"wbmp", FIF_WBMP},
        {"psd", FIF_PSD},
        {"cut", FIF_CUT},
    }};
    for (const Entry& e : kTable) {
        if (ext == e.ext) {
            return e.format;
        }
    }
    return FIF_UNKNOWN;
}

// The extension chooses the decoder. A file whose content plainly belongs to another format (a
// PNG saved as .jpg) goes to that format's decoder instead of failing.
FREE_IMAGE_FORMAT chooseFormat(std::string_view name, FreeImageIO& io, Stream& stream) {
    FREE_IMAGE_FORMAT format = formatForExtension(lowerExtension(name));
    if (format == FIF_UNKNOWN || !FreeImage_ValidateFromHandle(format, &io, &stream)) {
        const FREE_IMAGE_FORMAT byContent = FreeImage_GetFileTypeFromHandle(&io, &stream, 16);
        if (byContent != FIF_UNKNOWN) {
            format = byContent;
        }
    }
    return format;
}

// Bring any pixel type the decoders produce to 8 bits per channel, 24 bits and up as they are.
Bitmap toStandardDepth(Bitmap dib, PixelFormat target) {
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib.get());
    if (type == FIT_RGB16 || type == FIT_RGBA16) {
        return Bitmap(FreeImage_ConvertTo32Bits(dib.get()));
    }
    if (type != FIT_BITMAP) {
        Bitmap standard(FreeImage_ConvertToStandardType(dib.get(), TRUE));
        if (!standard) {
            return nullptr;
        }
        dib = std::move(standard);
    }
    if (FreeImage_GetBPP(dib.get()) < 24) {
        return Bitmap(target == PixelFormat::Bgr24 ? FreeImage_ConvertTo24Bits(dib.get())
                                                   : FreeImage_ConvertTo32Bits(dib.get()));
    }
    return dib;
}

// Centres a picture of aspect w:h in the destination at the largest size keeping that aspect.
ImageBuffer centredArea(const ImageBuffer& destination, std::uint32_t w, std::uint32_t h) {
    const double aspect = static_cast<double>(w) / h;
    std::uint32_t aw = destination.width;
    std::uint32_t ah = destination.height;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    if (static_cast<std::uint64_t>(destination.width) * h >
        static_cast<std::uint64_t>(destination.height) * w) {
        aw = static_cast<std::uint32_t>(std::lround(destination.height * aspect));
        aw = std::clamp<std::uint32_t>(aw, 1, destination.width);
        x = (destination.width - aw) / 2;
    } else {
        ah = static_cast<std::uint32_t>(std::lround(destination.width / aspect));
        ah = std::clamp<std::uint32_t>(ah, 1, destination.height);
        y = (destination.height - ah) / 2;
    }
    const int bpp = bytesPerPixel(destination.format);
    ImageBuffer area = ImageBuffer::wrap(destination.format, aw, ah, destination.pitch,
                                         destination.row(y) + static_cast<std::size_t>(x) * bpp);
    area.storage = destination.storage;
    return area;
}

// A picture whose every alpha byte is 0 carries no transparency, only an unused channel.
// Returns whether any alpha byte is below 255 afterwards.
bool settleAlpha(const ImageBuffer& image) {
    bool anyVisible = false;
    bool anyTransparent = false;
    for (std::uint32_t y = 0; y < image.height && !anyVisible; ++y) {
        const std::uint8_t* row = image.row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            if (row[4 * x + 3] != 0) {
                anyVisible = true;
                break;
            }
        }
    }
    if (!anyVisible) {
        for (std::uint32_t y = 0; y < image.height; ++y) {
            std::uint8_t* row = image.row(y);
            for (std::uint32_t x = 0; x < image.width; ++x) {
                row[4 * x + 3] = 255;
            }
        }
        return false;
    }
    for (std::uint32_t y = 0; y < image.height && !anyTransparent; ++y) {
        const std::uint8_t* row = image.row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            if (row[4 * x + 3] != 255) {
                anyTransparent = true;
                break;
            }
        }
    }
    return anyTransparent;
}

using Status = ImageDecoder::Status;

Status statusOf(PixelStatus s) {
    return s == PixelStatus::OutOfMemory ? Status::OutOfMemory : Status::Undecodable;
}

// JPEG, by far the most common picture, is decoded straight into 32-bit rows. Nothing when the
// direct reader leaves the file to the general way, which then has the last word on damaged
// files too.
std::optional<ImageDecoder::Result> decodeJpegDirectly(Stream& stream, ImageBuffer* destination,
                                                       const ImageDecoder::Options& options) {
    seekProc(&stream, 0, SEEK_SET);
    const detail::JpegReader::ReadBytes read = [&stream](std::uint8_t* buffer,
                                                         std::size_t capacity) {
        return static_cast<std::size_t>(
            readProc(buffer, 1, static_cast<unsigned>(capacity), &stream));
    };
    const detail::JpegReader::Result direct = detail::JpegReader::decode(
        read, options.maxSide, destination, options.rowsReady, options.minimumWidth);
    using Outcome = detail::JpegReader::Outcome;
    if (direct.outcome != Outcome::Ok && direct.outcome != Outcome::TooLarge &&
        direct.outcome != Outcome::OutOfMemory) {
        return std::nullopt;
    }
    ImageDecoder::Result result;
    result.width = direct.width;
    result.height = direct.height;
    result.fullWidth = direct.fullWidth;
    result.fullHeight = direct.fullHeight;
    result.status = direct.outcome == Outcome::Ok         ? Status::Ok
                    : direct.outcome == Outcome::TooLarge ? Status::TooLarge
                                                          : Status::OutOfMemory;
    return result;
}

// Reads the header alone first: a small file may claim a size whose pixels would not fit.
bool headerTooLarge(FREE_IMAGE_FORMAT format, FreeImageIO& io, Stream& stream, int flags,
                    const ImageDecoder::Options& options, ImageDecoder::Result& result) {
    if (!FreeImage_FIFSupportsNoPixels(format)) {
        return false;
    }
    seekProc(&stream, 0, SEEK_SET);
    const Bitmap header(FreeImage_LoadFromHandle(format, &io, &stream, flags | FIF_LOAD_NOPIXELS));
    if (!header) {
        return false;
    }
    const std::uint32_t w = FreeImage_GetWidth(header.get());
    const std::uint32_t h = FreeImage_GetHeight(header.get());
    if (w <= options.maxSide && h <= options.maxSide) {
        return false;
    }
    result.status = Status::TooLarge;
    result.width = w;
    result.height = h;
    return true;
}

// The whole picture through the image library, in the standard depth of `options.format`; null
// with the result's status telling why.
Bitmap readBitmap(FREE_IMAGE_FORMAT format, FreeImageIO& io, Stream& stream, int flags,
                  const ImageDecoder::Options& options, ImageDecoder::Result& result) {
    seekProc(&stream, 0, SEEK_SET);
    stream.overrun = false;
    Bitmap dib(FreeImage_LoadFromHandle(format, &io, &stream, flags));
    if (!dib || !FreeImage_HasPixels(dib.get()) || stream.overrun) {
        result.status = Status::Undecodable;
        return {};
    }
    dib = toStandardDepth(std::move(dib), options.format);
    if (!dib) {
        result.status = Status::OutOfMemory;
        return {};
    }
    result.width = FreeImage_GetWidth(dib.get());
    result.height = FreeImage_GetHeight(dib.get());
    if (result.width == 0 || result.height == 0) {
        result.status = Status::Undecodable;
        return {};
    }
    if (result.width > options.maxSide || result.height > options.maxSide) {
        result.status = Status::TooLarge;
        return {};
    }
    return dib;
}

// Copies the library's rows into the destination: a picture of their own, or centred on the
// background of a destination of another shape that the caller gave.
Status storeRows(Bitmap dib, ImageBuffer* destination, const ImageDecoder::Options& options,
                 ImageDecoder::Result& result) {
    const std::uint32_t width = result.width;
    const std::uint32_t height = result.height;
    // FreeImage keeps rows bottom-up: address them from the last row with a negative pitch.
    const PixelFormat sourceFormat =
        FreeImage_GetBPP(dib.get()) == 24 ? PixelFormat::Bgr24 : PixelFormat::Bgra32;
    const ImageBuffer source = ImageBuffer::wrap(
        sourceFormat, width, height, -static_cast<std::int32_t>(FreeImage_GetPitch(dib.get())),
        FreeImage_GetScanLine(dib.get(), static_cast<int>(height) - 1));

    ImageBuffer target;
    ImageBuffer area;
    const bool centre = destination->pixels != nullptr && destination->width > 0 &&
                        destination->height > 0 && destination->format == options.format &&
                        static_cast<std::uint64_t>(destination->width) * height !=
                            static_cast<std::uint64_t>(destination->height) * width;
    if (centre) {
        target = *destination;
        if (PerfKit::fill(target, options.background, static_cast<int>(ColourKind::Rgb)) !=
            PixelStatus::Ok) {
            return Status::Undecodable;
        }
        area = centredArea(target, width, height);
    } else {
        const PixelStatus s = PerfKit::allocate(&target, options.format, static_cast<int>(width),
                                                static_cast<int>(height));
        if (s != PixelStatus::Ok) {
            return statusOf(s);
        }
        area = target;
    }
    if (const PixelStatus s = PerfKit::copy(area, source); s != PixelStatus::Ok) {
        return statusOf(s);
    }
    dib.reset();
    // Rows converted from 24 bits are opaque already; only a picture with alpha of its own needs
    // the look.
    if (options.format == PixelFormat::Bgra32 && sourceFormat == PixelFormat::Bgra32) {
        result.hasAlpha = settleAlpha(centre ? area : target);
    }
    *destination = std::move(target);
    return Status::Ok;
}

ImageDecoder::Result decodePixels(Stream& stream, std::string_view name, ImageBuffer* destination,
                                  const ImageDecoder::Options& options) {
    ImageDecoder::Result result;
    if (destination == nullptr ||
        (options.format != PixelFormat::Bgra32 && options.format != PixelFormat::Bgr24)) {
        result.status = Status::Undecodable;
        return result;
    }
    if (stream.size == 0) {
        result.status = Status::CannotOpen;
        return result;
    }
    initialiseOnce();
    FreeImageIO io = streamIo();
    const FREE_IMAGE_FORMAT format = chooseFormat(name, io, stream);
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) {
        result.status = Status::UnknownFormat;
        return result;
    }
    const bool mayCentre = destination->pixels != nullptr && destination->width > 0 &&
                           destination->height > 0 && destination->format == options.format;
    if (format == FIF_JPEG && options.format == PixelFormat::Bgra32 && !mayCentre) {
        if (auto direct = decodeJpegDirectly(stream, destination, options)) {
            return *direct;
        }
    }
    if (format == FIF_TARGA && !plausibleTarga(stream)) {
        result.status = Status::Undecodable;
        return result;
    }
    const int flags = format == FIF_JPEG ? (JPEG_ACCURATE | JPEG_EXIFROTATE) : 0;
    if (headerTooLarge(format, io, stream, flags, options, result)) {
        return result;
    }
    Bitmap dib = readBitmap(format, io, stream, flags, options, result);
    if (!dib) {
        return result;
    }
    result.status = storeRows(std::move(dib), destination, options, result);
    return result;
}

// Every decoder but the direct JPEG one gives the full size.
ImageDecoder::Result decodeStream(Stream& stream, std::string_view name, ImageBuffer* destination,
                                  const ImageDecoder::Options& options) {
    ImageDecoder::Result result = decodePixels(stream, name, destination, options);
    if (result.fullWidth == 0) {
        result.fullWidth = result.width;
        result.fullHeight = result.height;
    }
    return result;
}

}  // namespace

ImageDecoder::Result ImageDecoder::decodeFile(const std::string& path, ImageBuffer* destination,
                                              ProgressReporter* progress, const Options& options) {
    Result result;
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
        return result;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        return result;
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        return result;
    }
    Stream stream;
    stream.file = file.get();
    stream.size = static_cast<std::size_t>(size);
    stream.progress = progress;
    return decodeStream(stream, path, destination, options);
}

ImageDecoder::Result ImageDecoder::decodeMemory(const std::uint8_t* data, std::size_t size,
                                                std::string_view name, ImageBuffer* destination,
                                                ProgressReporter* progress,
                                                const Options& options) {
    Stream stream;
    stream.data = data;
    stream.size = data != nullptr ? size : 0;
    stream.progress = progress;
    return decodeStream(stream, name, destination, options);
}

int ImageDecoder::formatCode(const std::uint8_t* data, std::size_t size, std::string_view name) {
    if (data == nullptr || size == 0) {
        return -1;
    }
    initialiseOnce();
    Stream stream;
    stream.data = data;
    stream.size = size;
    FreeImageIO io = streamIo();
    const FREE_IMAGE_FORMAT format = chooseFormat(name, io, stream);
    return format == FIF_UNKNOWN ? -1 : static_cast<int>(format);
}

}  // namespace pm
