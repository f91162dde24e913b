// Draws the status window's artwork: the 256 x 256 printer icon (PNG) and
// the twelve 346 x 346 status pictures (24-bit BMP). Every picture shows the
// same printer with a sign for its state in the lower right corner, drawn
// with thick strokes so that it still reads when shown at 80 x 80.
//
// Usage: vantora_status_artgen <output folder>
//        vantora_status_artgen --printer-icons <output folder>
// The second form draws only the printer icon, for the printer
// application's printers: icon-sm.png, icon-md.png and icon-lg.png (48, 128
// and 512 pixels, the sizes PAPPL serves).
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cmath>
#include <cstdio>

namespace {

// Colours of the signs.
const QColor kOk(0x2e, 0x9d, 0x4f);
const QColor kBusy(0x2a, 0x6f, 0xd1);
const QColor kCool(0x3b, 0xa7, 0xd9);
const QColor kWarn(0xef, 0x8a, 0x17);
const QColor kError(0xd6, 0x32, 0x32);
const QColor kOff(0x8a, 0x8f, 0x98);
const QColor kOutline(0x3c, 0x43, 0x50);

enum class Sign { Check, Play, Snow, Exclaim, Cross, Question, Power };
enum class Part { None, Sheet, PhotoSheet, OpenLid, TrashBoxMissing, EmptyTray, Ribbon, EmptyRibbon, Jam, SizeMismatch };

struct Picture {
    const char *file;
    Part part;
    QColor partColour;  // highlight of the affected part
    Sign sign;
    QColor signColour;
    QColor led;
    bool greyed;  // the whole printer drawn pale (offline)
};

QPen Stroke(const QColor &colour, double width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The printer in a 100 x 100 unit square.
void DrawPrinter(QPainter &p, const Picture &pic)
{
    const QColor outline = pic.greyed ? kOff : kOutline;
    const QColor top = pic.greyed ? QColor(0xee, 0xef, 0xf1) : QColor(0xf4, 0xf6, 0xf9);
    const QColor bottom = pic.greyed ? QColor(0xd3, 0xd5, 0xd9) : QColor(0xa9, 0xb2, 0xc0);

    // Paper tray at the front, below the body.
    QRectF tray(22, 70, 56, 10);
    p.setPen(Stroke(pic.part == Part::EmptyTray ? pic.partColour : outline, 2.2));
    p.setBrush(QColor(0xd9, 0xdd, 0xe3));
    p.drawRoundedRect(tray, 2, 2);
    if (pic.part != Part::EmptyTray && !pic.greyed) {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(26, 71.5, 48, 3.5));
    }

    // Lid: closed on top of the body, or swung open towards the back.
    p.setPen(Stroke(pic.part == Part::OpenLid ? pic.partColour : outline, 2.5));
    QLinearGradient lidFill(0, 14, 0, 34);
    lidFill.setColorAt(0, top);
    lidFill.setColorAt(1, bottom);
    p.setBrush(lidFill);
    if (pic.part == Part::OpenLid) {
        QPolygonF lid;
        lid << QPointF(18, 34) << QPointF(26, 6) << QPointF(82, 6) << QPointF(82, 34);
        p.drawPolygon(lid);
    } else {
        p.drawRoundedRect(QRectF(16, 26, 68, 12), 4, 4);
    }

    // Body.
    QLinearGradient bodyFill(0, 34, 0, 72);
    bodyFill.setColorAt(0, top);
    bodyFill.setColorAt(1, bottom);
    p.setPen(Stroke(outline, 2.5));
    p.setBrush(bodyFill);
    p.drawRoundedRect(QRectF(10, 34, 80, 38), 6, 6);

    // Output slot and status lamp.
    p.setPen(Qt::NoPen);
    p.setBrush(outline);
    p.drawRoundedRect(QRectF(22, 47, 56, 4), 2, 2);
    p.setBrush(pic.led);
    p.drawEllipse(QPointF(81, 41), 3, 3);

    // Ribbon cassette seen through the open side: two spools.
    if (pic.part == Part::Ribbon || pic.part == Part::EmptyRibbon) {
        p.setPen(Stroke(pic.partColour, 2.5));
        p.setBrush(QColor(0xff, 0xff, 0xff, 200));
        p.drawRoundedRect(QRectF(16, 55, 34, 12), 3, 3);
        const double supply = pic.part == Part::EmptyRibbon ? 2.0 : 4.5;
        p.setBrush(QColor(0x6b, 0x3f, 0x9e));
        p.drawEllipse(QPointF(23, 61), supply, supply);
        p.drawEllipse(QPointF(43, 61), 4.5, 4.5);
    }

    // A missing trash box: dashed outline where it belongs, left of the body.
    if (pic.part == Part::TrashBoxMissing) {
        QPen dashed(pic.partColour, 2.2, Qt::DashLine, Qt::RoundCap);
        p.setPen(dashed);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(14, 54, 26, 14), 2, 2);
    }

