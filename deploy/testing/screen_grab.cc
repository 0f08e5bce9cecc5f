// zv_screen_grab OUT.png [LIMIT_MS]: saves the screen of $DISPLAY (run with the xcb platform)
// as a PNG once a window is drawn on it and has settled: the screen is no longer one colour
// and has not changed for a second and a half (a window fills its previews after it shows).
// Gives 0 when saved, 1 when nothing settled within the limit (default 30 s; the last grab is
// saved all the same), 2 on bad arguments.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// Takes an image; gives whether every pixel has the first pixel's colour.
bool OneColour(const QImage& image) {
  if (image.isNull()) return true;
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 4)
    for (int x = 0; x < image.width(); x += 4)
      if (image.pixel(x, y) != first) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: zv_screen_grab OUT.png [LIMIT_MS]\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "zv_screen_grab: no screen\n");
    return 2;
  }
  const auto limit = std::chrono::milliseconds(argc == 3 ? std::atoi(argv[2]) : 30000);
  const auto quiet = std::chrono::milliseconds(1500);
  const auto end = std::chrono::steady_clock::now() + limit;
  QImage last;
  auto since = std::chrono::steady_clock::now();
  bool drawn = false;
  while (!drawn && std::chrono::steady_clock::now() < end) {
    QImage now = screen->grabWindow(0).toImage();
    const auto at = std::chrono::steady_clock::now();
    if (OneColour(now) || now != last) since = at;
    drawn = at - since >= quiet;
    last = now;
    if (!drawn) QThread::msleep(100);
  }
  if (!last.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "zv_screen_grab: cannot write %s\n", argv[1]);
    return 2;
  }
  return drawn ? 0 : 1;
}
