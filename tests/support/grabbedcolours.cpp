#include "grabbedcolours.h"

#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace
{

// The control's own pixels: the stale marking over a control whose link is not
// live is a layer above its colours, lifted for the grab.
QImage grabbed(QWidget *widget)
{
    QWidget *mark =
        widget->findChild<QWidget *>(QStringLiteral("StaleMark"), Qt::FindDirectChildrenOnly);
    const bool marked = mark && !mark->isHidden();
    if (marked)
        mark->hide();
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (marked)
        mark->show();
    return image;
}

} // namespace

QColor mostFrequentColour(QWidget *widget)
{
    const QImage image = grabbed(widget);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb most = 0;
    int mostCount = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > mostCount) {
            most = it.key();
            mostCount = it.value();
        }
    }
    return QColor(most);
}

bool showsColour(QWidget *widget, const QColor &colour)
{
    const QImage image = grabbed(widget);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour.rgb())
                return true;
    return false;
}
