// Files the delivery client writes: delivery copies, cover thumbnails and its
// own settings. Each is replaced whole or not at all (writeFileReplacing).
#pragma once

#include <QString>

namespace keepframe {

// The folder of delivery copies and cover thumbnails under the system temporary folder.
QString deliveryTempFolder();

}  // namespace keepframe
