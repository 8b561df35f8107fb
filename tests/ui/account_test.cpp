// The Account page (usage, studio branding, the delivery service settings)
// and the About page, through the real window; the service settings and the
// branding against keepframe-gallery as well as the stand-in.
#include "delivery_ui.h"

#include "delivery_manager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QQuickItem>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

class Account : public DeliveryUiTest {
protected:
    QString setting(const char* name) const {
        QFile file(path("library/" + std::string(name)));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    }
    void saveService() {
        click("saveServiceButton");
        uidriver::settle(window);
    }
};

using AccountBoth = OnBothServices<Account>;

}  // namespace

INSTANTIATE_TEST_SUITE_P(Services, AccountBoth, ::testing::Bool(), serviceName);

TEST_P(AccountBoth, TheServiceAddressAndTokenAreShownChangedAndKept) {
    // Nothing in the environment: the user sets both on this page.
    qunsetenv("KEEPFRAME_DELIVERY_URL");
    qunsetenv("KEEPFRAME_DELIVERY_TOKEN");
    start();
    show("deliver");
    EXPECT_TRUE(visible("noTokenNotice"));
    click("goToAccountButton");
    ASSERT_EQ(prop("mainWindow", "activePage").toString(), "account");
    uidriver::settle(window);

    EXPECT_EQ(text("serviceUrlField"), DeliveryManager::defaultServiceUrl());
    EXPECT_EQ(text("serviceUrlSource"), "The default service address.");
    EXPECT_TRUE(text("accessTokenState").startsWith("Access token: not set"));
    EXPECT_EQ(prop("accessTokenField", "echoMode").toInt(), 2);  // TextInput.Password
    EXPECT_FALSE(enabled("clearTokenButton"));

    // An address that would send the token in the clear is refused, and nothing changes.
    type("serviceUrlField", "http://deliver.example.com");
    saveService();
    EXPECT_EQ(text("serviceStatus"), "The service address must start with https:// (http:// only for this computer).");
    EXPECT_TRUE(prop("accountPage", "serviceFailed").toBool());
    EXPECT_EQ(app->delivery().serviceUrl(), DeliveryManager::defaultServiceUrl());
    EXPECT_TRUE(setting("delivery_url").isEmpty());

    type("serviceUrlField", service().url() + "/");
    type("accessTokenField", service().token());
    saveService();
    EXPECT_EQ(text("serviceStatus"), "Saved.");
    EXPECT_EQ(text("serviceUrlField"), service().url());
    EXPECT_EQ(text("serviceUrlSource"), "Saved in your settings on this computer.");
    EXPECT_EQ(text("accessTokenState"), "Access token: set — Saved in your settings on this computer.");
    EXPECT_EQ(text("accessTokenField"), "");  // never shown again
    EXPECT_EQ(setting("delivery_url"), service().url());
    EXPECT_EQ(setting("delivery_token"), service().token());

    // The Deliver page now reaches the service with them.
    show("deliver");
    EXPECT_FALSE(visible("noTokenNotice"));
    ASSERT_TRUE(uidriver::waitFor([&] { return text("storageLabel").startsWith("Storage: "); }))
        << text("storageLabel").toStdString();

    show("account");
    ASSERT_TRUE(enabled("clearTokenButton"));
    click("clearTokenButton");
    EXPECT_EQ(text("serviceStatus"), "Access token removed.");
    EXPECT_TRUE(text("accessTokenState").startsWith("Access token: not set"));
    EXPECT_FALSE(QFile::exists(path("library/delivery_token")));
    show("deliver");
    EXPECT_TRUE(visible("noTokenNotice"));
}

TEST_P(AccountBoth, SettingsFromTheEnvironmentCannotBeEditedHere) {
    startWithService();
    show("account");
    EXPECT_EQ(text("serviceUrlField"), service().url());
    EXPECT_FALSE(enabled("serviceUrlField"));
    EXPECT_EQ(text("serviceUrlSource"), "Set by the environment (KEEPFRAME_DELIVERY_URL); change it there.");
    EXPECT_FALSE(enabled("accessTokenField"));
    EXPECT_EQ(text("accessTokenState"),
              "Access token: set — Set by the environment (KEEPFRAME_DELIVERY_TOKEN); change it there.");
    EXPECT_FALSE(enabled("saveServiceButton"));
    EXPECT_FALSE(enabled("clearTokenButton"));
}

