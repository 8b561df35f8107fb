#include "page_screens.h"

#include "delivery_manager.h"
#include "desktop_app.h"
#include "selection_model.h"
#include "shoot.h"
#include "stand_in_service.h"
#include "ui_driver.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QUrl>

#include <algorithm>
#include <cstdio>

namespace keepframe {

namespace {

const char* const kToken = "screens-token";

class PageScreens {
public:
    PageScreens(DesktopApp& app, QQuickWindow* window, const QString& work,
                const std::function<bool(const QString&)>& save)
        : app_(app), window_(window), work_(work), save_(save) {}

    bool run() {
        if (!service_.start(work_ + "/service", kToken)) return fail(service_.error());
        app_.delivery().setBaseUrl(service_.url());
        app_.delivery().clearAccessToken();
        main_ = need("mainWindow");
        page_ = need("deliverPage");
        plan_ = need("deliverModel");
        if (!main_ || !page_ || !plan_) return false;

        main_->setProperty("activePage", "deliver");
        if (!shot("18-deliver-no-token")) return false;
        app_.delivery().setAccessToken(QString::fromLatin1(kToken));
        app_.delivery().saveStudioProfile("Lantern Studios", "+91 98765 43210");

        // Two galleries delivered: a folder at level 60, then the project (or a second folder).
        const QString party = work_ + "/Garden Party";
        if (!makePhotos(party, 6, 11)) return false;
        uidriver::call(page_, "useFolder", {QUrl::fromLocalFile(party).toString()});
        if (!deliver("Garden Party — Reception", 60)) return false;
        if (app_.selection().hasData()) {
            uidriver::call(page_, "useSource", {"project"});
        } else {
            const QString wedding = work_ + "/Lantern Wedding";
            if (!makePhotos(wedding, 8, 23)) return false;
            uidriver::call(page_, "useFolder", {QUrl::fromLocalFile(wedding).toString()});
        }
        if (!deliver("Lantern Wedding", 100)) return false;
        if (!uidriver::waitFor([&] { return plan_->property("quotaLoaded").toBool(); })) return fail("no storage");
        if (!shot("19-deliver-delivered")) return false;

        // A quota too small for the upload at full size.
        const qint64 source = plan_->property("sourceBytes").toLongLong();
        const qint64 used = 9 * 1073741824LL + 500000000LL;
        const QJsonObject storage{{"quota_bytes", used + source}, {"used_bytes", used}, {"remaining_bytes", source},
                                  {"lifetime_galleries_created", 2}, {"galleries", galleries()}};
        if (!service_.forceNext("GET", "/deliver/galleries", 200, storage)) return fail("the service took no order");
        QMetaObject::invokeMethod(plan_, "refresh");
        uidriver::waitFor([&] { return plan_->property("quotaLoaded").toBool(); });
        if (!plan_->property("exceedsQuota").toBool())
            return fail("the quota warning did not show: " + plan_->property("storageText").toString());
        if (!shot("20-deliver-over-quota")) return false;
        uidriver::call(page_, "reload");
        uidriver::waitFor([&] { return plan_->property("quotaLoaded").toBool(); });

        // A delivery the service refuses.
        service_.forceNext("POST", "/deliver/upload-request", 503,
                           QJsonObject{{"detail", "Uploads are paused for maintenance"}});
        QMetaObject::invokeMethod(plan_, "start");
        if (!uidriver::waitFor([&] { return !app_.delivery().isRunning(); }, 120000)) return fail("delivery hangs");
        uidriver::waitFor([&] { return plan_->property("quotaLoaded").toBool(); });
        if (!shot("21-deliver-error")) return false;

        QObject* picker = need("coverPicker");
        if (!picker) return false;
        uidriver::call(picker, "openFor", {plan_->property("images"), QString()});
        uidriver::waitFor([&] { return !picker->property("generating").toBool(); }, 30000);
        const QVariantList thumbs = picker->property("thumbnails").toList();
        if (!thumbs.isEmpty()) picker->setProperty("current", thumbs.value(1).toMap().value("filename"));
        if (!shot("22-deliver-cover-picker")) return false;
        QMetaObject::invokeMethod(picker, "close");

        QObject* settings = need("gallerySettingsDialog");
        if (!settings) return false;
        const QVariantList list = plan_->property("galleries").toList();
        if (list.isEmpty()) return fail("no galleries listed");
        uidriver::call(settings, "openFor", {list.last()});
        QObject* files = need("galleryFileList");
        uidriver::waitFor([&] { return files && files->property("count").toInt() > 0; });
        if (!shot("23-deliver-gallery-settings")) return false;
        QMetaObject::invokeMethod(settings, "close");

        QObject* topup = need("topupDialog");
        if (!topup) return false;
        uidriver::call(topup, "start");
        uidriver::call(topup, "requestCode");
        if (!uidriver::waitFor([&] { return topup->property("stage").toString() == "pay"; }))
            return fail("no payment code");
        if (!shot("24-deliver-topup")) return false;
        QMetaObject::invokeMethod(topup, "close");

        main_->setProperty("activePage", "about");
        if (!shot("25-about")) return false;
        if (QObject* scroll = need("aboutScroll")) {
            const double end = scroll->property("contentHeight").toDouble() - scroll->property("height").toDouble();
            scroll->setProperty("contentY", std::max(0.0, end));
        }
        if (!shot("26-about-end")) return false;

        main_->setProperty("activePage", "account");
        uidriver::waitFor([&] {
            QObject* studio = uidriver::find(window_, "studioNameField");
            return studio && !studio->property("text").toString().isEmpty();
        });
        return shot("27-account");
    }

private:
    bool fail(const QString& why) {
        std::fprintf(stderr, "keepframe screens: %s\n", qPrintable(why));
        return false;
    }

