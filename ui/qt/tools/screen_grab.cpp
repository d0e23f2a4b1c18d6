// Saves what the X display shows, cut to the windows on it: every pixel that
// differs from the background (the colour of the top left corner) is kept,
// with a small margin. Used by scripts/screenshot.sh under Xvfb:
//   velmora-screen-grab <out.png>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        (void)std::fprintf(stderr, "usage: %s <out.png>\n", argv[0]);
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        (void)std::fprintf(stderr, "No screen to grab: is DISPLAY set?\n");
        return 1;
    }
    const QImage shot = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    if (shot.isNull()) {
        (void)std::fprintf(stderr, "The screen could not be grabbed.\n");
        return 1;
    }
    const QRgb background = shot.pixel(0, 0);
    int left = shot.width();
    int top = shot.height();
    int right = -1;
    int bottom = -1;
    for (int y = 0; y < shot.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x) {
            if (line[x] != background) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0) {
        (void)std::fprintf(stderr, "The screen is empty: no window was shown.\n");
        return 1;
    }
    const int margin = 8;
    const QRect content = QRect(QPoint(left, top), QPoint(right, bottom))
                              .adjusted(-margin, -margin, margin, margin)
                              .intersected(shot.rect());
    if (!shot.copy(content).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        (void)std::fprintf(stderr, "Cannot write %s\n", argv[1]);
        return 1;
    }
    (void)std::printf("%s: %dx%d\n", argv[1], content.width(), content.height());
    return 0;
}
