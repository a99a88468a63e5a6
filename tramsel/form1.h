#pragma once

#include "common/dialogs.h"
#include "common/result.h"
#include "common/tilelist.h"
#include "tramsel/messages.h"

#include <QWidget>

#include <optional>

class QFrame;
class QScrollBar;

namespace common {
class PictureView;
}

namespace tramsel {

using common::Direction;
using common::TileList;

// The offline viewer: one tile at a time, fitted to the window or at full size with scroll
// bars; the keys i, m, j and k step to the neighbouring tile, the space bar switches views.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(common::Dialogs& dialogs, QWidget* parent = nullptr);

    // Start-up. The program's exit code when it ends here (no tiles, which a message has
    // told); nothing when the window is to be shown.
    std::optional<int> Form_Load();
    void Form_Resize();
    void Form_KeyPress(int keyAscii);
    void arrangebars();
    void FindNextMap(Direction directio);
    // Shows the picture file |x| in both views; an error when it cannot be read.
    common::Status ll(const QString& x);

    void HScroll1_Change();
    void HScroll1_Scroll();
    void VScroll1_Change();
    void VScroll1_Scroll();

    int mapindex() const { return mapindex_; }
    // The name of the tile at list position |position|.
    QString tileName(int position) const { return tiles_.name(position); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString tilePath(int position) const;

    common::Dialogs& dialogs_;
    common::TileFolder folder_{common::tileFolderName};
    TileList tiles_;
    int mapindex_ = 0;

    common::PictureView* Image1;
    common::PictureView* Image2;
    QScrollBar* HScroll1;
    QScrollBar* VScroll1;
    QFrame* PicDummy1;
    QFrame* PicDummy2;
};

} // namespace tramsel
