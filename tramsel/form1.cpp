#include "tramsel/form1.h"

#include "common/controls.h"
#include "common/errortext.h"
#include "common/picture.h"
#include "common/pictureview.h"
#include "common/tilefolder.h"
#include "common/twips.h"
#include "tramsel/arrangebars.h"

#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QScrollBar>

namespace tramsel {

namespace {

int twipsOf(int pixels)
{
    return common::pixelsToTwips(pixels);
}

} // namespace

Form1::Form1(common::Dialogs& dialogs, QWidget* parent) : QWidget(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(designCaption);
    setFocusPolicy(Qt::StrongFocus);

    Image1 = common::makeControl<common::PictureView>(this, QStringLiteral("Image1"));
    Image1->setStretch(true);
    Image2 = common::makeControl<common::PictureView>(this, QStringLiteral("Image2"));
    Image2->setStretch(false);
    Image2->hide();
    HScroll1 = common::makeControl<QScrollBar>(this, QStringLiteral("HScroll1"), Qt::Horizontal);
    VScroll1 = common::makeControl<QScrollBar>(this, QStringLiteral("VScroll1"), Qt::Vertical);
    for (QScrollBar* bar : {HScroll1, VScroll1}) {
        bar->setMinimum(0);
        bar->setSingleStep(1);
        bar->setPageStep(1);
        bar->hide();
    }
    PicDummy1 = common::makeControl<QFrame>(this, QStringLiteral("PicDummy1"));
    PicDummy1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    common::placeControl(PicDummy1, 0, 0, 2295, 1695);
    PicDummy1->hide();
    PicDummy2 = common::makeControl<QFrame>(this, QStringLiteral("PicDummy2"));
    PicDummy2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    common::placeControl(PicDummy2, 0, 0, 15, 15);
    PicDummy2->hide();

    // Every key goes to the window, none to a control.
    for (QWidget* control : std::initializer_list<QWidget*>{Image1, Image2, HScroll1, VScroll1,
                                                            PicDummy1, PicDummy2}) {
        control->setFocusPolicy(Qt::NoFocus);
    }

    connect(HScroll1, &QScrollBar::valueChanged, this, &Form1::HScroll1_Change);
    connect(HScroll1, &QScrollBar::sliderMoved, this, &Form1::HScroll1_Scroll);
    connect(VScroll1, &QScrollBar::valueChanged, this, &Form1::VScroll1_Change);
    connect(VScroll1, &QScrollBar::sliderMoved, this, &Form1::VScroll1_Scroll);
    resize(common::twipsToPixels(8415), common::twipsToPixels(6960));
}

std::optional<int> Form1::Form_Load()
{
    folder_ = common::TileFolder::ensure();
    tiles_ = TileList::fromFolder(folder_);
    // A stray picture whose name is no tile name has no neighbours: start on a tile.
    const auto first = tiles_.firstTile();
    if (!first) {
        dialogs_.message(noImagesMessage);
        return 0;
    }
    mapindex_ = *first;
    if (const common::Status shown = ll(tilePath(mapindex_)); !shown) {
        dialogs_.message(common::errorText(shown.error()));
    }
    return std::nullopt;
}

QString Form1::tilePath(int position) const
{
    return folder_.pathOf(tiles_.name(position));
}

common::Status Form1::ll(const QString& x)
{
    const auto image = common::loadPicture(x);
    if (!image) {
        return image.error();
    }
    // Decoded once; both views share the picture.
    const QPixmap picture = QPixmap::fromImage(*image);
    Image1->setPicture(picture);
    Image2->setPicture(picture);
    return {};
}

void Form1::FindNextMap(Direction directio)
{
    const auto position = tiles_.neighbour(mapindex_, directio);
    if (!position) {
        dialogs_.message(noNeighbourMessage);
        return;
    }
    if (const common::Status shown = ll(tilePath(*position)); !shown) {
        dialogs_.message(common::errorText(shown.error()));
        return;
    }
    mapindex_ = *position;
    setWindowTitle(tiles_.name(mapindex_) + u' ' + designCaption);
}

void Form1::Form_KeyPress(int keyAscii)
{
    switch (keyAscii) {
    case ' ':
        Image1->setVisible(!Image1->isVisible());
        Image2->setVisible(!Image2->isVisible());
        Form_Resize();
        break;
    case 'i':
        FindNextMap(Direction::North);
        break;
    case 'm':
        FindNextMap(Direction::South);
        break;
    case 'k':
        FindNextMap(Direction::East);
        break;
    case 'j':
        FindNextMap(Direction::West);
        break;
    default:
        break;
    }
}

void Form1::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    if (text.size() == 1) {
        Form_KeyPress(text.front().unicode());
    }
    QWidget::keyPressEvent(event);
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form1::Form_Resize()
{
    // The fit view covers the window's outer size, frame included.
    const QSize outer = frameGeometry().size();
    Image1->setGeometry(0, 0, outer.width(), outer.height());
    arrangebars();
}

void Form1::arrangebars()
{
    const QSize outer = frameGeometry().size();
    const BarsLayout layout = tramsel::arrangebars(
        {twipsOf(outer.width()), twipsOf(outer.height()), twipsOf(Image2->width()),
         twipsOf(Image2->height()), Image2->isVisible()});
    VScroll1->setVisible(layout.vscrollVisible);
    HScroll1->setVisible(layout.hscrollVisible);
    PicDummy2->setFrameStyle(QFrame::NoFrame);
    PicDummy2->setVisible(layout.cornerVisible);
    common::placeControl(HScroll1, layout.hscroll);
    common::placeControl(VScroll1, layout.vscroll);
    common::placeControl(PicDummy2, layout.corner);
    VScroll1->setMaximum(layout.vscrollMaximum);
    HScroll1->setMaximum(layout.hscrollMaximum);
    PicDummy1->hide();
    HScroll1->raise();
    VScroll1->raise();
    PicDummy2->raise();
}

// The scroll values are twips: the picture moves by exactly the value.
void Form1::HScroll1_Change()
{
    Image2->move(-common::twipsToPixels(HScroll1->value()), Image2->y());
}

void Form1::HScroll1_Scroll()
{
    HScroll1_Change();
}

void Form1::VScroll1_Change()
{
    Image2->move(Image2->x(), -common::twipsToPixels(VScroll1->value()));
}

void Form1::VScroll1_Scroll()
{
    VScroll1_Change();
}

} // namespace tramsel