    QObject* need(const char* name) {
        QObject* o = uidriver::findObject(window_, QString::fromLatin1(name));
        if (!o) fail(QStringLiteral("no %1 in the window").arg(QString::fromLatin1(name)));
        return o;
    }

    bool shot(const QString& name) {
        uidriver::settle(window_);
        return save_(name);
    }

    bool makePhotos(const QString& folder, int count, unsigned seed) {
        shootgen::ShootOptions options;
        options.count = count;
        options.width = 1800;
        options.height = 1200;
        options.seed = seed;
        options.sourceFolder = KEEPFRAME_TEST_PHOTOS_DIR;
        try {
            shootgen::generateShoot(folder.toStdString(), options);
        } catch (const std::exception& e) {
            return fail(QString::fromUtf8(e.what()));
        }
        return true;
    }

    bool deliver(const QString& title, int level) {
        if (QObject* field = need("galleryTitleField")) field->setProperty("text", title);
        if (QObject* field = need("galleryPasswordField")) field->setProperty("text", "open-sesame");
        if (QObject* slider = need("compressionSlider")) slider->setProperty("value", level);
        QMetaObject::invokeMethod(plan_, "refresh");
        if (!uidriver::waitFor([&] { return plan_->property("canStart").toBool(); }))
            return fail("cannot start the delivery of " + title + ": " + plan_->property("storageText").toString());
        QMetaObject::invokeMethod(plan_, "start");
        if (!uidriver::waitFor([&] { return !app_.delivery().isRunning(); }, 120000)) return fail("delivery hangs");
        if (plan_->property("resultText").toString().isEmpty())
            return fail("delivery failed: " + plan_->property("errorText").toString());
        return true;
    }

    QJsonArray galleries() const {
        return service_.getJson("/deliver/galleries").value("galleries").toArray();
    }

    DesktopApp& app_;
    QQuickWindow* window_;
    QString work_;
    std::function<bool(const QString&)> save_;
    StandInService service_;
    QObject* main_ = nullptr;
    QObject* page_ = nullptr;
    QObject* plan_ = nullptr;
};

}  // namespace

bool savePageScreens(DesktopApp& app, QQuickWindow* window, const QString& work,
                     const std::function<bool(const QString&)>& save) {
    QDir().mkpath(work);
    return PageScreens(app, window, work, save).run();
}

}  // namespace keepframe
