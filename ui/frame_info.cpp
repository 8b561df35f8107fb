#include "frame_info.h"

#include "compare_logic.h"
#include "project_store.h"

#include <QPointer>

#include <cmath>

namespace keepframe {

namespace {

QVariantMap row(const QString& label, const QString& value) { return {{"label", label}, {"value", value}}; }

// A measure in words with its number.
QString worded(const QString& words, double value, int decimals) {
    return words + "  (" + QString::number(value, 'f', decimals) + ")";
}

QString categoryLabel(const QString& category) {
    if (category == "venue") return QStringLiteral("Details");
    if (category == "featured") return QStringLiteral("Featured");
    if (category == "group") return QStringLiteral("Group");
    if (category == "portrait") return QStringLiteral("Portrait");
    return category.isEmpty() ? QStringLiteral("—") : category;
}

// "2024:06:15 14:00:11" as "2024-06-15  14:00:11".
QString captureText(const QString& stored) {
    if (stored.isEmpty()) return QStringLiteral("not recorded");
    QString text = stored;
    if (text.size() >= 10 && text[4] == ':' && text[7] == ':') {
        text[4] = '-';
        text[7] = '-';
    }
    return text.replace(10, 1, QStringLiteral("  "));
}

QString sizeText(int w, int h) {
    if (w <= 0 || h <= 0) return QStringLiteral("unknown");
    return QStringLiteral("%1 × %2 px  (%3 MP)").arg(w).arg(h).arg(QString::number(double(w) * h / 1e6, 'f', 1));
}

QString momentText(const QVariantMap& frame) {
    const int number = frame.contains("clusterNumber") ? frame["clusterNumber"].toInt() : frame["clusterSize"].toInt();
    const int count = frame["clusterImageCount"].toInt();
    if (number <= 0) return QStringLiteral("none");
    const QString text = "moment " + QString::number(number);
    return count > 0 ? text + QStringLiteral("  ·  %1 frame%2").arg(count).arg(count == 1 ? "" : "s") : text;
}

// A reason about a person ("portrait_p2") said with the name the photographer gave them.
QString withPersonName(const QString& text, const QString& reason, const QVariantMap& names) {
    if (!reason.startsWith("portrait_p")) return text;
    const QString number = reason.mid(10).section('_', 0, 0);
    const QString name = names.value(number).toString();
    if (name.isEmpty()) return text;
    QString named = text;
    return named.replace("Person " + number, name);
}

// Kept or not as the user left it: the grid's items carry a status, the moment's frames a keep flag.
QString statusText(const QVariantMap& frame) {
    const int status = frame["status"].toInt();
    const bool kept = frame.contains("userSelected") ? frame["userSelected"].toBool() : status != 3 && status != 0;
    const QString state = CompareLogic::statusText(status);
    if (!kept) return status == 3 ? QStringLiteral("Removed") : QStringLiteral("Not kept");
    return status == 0 ? QStringLiteral("Kept") : "Kept  ·  " + state;
}

}  // namespace

FrameInfo::FrameInfo(QObject* parent) : QObject(parent) { pool_.setMaxThreadCount(1); }

FrameInfo::~FrameInfo() { pool_.waitForDone(); }

void FrameInfo::setFrame(const QVariantMap& frame) {
    const bool same = frame.value("id") == frame_.value("id") && frame.value("filename") == frame_.value("filename");
    frame_ = frame;
    changed(!same);
}

void FrameInfo::setProjectId(int projectId) {
    if (projectId == projectId_) return;
    projectId_ = projectId;
    changed(true);
}

void FrameInfo::setActive(bool active) {
    if (active == active_) return;
    active_ = active;
    changed(false);
}

void FrameInfo::changed(bool otherFrame) {
    if (otherFrame) {
        measures_.clear();
        measured_ = false;
    }
    emit frameChanged();
    refresh();
}

// The rows from what is known now; the measures are read once per frame while the panel shows.
void FrameInfo::refresh() {
    rows_ = rowsFor(frame_, measures_);
    emit rowsChanged();
    const int imageId = frame_.value("id", -1).toInt();
    if (!active_ || measured_ || projectId_ < 0 || imageId < 0 || frame_.isEmpty()) return;
    const int serial = ++serial_;
    const int projectId = projectId_;
    QPointer<FrameInfo> self(this);
    pool_.start([self, serial, projectId, imageId] {
        QVariantMap measures;
        {
            // A store of this thread: its connections belong to the thread that made them.
            ProjectStore store;
            if (store.openRegistry()) measures = store.imageMeasures(projectId, imageId);
            if (!measures.isEmpty()) measures.insert(readPeople(store, projectId, imageId));
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, serial, measures] {
                if (!self || serial != self->serial_) return;
                self->measures_ = measures;
                self->measured_ = true;
                self->rows_ = rowsFor(self->frame_, measures);
                emit self->rowsChanged();
            },
            Qt::QueuedConnection);
    });
}

