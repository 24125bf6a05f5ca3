#include "platform/headless/CairoGraphics.h"

#include "foundation/Log.h"
#include "platform/View.h"
#include "platform/headless/ViewRenderer.h"

#include <cmath>
#include <cstring>

namespace rivlo {

namespace {
constexpr double kMaxPixels = 16384;
}

std::unique_ptr<CairoContext> CairoContext::create(Size size, bool opaque, double scale) {
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1.0;
    const double pw = std::ceil(size.width * scale);
    const double ph = std::ceil(size.height * scale);
    if (!(pw >= 1 && ph >= 1 && pw <= kMaxPixels && ph <= kMaxPixels)) {
        RVLog("Graphics: no bitmap context of %gx%g points at scale %g", size.width, size.height,
              scale);
        return nullptr;
    }
    cairo_surface_t* s =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(pw), static_cast<int>(ph));
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        RVLog("Graphics: cannot create a %dx%d surface", static_cast<int>(pw),
              static_cast<int>(ph));
        cairo_surface_destroy(s);
        return nullptr;
    }
    return std::unique_ptr<CairoContext>(new CairoContext(s, size, opaque, scale));
}

CairoContext::CairoContext(cairo_surface_t* surface, Size size, bool opaque, double scale)
    : surface_(surface), cr_(cairo_create(surface)), size_(size), opaque_(opaque), scale_(scale) {
    if (opaque) {
        // An opaque context starts black, fully covered.
        cairo_set_source_rgba(cr_, 0, 0, 0, 1);
        cairo_paint(cr_);
    }
    cairo_scale(cr_, scale, scale);
}

CairoContext::~CairoContext() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

void CairoContext::saveGState() {
    cairo_save(cr_);
    qualities_.push_back(qualities_.back());
    fills_.push_back(fill_);
}

void CairoContext::restoreGState() {
    if (fills_.empty()) {
        RVLog("Graphics: restore without save ignored");
        return;
    }
    cairo_restore(cr_);
    qualities_.pop_back();
    fill_ = fills_.back();
    fills_.pop_back();
}

void CairoContext::setInterpolationQuality(InterpolationQuality q) {
    qualities_.back() = q;
}

void CairoContext::translate(double dx, double dy) {
    cairo_translate(cr_, dx, dy);
}

void CairoContext::scaleBy(double sx, double sy) {
    if (sx == 0 || sy == 0 || !std::isfinite(sx) || !std::isfinite(sy)) return;
    cairo_scale(cr_, sx, sy);
}

void CairoContext::setFillColor(const Color& c) {
    fill_ = c;
}

void CairoContext::fillRect(const Rect& r) {
    cairo_save(cr_);
    cairo_set_source_rgba(cr_, fill_.red, fill_.green, fill_.blue, fill_.alpha);
    cairo_rectangle(cr_, r.minX(), r.minY(), r.width(), r.height());
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void CairoContext::drawImage(const Image& image, const Rect& rect) {
    if (image.isEmpty() || rect.isEmpty()) return;
    std::vector<uint8_t> copy = image.bytes();
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(copy.data(), CAIRO_FORMAT_ARGB32, image.width(),
                                            image.height(), static_cast<int>(image.bytesPerRow()));
    cairo_save(cr_);
    cairo_translate(cr_, rect.minX(), rect.minY());
    cairo_scale(cr_, rect.width() / image.width(), rect.height() / image.height());
    cairo_set_source_surface(cr_, s, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr_), qualities_.back() == InterpolationQuality::None
                                                        ? CAIRO_FILTER_NEAREST
                                                        : CAIRO_FILTER_GOOD);
    cairo_rectangle(cr_, 0, 0, image.width(), image.height());
    cairo_fill(cr_);
    cairo_restore(cr_);
    cairo_surface_destroy(s);
}

bool CairoContext::drawViewHierarchy(View& view, const Rect& rect, bool) {
    const Rect b = view.bounds();
    if (b.isEmpty() || rect.isEmpty()) return false;
    cairo_save(cr_);
    cairo_translate(cr_, rect.minX(), rect.minY());
    cairo_scale(cr_, rect.width() / b.width(), rect.height() / b.height());
    cairo_translate(cr_, -b.minX(), -b.minY());
    ViewRenderer::draw(cr_, view);
    cairo_restore(cr_);
    return cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
}

void CairoContext::renderLayer(View& view) {
    const Rect b = view.bounds();
    cairo_save(cr_);
    cairo_translate(cr_, -b.minX(), -b.minY());
    ViewRenderer::draw(cr_, view);
    cairo_restore(cr_);
}

Image CairoContext::makeImage() const {
    cairo_surface_flush(surface_);
    const int w = cairo_image_surface_get_width(surface_);
    const int h = cairo_image_surface_get_height(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    std::vector<uint8_t> out(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    for (int y = 0; y < h; ++y) {
        std::memcpy(out.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 4,
                    data + static_cast<size_t>(y) * static_cast<size_t>(stride),
                    static_cast<size_t>(w) * 4);
    }
    return Image(w, h, scale_, std::move(out));
}

std::unique_ptr<GraphicsContext> CairoGraphics::makeBitmapContext(Size size, bool opaque,
                                                                  double scale) {
    if (scale == 0) scale = screenScale_;
    return CairoContext::create(size, opaque, scale);
}

Size CairoGraphics::textSize(const std::string& text, double fontSize, Size constraint) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(s);
    Size out = ViewRenderer::measureText(cr, text, fontSize > 0 ? fontSize : 17.0, false,
                                         constraint.width, 0);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    if (constraint.height > 0 && out.height > constraint.height) out.height = constraint.height;
    return out;
}

}  // namespace rivlo
