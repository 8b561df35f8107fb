// The decisions of this session, to be taken back and made again (Ctrl+Z,
// Ctrl+Shift+Z). An entry is generic: a label for the screens and two
// actions, each of which puts its state in place (written to the project
// first) and says whether it could. A new decision drops whatever was taken
// back before it. The user interface thread only.
#pragma once

#include <QString>

#include <deque>
#include <functional>
#include <vector>

namespace keepframe {

class DecisionHistory {
public:
    using Action = std::function<bool()>;

    struct Entry {
        QString label;  // "Remove DSC_0001.jpg", "3 stars on 2 frames", …
        Action undo;
        Action redo;
    };

    // At most `limit` entries are kept; the oldest go first.
    explicit DecisionHistory(int limit = 2000) : limit_(limit) {}

    // Records a decision already made.
    void push(Entry entry);
    // Takes the last decision back; false (and nothing moves) when there is
    // none or its action failed, in which case it stays to be tried again.
    bool undo();
    // Makes the last decision taken back again; false as undo().
    bool redo();

    bool canUndo() const { return !done_.empty(); }
    bool canRedo() const { return !undone_.empty(); }
    // The labels of the next undo and redo, empty when there is none.
    QString undoLabel() const { return done_.empty() ? QString() : done_.back().label; }
    QString redoLabel() const { return undone_.empty() ? QString() : undone_.back().label; }
    int undoDepth() const { return int(done_.size()); }
    // Forgets everything (another project opens).
    void clear();

private:
    int limit_;
    std::deque<Entry> done_;
    std::vector<Entry> undone_;
};

}  // namespace keepframe
