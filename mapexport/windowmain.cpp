// The export window, started from the menu or a terminal.
#include "common/commandline.h"
#include "common/runwindow.h"
#include "mapexport/window.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

const QString helpText = common::windowProgramHelp(
    QStringLiteral("mapexport-window"),
    QStringLiteral(
        "Exports the tiles of the folder mymaps of the working folder as one file for map "
        "apps,\n"
        "OsmAnd, Locus Map and RMaps, Garmin units, field and GIS apps, GIS programs or a "
        "web\n"
        "page, as mapexport does, in a window.\n"));

// The window as the program makes it: folders open in the desktop's file manager.
class Window : public mapexport::ExportWindow {
public:
    explicit Window(common::Dialogs& dialogs)
        : ExportWindow(dialogs, [](const QString& folder) {
              QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
          })
    {}
};

} // namespace

int main(int argc, char** argv)
{
    return common::runWindow<Window>(argc, argv, QStringLiteral("mapexport-window"),
                                     QStringLiteral("Map Export"), helpText);
}