TEST_P(AccountBoth, StudioBrandingIsSavedAndLoaded) {
    startWithService();
    show("account");
    // Nothing saved yet is not an error.
    EXPECT_EQ(text("studioNameField"), "");
    EXPECT_EQ(text("brandingStatus"), "");

    type("studioNameField", "Lantern Studios");
    type("contactPhoneField", "+91 98765 43210");
    click("saveBrandingButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return text("brandingStatus") != ""; }));
    EXPECT_EQ(text("brandingStatus"), "Saved.");
    const QJsonObject profile = service().getJson("/deliver/profile");
    EXPECT_EQ(profile["studio_name"].toString(), "Lantern Studios");
    EXPECT_EQ(profile["public_contact_phone"].toString(), "+91 98765 43210");

    // Changed elsewhere: the page shows the service's values when shown again.
    ASSERT_EQ(service().request("POST", "/deliver/profile", QJsonObject{{"studio_name", "Marigold Frames"}}), 200);
    show("home");
    show("account");
    ASSERT_TRUE(uidriver::waitFor([&] { return text("studioNameField") == "Marigold Frames"; }));
    EXPECT_EQ(text("contactPhoneField"), "+91 98765 43210");

    type("studioNameField", "");
    type("contactPhoneField", "");
    click("saveBrandingButton");
    EXPECT_EQ(text("brandingStatus"), "Couldn't save: Nothing to save.");

    if (!service().hasFaultRoutes()) return;  // a failing profile store is the stand-in's on request
    ASSERT_TRUE(service().forceNext("POST", "/deliver/profile", 500, QJsonObject{{"detail", "profile store down"}}));
    type("studioNameField", "Marigold Frames");
    click("saveBrandingButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return text("brandingStatus").startsWith("Couldn't"); }));
    EXPECT_EQ(text("brandingStatus"), "Couldn't save: http 500: profile store down");

    ASSERT_TRUE(service().forceNext("GET", "/deliver/profile", 503, QJsonObject{{"detail", "maintenance"}}));
    show("home");
    show("account");
    ASSERT_TRUE(uidriver::waitFor([&] { return text("brandingStatus").startsWith("Couldn't"); }));
    EXPECT_EQ(text("brandingStatus"), "Couldn't load: http 503: maintenance");
}

TEST_F(Account, UsageIsReadAgainEachTimeThePageIsShown) {
    startWithService();
    show("account");
    EXPECT_EQ(text("projectsDone"), "0");
    EXPECT_EQ(text("imagesCulled"), "0");

    // A cull saved while the program runs (here straight into the library).
    ASSERT_GE(storeProject(path("first"), standardFrames(), "First"), 0);
    EXPECT_EQ(text("projectsDone"), "0");
    show("home");
    show("account");
    EXPECT_EQ(text("projectsDone"), "1");
    EXPECT_EQ(text("imagesCulled"), "12");
}

TEST_F(Account, AboutShowsTheVersionInItsOwnPaletteAndFonts) {
    // The program's fonts next to it, as the build puts them.
    QDir().mkpath(path("program/fonts"));
    for (const char* file : kFontFiles)
        QFile::copy(QStringLiteral(KEEPFRAME_BUILT_FONTS_DIR "/") + file, path("program/fonts/") + file);
    const bool haveFonts = QFile::exists(path("program/fonts/IBMPlexMono-Regular.ttf"));
    startWithService();
    show("about");
    EXPECT_EQ(text("aboutVersion"), "Version " + QCoreApplication::applicationVersion());
    EXPECT_EQ(prop("aboutPage", "color").value<QColor>(), QColor("#14110f"));
    // The display fonts are the installed ones, not a fallback.
    const QFont mono = prop("aboutVersion", "font").value<QFont>();
    if (haveFonts) {
        EXPECT_EQ(QFontInfo(mono).family(), "IBM Plex Mono");
    }
    QQuickItem* scroll = item("aboutScroll");
    ASSERT_NE(scroll, nullptr);
    EXPECT_GT(scroll->property("contentHeight").toDouble(), scroll->height());
}
