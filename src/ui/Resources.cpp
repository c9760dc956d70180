#include <QPixmap>
#include <cstddef>

#include "ui/framework/Icons.h"
#include "ui/resource.h"

extern const unsigned char LumidorIconData[];
extern const std::size_t LumidorIconSize;

QIcon LoadIcon(int id) {
    if (id != IDR_MAINFRAME) {
        return {};
    }
    QPixmap pixmap;
    pixmap.loadFromData(LumidorIconData, static_cast<unsigned>(LumidorIconSize), "PNG");
    return QIcon(pixmap);
}
