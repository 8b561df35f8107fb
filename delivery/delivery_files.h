// Files the delivery client writes: delivery copies, cover thumbnails and its
// own settings. Each is replaced whole or not at all.
#pragma once

#include <QString>

#include <functional>

class QFileDevice;

namespace keepframe {

// The folder of delivery copies and cover thumbnails under the system temporary folder.
QString deliveryTempFolder();

// Writes `path` through a temporary file in its folder that is renamed over it
// only after `write` succeeded and the final flush was checked; the folder is
// created when needed. A link at `path` is replaced, never written through.
bool writeFileAtomically(const QString& path, const std::function<bool(QFileDevice&)>& write);

}  // namespace keepframe