    // Paper leaving the slot.
    if (pic.part == Part::Sheet || pic.part == Part::PhotoSheet || pic.part == Part::SizeMismatch) {
        QRectF sheet(30, 49, 40, pic.part == Part::SizeMismatch ? 30 : 24);
        p.setPen(Stroke(pic.part == Part::SizeMismatch ? pic.partColour : outline, 1.8));
        p.setBrush(Qt::white);
        p.drawRect(sheet);
        if (pic.part == Part::PhotoSheet) {
            // A picture being printed: yellow, magenta and cyan bands.
            p.setPen(Qt::NoPen);
            const QColor bands[] = {QColor(0xf7, 0xd3, 0x1e), QColor(0xe0, 0x3c, 0x8a), QColor(0x1f, 0xa8, 0xd8)};
            for (int i = 0; i < 3; ++i)
                p.fillRect(QRectF(33, 52 + i * 6.0, 34, 5), bands[i]);
        }
        if (pic.part == Part::SizeMismatch) {
            // Double arrow across the sheet: its size.
            p.setPen(Stroke(pic.partColour, 2.2));
            p.drawLine(QPointF(35, 66), QPointF(65, 66));
            p.drawLine(QPointF(35, 66), QPointF(40, 62));
            p.drawLine(QPointF(35, 66), QPointF(40, 70));
            p.drawLine(QPointF(65, 66), QPointF(60, 62));
            p.drawLine(QPointF(65, 66), QPointF(60, 70));
        }
    }
    if (pic.part == Part::Jam) {
        // A crumpled sheet stuck in the slot.
        QPainterPath crumple;
        crumple.moveTo(28, 50);
        const double xs[] = {34, 40, 46, 52, 58, 64, 70};
        const double ys[] = {60, 52, 63, 53, 62, 51, 58};
        for (int i = 0; i < 7; ++i)
            crumple.lineTo(xs[i], ys[i]);
        crumple.lineTo(72, 50);
        crumple.closeSubpath();
        p.setPen(Stroke(pic.partColour, 2.2));
        p.setBrush(Qt::white);
        p.drawPath(crumple);
    }
}

// The state sign: a filled disc with a white symbol, in the lower right.
void DrawSign(QPainter &p, const Picture &pic)
{
    const QPointF c(75, 75);
    const double r = 21;
    p.setPen(QPen(Qt::white, 3.0));
    p.setBrush(pic.signColour);
    p.drawEllipse(c, r, r);

    p.setBrush(Qt::NoBrush);
    p.setPen(Stroke(Qt::white, 4.5));
    switch (pic.sign) {
    case Sign::Check:
        p.drawPolyline(QPolygonF() << QPointF(65, 75) << QPointF(72, 83) << QPointF(86, 67));
        break;
    case Sign::Play:
        p.setBrush(Qt::white);
        p.setPen(Stroke(Qt::white, 2.5));
        p.drawPolygon(QPolygonF() << QPointF(69, 64) << QPointF(88, 75) << QPointF(69, 86));
        break;
    case Sign::Snow:
        p.setPen(Stroke(Qt::white, 3.5));
        for (int i = 0; i < 3; ++i) {
            const double a = i * M_PI / 3.0 + M_PI / 2.0;
            const QPointF d(std::cos(a) * 13, std::sin(a) * 13);
            p.drawLine(c - d, c + d);
        }
        break;
    case Sign::Exclaim:
        p.setPen(Stroke(Qt::white, 5.5));
        p.drawLine(QPointF(75, 63), QPointF(75, 77));
        p.drawPoint(QPointF(75, 86));
        break;
    case Sign::Cross:
        p.drawLine(QPointF(67, 67), QPointF(83, 83));
        p.drawLine(QPointF(83, 67), QPointF(67, 83));
        break;
    case Sign::Question: {
        QPainterPath hook;
        hook.moveTo(68, 69);
        hook.cubicTo(68, 60, 83, 60, 83, 69);
        hook.cubicTo(83, 75, 75, 74, 75, 80);
        p.drawPath(hook);
        p.setPen(Stroke(Qt::white, 5.5));
        p.drawPoint(QPointF(75, 87));
        break;
    }
    case Sign::Power:
        p.drawArc(QRectF(64, 65, 22, 22), 120 * 16, 300 * 16);
        p.drawLine(QPointF(75, 61), QPointF(75, 74));
        break;
    }
}

