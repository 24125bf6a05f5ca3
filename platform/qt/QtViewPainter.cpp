#include "platform/qt/QtViewPainter.h"

#include "platform/Label.h"
#include "platform/View.h"

#include <QPainter>
#include <QPainterPath>

namespace rivlo {

namespace {
QColor qcolor(const Color& c) {
    return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                            static_cast<float>(c.blue), static_cast<float>(c.alpha));
}
}  // namespace

void paintLibraryViewTree(QPainter& painter, const View& view) {
    if (view.isHidden() || view.alpha() <= 0.01) return;
    painter.save();
    painter.setOpacity(painter.opacity() * view.alpha());
    const Rect b = view.bounds();
    const QRectF rect(b.minX(), b.minY(), b.width(), b.height());
    QPainterPath shape;
    shape.addRoundedRect(rect, view.cornerRadius(), view.cornerRadius());
    if (auto bg = view.backgroundColor()) painter.fillPath(shape, qcolor(*bg));
    if (view.borderWidth() > 0) {
        painter.setPen(QPen(qcolor(view.borderColor()), view.borderWidth()));
        painter.drawPath(shape);
    }
    if (view.clipsToBounds()) painter.setClipPath(shape, Qt::IntersectClip);
    if (auto* label = dynamic_cast<const Label*>(&view); label && !label->text().empty()) {
        QFont font = painter.font();
        font.setPointSizeF(label->fontSize() * 0.75);  // points of the screen, not of print
        font.setBold(label->isBold());
        painter.setFont(font);
        painter.setPen(qcolor(label->textColor()));
        painter.drawText(rect, Qt::AlignCenter | Qt::TextWordWrap,
                         QString::fromStdString(label->text()));
    }
    for (const auto& sub : view.subviews()) {
        const Rect f = sub->frame();
        const Rect sb = sub->bounds();
        painter.save();
        painter.translate(f.minX() - sb.minX(), f.minY() - sb.minY());
        paintLibraryViewTree(painter, *sub);
        painter.restore();
    }
    painter.restore();
}

}  // namespace rivlo
