#pragma once

#include <QApplication>
#include <QTest>
#include <memory>
#include <vector>

// Runs several test classes in one program; each file registers its class
// with BRISKLUME_TEST_CLASS.
class TestRegistry {
 public:
  using Factory = QObject* (*)();
  static std::vector<Factory>& Factories() {
    static std::vector<Factory> factories;
    return factories;
  }
  struct Add {
    explicit Add(Factory factory) { Factories().push_back(factory); }
  };
};

#define BRISKLUME_TEST_CLASS(Class)                \
  static TestRegistry::Add brisklume_test_##Class( \
      []() -> QObject* { return new Class; })

#define BRISKLUME_TEST_MAIN()                         \
  int main(int argc, char** argv) {                   \
    QApplication app(argc, argv);                     \
    int failed = 0;                                   \
    for (auto factory : TestRegistry::Factories()) {  \
      std::unique_ptr<QObject> test(factory());       \
      failed += QTest::qExec(test.get(), argc, argv); \
    }                                                 \
    return failed == 0 ? 0 : 1;                       \
  }
