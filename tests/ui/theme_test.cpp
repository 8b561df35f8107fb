// The text colours the screens choose themselves read at 4.5:1 or better (the
// WCAG 2 contrast ratio) on the surfaces they are drawn on, at the three levels
// of the BG slider and on the surfaces that do not follow it (the viewers, the
// cluster popup, the message boxes, badges and cards). Colours the screens'
// description fixes (Theme.text, textDim, accent, the About palette) are not
// checked here.
#include <gtest/gtest.h>

#include <QColor>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace {

double linear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

double luminance(const QColor& c) {
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// `top`, with its alpha times `opacity`, laid over the opaque `bottom`.
QColor over(const QColor& top, const QColor& bottom, double opacity = 1.0) {
    const double a = top.alphaF() * opacity;
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                            float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

class ThemeContrast : public ::testing::Test {
protected:
    void SetUp() override {
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData("import QtQml\nimport KeepframeUI\nQtObject { property QtObject theme: Theme }\n",
                          QUrl(QStringLiteral("qrc:/theme_test.qml")));
        holder.reset(component.create());
        ASSERT_TRUE(holder) << component.errorString().toStdString();
        theme = holder->property("theme").value<QObject*>();
        ASSERT_NE(theme, nullptr);
    }

    QColor colour(const char* name) const {
        const QVariant value = theme->property(name);
        EXPECT_TRUE(value.isValid()) << "Theme has no " << name;
        return value.value<QColor>();
    }

    // Expects text `name` to read at 4.5:1 on `surface`.
    void expectReadable(const char* name, const QColor& surface, const std::string& where) const {
        const double ratio = contrast(colour(name), surface);
        EXPECT_GE(ratio, 4.5) << name << " " << colour(name).name().toStdString() << " on " << where << " "
                              << surface.name().toStdString() << ": " << ratio << ":1";
    }

    QQmlEngine engine;
    std::unique_ptr<QObject> holder;
    QObject* theme = nullptr;
};

TEST_F(ThemeContrast, PageTextReadsOnItsSurfacesAtEveryBackgroundLevel) {
    for (const double level : {0.0, 0.227, 1.0}) {
        theme->setProperty("bgLevel", level);
        const std::string at = " at BG " + std::to_string(level);
        const QColor panel = colour("panel");
        const QColor background = colour("background");
        const QColor dialog = colour("dialog");
        const QColor strip = over(colour("statusStrip"), background);
        const QColor row = over(colour("listRow"), panel);
        // Status lines of the Deliver and Account panels and of the page dialogs.
        for (const char* name : {"errorText", "okText"}) {
            expectReadable(name, panel, "the panel" + at);
            expectReadable(name, dialog, "a dialog" + at);
        }
        // The note beside the Cull page's summary.
        expectReadable("warnText", strip, "the status strip" + at);
        // The link of a delivery (on its panel) and of a gallery (on its row).
        expectReadable("link", panel, "the panel" + at);
        expectReadable("link", row, "a gallery row" + at);
        expectReadable("placeholderText", colour("field"), "a field" + at);
    }
}

TEST_F(ThemeContrast, TextReadsOnTheSurfacesThatDoNotFollowTheBackground) {
    for (const char* surface : {"viewerBar", "viewerBackground", "popupBackground", "messageBackground"})
        for (const char* name : {"overlayText", "overlayCaption", "overlayBody", "overlayTextDim", "overlayHint",
                                 "overlayMuted"})
            expectReadable(name, colour(surface), surface);
    expectReadable("overlayPlaceholder", colour("messageField"), "the rename field");
    // A cluster popup tile that is not kept is drawn at 0.75 opacity over the popup.
    const QColor popup = colour("popupBackground");
    const QColor dimmedTile = over(colour("popupTile"), popup, 0.75);
    for (const char* name : {"notKeptText", "overlayCaption"}) {
        const double ratio = contrast(over(colour(name), popup, 0.75), dimmedTile);
        EXPECT_GE(ratio, 4.5) << name << " on a dimmed tile: " << ratio << ":1";
    }
    expectReadable("badgeText", colour("enhanceBadge"), "the Enhance badge");
    expectReadable("badgeText", colour("accent"), "the Plus badge");
    expectReadable("cardCoverText", colour("cardCover"), "a card without a cover");
}

}  // namespace
