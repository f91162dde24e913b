#include "form_checks.h"

#include <QFontMetrics>
#include <QImage>
#include <QPushButton>
#include <QStyle>
#include <gtest/gtest.h>

namespace status_test {

bool Fits(const QLabel *label, const QString &text, QString *why)
{
    const QFontMetrics metrics(label->font());
    const QRect area = label->contentsRect();
    QRect needed;
    if (label->wordWrap())
        needed = metrics.boundingRect(area, int(label->alignment()) | Qt::TextWordWrap, text);
    else
        needed = QRect(0, 0, metrics.horizontalAdvance(text), metrics.ascent() + metrics.descent());
    // Heights are measured without the font's extra line gap.
    const bool fits = needed.width() <= area.width() && needed.height() <= area.height() + 4;
    if (!fits && why != nullptr)
        *why = QStringLiteral("%1: \"%2\" needs %3x%4, has %5x%6")
                   .arg(label->objectName(), text)
                   .arg(needed.width()).arg(needed.height()).arg(area.width()).arg(area.height());
    return fits;
}

// A heading laid over its box's top edge starts above the box: any ink it
// draws there (an accent on a capital) is cut off.
bool InkInsideParent(QLabel *label)
{
    if (label->y() >= 0 || label->text().isEmpty())
        return true;
    const QImage image = label->grab().toImage();
    const int hidden = -label->y() * image.height() / label->height();
    for (int y = 0; y < hidden; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 160)
                return false;
        }
    }
    return true;
}

// Where the label's text is drawn, in its parent's coordinates: the width
// and height it needs, aligned in the label's contents as the label aligns it.
static QRect TextRectInParent(const QLabel *label)
{
    const QFontMetrics metrics(label->font());
    const QRect area = label->contentsRect();
    QSize needed;
    if (label->wordWrap())
        needed = metrics.boundingRect(area, int(label->alignment()) | Qt::TextWordWrap, label->text()).size();
    else
        needed = QSize(metrics.horizontalAdvance(label->text()), metrics.ascent() + metrics.descent());
    needed = needed.boundedTo(area.size());
    return QStyle::alignedRect(label->layoutDirection(), label->alignment(), needed, area).translated(label->pos());
}

void ExpectNothingClipped(StatusDialog &dialog, const QString &what)
{
    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        QString why;
        EXPECT_TRUE(Fits(label, label->text(), &why)) << what.toStdString() << ": " << why.toStdString();
        // A label may reach past its box; its text may not.
        if (!label->text().isEmpty()) {
            const QRect text = TextRectInParent(label);
            const QWidget *parent = label->parentWidget();
            EXPECT_TRUE(text.left() >= 0 && text.right() < parent->width() && text.bottom() < parent->height())
                << what.toStdString() << ": \"" << label->text().toStdString() << "\" of "
                << label->objectName().toStdString() << " reaches past " << parent->objectName().toStdString();
        }
        EXPECT_TRUE(InkInsideParent(label)) << what.toStdString() << ": the top of \"" << label->text().toStdString()
                                            << "\" is cut off";
    }
    for (QPushButton *button : dialog.findChildren<QPushButton *>())
        EXPECT_LE(button->sizeHint().width(), button->width()) << what.toStdString() << " " << button->text().toStdString();
    // Every widget of the form other than a label (whose text is checked
    // above) lies inside its parent: the dialog or its box.
    for (QWidget *widget : dialog.findChildren<QWidget *>()) {
        const QString name = widget->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || qobject_cast<QLabel *>(widget) != nullptr)
            continue;
        EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry()))
            << what.toStdString() << ": " << name.toStdString() << " reaches past "
            << widget->parentWidget()->objectName().toStdString();
    }
}

}  // namespace status_test
