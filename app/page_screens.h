// The states of the Deliver, About and Account pages for the screenshot
// tool, with a stand-in delivery service on loopback behind them.
#pragma once

#include <QString>

#include <functional>

class QQuickWindow;

namespace keepframe {

class DesktopApp;

// Brings the window into each state in turn and calls `save(name)` there
// ("18-deliver-no-token" … "27-account"); `work` is a scratch folder for the
// service's data and the photographs delivered. The open project, when there
// is one, is delivered too. False (with a line on standard error) when a
// state could not be reached or `save` failed.
bool savePageScreens(DesktopApp& app, QQuickWindow* window, const QString& work,
                     const std::function<bool(const QString& name)>& save);

}  // namespace keepframe
