// Catalogues and resources: every language has every key with a text, the
// English texts are the system's own, line breaks match English, and the
// resource tree holds the pictures and icon in the expected form.
#include "catalogue_keys.h"
#include "status_test_support.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QResource>
#include <QSet>
#include <QTranslator>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using status_test::CatalogueEntries;
using status_test::Languages;

namespace {

TEST(Catalogues, EveryLanguageHasEveryKeyWithAText)
{
    const auto entries = CatalogueEntries();
    ASSERT_EQ(entries.size(), 70u);
    for (const QString &language : Languages()) {
        QTranslator translator;
        ASSERT_TRUE(translator.load(":/translations/localize_" + language)) << language.toStdString();
        for (const auto &entry : entries) {
            const QString text = translator.translate(entry.context, entry.key.toUtf8().constData());
            EXPECT_FALSE(text.isEmpty()) << language.toStdString() << " " << entry.key.toStdString();
            if (language == "en" && !entry.english.isNull()) {
                EXPECT_EQ(text, entry.english) << entry.key.toStdString();
            }
            // Line breaks where English has them.
            QTranslator english;
            ASSERT_TRUE(english.load(":/translations/localize_en"));
            const QString source = english.translate(entry.context, entry.key.toUtf8().constData());
            EXPECT_EQ(text.count('\n'), source.count('\n')) << language.toStdString() << " " << entry.key.toStdString();
            EXPECT_EQ(text.startsWith('\n'), source.startsWith('\n')) << language.toStdString();
        }
    }
}

TEST(Catalogues, SourcesHoldExactlyTheSeventyFinishedEntries)
{
    for (const QString &language : Languages()) {
        QFile file(QStringLiteral(VANTORA_STATUS_SOURCE_DIR "/translations/localize_") + language + ".ts");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString context;
        QSet<QString> seen;
        int messages = 0;
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            if (xml.name() == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("source")) {
                seen.insert(context + "/" + xml.readElementText());
                ++messages;
            } else if (xml.name() == QLatin1String("translation")) {
                EXPECT_TRUE(xml.attributes().value("type").isEmpty()) << language.toStdString();
            }
        }
        EXPECT_FALSE(xml.hasError()) << language.toStdString();
        EXPECT_EQ(messages, 70) << language.toStdString();
        for (const auto &entry : CatalogueEntries()) {
            EXPECT_TRUE(seen.contains(QLatin1String(entry.context) + "/" + entry.key))
                << language.toStdString() << " " << entry.key.toStdString();
        }
    }
}

TEST(Resources, TreeHoldsCataloguesPicturesAndIcon)
{
    for (const QString &language : Languages()) {
        QResource catalogue(":/translations/localize_" + language + ".qm");
        EXPECT_TRUE(catalogue.isValid());
        EXPECT_NE(catalogue.compressionAlgorithm(), QResource::NoCompression) << language.toStdString();
    }
    QResource icon(":/images/printer_icon.png");
    ASSERT_TRUE(icon.isValid());
    EXPECT_EQ(icon.compressionAlgorithm(), QResource::NoCompression);
    QImageReader iconReader(":/images/printer_icon.png");
    EXPECT_EQ(iconReader.format(), QByteArray("png"));
    EXPECT_EQ(iconReader.size(), QSize(256, 256));

    for (const char *name : {"PrtStsIdle", "PrtStsPrinting", "PrtStsCooling", "PrtStsCoverOpen", "PrtStsPaperEnd",
                             "PrtStsPaperErr", "PrtStsPaperJam", "PrtStsRibbonEnd", "PrtStsRibbonErr",
                             "PrtStsNoScrapBox", "PrtStsSystemErr01", "PrtStsOffline"}) {
        const QString path = QStringLiteral(":/images/") + name + ".bmp";
        QResource resource(path);
        ASSERT_TRUE(resource.isValid()) << name;
        EXPECT_NE(resource.compressionAlgorithm(), QResource::NoCompression) << name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray header = file.read(54);
        ASSERT_EQ(header.size(), 54);
        EXPECT_EQ(header.left(2), QByteArray("BM"));
        EXPECT_EQ(static_cast<unsigned char>(header[28]), 24u) << name << ": not 24 bits per pixel";
        const QImage image(path);
        EXPECT_EQ(image.size(), QSize(346, 346)) << name;
    }
}

TEST(Resources, PicturesDifferFromEachOther)
{
    // Each state has a picture of its own, also at the 80 x 80 it is shown at.
    QSet<QByteArray> seen;
    for (const char *name : {"PrtStsIdle", "PrtStsPrinting", "PrtStsCooling", "PrtStsCoverOpen", "PrtStsPaperEnd",
                             "PrtStsPaperErr", "PrtStsPaperJam", "PrtStsRibbonEnd", "PrtStsRibbonErr",
                             "PrtStsNoScrapBox", "PrtStsSystemErr01", "PrtStsOffline"}) {
        QImage small = QImage(QStringLiteral(":/images/") + name + ".bmp")
                           .scaled(80, 80, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                           .convertToFormat(QImage::Format_RGB32);
        const QByteArray bytes(reinterpret_cast<const char *>(small.constBits()), static_cast<int>(small.sizeInBytes()));
        EXPECT_FALSE(seen.contains(bytes)) << name;
        seen.insert(bytes);
    }
}

}  // namespace
