#include "convert/converter_image.h"

#include <QFile>

#include "base/failure.h"

QByteArray ConverterImage() {
  QFile resource(":/lumeconv");
  if (!resource.open(QIODevice::ReadOnly)) {
    throw Failure("The converter is missing from the program's resources.");
  }
  return resource.readAll();
}
