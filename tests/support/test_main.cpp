// One main for every test program: a QApplication (the offscreen platform under CTest) so
// that tests of sockets, drawing and the window all have their event loop and fonts; the text
// codec loaded as the program loads it at start-up.
#include <gtest/gtest.h>

#include <QApplication>

#include "text/gbk.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (!aqled::LoadTextCodec()) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
