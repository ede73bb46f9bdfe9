// tarnset-adj: the window program (Qt).
#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "AdjProgram.h"
#include "toolkit/qt/QtToolkit.h"

int main(int argc, char** argv) {
  using namespace tarnset;
  // The command line first: --help and --version need no display.
  AdjCommandLine cmd;
  if (const auto rc =
          answerAdjCommandLine(std::vector<std::string>(argv + 1, argv + argc), cmd, std::cout, std::cerr))
    return *rc;
  int qtArgc = 1;  // Qt's own options are not offered: everything else was refused above
  QApplication app(qtArgc, argv);
  QtToolkit toolkit;
  return runAdjProgram(toolkit, cmd, [&toolkit] { return toolkit.run(); });
}
