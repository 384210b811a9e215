#include "grabbedcolours.h"

#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace
{

QImage grabbed(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
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
