#pragma once

#include "common/picturemark.h"

#include <QLabel>
#include <QPixmap>

#include <optional>
#include <vector>

class QRubberBand;

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

    // Drawn over the picture, in their order, until replaced.
    void setMarks(std::vector<PictureMark> marks);
    const std::vector<PictureMark>& marks() const { return marks_; }

    // A press moved farther than this many pixels is a drag, no click.
    static constexpr int dragPixels = 4;

signals:
    // A mouse button went down at |position| of the shown picture.
    void mouseDown(Qt::MouseButton button, QPoint position);
    // The left button was pressed at |from| and, moved more than dragPixels away, released at
    // |to| (held within the shown picture).
    void dragged(QPoint from, QPoint to);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // |event|'s position in pixels of the shown picture.
    QPoint shownPoint(const QMouseEvent* event) const;
    bool farFromPress(QPoint at) const;

    std::vector<PictureMark> marks_;
    std::optional<QPoint> pressedAt_; // of the left button, on the picture
    bool dragging_ = false;
    QRubberBand* band_ = nullptr;
};

} // namespace common
