#include "convert/converter_image.h"

#include <QFile>
#include <QTest>

class ConverterImageTest : public QObject {
  Q_OBJECT

 private slots:
  void CarriesTheBuiltConverter() {
    QFile built(QStringLiteral(BUILD_DIR) + "/lumeconv");
    QVERIFY(built.open(QIODevice::ReadOnly));
    const QByteArray image = ConverterImage();
    QVERIFY(
        image.startsWith("\x7f"
                         "ELF"));
    QVERIFY(image == built.readAll());
  }
};

QTEST_GUILESS_MAIN(ConverterImageTest)
#include "converter_image_test.moc"
