#pragma once

#include "dialogs.h"
#include "gridwalk.h"

#include <QWidget>

#include <vector>

namespace common {
class PictureView;
}

namespace brontile {

inline const QString noImagesMessage = QStringLiteral("You must first download images!");
inline const QString readyMessage = QStringLiteral("Ready");

// The raster viewer: at start-up it lays every reachable tile out as a grid of small
// pictures, row by row from the northernmost tile, and then only shows the grid.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(common::Dialogs& dialogs, QWidget* parent = nullptr);

    // Builds the grid. Returns false when the program has been ended (no tiles).
    bool Form_Load();

    // The picture views, element 0 first; the others are made during start-up.
    const std::vector<common::PictureView*>& images() const { return Image1; }

private:
    common::PictureView* newElement();

    common::Dialogs& dialogs_;
    std::vector<common::PictureView*> Image1;
};

} // namespace brontile
