#include "http/RVAFImageDecoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

namespace rivlo {

namespace {

void premultiply(std::vector<uint8_t>& bgra) {
    for (size_t i = 0; i + 3 < bgra.size(); i += 4) {
        const unsigned a = bgra[i + 3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c)
            bgra[i + c] = static_cast<uint8_t>((bgra[i + c] * a + 127) / 255);
    }
}

std::optional<Image> decodePNG(const std::string& bytes, double scale) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return std::nullopt;
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    premultiply(pixels);
    return Image(static_cast<int>(image.width), static_cast<int>(image.height), scale,
                 std::move(pixels));
}

struct JPEGError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void jpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JPEGError*>(info->err)->jump, 1);
}
void jpegSilence(j_common_ptr) {}

std::optional<Image> decodeJPEG(const std::string& bytes, double scale) {
    jpeg_decompress_struct info;
    JPEGError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = jpegFail;
    error.base.output_message = jpegSilence;
    std::vector<uint8_t> pixels;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    const size_t stride = static_cast<size_t>(info.output_width) * 4;
    pixels.resize(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    jpeg_destroy_decompress(&info);
    return Image(width, height, scale, std::move(pixels));
}

struct GIFSource {
    const std::string* bytes;
    size_t offset = 0;
};

int gifRead(GifFileType* gif, GifByteType* out, int length) {
    auto* src = static_cast<GIFSource*>(gif->UserData);
    const size_t n =
        std::min<size_t>(static_cast<size_t>(length), src->bytes->size() - src->offset);
    std::memcpy(out, src->bytes->data() + src->offset, n);
    src->offset += n;
    return static_cast<int>(n);
}

std::optional<Image> decodeGIF(const std::string& bytes, double scale) {
    GIFSource source{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, gifRead, &error);
    if (!gif) return std::nullopt;
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1 || gif->SWidth <= 0 || gif->SHeight <= 0) {
        DGifCloseFile(gif, &error);
        return std::nullopt;
    }
    const SavedImage& frame = gif->SavedImages[0];
    const ColorMapObject* colors =
        frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
    if (!colors) {
        DGifCloseFile(gif, &error);
        return std::nullopt;
    }
    int transparent = NO_TRANSPARENT_COLOR;
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
    const int width = gif->SWidth;
    const int height = gif->SHeight;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4, 0);
    const auto& d = frame.ImageDesc;
    for (int y = 0; y < d.Height; ++y) {
        for (int x = 0; x < d.Width; ++x) {
            const int cx = d.Left + x, cy = d.Top + y;
            if (cx < 0 || cy < 0 || cx >= width || cy >= height) continue;
            const int index = frame.RasterBits[static_cast<size_t>(y) * d.Width + x];
            if (index == transparent || index >= colors->ColorCount) continue;
            const GifColorType& c = colors->Colors[index];
            uint8_t* p = pixels.data() + (static_cast<size_t>(cy) * width + cx) * 4;
            p[0] = c.Blue;
            p[1] = c.Green;
            p[2] = c.Red;
            p[3] = 255;
        }
    }
    DGifCloseFile(gif, &error);
    return Image(width, height, scale, std::move(pixels));
}

}  // namespace

std::optional<Image> RVAFDecodeImage(const std::string& bytes, double scale) {
    if (scale <= 0) scale = 1.0;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
        return decodePNG(bytes, scale);
    }
    if (bytes.size() >= 3 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
        static_cast<uint8_t>(bytes[1]) == 0xD8) {
        return decodeJPEG(bytes, scale);
    }
    if (bytes.size() >= 6 && (bytes.rfind("GIF87a", 0) == 0 || bytes.rfind("GIF89a", 0) == 0)) {
        return decodeGIF(bytes, scale);
    }
    return std::nullopt;
}

}  // namespace rivlo
