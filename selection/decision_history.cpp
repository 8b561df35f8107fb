#include "decision_history.h"

#include <utility>

namespace keepframe {

void DecisionHistory::push(Entry entry) {
    undone_.clear();
    done_.push_back(std::move(entry));
    while (int(done_.size()) > limit_) done_.pop_front();
}

bool DecisionHistory::undo() {
    if (done_.empty() || !done_.back().undo || !done_.back().undo()) return false;
    undone_.push_back(std::move(done_.back()));
    done_.pop_back();
    return true;
}

bool DecisionHistory::redo() {
    if (undone_.empty() || !undone_.back().redo || !undone_.back().redo()) return false;
    done_.push_back(std::move(undone_.back()));
    undone_.pop_back();
    return true;
}

void DecisionHistory::clear() {
    done_.clear();
    undone_.clear();
}

}  // namespace keepframe
