#include "brontile/form1.h"

#include "brontile/celldecoder.h"
#include "common/controls.h"
#include "common/errortext.h"
#include "common/pictureview.h"
#include "common/tilefolder.h"
#include "common/tilelist.h"
#include "common/twips.h"

#include <QFrame>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace brontile {

namespace {

// Elements are 1455 x 1335 twips; cells lie 1400 x 1330 twips apart, so neighbours overlap.
constexpr int elementWidth = 1455;
constexpr int elementHeight = 1335;
constexpr int columnSpacing = 1400;
constexpr int rowSpacing = 1330;

} // namespace

Form1::Form1(common::Dialogs& dialogs, QWidget* parent) : QWidget(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Brontile"));
    resize(common::twipsToPixels(10980), common::twipsToPixels(7695));
    // The grid keeps its layout whatever the window's size; what does not fit is scrolled to.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    scroller_ = new QScrollArea(this);
    scroller_->setObjectName(QStringLiteral("scroller"));
    scroller_->setFrameShape(QFrame::NoFrame);
    grid_ = new QWidget;
    grid_->setObjectName(QStringLiteral("grid"));
    scroller_->setWidget(grid_);
    layout->addWidget(scroller_);
    Image1.push_back(newElement());
    Image1.front()->show();
    grid_->resize(0, 0);
    fitGrid(Image1.front());
}

void Form1::fitGrid(const QWidget* element)
{
    const QRect placed = element->geometry();
    grid_->resize(std::max(grid_->width(), placed.right() + 1),
                  std::max(grid_->height(), placed.bottom() + 1));
}

common::PictureView* Form1::newElement()
{
    auto* element = common::makeControl<common::PictureView>(
        grid_, QStringLiteral("Image1_%1").arg(Image1.size()));
    element->setStretch(true);
    common::placeControl(element, 0, 0, elementWidth, elementHeight);
    element->hide();
    return element;
}

std::optional<int> Form1::Form_Load()
{
    const auto folder = common::TileFolder::lookUp();
    const common::TileList tiles =
        folder.isFolder() ? common::TileList::fromFolder(folder) : common::TileList();
    if (tiles.count() == 0) {
        dialogs_.message(noImagesMessage);
        return 0;
    }

    const std::vector<Placement> placements = planGrid(tiles);
    QStringList paths;
    for (const Placement& placement : placements) {
        paths.append(folder.pathOf(tiles.name(placement.position)));
    }
    CellDecoder decoder(paths, Image1.front()->size());
    QStringList unreadable;
    for (std::size_t i = 0; i < placements.size(); ++i) {
        const Placement& placement = placements[i];
        common::PictureView* element = i == 0 ? Image1.front() : newElement();
        if (i > 0) {
            Image1.push_back(element);
        }
        const Cell cell = decoder.take(static_cast<int>(i));
        const QString& path = paths[static_cast<qsizetype>(i)];
        if (cell) {
            element->setPicture(QPixmap::fromImage(*cell));
        } else {
            const QString line =
                path + QStringLiteral(" (") + common::errorText(cell.error()) + u')';
            if (!unreadable.contains(line)) {
                unreadable.append(line);
            }
        }
        // Element 0 stays at its place unless the first tile laid out by coordinates lies
        // further east (a row whose western tiles are missing).
        element->move(common::twipsToPixels(columnSpacing * placement.column),
                      common::twipsToPixels(rowSpacing * placement.row));
        element->show();
        fitGrid(element);
        if (i == 0) {
            continue;
        }
        // The last element of a full walk ends start-up before the grid is shown.
        if (placement.element != tiles.count() - 1) {
            show();
            repaint();
        }
    }
    if (!unreadable.isEmpty()) {
        dialogs_.message(unreadableTilesMessage(unreadable));
    }
    QStringList hidden;
    for (const int position : leftOut(tiles, placements)) {
        hidden.append(tiles.name(position));
    }
    dialogs_.message(hidden.isEmpty() ? readyMessage : readyLeavingOutMessage(hidden));
    return std::nullopt;
}

} // namespace brontile
