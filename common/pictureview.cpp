#include "common/pictureview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>

namespace common {

PictureView::PictureView(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void PictureView::setStretch(bool on)
{
    setScaledContents(on);
    if (!on && hasPicture()) {
        resize(pixmap().size());
    }
}

void PictureView::setPicture(const QPixmap& picture)
{
    setPixmap(picture);
    if (!stretch()) {
        resize(picture.size());
    }
}

void PictureView::setMarks(std::vector<PictureMark> marks)
{
    marks_ = std::move(marks);
    update();
}

QPoint PictureView::shownPoint(const QMouseEvent* event) const
{
    return event->position().toPoint() - contentsRect().topLeft();
}

bool PictureView::farFromPress(QPoint at) const
{
    return pressedAt_ && (at - *pressedAt_).manhattanLength() > dragPixels;
}

void PictureView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = shownPoint(event);
    if (hasPicture() && QRect(QPoint(0, 0), shownSize()).contains(at)) {
        if (event->button() == Qt::LeftButton) {
            pressedAt_ = at;
            dragging_ = false;
        }
        emit mouseDown(event->button(), at);
    }
    QLabel::mousePressEvent(event);
}

void PictureView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = shownPoint(event);
    if ((event->buttons() & Qt::LeftButton) != 0 && (dragging_ || farFromPress(at))) {
        dragging_ = true;
        if (band_ == nullptr) {
            band_ = new QRubberBand(QRubberBand::Rectangle, this);
        }
        const QRect shown(QPoint(0, 0), shownSize());
        band_->setGeometry(QRect(*pressedAt_, at)
                               .normalized()
                               .intersected(shown)
                               .translated(contentsRect().topLeft()));
        band_->show();
    }
    QLabel::mouseMoveEvent(event);
}

void PictureView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = shownPoint(event);
    if (event->button() == Qt::LeftButton && pressedAt_) {
        const QPoint from = *pressedAt_;
        const bool drag = dragging_ || farFromPress(at);
        pressedAt_.reset();
        dragging_ = false;
        if (band_ != nullptr) {
            band_->hide();
        }
        if (drag) {
            const QSize size = shownSize();
            const QPoint to(std::clamp(at.x(), 0, std::max(0, size.width() - 1)),
                            std::clamp(at.y(), 0, std::max(0, size.height() - 1)));
            emit dragged(from, to);
        }
    }
    QLabel::mouseReleaseEvent(event);
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (marks_.empty() || !hasPicture()) {
        return;
    }
    QPainter painter(this);
    const QRect area(contentsRect().topLeft(), shownSize());
    painter.setClipRect(area);
    const auto shown = [&area](const QRectF& r) {
        return QRectF(area.left() + r.left() * area.width(), area.top() + r.top() * area.height(),
                      r.width() * area.width(), r.height() * area.height());
    };
    for (const PictureMark& mark : marks_) {
        switch (mark.kind) {
        case PictureMark::Kind::Shade:
            painter.fillRect(shown(mark.rect), QColor(0, 160, 0, 90));
            break;
        case PictureMark::Kind::SecondShade:
            painter.fillRect(shown(mark.rect), QColor(230, 140, 0, 110));
            break;
        case PictureMark::Kind::Outline:
            painter.setPen(QPen(QColor(210, 0, 210), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(shown(mark.rect));
            break;
        }
    }
}

} // namespace common
