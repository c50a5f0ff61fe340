#include "ui/program_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

static void RegisterProgramIconResources() {
    Q_INIT_RESOURCE(about_box);
}

QIcon ProgramIcon() {
    RegisterProgramIconResources();
    QSvgRenderer logo(QStringLiteral(":/logo.svg"));
    QIcon icon;
    if (!logo.isValid())
        return icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        // The logo is taller than wide: it keeps its proportions, centred in the square.
        QPixmap picture(side, side);
        picture.fill(Qt::transparent);
        QSizeF size = logo.defaultSize();
        size.scale(side, side, Qt::KeepAspectRatio);
        QPainter painter(&picture);
        logo.render(&painter,
                    QRectF(QPointF((side - size.width()) / 2, (side - size.height()) / 2), size));
        painter.end();
        icon.addPixmap(picture);
    }
    return icon;
}
