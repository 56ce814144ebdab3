#pragma once

#include <QByteArray>

// The converter's executable, byte for byte, as the program carries it.
// Throws Failure when the program was built without it.
QByteArray ConverterImage();
