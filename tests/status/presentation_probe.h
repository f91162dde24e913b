// Reads what the main dialog shows, by the widgets' object names.
#pragma once

#include "statusdialog.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QLabel>
#include <QMap>
#include <QProgressBar>

namespace status_test {

inline QString Text(StatusDialog &dialog, const char *name)
{
    auto *label = dialog.findChild<QLabel *>(QLatin1String(name));
    return label != nullptr ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

inline int Bar(StatusDialog &dialog)
{
    return dialog.findChild<QProgressBar *>(QStringLiteral("progressBar"))->value();
}

// The picture shown, as an image, or a null image.
inline QImage Picture(StatusDialog &dialog)
{
    auto *view = dialog.findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    if (view == nullptr || view->scene() == nullptr)
        return QImage();
    for (QGraphicsItem *item : view->scene()->items()) {
        if (auto *pixmap = dynamic_cast<QGraphicsPixmapItem *>(item))
            return pixmap->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    }
    return QImage();
}

// The resource picture as the dialog shows it.
inline QImage Expected(const char *resource)
{
    return QImage(QLatin1String(resource))
        .scaled(80, 80, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

inline QMap<QString, QString> Map(const QString &status, const QString &message, const QString &size,
                                  const QString &mediaClass, const QString &initial, const QString &remain,
                                  const QString &total = QString(), const QString &version = QString(),
                                  const QString &serial = QString())
{
    return {{"PRINTER_STATUS", status}, {"PRINTER_MESSAGE", message}, {"MEDIA_SIZE", size},
            {"MEDIA_CLASS", mediaClass}, {"MEDIA_INITIAL", initial}, {"MEDIA_REMAIN", remain},
            {"TOTAL_COUNT", total}, {"PRINTER_VERSION", version}, {"PRINTER_SERIAL_NO", serial}};
}

}  // namespace status_test
