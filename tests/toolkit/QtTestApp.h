#pragma once
// The one QApplication of a Qt test program, made on first use and kept to the end.
#include <QApplication>

namespace tarnset::tktest {

inline QApplication& testApplication() {
  static int argc = 1;
  static char name[] = "toolkit_test";
  static char* argv[] = {name, nullptr};
  static auto* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace tarnset::tktest
