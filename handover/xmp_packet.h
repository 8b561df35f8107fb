// The XML side of an XMP packet, which Exiv2 either does not keep or reads
// through tables the whole process shares: the prefixes a packet binds, the
// subject (rdf:about) of its descriptions and the values it gives as
// resources (rdf:resource). Plain XML work, no Exiv2. Internal to the
// hand-over module.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace keepframe {

// What Exiv2's reader drops of a packet, to be put back into what its writer makes.
struct PacketForm {
    QString about;             // the rdf:about of the descriptions
    QSet<QString> resources;   // the values given as rdf:resource, with the path of their property
    QHash<QString, QString> namespaces;  // prefix -> namespace, as the prepared packet binds them
    QSet<QString> unslashed;   // namespaces ending in neither "/" nor "#", which Exiv2 writes with a "/" added
    bool rdf = false;          // there is an rdf:RDF element (by namespace, whatever its prefix)
    std::optional<QString> instanceId;  // xmpMM:InstanceID as written, when it is a plain value
    bool complexInstanceId = false;     // xmpMM:InstanceID with a structure or qualifiers
};

// The namespace the process's tables bind `prefix` to; empty when none.
using StandardNamespace = std::function<QString(const QString& prefix)>;

// Reads `text` as XML into `form` and gives in `prepared` the packet Exiv2 may
// read: where the packet binds a prefix to another namespace than the tables
// do (dc, lr, ours, ...), binds one prefix to two namespaces, or uses a prefix
// Exiv2 cannot name a property with, that prefix is renamed (dc -> dc1) in its
// scope; the text stays as it is when nothing is renamed. False when `text`
// is not well-formed XML or carries a document type declaration.
bool preparePacket(const QByteArray& text, const StandardNamespace& standard, QByteArray& prepared,
                   PacketForm& form);

// `packet` (as Exiv2's writer made it) with the subject of `form` on every
// description, its resources given as rdf:resource again and its namespaces
// without the "/" Exiv2 added; unchanged when there is nothing to put back,
// empty when it cannot be read.
QByteArray restoreForm(const QByteArray& packet, const PacketForm& form);

// A packet without properties about `about`.
QByteArray emptyPacket(const QString& about);

}  // namespace keepframe
