#include "support/screen_grab.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

#include <cstdlib>

namespace testkit {

void grabCheckAndSave(QWidget* screen, const char* name) {
    screen->show();
    QCoreApplication::processEvents();
    const QImage image = screen->grab().toImage();
    EXPECT_EQ(image.size(), QSize(800, 480)) << name;
    const QRgb background = image.pixel(799, 479);
    int other = 0;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) other += image.pixel(x, y) != background;
    EXPECT_GT(other, 500) << name << " shows nothing but its background";
    if (const char* dir = std::getenv("VLX_SCREENSHOT_DIR")) {
        QDir().mkpath(QString::fromLocal8Bit(dir));
        EXPECT_TRUE(image.save(QString::fromLocal8Bit(dir) + QStringLiteral("/%1.png").arg(name)));
    }
}

}  // namespace testkit
