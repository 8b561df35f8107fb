#include "delivery_ui.h"

#include "delivery_manager.h"
#include "gallery_service.h"
#include "stand_in_service.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QQuickItem>
#include <QTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe::testing {

void DeliveryUiTest::SetUp() {
    UiTest::SetUp();
    hadTmp_ = qEnvironmentVariableIsSet("TMPDIR");
    oldTmp_ = qgetenv("TMPDIR");
    QDir().mkpath(path("tmp"));
    qputenv("TMPDIR", path("tmp").toUtf8());
    if (onGallery()) {
        service_ = std::make_unique<GalleryService>();
    } else {
        service_ = std::make_unique<StandInService>();
    }
    ASSERT_TRUE(service_->start(path("service"))) << service_->error().toStdString();
}

void DeliveryUiTest::TearDown() {
    UiTest::TearDown();
    if (service_) service_->stop();
    qunsetenv("KEEPFRAME_DELIVERY_TOKEN");
    if (hadTmp_)
        qputenv("TMPDIR", oldTmp_);
    else
        qunsetenv("TMPDIR");
}

void DeliveryUiTest::startWithService(bool withToken) {
    qputenv("KEEPFRAME_DELIVERY_URL", service().url().toUtf8());
    if (withToken)
        qputenv("KEEPFRAME_DELIVERY_TOKEN", service().token().toUtf8());
    else
        qunsetenv("KEEPFRAME_DELIVERY_TOKEN");
    start();
}

void DeliveryUiTest::show(const QString& page) {
    click("nav_" + page);
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("mainWindow", "activePage").toString() == page; }));
    uidriver::settle(window);
}

bool DeliveryUiTest::visible(const QString& name) const {
    QQuickItem* i = item(name);
    return i && i->isVisible();
}

void DeliveryUiTest::type(const QString& field, const QString& text) {
    reveal(field);
    click(field);
    QQuickItem* input = item(field);
    ASSERT_TRUE(input->hasActiveFocus()) << field.toStdString();
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_Backspace);
    for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(c), Qt::NoModifier);
    ASSERT_EQ(input->property("text").toString(), text) << field.toStdString();
}

void DeliveryUiTest::slide(const QString& slider, double value) {
    reveal(slider);
    QQuickItem* s = item(slider);
    ASSERT_NE(s, nullptr);
    const double from = s->property("from").toDouble(), to = s->property("to").toDouble();
    auto* handle = s->property("handle").value<QQuickItem*>();
    const double handleWidth = handle ? handle->width() : 0;
    const double span = s->property("availableWidth").toDouble() - handleWidth;
    const double x = s->property("leftPadding").toDouble() + handleWidth / 2 + span * (value - from) / (to - from);
    const QPoint at = s->mapToScene(QPointF(x, s->height() / 2)).toPoint();
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
    ASSERT_DOUBLE_EQ(s->property("value").toDouble(), value);
}

void DeliveryUiTest::reveal(const QString& name) {
    QQuickItem* target = item(name);
    ASSERT_NE(target, nullptr) << name.toStdString();
    for (QQuickItem* p = target->parentItem(); p; p = p->parentItem()) {
        if (!p->inherits("QQuickFlickable")) continue;
        QQuickItem* content = p->property("contentItem").value<QQuickItem*>();
        if (!content) continue;
        const double top = target->mapToItem(content, QPointF(0, 0)).y();
        const double y = p->property("contentY").toDouble();
        const double bottom = top + target->height();
        if (top < y)
            p->setProperty("contentY", top);
        else if (bottom > y + p->height())
            p->setProperty("contentY", bottom - p->height());
    }
    uidriver::settle(window);
}

void DeliveryUiTest::clickIn(const QString& container, const QString& name) {
    QObject* outer = object(container);
    ASSERT_NE(outer, nullptr) << container.toStdString();
    auto* inner = qobject_cast<QQuickItem*>(uidriver::find(outer, name));
    ASSERT_NE(inner, nullptr) << name.toStdString() << " in " << container.toStdString();
    ASSERT_TRUE(inner->isVisible()) << name.toStdString();
    uidriver::click(window, inner);
}

QJsonArray DeliveryUiTest::serviceGalleries() const {
    return service().getJson("/deliver/galleries").value("galleries").toArray();
}

bool DeliveryUiTest::passwordOpens(const QString& slug, const QString& password) const {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(service().url() + "/gallery.html?g=" + slug)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    QNetworkReply* reply = network.post(request, "password=" + QUrl::toPercentEncoding(password));
    QSignalSpy done(reply, &QNetworkReply::finished);
    done.wait(10000);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply->deleteLater();
    // The stand-in shows the photographs at once, keepframe-gallery sends to them with a session.
    return status == 200 || status == 303;
}

bool DeliveryUiTest::waitForDelivery() {
    const bool ended = uidriver::waitFor(
        [&] { return !app->delivery().isRunning() && (visible("resultLabel") || visible("deliveryError")); }, 60000);
    uidriver::settle(window);
    return ended && visible("resultLabel");
}

qint64 DeliveryUiTest::writePhotos(const QString& folder, int count, int width, int height) {
    QDir().mkpath(folder);
    qint64 total = 0;
    for (int i = 0; i < count; ++i) {
        cv::Mat image(height, width, CV_8UC3);
        for (int y = 0; y < height; ++y) image.row(y).setTo(cv::Scalar(30 + 40 * i, 80 + y / 6, 150 - 20 * i));
        cv::circle(image, {width / 2, height / 2}, height / 4, cv::Scalar(200, 180, 90 + 30 * i), cv::FILLED);
        const QString file = QStringLiteral("%1/IMG_%2.jpg").arg(folder).arg(i + 1, 4, 10, QChar('0'));
        EXPECT_TRUE(cv::imwrite(file.toStdString(), image));
        total += QFileInfo(file).size();
    }
    return total;
}

}  // namespace keepframe::testing
