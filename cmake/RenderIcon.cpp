// Build step: draws the desktop icon at each size the hicolor theme asks for
// from the mark in the logo, so that no picture is kept twice.
//
//   render-icon LOGO.svg X,Y,SIZE OUTDIR NAME PIXELS...
//
// writes OUTDIR/<PIXELS>x<PIXELS>/apps/NAME.png for each PIXELS, drawing the
// square X,Y,SIZE of the logo's own coordinates.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    // No display at build time; the logo's text is outside the square anyway.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QStringList square = arguments.value(2).split(',');
    QSvgRenderer renderer(arguments.value(1));
    if (arguments.size() < 6 || square.size() != 3 || !renderer.isValid()) {
        std::fprintf(stderr, "usage: render-icon LOGO.svg X,Y,SIZE OUTDIR NAME PIXELS...\n");
        return 2;
    }
    renderer.setViewBox(QRectF(square[0].toDouble(), square[1].toDouble(), square[2].toDouble(),
                               square[2].toDouble()));
    for (const QString& pixels : arguments.mid(5)) {
        const int size = pixels.toInt();
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments[3]).arg(size);
        const QString file = folder + '/' + arguments[4] + ".png";
        if (size <= 0 || !QDir().mkpath(folder) || !image.save(file)) {
            std::fprintf(stderr, "render-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
