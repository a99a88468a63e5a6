#include "common/pictureview.h"

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

} // namespace common
