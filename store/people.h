// The recurring people the cull found in a project, as the photographer sees
// and corrects them: a name per person, two persons the cull split merged into
// one, a face given to another person. Each correction comes with the record
// that takes it back.
#pragma once

#include <QList>
#include <QRect>
#include <QString>

namespace keepframe {

// One person of a project with the face that shows them best.
struct PersonSummary {
    int personId = -1;
    QString name;        // empty: not named
    int frameCount = 0;  // frames in which a face is this person's
    // The largest face of the person (full-resolution upright pixels of its
    // frame), with what is needed to show a crop of it.
    int faceImageId = -1;
    QRect faceBox;
    QString faceFilename;   // relative to the project's input folder
    QString faceThumbPath;  // relative to the project folder; empty when none was stored
    int fullW = 0, fullH = 0;
    int orientation = 1;
};

// One face of a frame and the person it is given to.
struct FacePerson {
    int faceId = -1;
    QRect box;
    int personId = -1;  // -1: nobody
    QString name;       // the person's name; empty when not named or nobody
};

// What a merge moved: enough to take it back and to do it again.
struct PersonMerge {
    int intoId = -1;
    int fromId = -1;
    QList<int> faceIds;       // the faces that were the merged person's
    QString fromName;         // the merged person's name before
    QString intoNameBefore;   // the kept person's name before (it takes the other's when it had none)
    QString intoNameAfter;
};

// What moving one face did.
struct FaceMove {
    int faceId = -1;
    int fromPersonId = -1;
    int toPersonId = -1;
};

// The longest name kept; longer ones are cut.
constexpr int kMaxPersonNameLength = 80;

// A name as stored: blanks at either end and control characters removed,
// runs of white space made one blank, at most kMaxPersonNameLength characters.
QString cleanPersonName(const QString& name);

// The name shown for a person: its own, or "Person 3" for person 3 (the
// number the cull gave it, as the XMP keywords of unnamed persons carry it).
QString personDisplayName(int personId, const QString& name);

}  // namespace keepframe
