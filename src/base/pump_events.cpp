#include "base/pump_events.h"

#include <QCoreApplication>

void PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }
