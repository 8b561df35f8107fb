#include "xmp_merge.h"

#include "exiv2_compat.h"
#include "exiv2_lock.h"
#include "path_safety.h"

#include <exiv2/properties.hpp>
#include <exiv2/value.hpp>

#include <QFileDevice>
#include <QSet>

#include <algorithm>
#include <mutex>
#include <tuple>
#include <vector>

namespace keepframe {

namespace {

// Where we note what we set, so that a later run or a removal recognises its
// own values and leaves everyone else's alone.
const char* const kOwnNamespace = "http://ns.orvo.app/keepframe/1.0/";
const char* const kLightroomNamespace = "http://ns.adobe.com/lightroom/1.0/";
const char* const kXmpNamespace = "http://ns.adobe.com/xap/1.0/";
const char* const kDublinCoreNamespace = "http://purl.org/dc/elements/1.1/";
const char* const kRatingKey = "Xmp.xmp.Rating";
const char* const kLabelKey = "Xmp.xmp.Label";
const char* const kSubjectKey = "Xmp.dc.subject";
const char* const kHierarchyKey = "Xmp.lr.hierarchicalSubject";
const char* const kOwnRatingKey = "Xmp.keepframe.Rating";
const char* const kOwnLabelKey = "Xmp.keepframe.Label";
const char* const kRatingBeforeKey = "Xmp.keepframe.RatingBefore";  // the "0" (unrated) we wrote over
const char* const kOwnSubjectKey = "Xmp.keepframe.Subject";  // dc:subject entries we added
const char* const kCreatedKey = "Xmp.keepframe.Created";      // the sidecar is one we wrote where there was none
const char* const kInstanceIdKey = "Xmp.xmpMM.InstanceID";
const QString kKeywordRoot = QStringLiteral("Keepframe|");

std::function<bool(const QString&)>& commitHook() {
    static std::function<bool(const QString&)> hook;
    return hook;
}

bool isArray(Exiv2::TypeId type) {
    return type == Exiv2::xmpBag || type == Exiv2::xmpSeq || type == Exiv2::xmpAlt;
}

// The items of an array property, or the one value of a simple one.
QStringList values(const Exiv2::Xmpdatum& d) {
    QStringList out;
    if (!isArray(d.typeId())) {
        out << QString::fromStdString(d.toString());
        return out;
    }
    for (long i = 0; i < d.count(); ++i) out << QString::fromStdString(d.toString(i));
    return out;
}

QStringList listOf(const Exiv2::XmpData& data, const char* key) {
    const auto it = data.findKey(Exiv2::XmpKey(key));
    return it == data.end() ? QStringList() : values(*it);
}

QString textOf(const Exiv2::XmpData& data, const char* key) {
    const auto it = data.findKey(Exiv2::XmpKey(key));
    return it == data.end() ? QString() : QString::fromStdString(it->toString()).trimmed();
}

void erase(Exiv2::XmpData& data, const char* key) {
    const auto it = data.findKey(Exiv2::XmpKey(key));
    if (it != data.end()) data.erase(it);
}

void setText(Exiv2::XmpData& data, const char* key, const QString& value) {
    data[key] = value.toStdString();
}

// Sets a list in place (keeping the property's position and array kind), adds
// it as a bag when it was absent, and removes it when the list is empty.
void setList(Exiv2::XmpData& data, const char* key, const QStringList& items) {
    const auto it = data.findKey(Exiv2::XmpKey(key));
    if (items.isEmpty()) {
        if (it != data.end()) data.erase(it);
        return;
    }
    const Exiv2::TypeId type = it != data.end() && isArray(it->typeId()) ? it->typeId() : Exiv2::xmpBag;
    const auto value = Exiv2::Value::create(type);
    for (const QString& item : items) value->read(item.toStdString());
    if (it != data.end()) it->setValue(value.get());
    else data.add(Exiv2::XmpKey(key), value.get());
}

QString leafOf(const QString& keyword) { return keyword.mid(keyword.lastIndexOf('|') + 1); }

// One of the two single values we set (rating or label): replaced while it is
// unset or still holds what we wrote last time; otherwise someone else set it
// and it stays. An explicit "unrated" (rating 0) counts as unset but is noted
// under `beforeKey`, and comes back when our value is taken out again.
void handOverValue(Exiv2::XmpData& data, const char* key, const char* ownKey, const char* beforeKey,
                   const QString& wanted, const QString& what, QStringList& remarks) {
    const QString current = textOf(data, key);
    const QString ours = textOf(data, ownKey);
    const QString before = beforeKey ? textOf(data, beforeKey) : QString();
    const bool unset = current.isEmpty() || (QString(key) == kRatingKey && current == "0");
    const bool stillOurs = !ours.isEmpty() && current == ours;
    erase(data, ownKey);
    if (beforeKey) erase(data, beforeKey);
    if (!unset && !stillOurs) {
        if (!wanted.isEmpty() && wanted != current)
            remarks << QString("kept the %1 %2 set in another program").arg(what, current);
        return;
    }
    // What the sidecar held before our first value went in.
    const QString held = stillOurs ? before : current;
    if (!wanted.isEmpty()) {
        setText(data, key, wanted);
        setText(data, ownKey, wanted);
        if (beforeKey && !held.isEmpty()) setText(data, beforeKey, held);
    } else if (stillOurs) {
        if (held.isEmpty()) erase(data, key);
        else setText(data, key, held);
    }
}

void handOverKeywords(Exiv2::XmpData& data, const QStringList* wanted) {
    const QStringList hierarchy = listOf(data, kHierarchyKey);
    QStringList subjects = listOf(data, kSubjectKey);
    const bool haveRecord = data.findKey(Exiv2::XmpKey(kOwnSubjectKey)) != data.end();
    const QStringList recorded = listOf(data, kOwnSubjectKey);

    QStringList kept;  // the hierarchical keywords of everyone else
    QStringList ourLeaves;
    for (const QString& k : hierarchy) {
        if (k.startsWith(kKeywordRoot)) ourLeaves << leafOf(k);
        else kept << k;
    }
    QSet<QString> foreignLeaves;
    for (const QString& k : kept) foreignLeaves.insert(leafOf(k));
    // The flat keywords we added earlier; when the note of them is gone (an
    // editor rewrote the sidecar), the leaves of our hierarchical keywords.
    // A flat keyword that also ends someone else's hierarchy stays.
    const QStringList candidates = haveRecord ? recorded : ourLeaves;
    subjects.removeIf([&](const QString& s) { return candidates.contains(s) && !foreignLeaves.contains(s); });

    QStringList added;
    if (wanted) {
        for (const QString& k : *wanted) {
            if (!kept.contains(k)) kept << k;
            const QString leaf = leafOf(k);
            if (subjects.contains(leaf)) continue;
            subjects << leaf;
            added << leaf;
        }
    }
    setList(data, kHierarchyKey, kept);
    setList(data, kSubjectKey, subjects);
    setList(data, kOwnSubjectKey, added);
}

// Properties by namespace and name, as contentOf() names them.
QString expanded(const char* ns, const char* name) { return QString(ns) + name; }

bool governedByUs(const QString& property) {
    return property == expanded(kXmpNamespace, "Rating") || property == expanded(kXmpNamespace, "Label") ||
           property == expanded(kDublinCoreNamespace, "subject") ||
           property == expanded(kLightroomNamespace, "hierarchicalSubject") || property.startsWith(kOwnNamespace);
}

const QStringList* valuesIn(const XmpContent& content, const QString& property) {
    for (const auto& [name, type, items] : content)
        if (name == property) return &items;
    return nullptr;
}

// The namespace behind an Exiv2 prefix: the one the packet binds it to, or
// for a standard prefix the packet does not bind, the standard one.
QString namespaceOf(const std::string& prefix, const PacketForm& form) {
    const QString bound = form.namespaces.value(QString::fromStdString(prefix));
    if (!bound.isEmpty()) return bound;
    try {
        return QString::fromStdString(Exiv2::XmpProperties::ns(prefix));
    } catch (const Exiv2Error&) {
        return QString::fromStdString(prefix) + ':';  // unknown: compares unequal to every namespace
    }
}

// The namespace the fresh tables bind a prefix to; empty when none.
QString standardNamespace(const Exiv2::Dictionary& toolkit, const QString& prefix) {
    const auto it = toolkit.find(prefix.toStdString());
    if (it != toolkit.end()) return QString::fromStdString(it->second);
    try {
        return QString::fromStdString(Exiv2::XmpProperties::ns(prefix.toStdString()));
    } catch (const Exiv2Error&) {
        return {};
    }
}

// The XMP toolkit reads an rdf:about of "uuid:..." as the document's
// xmpMM:InstanceID, over any the packet holds: the packet's own comes back
// and none is made up. False when it cannot come back as it was.
bool keepInstanceId(XmpPacket& packet) {
    if (!packet.form.about.startsWith("uuid:")) return true;
    if (packet.form.complexInstanceId) return false;
    if (packet.form.instanceId) setText(packet.data, kInstanceIdKey, *packet.form.instanceId);
    else erase(packet.data, kInstanceIdKey);
    return true;
}

}  // namespace

std::unique_lock<std::recursive_mutex> prepareXmp() {
    auto exiv2 = lockExiv2();
    // Registered again after every fresh start of the tables.
    if (Exiv2::XmpProperties::prefix(kOwnNamespace).empty())
        Exiv2::XmpProperties::registerNs(kOwnNamespace, "keepframe");
    if (Exiv2::XmpProperties::prefix(kLightroomNamespace).empty())
        Exiv2::XmpProperties::registerNs(kLightroomNamespace, "lr");
    return exiv2;
}

XmpWanted wantedXmp(const HandoverImage& image, const XmpOptions& options) {
    XmpWanted w;
    switch (image.verdict) {
    case HandoverVerdict::Kept:
        w.rating = options.keptRating;
        w.label = options.keptLabel;
        break;
    case HandoverVerdict::ForReview:
        w.rating = 1;
        break;
    case HandoverVerdict::Rejected:
        w.rating = -1;  // the reject value editors read
        break;
    case HandoverVerdict::Unpicked:
        break;
    }
    // The photographer's own rating and label replace what the verdict gives.
    if (image.marks.rating && isValidRating(*image.marks.rating)) w.rating = *image.marks.rating;
    if (image.marks.label != ColorLabel::None) w.label = colorLabelXmpName(image.marks.label);
    w.keywords = handoverKeywords(image);
    return w;
}

bool parseXmp(const QByteArray& text, XmpPacket& packet) {
    const auto exiv2 = lockExiv2();
    forgetXmpNamespaces();
    const auto own = prepareXmp();
    packet = XmpPacket();
    if (text.trimmed().isEmpty()) return true;
    Exiv2::Dictionary toolkit;
    try {
        Exiv2::XmpProperties::registeredNamespaces(toolkit);
    } catch (const Exiv2Error&) {
        return false;
    }
    const StandardNamespace standard = [&](const QString& prefix) { return standardNamespace(toolkit, prefix); };
    // Some writers pad a packet inside a file with NUL bytes, which are no XML.
    QByteArray body = text;
    while (body.endsWith('\0')) body.chop(1);
    QByteArray prepared;
    if (!preparePacket(body, standard, prepared, packet.form)) return false;
    try {
        if (Exiv2::XmpParser::decode(packet.data, prepared.toStdString()) != 0) return false;
    } catch (const Exiv2Error&) {
        return false;
    }
    // Well-formed XML that is not XMP at all (no RDF, whatever its prefix) is
    // not ours to overwrite.
    return packet.form.rdf && keepInstanceId(packet);
}

QByteArray serializeXmp(const Exiv2::XmpData& data, const PacketForm& form, bool wrapped) {
    const auto exiv2 = prepareXmp();
    if (data.empty()) return emptyPacket(form.about);
    std::string packet;
    const auto options = wrapped ? Exiv2::XmpParser::useCompactFormat : Exiv2::XmpParser::omitPacketWrapper;
    try {
        if (Exiv2::XmpParser::encode(packet, data, options) != 0) return {};
    } catch (const Exiv2Error&) {
        return {};
    }
    return restoreForm(QByteArray::fromStdString(packet), form);
}

XmpContent contentOf(const Exiv2::XmpData& data, const PacketForm& form) {
    const auto exiv2 = prepareXmp();
    XmpContent out;
    for (const auto& d : data) out.emplace_back(namespaceOf(d.groupName(), form) + QString::fromStdString(d.tagName()),
                                                int(d.typeId()), values(d));
    std::sort(out.begin(), out.end());
    return out;
}

void applyHandover(Exiv2::XmpData& data, const XmpWanted* wanted, QStringList& remarks) {
    const auto exiv2 = prepareXmp();
    const QString rating = wanted && wanted->rating ? QString::number(*wanted->rating) : QString();
    handOverValue(data, kRatingKey, kOwnRatingKey, kRatingBeforeKey, rating, "rating", remarks);
    handOverValue(data, kLabelKey, kOwnLabelKey, nullptr, wanted ? wanted->label : QString(), "label", remarks);
    handOverKeywords(data, wanted ? &wanted->keywords : nullptr);
    if (!wanted) erase(data, kCreatedKey);
}

void markAsCreated(Exiv2::XmpData& data) {
    const auto exiv2 = prepareXmp();
    setText(data, kCreatedKey, "True");
}

bool createdByUs(const Exiv2::XmpData& data) {
    const auto exiv2 = prepareXmp();
    return textOf(data, kCreatedKey) == "True";
}

QString lostProperty(const XmpContent& before, const XmpContent& after) {
    for (const auto& [property, type, items] : before) {
        if (governedByUs(property)) continue;
        const QStringList* now = valuesIn(after, property);
        if (!now || *now != items) return property;
    }
    const QString hierarchy = expanded(kLightroomNamespace, "hierarchicalSubject");
    const QStringList* was = valuesIn(before, hierarchy);
    const QStringList* now = valuesIn(after, hierarchy);
    for (const QString& k : was ? *was : QStringList())
        if (!k.startsWith(kKeywordRoot) && (!now || !now->contains(k))) return QString("keyword ") + k;
    return {};
}

bool replaceXmpFile(const QString& path, const QByteArray& bytes, QString& error) {
    QString interrupted;
    const bool written = writeFileReplacing(
        path,
        [&](QFileDevice& file) {
            if (file.write(bytes) != bytes.size()) return false;
            if (!commitHook() || commitHook()(path)) return true;
            interrupted = "cannot write " + path + ": interrupted before the new file replaced the old one";
            return false;
        },
        &error);
    if (!interrupted.isEmpty()) error = interrupted;
    return written;
}

void setXmpCommitHookForTests(std::function<bool(const QString& path)> hook) { commitHook() = std::move(hook); }

}  // namespace keepframe
