#include "common/pictureview.h"

#include <QMouseEvent>

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

void PictureView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint() - contentsRect().topLeft();
    if (hasPicture() && QRect(QPoint(0, 0), shownSize()).contains(at)) {
        emit mouseDown(event->button(), at);
    }
    QLabel::mousePressEvent(event);
}

} // namespace common