void FrameInfo::setEdits(PersonEdits* edits) {
    // A face given to another person, a merge or a new name: the rows are read again.
    const auto changed = [this](int projectId) {
        if (projectId != projectId_ || !measured_) return;
        measured_ = false;
        refresh();
    };
    if (PersonEdits::follow(edits_, edits, editsConnection_, this, changed)) emit frameChanged();
}

bool FrameInfo::moveFace(int faceId, int toPersonId) {
    return edits_ && projectId_ >= 0 && edits_->moveFace(projectId_, faceId, toPersonId);
}

QVariantMap FrameInfo::readPeople(ProjectStore& store, int projectId, int imageId) {
    QVariantList faces, choices;
    for (const FacePerson& f : store.facesOfImage(projectId, imageId))
        faces.append(QVariantMap{{"faceId", f.faceId},
                                 {"personId", f.personId},
                                 {"displayName", f.personId < 0 ? QString() : personDisplayName(f.personId, f.name)}});
    // The strip's persons, then any other person on this frame.
    const QList<PersonSummary> persons = store.persons(projectId);
    for (const PersonSummary& p : persons) {
        bool onFrame = false;
        for (const QVariant& f : faces) onFrame = onFrame || f.toMap()["personId"].toInt() == p.personId;
        if (p.frameCount < 2 && p.name.isEmpty() && !onFrame) continue;
        choices.append(QVariantMap{{"personId", p.personId}, {"displayName", personDisplayName(p.personId, p.name)}});
    }
    choices.append(QVariantMap{{"personId", -1}, {"displayName", QStringLiteral("Nobody")}});
    QVariantMap names;
    for (const PersonSummary& p : persons)
        if (!p.name.isEmpty()) names.insert(QString::number(p.personId), p.name);
    return {{"faces", faces}, {"personChoices", choices}, {"personNames", names}};
}

QVariantList FrameInfo::rowsFor(const QVariantMap& frame, const QVariantMap& measures) {
    if (frame.isEmpty()) return {};
    const bool engineSelected = measures.contains("engineSelected") ? measures["engineSelected"].toBool()
                                : frame.contains("engineSelected") ? frame["engineSelected"].toBool()
                                                                   : frame["status"].toInt() == 1 ||
                                                                         frame["status"].toInt() == 2;
    const QString reason = measures.contains("reason") ? measures["reason"].toString() : frame["reason"].toString();
    QVariantList rows{
        row("Captured", captureText(frame["captureTime"].toString())),
        row("Size", sizeText(frame["fullW"].toInt(), frame["fullH"].toInt())),
        row("Category", categoryLabel(frame["category"].toString())),
        row("Moment", momentText(frame)),
        row("Status", statusText(frame)),
        row("Why", withPersonName(reasonText(frame["reason"].toString() == "user_added" ? QStringLiteral("user_added")
                                                                                       : reason,
                                             engineSelected),
                                  reason, measures["personNames"].toMap())),
        row("Score", scoreText(frame["score"].toDouble(), engineSelected)),
        row("Measures", QString()),
    };
    if (measures.isEmpty()) {
        rows << row("", "Reading…");
        return rows;
    }
    const double eye = measures["eyeSharpness"].toDouble();
    rows << row("Exposure", exposureText(measures["exposure"].toDouble()))
         << row("Sharpness", sharpnessText(measures["sharpness"].toDouble()))
         << row("Eye sharpness", eye > 0 ? eyeText(eye) : QStringLiteral("no face measured"))
         << row("Expression", expressionText(measures["expression"].toDouble()));
    const QVariantList detections = measures["detections"].toList();
    int usable = 0;
    for (const QVariant& d : detections) usable += d.toMap()["valid"].toBool() ? 1 : 0;
    const int found = std::max(int(detections.size()), measures["detectedFaces"].toInt());
    rows << row("Faces", found == 0 ? QStringLiteral("none found")
                                    : QStringLiteral("%1 found  ·  %2 usable").arg(found).arg(usable));
    if (measures.contains("faces")) {
        QStringList people;
        for (const QVariant& f : measures["faces"].toList()) {
            const QString name = f.toMap()["displayName"].toString();
            if (!name.isEmpty() && !people.contains(name)) people << name;
        }
        rows << row("People", people.isEmpty() ? QStringLiteral("no one recognised") : people.join(", "));
    }
    int n = 0;
    for (const QVariant& d : detections) {
        const QVariantMap detection = d.toMap();
        ++n;
        if (detection["valid"].toBool()) continue;
        rows << row("Face " + QString::number(n),
                    "not used: " + rejectionText(detection["reason"].toString()) + "  (confidence " +
                        QString::number(detection["conf"].toDouble(), 'f', 2) + ")");
    }
    rows << row("Eyes open", QStringLiteral("not stored with the project"));
    return rows;
}

