#include "ui/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace tarvel {

QRect BesideOnScreen(QRect main, QSize size, QRect screen) {
  constexpr int kGap = 8;
  const QRect candidates[] = {
      QRect(QPoint(main.right() + 1 + kGap, main.top()), size),
      QRect(QPoint(main.left() - kGap - size.width(), main.top()), size),
      QRect(QPoint(main.left(), main.bottom() + 1 + kGap), size),
      QRect(QPoint(main.left(), main.top() - kGap - size.height()), size),
  };
  for (const QRect& r : candidates) {
    if (screen.contains(r)) return r;
  }
  QRect r = candidates[0];
  r.setSize(size.boundedTo(screen.size()));
  r.moveLeft(std::clamp(r.left(), screen.left(), screen.right() + 1 - r.width()));
  r.moveTop(std::clamp(r.top(), screen.top(), screen.bottom() + 1 - r.height()));
  return r;
}

void PlaceBeside(QWidget* window, const QWidget* main) {
  QScreen* screen = main->screen() != nullptr ? main->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // The frame adds the title bar and borders around the inside.
  const QRect frame = window->frameGeometry();
  const QSize margins = frame.size() - window->geometry().size();
  const QRect placed =
      BesideOnScreen(main->frameGeometry(), window->size() + margins, screen->availableGeometry());
  window->resize(placed.size() - margins);
  window->move(placed.topLeft());
}

}  // namespace tarvel
