#include "delivery_files.h"

#include <QStandardPaths>

namespace keepframe {

QString deliveryTempFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation) + "/keepframe_deliver_tmp";
}

}  // namespace keepframe
