#include "pinmark/messages.h"

#include "common/numtext.h"

namespace pinmark {

QString progressText(int written)
{
    return common::numtext(written) + QStringLiteral(" map files have been created");
}

QString skippedMessage(const QStringList& skipped)
{
    return QStringLiteral("These images were left out because their names are not tile names "
                          "of the downloader:\n") +
           skipped.join(u'\n');
}

QString clashMessage(const QStringList& clashed)
{
    return QStringLiteral("These images were left out because the calibration file of another "
                          "image has the same name, and that one was kept:\n") +
           clashed.join(u'\n');
}

QString failedMessage(const QStringList& failed)
{
    return QStringLiteral("These calibration files could not be written; any earlier version of "
                          "them is unchanged:\n") +
           failed.join(u'\n');
}

} // namespace pinmark
