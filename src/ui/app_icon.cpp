#include "ui/app_icon.h"

#include <QImageReader>

// The resources live in this static library; their registration must be pulled in explicitly.
static void InitResources()
{
    Q_INIT_RESOURCE(quarnel);
}

QIcon QuarnelIcon()
{
    InitResources();
    QIcon icon;
    // Without Qt's SVG plugin the SVG would add an empty entry; the PNG set covers every size used.
    if (QImageReader::supportedImageFormats().contains("svg")) {
        icon.addFile(QStringLiteral(":/quarnel/quarnel.svg"));
    }
    for (const int size : {16, 32, 48, 64, 128}) {
        icon.addFile(QStringLiteral(":/quarnel/quarnel-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}