QImage Render(const Picture &pic, int size, bool opaque)
{
    QImage image(size, size, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.fill(opaque ? Qt::white : Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 100.0, size / 100.0);
    if (pic.file == nullptr) {
        // The icon has no sign: the printer alone, a little larger and centred.
        p.translate(50, 50);
        p.scale(1.1, 1.1);
        p.translate(-50, -53);
    }
    DrawPrinter(p, pic);
    if (pic.file != nullptr)
        DrawSign(p, pic);
    p.end();
    return image;
}

}  // namespace

int main(int argc, char **argv)
{
    const bool iconsOnly = argc == 3 && QLatin1String(argv[1]) == QLatin1String("--printer-icons");
    if (argc != 2 && !iconsOnly) {
        fprintf(stderr, "usage: %s [--printer-icons] <output folder>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[argc - 1]);
    if (!QDir().mkpath(out))
        return 1;

    const QColor ledOn(0x39, 0xd3, 0x5f);
    if (iconsOnly) {
        const Picture icon = {nullptr, Part::PhotoSheet, kOutline, Sign::Check, kOk, ledOn, false};
        const struct {
            const char *file;
            int size;
        } kIcons[] = {{"icon-sm.png", 48}, {"icon-md.png", 128}, {"icon-lg.png", 512}};
        for (const auto &entry : kIcons) {
            if (!Render(icon, entry.size, false).save(out + QLatin1Char('/') + QLatin1String(entry.file), "PNG")) {
                fprintf(stderr, "cannot write %s\n", entry.file);
                return 1;
            }
        }
        return 0;
    }
    const QColor ledWarn(0xf5, 0xa6, 0x23);
    const QColor ledError(0xe8, 0x3b, 0x3b);
    const QColor ledOff(0xb0, 0xb4, 0xba);
    const Picture pictures[] = {
        {"PrtStsIdle.bmp", Part::None, kOutline, Sign::Check, kOk, ledOn, false},
        {"PrtStsPrinting.bmp", Part::PhotoSheet, kOutline, Sign::Play, kBusy, ledOn, false},
        {"PrtStsCooling.bmp", Part::None, kOutline, Sign::Snow, kCool, ledOn, false},
        {"PrtStsCoverOpen.bmp", Part::OpenLid, kWarn, Sign::Exclaim, kWarn, ledWarn, false},
        {"PrtStsNoScrapBox.bmp", Part::TrashBoxMissing, kWarn, Sign::Exclaim, kWarn, ledWarn, false},
        {"PrtStsPaperEnd.bmp", Part::EmptyTray, kWarn, Sign::Exclaim, kWarn, ledWarn, false},
        {"PrtStsPaperErr.bmp", Part::SizeMismatch, kWarn, Sign::Question, kWarn, ledWarn, false},
        {"PrtStsPaperJam.bmp", Part::Jam, kError, Sign::Exclaim, kError, ledError, false},
        {"PrtStsRibbonEnd.bmp", Part::EmptyRibbon, kWarn, Sign::Exclaim, kWarn, ledWarn, false},
        {"PrtStsRibbonErr.bmp", Part::Ribbon, kError, Sign::Cross, kError, ledError, false},
        {"PrtStsSystemErr01.bmp", Part::None, kOutline, Sign::Cross, kError, ledError, false},
        {"PrtStsOffline.bmp", Part::None, kOff, Sign::Power, kOff, ledOff, true},
    };
    for (const Picture &pic : pictures) {
        // An opaque 32-bit image is written as a 24-bit BMP.
        if (!Render(pic, 346, true).save(out + QLatin1Char('/') + QLatin1String(pic.file), "BMP")) {
            fprintf(stderr, "cannot write %s\n", pic.file);
            return 1;
        }
    }
    const Picture icon = {nullptr, Part::PhotoSheet, kOutline, Sign::Check, kOk, ledOn, false};
    if (!Render(icon, 256, false).save(out + QStringLiteral("/printer_icon.png"), "PNG")) {
        fprintf(stderr, "cannot write printer_icon.png\n");
        return 1;
    }
    return 0;
}
