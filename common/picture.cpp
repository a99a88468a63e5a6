#include "common/picture.h"

#include "common/errortext.h"

#include <QImageReader>

namespace common {

Result<QImage> loadPicture(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QImage image = reader.read();
    if (image.isNull()) {
        return makeError(ErrorKind::BadInput,
                         QStringLiteral("The file %1 cannot be shown as a picture (%2).")
                             .arg(path, reader.errorString()));
    }
    return image;
}

} // namespace common
