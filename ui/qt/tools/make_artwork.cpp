// Draws the program's artwork into res/: the icon at 16 and 32 pixels (PNG,
// and an .ico holding both for the Windows build) and the 340 x 64 banner of
// the main dialog (PNG, and a 24-bit .bmp for the Windows build). Run it again after changing a
// drawing:
//   velmora-make-artwork <res folder>
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kNight(12, 36, 77);
const QColor kSea(18, 102, 140);
const QColor kSignal(255, 196, 61);
const QColor kDish(235, 241, 247);

// A dish on its stand, looking up and to the right, in a square of side `s`
// whose top left corner is `at`.
void DrawDish(QPainter& p, QPointF at, double s, bool withWaves) {
    p.save();
    p.translate(at);
    p.scale(s / 32.0, s / 32.0);
    // Stand.
    p.setPen(QPen(kDish, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12, 20), QPointF(9, 29));
    p.drawLine(QPointF(6, 29), QPointF(15, 29));
    // Reflector: a bowl opening towards the top right.
    p.translate(13, 17);
    p.rotate(35);
    QPainterPath bowl;
    bowl.moveTo(-11, 0);
    bowl.cubicTo(-9, 10, 9, 10, 11, 0);
    bowl.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kDish);
    p.drawPath(bowl);
    // Feed arm and the LNB at the focus.
    p.setPen(QPen(kDish, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, 6), QPointF(0, -9));
    p.setPen(Qt::NoPen);
    p.setBrush(kSignal);
    p.drawEllipse(QPointF(0, -10), 2.4, 2.4);
    if (withWaves) {
        p.setBrush(Qt::NoBrush);
        for (int i = 0; i < 3; ++i) {
            const double r = 5.0 + 4.0 * i;
            p.setPen(QPen(kSignal, 1.4, Qt::SolidLine, Qt::RoundCap));
            p.drawArc(QRectF(-r, -10 - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
        }
    }
    p.restore();
}

QImage Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    QLinearGradient sky(0, 0, s, s);
    sky.setColorAt(0, kSea);
    sky.setColorAt(1, kNight);
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s / 6, s / 6);
    DrawDish(p, QPointF(-0.5 * s / 32, 3.5 * s / 32), s * 0.8, size >= 32);
    // The upgrade arrow in the bottom right corner.
    p.setBrush(kSignal);
    QPainterPath arrow;
    const double u = s / 32.0;
    arrow.moveTo(25 * u, 13 * u);
    arrow.lineTo(31 * u, 20 * u);
    arrow.lineTo(27.5 * u, 20 * u);
    arrow.lineTo(27.5 * u, 29 * u);
    arrow.lineTo(22.5 * u, 29 * u);
    arrow.lineTo(22.5 * u, 20 * u);
    arrow.lineTo(19 * u, 20 * u);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return image;
}

QImage Banner() {
    QImage image(340, 64, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient sky(0, 0, 340, 64);
    sky.setColorAt(0, kNight);
    sky.setColorAt(0.65, kSea);
    sky.setColorAt(1, QColor(40, 150, 170));
    p.fillRect(image.rect(), sky);
    // A satellite's footprint: faint rings around the top right corner.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 6; ++i) {
        p.setPen(QPen(QColor(255, 255, 255, 28 - 4 * i), 6));
        const double r = 30 + 26 * i;
        p.drawEllipse(QPointF(330, -6), r, r);
    }
    // Stars.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 150));
    const QPointF stars[] = {{70, 9}, {118, 52}, {160, 8}, {205, 57}, {250, 14}, {300, 46}};
    for (const QPointF& star : stars) {
        p.drawEllipse(star, 0.9, 0.9);
    }
    DrawDish(p, QPointF(6, 8), 54, true);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(30);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(QPointF(76, 37), QStringLiteral("Velmora"));
    p.setPen(Qt::white);
    p.drawText(QPointF(74, 35), QStringLiteral("Velmora"));

    QFont subtitle(QStringLiteral("DejaVu Sans"));
    subtitle.setPixelSize(11);
    p.setFont(subtitle);
    p.setPen(kSignal);
    p.drawText(QPointF(76, 52), QStringLiteral("DVB-S receiver upgrade over the serial line"));
    return image;
}

QByteArray Png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void PutLe16(QByteArray& out, int v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}
void PutLe32(QByteArray& out, qsizetype v) {
    for (int i = 0; i < 4; ++i) {
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

// An .ico whose images are stored as PNG, as Windows has read them since Vista.
QByteArray Ico(const QList<QImage>& images) {
    QByteArray out;
    PutLe16(out, 0);  // reserved
    PutLe16(out, 1);  // icon
    PutLe16(out, static_cast<int>(images.size()));
    QList<QByteArray> pngs;
    for (const QImage& image : images) {
        pngs.append(Png(image));
    }
    qsizetype offset = 6 + 16 * images.size();
    for (qsizetype i = 0; i < images.size(); ++i) {
        out.append(static_cast<char>(images[i].width() & 0xFF));
        out.append(static_cast<char>(images[i].height() & 0xFF));
        out.append('\0');  // no palette
        out.append('\0');  // reserved
        PutLe16(out, 1);   // colour planes
        PutLe16(out, 32);  // bits per pixel
        PutLe32(out, pngs[i].size());
        PutLe32(out, offset);
        offset += pngs[i].size();
    }
    for (const QByteArray& png : pngs) {
        out.append(png);
    }
    return out;
}

// A 24-bit bottom-up Windows bitmap, as a BITMAP resource takes it.
QByteArray Bmp(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    const int stride = (image.width() * 3 + 3) & ~3;
    const qsizetype pixels = qsizetype{stride} * image.height();
    QByteArray out("BM");
    PutLe32(out, 14 + 40 + pixels);
    PutLe32(out, 0);        // reserved
    PutLe32(out, 14 + 40);  // offset of the pixels
    PutLe32(out, 40);       // BITMAPINFOHEADER
    PutLe32(out, image.width());
    PutLe32(out, image.height());
    PutLe16(out, 1);   // planes
    PutLe16(out, 24);  // bits per pixel
    PutLe32(out, 0);   // BI_RGB
    PutLe32(out, pixels);
    PutLe32(out, 2835);  // 72 dpi
    PutLe32(out, 2835);
    PutLe32(out, 0);
    PutLe32(out, 0);
    for (int y = image.height() - 1; y >= 0; --y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            out.append(static_cast<char>(row[3 * x + 2]));  // blue, green, red
            out.append(static_cast<char>(row[3 * x + 1]));
            out.append(static_cast<char>(row[3 * x]));
        }
        out.append(QByteArray(stride - image.width() * 3, '\0'));
    }
    return out;
}

bool Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        (void)std::fprintf(stderr, "Cannot write %s: %s\n", qPrintable(path),
                           qPrintable(file.errorString()));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        (void)std::fprintf(stderr, "usage: %s <res folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QImage icon16 = Icon(16);
    const QImage icon32 = Icon(32);
    const bool ok = Write(folder + "/icon16.png", Png(icon16)) &&
                    Write(folder + "/icon32.png", Png(icon32)) &&
                    Write(folder + "/velmora.ico", Ico({icon16, icon32})) &&
                    Write(folder + "/banner.png", Png(Banner())) &&
                    Write(folder + "/banner.bmp", Bmp(Banner()));
    return ok ? 0 : 1;
}
