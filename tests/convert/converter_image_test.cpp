#include "convert/converter_image.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

class ConverterImageTest : public QObject {
  Q_OBJECT

 private slots:
  // The converter built in this tree, stripped of its debugging symbols.
  void CarriesTheBuiltConverter() {
    QFile built(QStringLiteral(BUILD_DIR) + "/lumeconv-embedded");
    QVERIFY(built.open(QIODevice::ReadOnly));
    const QByteArray image = ConverterImage();
    QVERIFY(
        image.startsWith("\x7f"
                         "ELF"));
    QVERIFY(image == built.readAll());
    QVERIFY(!image.contains(".debug_info"));
    // It asks for the system's libraries instead of carrying copies, so
    // that their security updates reach it. It reads PNG itself.
    for (const char* library : {"libjpeg.so", "libz.so"}) {
      QVERIFY2(image.contains(library), library);
    }
    QVERIFY(!image.contains("libpng16.so"));
    QVERIFY(QFileInfo(QStringLiteral(LUMECONV_BINARY)).lastModified() <=
            QFileInfo(built).lastModified());
  }
};

QTEST_GUILESS_MAIN(ConverterImageTest)
#include "converter_image_test.moc"