QString FrameInfo::reasonText(const QString& reason, bool engineSelected) {
    const bool another = reason.endsWith("_multi");
    const QString base = another ? reason.chopped(6) : reason;
    if (reason == "user_added") return QStringLiteral("added by you");
    if (reason == "damaged") return QStringLiteral("the file is damaged and could not be analysed");
    if (base == "venue") return QStringLiteral("the sharpest frame of its moment");
    if (base == "portrait_single" || base == "group_single") return QStringLiteral("the only frame of its moment");
    if (base.startsWith("portrait_p")) {
        const QString person = "Person " + base.mid(10);
        return another ? "another strong portrait of " + person + " in its moment"
                       : "the best portrait of " + person + " in its moment";
    }
    if (base == "group_vip" || base == "group_open") {
        const QString what = base == "group_vip" ? QStringLiteral("with the shoot's main people")
                                                 : QStringLiteral("with everyone's eyes open");
        return (another ? "another strong group frame " : "the best group frame ") + what;
    }
    if (reason.isEmpty() || reason == "not_best")
        return engineSelected ? QStringLiteral("picked by the cull")
                              : QStringLiteral("not picked: another frame of its moment scored higher");
    return reason;
}

QString FrameInfo::scoreText(double score, bool engineSelected) {
    if (score <= 0 && !engineSelected) return QStringLiteral("not scored");
    return "final score " + QString::number(score, 'f', 2);
}

QString FrameInfo::eyeText(double eyeSharpness) {
    if (eyeSharpness <= 0) return QStringLiteral("no eyes measured");
    const QString words = eyeSharpness >= 450   ? QStringLiteral("eyes sharp")
                          : eyeSharpness >= 150 ? QStringLiteral("eyes fairly sharp")
                                                : QStringLiteral("eyes soft");
    return worded(words, eyeSharpness, 0);
}

QString FrameInfo::exposureText(double exposure) {
    const QString words = exposure >= 0.7   ? QStringLiteral("balanced")
                          : exposure >= 0.4 ? QStringLiteral("somewhat dark or bright")
                                            : QStringLiteral("very dark or very bright");
    return worded(words, exposure, 2);
}

QString FrameInfo::sharpnessText(double sharpness) {
    const QString words = sharpness >= 500   ? QStringLiteral("sharp")
                          : sharpness >= 200 ? QStringLiteral("fairly sharp")
                          : sharpness >= 60  ? QStringLiteral("soft")
                                             : QStringLiteral("blurred");
    return worded(words, sharpness, 0);
}

QString FrameInfo::expressionText(double expression) {
    // The cull stores this value for a frame whose expression it did not measure.
    constexpr double kUnmeasured = 0.75;
    if (std::abs(expression - kUnmeasured) < 1e-6) return QStringLiteral("not measured");
    const QString words = expression >= 0.6    ? QStringLiteral("pleasant")
                          : expression >= 0.35 ? QStringLiteral("neutral")
                                               : QStringLiteral("unflattering");
    return worded(words, expression, 2);
}

QString FrameInfo::rejectionText(const QString& reason) {
    if (reason == "low_conf") return QStringLiteral("not clearly a face");
    if (reason == "small_area") return QStringLiteral("too small");
    if (reason == "edge") return QStringLiteral("cut off at the edge");
    if (reason == "blurry") return QStringLiteral("blurred");
    if (reason == "not_human") return QStringLiteral("not a person");
    return reason.isEmpty() ? QStringLiteral("no reason stored") : reason;
}

}  // namespace keepframe
