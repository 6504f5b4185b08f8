// Both windows read their stored placement with one rule: 15 twips to a
// pixel, rounded, whatever the screen.
#include "ui/twips.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "ui/log_window.h"
#include "window_fixture.h"

namespace tarvel {
namespace {

using testing::WriteBytes;

class TwipsTest : public testing::WindowTest {};

TEST_F(TwipsTest, BothWindowsTakeFifteenTwipsToAPixelRounded) {
  struct {
    int twips;
    int pixels;
  } const kCases[] = {{3000, 200}, {3007, 200}, {1508, 101}, {-150, -10}, {22, 1}, {23, 2}};
  for (const auto& c : kCases) {
    EXPECT_EQ(TwipsToPixels(c.twips), c.pixels) << c.twips;
  }
  EXPECT_EQ(PixelsToTwips(101), 1515);

  MainWindow& w = Open("", "FormTop=1508\r\nFormLeft=3007\r\n");
  EXPECT_EQ(w.pos(), QPoint(200, 101));

  WriteBytes(ini(), "[LogWindow]\r\nTop=1508\r\nLeft=3007\r\nWidth=6000\r\nHeight=4507\r\n");
  LogWindowHost host(ini(), nullptr);
  host.Show();
  QCoreApplication::processEvents();
  ASSERT_NE(host.window(), nullptr);
  EXPECT_EQ(host.window()->frameGeometry(), QRect(200, 101, 400, 300));
}

}  // namespace
}  // namespace tarvel
