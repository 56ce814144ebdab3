// Test programs run headless unless told otherwise, also when started by
// hand: no test ever needs a screen.
#include <QByteArray>
#include <QtGlobal>

namespace {

const bool kHeadless = [] {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  }
  return true;
}();

}  // namespace
