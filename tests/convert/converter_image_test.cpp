#include "convert/converter_image.h"

#include <QFile>
#include <QTest>

#include "support/test_main.h"

class ConverterImageTest : public QObject {
  Q_OBJECT

 private slots:
  void CarriesTheBuiltConverter() {
    QFile built(qEnvironmentVariable("BRISKLUME_BUILD_DIR") + "/lumeconv");
    QVERIFY(built.open(QIODevice::ReadOnly));
    const QByteArray image = ConverterImage();
    QVERIFY(
        image.startsWith("\x7f"
                         "ELF"));
    QVERIFY(image == built.readAll());
  }
};

BRISKLUME_TEST_CLASS(ConverterImageTest);
#include "converter_image_test.moc"
