#include "ui/about_dlg.h"

#include "ui/app_icon.h"
#include "ui/dialog_units.h"

#include <algorithm>

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* owner)
    : QDialog(owner,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("About Quarnel"));
    SetDialogSize(this, 217, 55);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    PlaceControl(icon, 11, 17, 20, 20);
    const int side = std::min(icon->width(), icon->height());
    icon->setPixmap(QuarnelIcon().pixmap(side, side));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* version = new QLabel(QStringLiteral("Quarnel Version 1.0"), this);
    version->setObjectName(QStringLiteral("version"));
    version->setTextFormat(Qt::PlainText);
    PlaceControl(version, 40, 10, 119, 8);

    auto* notice = new QLabel(QStringLiteral("Relays web DX spots to a serial line"), this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setTextFormat(Qt::PlainText);
    PlaceControl(notice, 40, 25, 132, 8);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    PlaceControl(ok, 178, 7, 32, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
