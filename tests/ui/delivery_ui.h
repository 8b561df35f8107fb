// The window tests of the delivery screens: the real program talking to the
// stand-in delivery service on loopback, with copies and thumbnails kept in
// the test's folder.
#pragma once

#include "stand_in_service.h"
#include "ui_fixture.h"

#include <QJsonArray>
#include <QJsonObject>

namespace keepframe::testing {

class DeliveryUiTest : public UiTest {
protected:
    StandInService service;

    void SetUp() override;
    void TearDown() override;

    // Starts the program with the stand-in's address and token in the environment.
    void startWithService(bool withToken = true);

    // Clicks the navigation bar's item of `page`.
    void show(const QString& page);
    QString text(const QString& name) const { return prop(name, "text").toString(); }
    bool enabled(const QString& name) const { return prop(name, "enabled").toBool(); }
    bool visible(const QString& name) const;
    // Replaces the text of a text field by typing.
    void type(const QString& field, const QString& text);
    // Clicks a slider where it takes `value`.
    void slide(const QString& slider, double value);
    // Scrolls the view that holds `name` until it is in sight.
    void reveal(const QString& name);
    // Clicks an item named `name` inside the object named `container`.
    void clickIn(const QString& container, const QString& name);

    // The galleries the service holds, newest first.
    QJsonArray serviceGalleries() const;
    // Waits until the delivery ends; true when it ended with "Delivered — …".
    bool waitForDelivery();
    // Writes `count` JPEG photographs of width x height into `folder`; their total size.
    qint64 writePhotos(const QString& folder, int count, int width = 900, int height = 600);

private:
    QByteArray oldTmp_;
    bool hadTmp_ = false;
};

}  // namespace keepframe::testing
