#pragma once

#include "brontile/gridwalk.h"
#include "brontile/messages.h"
#include "common/dialogs.h"

#include <QWidget>

#include <optional>
#include <vector>

class QScrollArea;

namespace common {
class PictureView;
}

namespace brontile {

// The raster viewer: at start-up it lays every tile out as a grid of small pictures, row by row
// from the northernmost tile, and then only shows the grid, scrolling it where it does not fit.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(common::Dialogs& dialogs, QWidget* parent = nullptr);

    // Builds the grid. The program's exit code when it ends here (no tiles, which a message
    // has told); nothing when the window is to be shown.
    std::optional<int> Form_Load();

    // The picture views, element 0 first; the others are made during start-up.
    const std::vector<common::PictureView*>& images() const { return Image1; }

    // What shows the grid, and scrolls it where it is larger than the window.
    QScrollArea* scroller() const { return scroller_; }

private:
    common::PictureView* newElement();
    // The grid's area grown to hold |element|.
    void fitGrid(const QWidget* element);

    common::Dialogs& dialogs_;
    QScrollArea* scroller_ = nullptr;
    QWidget* grid_ = nullptr; // the elements' parent
    std::vector<common::PictureView*> Image1;
};

} // namespace brontile
