// The same XMP embedded in an exported copy, for editors that read the XMP
// inside JPEG files on import.
#include "handover.h"
#include "xmp_merge.h"

#include <exiv2/basicio.hpp>
#include <exiv2/image.hpp>

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
        const auto exiv2 = prepareXmp();
        auto exiv = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                              long(bytes.size()));
        if (!exiv.get() || exiv->checkMode(Exiv2::mdXmp) != Exiv2::amReadWrite) {
            error = jpegCopy + " cannot carry XMP";
            return false;
        }
        exiv->readMetadata();
        const XmpWanted wanted = wantedXmp(image, options);
        QStringList remarks;
        applyHandover(exiv->xmpData(), options.remove ? nullptr : &wanted, remarks);
        exiv->writeMetadata();
        Exiv2::BasicIo& io = exiv->io();
        io.open();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf data = io.read(long(io.size()));
        io.close();
        out = QByteArray(reinterpret_cast<const char*>(data.pData_), int(data.size_));
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
