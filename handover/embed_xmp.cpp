// The same XMP embedded in an exported copy, for editors that read the XMP
// inside JPEG files on import.
#include "handover.h"
#include "xmp_merge.h"

#include "exiv2_compat.h"
#include "exiv2_lock.h"

#include <QFile>

namespace keepframe {

bool embedXmp(const QString& jpegCopy, const HandoverImage& image, const XmpOptions& options, QString& error) {
    QFile file(jpegCopy);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot read " + jpegCopy + ": " + file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    QByteArray out;
    try {
        const Exiv2FileScope exiv2;
        auto exiv = openExiv2Image(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
        if (!exiv.get() || exiv->checkMode(Exiv2::mdXmp) != Exiv2::amReadWrite) {
            error = jpegCopy + " cannot carry XMP";
            return false;
        }
        exiv->readMetadata();
        // The packet as the copy holds it, read afresh: Exiv2's own reading of
        // it went through whatever prefixes it binds, and without this flag
        // Exiv2 hands out its own rewrite of what it read instead.
        exiv->writeXmpFromPacket(true);
        XmpPacket packet;
        if (!parseXmp(QByteArray::fromStdString(exiv->xmpPacket()), packet)) {
            error = "cannot put XMP into " + jpegCopy + ": the XMP it holds is not valid";
            return false;
        }
        const XmpWanted wanted = wantedXmp(image, options);
        QStringList remarks;
        applyHandover(packet.data, options.remove ? nullptr : &wanted, remarks);
        // Nothing left: the copy carries no packet rather than an empty one.
        const QByteArray text = packet.data.empty() ? QByteArray() : serializeXmp(packet.data, packet.form, true);
        if (text.isEmpty() && !packet.data.empty()) {
            error = "cannot put XMP into " + jpegCopy + ": could not encode the XMP";
            return false;
        }
        exiv->setXmpPacket(text.toStdString());
        exiv->writeMetadata();
        const std::vector<uint8_t> written = exiv2Contents(*exiv);
        out = QByteArray(reinterpret_cast<const char*>(written.data()), qsizetype(written.size()));
    } catch (const std::exception& e) {
        error = "cannot put XMP into " + jpegCopy + ": " + e.what();
        return false;
    }
    if (out.isEmpty()) {
        error = "cannot put XMP into " + jpegCopy;
        return false;
    }
    return replaceXmpFile(jpegCopy, out, error);
}

}  // namespace keepframe
