#include "JpegScaledDecoder.h"

#include "ImageFitting.h"

#include <csetjmp>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace {

struct ErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void jumpOnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

// Corrupt-data warnings still give a picture, as they do in Qt's reader.
void ignoreMessage(j_common_ptr, int) { }

// libjpeg leaves with longjmp: the two steps below keep only plain data on
// their frames, so nothing with a destructor is jumped over.
struct Decompressor
{
    jpeg_decompress_struct info = {};
    ErrorManager error = {};

    Decompressor()
    {
        info.err = jpeg_std_error(&error.base);
        error.base.error_exit = jumpOnError;
        error.base.emit_message = ignoreMessage;
        jpeg_create_decompress(&info);
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    bool readHeader(const unsigned char *data, unsigned long size)
    {
        if (setjmp(error.jump))
            return false;
        jpeg_mem_src(&info, data, size);
        return jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
    }

    // The stored size once the header reads, empty when it does not or the picture is too large to decode.
    QSize readStoredSize(QByteArrayView jpeg)
    {
        if (jpeg.isEmpty()
            || !readHeader(reinterpret_cast<const unsigned char *>(jpeg.data()), (unsigned long)(jpeg.size())))
            return {};
        const QSize stored(int(info.image_width), int(info.image_height));
        if (stored.isEmpty() || ImageFitting::pixelCount(stored) > ImageFitting::cMaxDecodePixels)
            return {};
        return stored;
    }

    bool prepare(int numerator, J_COLOR_SPACE outSpace, bool exact = false)
    {
        if (setjmp(error.jump))
            return false;
        info.scale_num = unsigned(numerator);
        info.scale_denom = 8;
        if (numerator < 8 && !exact) { // shrunk smoothly afterwards, which hides the coarser steps
            info.dct_method = JDCT_IFAST;
            info.do_fancy_upsampling = FALSE;
            info.do_block_smoothing = FALSE;
        }
        info.out_color_space = outSpace;
        jpeg_calc_output_dimensions(&info);
        return true;
    }

    bool readInto(unsigned char *bits, qsizetype bytesPerLine, int height)
    {
        if (setjmp(error.jump))
            return false;
        if (!jpeg_start_decompress(&info) || int(info.output_height) != height)
            return false;
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = bits + qsizetype(info.output_scanline) * bytesPerLine;
            if (jpeg_read_scanlines(&info, &row, 1) != 1)
                return false;
        }
        jpeg_finish_decompress(&info);
        return true;
    }

    // Setting up the decoder builds its tables from the header: what is wrong with them shows here.
    bool start()
    {
        if (setjmp(error.jump))
            return false;
        if (!jpeg_start_decompress(&info))
            return false;
        jpeg_abort_decompress(&info);
        return true;
    }
};

} // namespace

int JpegScaledDecoder::scaleNumerator(QSize stored, QSize target)
{
    // libjpeg rounds scaled sides up.
    const auto scaled = [](int side, int numerator) { return int((qint64(side) * numerator + 7) / 8); };
    for (int numerator = 1; numerator < 8; ++numerator) {
        if (scaled(stored.width(), numerator) >= target.width()
            && scaled(stored.height(), numerator) >= target.height())
            return numerator;
    }
    return 8;
}

namespace {

// brightnessOnly: exact steps between bars matter more than speed, and colour is never made.
QImage decodeScaled(QByteArrayView jpeg, int maxPixelSize, QSize *storedSize, bool brightnessOnly)
{
    Decompressor decompressor;
    const QSize stored = decompressor.readStoredSize(jpeg);
    if (stored.isEmpty())
        return {};
    if (storedSize)
        *storedSize = stored;
    const bool grey = brightnessOnly || decompressor.info.jpeg_color_space == JCS_GRAYSCALE;
    if (decompressor.info.jpeg_color_space != JCS_GRAYSCALE && decompressor.info.num_components != 3)
        return {}; // CMYK and YCCK need Qt's inversion handling
    const int numerator =
        JpegScaledDecoder::scaleNumerator(stored, ImageFitting::fittedSize(stored, std::max(1, maxPixelSize)));
    if (!decompressor.prepare(numerator, grey ? JCS_GRAYSCALE : JCS_EXT_BGRA, brightnessOnly))
        return {};
    QImage image(int(decompressor.info.output_width), int(decompressor.info.output_height),
                 grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (image.isNull() || !decompressor.readInto(image.bits(), image.bytesPerLine(), image.height()))
        return {};
    return image;
}

} // namespace

QImage JpegScaledDecoder::decode(QByteArrayView jpeg, int maxPixelSize, QSize *storedSize)
{
    return decodeScaled(jpeg, maxPixelSize, storedSize, false);
}

QImage JpegScaledDecoder::decodeGrey(QByteArrayView jpeg, int maxPixelSize, QSize *storedSize)
{
    return decodeScaled(jpeg, maxPixelSize, storedSize, true);
}

QSize JpegScaledDecoder::checkedSize(QByteArrayView jpeg)
{
    Decompressor decompressor;
    const QSize stored = decompressor.readStoredSize(jpeg);
    if (stored.isEmpty() || !decompressor.prepare(1, JCS_GRAYSCALE) || !decompressor.start())
        return {};
    return stored;
}
