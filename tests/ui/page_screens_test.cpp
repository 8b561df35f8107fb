// The screenshot tour of the Deliver, About and Account pages reaches every
// state, and every picture shows something.
#include "delivery_ui.h"

#include "page_screens.h"

#include <QImage>

using namespace keepframe;
using namespace keepframe::testing;

TEST_F(DeliveryUiTest, TheScreenshotTourReachesEveryState) {
    start();
    QStringList names;
    const auto save = [&](const QString& name) {
        uidriver::waitFor([&] { return uidriver::imagesSettled(window); });
        const QImage image = window->grabWindow().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(image.size(), QSize(1250, 760)) << name.toStdString();
        // Not one flat colour: the page drew something.
        bool varied = false;
        for (int y = 0; y < image.height() && !varied; y += 7)
            for (int x = 0; x < image.width() && !varied; x += 7) varied = image.pixel(x, y) != image.pixel(0, 0);
        EXPECT_TRUE(varied) << name.toStdString();
        names << name;
        return true;
    };
    ASSERT_TRUE(savePageScreens(*app, window, path("screens"), save));
    EXPECT_EQ(names, QStringList({"18-deliver-no-token", "19-deliver-delivered", "20-deliver-over-quota",
                                  "21-deliver-error", "22-deliver-cover-picker", "23-deliver-gallery-settings",
                                  "24-deliver-topup", "25-about", "26-about-end", "27-account"}));
}
