// The window tests of the delivery screens: the real program talking to a
// delivery service on loopback (the stand-in, or keepframe-gallery), with
// copies and thumbnails kept in the test's folder.
#pragma once

#include "service_process.h"
#include "ui_fixture.h"

#include <QJsonArray>
#include <QJsonObject>

#include <memory>
#include <string>

namespace keepframe::testing {

class DeliveryUiTest : public UiTest {
protected:
    // Whether the window talks to keepframe-gallery rather than the stand-in.
    virtual bool onGallery() const { return false; }
    DeliveryServiceProcess& service() { return *service_; }
    const DeliveryServiceProcess& service() const { return *service_; }
    // Whether the service holds a gallery that this password opens (its page,
    // as a client opens it).
    bool passwordOpens(const QString& slug, const QString& password) const;

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
    std::unique_ptr<DeliveryServiceProcess> service_;
    QByteArray oldTmp_;
    bool hadTmp_ = false;
};

// The tests of `Fixture` against the stand-in and against keepframe-gallery:
// INSTANTIATE_TEST_SUITE_P(Services, Name, ::testing::Bool(), serviceName).
template <class Fixture>
class OnBothServices : public Fixture, public ::testing::WithParamInterface<bool> {
protected:
    bool onGallery() const override { return this->GetParam(); }
};

// "Gallery" or "StandIn", after the service a test runs against.
inline std::string serviceName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "Gallery" : "StandIn";
}

}  // namespace keepframe::testing
