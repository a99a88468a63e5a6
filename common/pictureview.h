#pragma once

#include <QLabel>
#include <QPixmap>

namespace common {

// A picture area with two display modes. Natural size (stretch off): the picture is shown at
// its own size and the area takes that size. Fitted (stretch on): the picture is scaled to the
// area's current size, which stays as it is.
class PictureView : public QLabel {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    bool stretch() const { return hasScaledContents(); }
    void setStretch(bool on);

    void setPicture(const QPixmap& picture);
    bool hasPicture() const { return !pixmap().isNull(); }
    // The size the picture is shown at: its own, or the area's when fitted.
    QSize shownSize() const { return stretch() ? contentsRect().size() : pixmap().size(); }

signals:
    // A mouse button went down at |position| of the shown picture.
    void mouseDown(Qt::MouseButton button, QPoint position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace common
