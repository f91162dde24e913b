// About box of the status window.
#include "versiondialog.h"

#include "ui_versiondialog.h"

#include <QGraphicsScene>
#include <QPixmap>

// Builds the form, sets the version and notice lines and shows the icon.
VersionDialog::VersionDialog(QWidget *parent) : QDialog(parent), ui(new Ui_VersionDialog)
{
    ui->setupUi(this);
    ui->label_VersionNo->setText(tr("Version") + QLatin1Char(' ') + QLatin1String(kStatusProgramVersion));
    ui->label_CopyRight->setText(QString::fromUtf8(kStatusCopyrightNotice));

    QPixmap icon(QStringLiteral(":/images/printer_icon.png"));
    // The scene is a child of the dialog and goes with it.
    auto *scene = new QGraphicsScene(this);
    scene->addPixmap(icon.scaled(80, 80, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    ui->graphicsView->setScene(scene);
}

// Deletes the form; the widgets and the scene go with the dialog.
VersionDialog::~VersionDialog()
{
    delete ui;
}
