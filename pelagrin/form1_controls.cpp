// The downloader window's controls: made, placed in twips, put in tab order and connected to
// their handlers.
#include "common/controls.h"
#include "common/pictureview.h"
#include "common/twips.h"
#include "pelagrin/form1.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace pelagrin {

void Form1::createControls()
{
    Label1 =
        common::makeControl<QLabel>(this, QStringLiteral("Label1"), QStringLiteral("Breitengrad"));
    Text1 = common::makeControl<QLineEdit>(this, QStringLiteral("Text1"));
    Label2 =
        common::makeControl<QLabel>(this, QStringLiteral("Label2"), QStringLiteral("Längengrad"));
    Text2 = common::makeControl<QLineEdit>(this, QStringLiteral("Text2"));
    Label5 = common::makeControl<QLabel>(this, QStringLiteral("Label5"), QStringLiteral("Zoom"));
    Text5 = common::makeControl<QLineEdit>(this, QStringLiteral("Text5"));
    Command1 = common::makeControl<QPushButton>(this, QStringLiteral("Command1"),
                                                QStringLiteral("Refresh"));
    Command1->setToolTip(QStringLiteral("See how detailed your map will be"));
    Command2 = common::makeControl<QPushButton>(this, QStringLiteral("Command2"),
                                                QStringLiteral("Set to Begin Region"));
    Command3 = common::makeControl<QPushButton>(this, QStringLiteral("Command3"),
                                                QStringLiteral("Set to End Region"));
    Command4 = common::makeControl<QPushButton>(this, QStringLiteral("Command4"),
                                                QStringLiteral("Start download"));
    Option1 = common::makeControl<QRadioButton>(this, QStringLiteral("Option1"),
                                                QStringLiteral("Maptype 1"));
    Option2 = common::makeControl<QRadioButton>(this, QStringLiteral("Option2"),
                                                QStringLiteral("Maptype 2"));
    Command5 = common::makeControl<QPushButton>(this, QStringLiteral("Command5"),
                                                QStringLiteral("Save single HiRes BMP"));
    Command5->setToolTip(QStringLiteral("Save a high res 1999x1999 bitmap to your maps folder as "
                                        "it will be shown under Preview"));
    Label6 = common::makeControl<QLabel>(this, QStringLiteral("Label6"));
    Command6 = common::makeControl<QPushButton>(this, QStringLiteral("Command6"),
                                                QStringLiteral("Abort Download"));
    Label3 = common::makeControl<QLabel>(this, QStringLiteral("Label3"),
                                         QStringLiteral("B-Grad offset"));
    Label4 = common::makeControl<QLabel>(this, QStringLiteral("Label4"),
                                         QStringLiteral("L-Grad offset"));
    Text3 = common::makeControl<QLineEdit>(this, QStringLiteral("Text3"), QStringLiteral("45"));
    Text4 = common::makeControl<QLineEdit>(this, QStringLiteral("Text4"), QStringLiteral("45"));
    Command7 = common::makeControl<QPushButton>(this, QStringLiteral("Command7"),
                                                QStringLiteral("Preview"));
    Command7->setToolTip(
        QStringLiteral("See the region that one map covers with this zoom factor"));
    Check1 = common::makeControl<QCheckBox>(this, QStringLiteral("Check1"),
                                            QStringLiteral("Show me what i download"));
    Label7 = common::makeControl<QLabel>(this, QStringLiteral("Label7"));
    Label7->setWordWrap(true);
    Label7->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Command8 = common::makeControl<QPushButton>(this, QStringLiteral("Command8"),
                                                QStringLiteral("Route…"));
    Command8->setToolTip(QStringLiteral("Download the tiles along a route from a GPX, KML or KMZ "
                                        "file"));
    Label8 =
        common::makeControl<QLabel>(this, QStringLiteral("Label8"), QStringLiteral("Width (km)"));
    Text6 = common::makeControl<QLineEdit>(this, QStringLiteral("Text6"), QStringLiteral("2"));
    Text6->setToolTip(QStringLiteral("How wide the region along the route is, 0.1 to 100 km"));
    Image1 = common::makeControl<common::PictureView>(this, QStringLiteral("Image1"));
    Image1->setStretch(false);
    for (QPushButton* button :
         {Command1, Command2, Command3, Command4, Command5, Command6, Command7, Command8}) {
        button->setAutoDefault(false);
    }
}

// Positions in twips: the picture area at the left, inputs and buttons to its right, the
// check box, the progress line, the region's line and the route below the picture.
void Form1::placeControls()
{
    constexpr int left = 5040;
    constexpr int width = 2535;
    constexpr int half = 1200;
    common::placeControl(Image1, 120, 120, 4755, 4755);
    common::placeControl(Label1, left, 120, width, 255);
    common::placeControl(Text1, left, 375, width, 330);
    common::placeControl(Label2, left, 780, width, 255);
    common::placeControl(Text2, left, 1035, width, 330);
    common::placeControl(Label5, left, 1440, width, 255);
    common::placeControl(Text5, left, 1695, width, 330);
    common::placeControl(Command1, left, 2130, width, 375);
    common::placeControl(Command2, left, 2580, width, 375);
    common::placeControl(Command3, left, 3030, width, 375);
    common::placeControl(Command4, left, 3480, width, 375);
    common::placeControl(Option1, left, 3930, width, 300);
    common::placeControl(Option2, left, 4245, width, 300);
    common::placeControl(Command5, left, 4650, width, 375);
    common::placeControl(Label3, left, 5130, half, 255);
    common::placeControl(Label4, left + width - half, 5130, half, 255);
    common::placeControl(Text3, left, 5385, half, 330);
    common::placeControl(Text4, left + width - half, 5385, half, 330);
    common::placeControl(Command7, left, 5820, width, 375);
    common::placeControl(Command6, left, 5820, width, 375);
    common::placeControl(Check1, 120, 5010, 4755, 300);
    common::placeControl(Label6, 120, 5400, 4755, 300);
    common::placeControl(Label7, 120, 5700, 4755, 480);
    common::placeControl(Command8, 120, 6255, 1500, 375);
    common::placeControl(Label8, 1740, 6315, 1100, 255);
    common::placeControl(Text6, 2880, 6270, 900, 330);
    resize(common::twipsToPixels(7755), common::twipsToPixels(6780));
}

void Form1::setTabOrder()
{
    const QWidget* order[] = {Text1,    Text2,    Text5,   Command1, Command2, Command3,
                              Command4, Option1,  Option2, Command5, Command6, Text3,
                              Text4,    Command7, Check1,  Command8, Text6};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
    }
}

void Form1::connectHandlers()
{
    connect(Text3, &QLineEdit::textChanged, this, &Form1::Text3_Change);
    connect(Text4, &QLineEdit::textChanged, this, &Form1::Text4_Change);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(Image1, &common::PictureView::mouseDown, this, &Form1::Image1_MouseDown);
    connect(Image1, &common::PictureView::dragged, this, &Form1::Image1_Drag);
    connect(Command8, &QPushButton::clicked, this, &Form1::Command8_Click);
    // The region follows what it is made of: the outline and the line are planned again.
    for (QLineEdit* box : {Text3, Text4, Text5, Text6}) {
        connect(box, &QLineEdit::textChanged, this, &Form1::boxesChanged);
    }
    connect(Option1, &QRadioButton::toggled, this, &Form1::boxesChanged);
}

} // namespace pelagrin
