// Disjoint-set forest with full path compression, union by rank (the root of
// the first argument wins ties) and a size per root.
#pragma once

#include <cstdint>
#include <numeric>
#include <vector>

namespace keepframe {

class DisjointSet {
public:
    explicit DisjointSet(size_t n) : parent_(n), rank_(n, 0), size_(n, 1) {
        std::iota(parent_.begin(), parent_.end(), 0);
    }
    DisjointSet(size_t n, const std::vector<int>& sizes) : DisjointSet(n) { size_ = sizes; }

    int find(int x) {
        int root = x;
        while (parent_[size_t(root)] != root) root = parent_[size_t(root)];
        while (parent_[size_t(x)] != root) {
            const int next = parent_[size_t(x)];
            parent_[size_t(x)] = root;
            x = next;
        }
        return root;
    }

    // Joins the sets of a and b; returns the surviving root, which holds the
    // summed size.
    int unite(int a, int b) {
        int ra = find(a), rb = find(b);
        if (ra == rb) return ra;
        if (rank_[size_t(ra)] < rank_[size_t(rb)]) std::swap(ra, rb);
        else if (rank_[size_t(ra)] == rank_[size_t(rb)]) ++rank_[size_t(ra)];
        parent_[size_t(rb)] = ra;
        size_[size_t(ra)] += size_[size_t(rb)];
        return ra;
    }

    bool same(int a, int b) { return find(a) == find(b); }
    int size(int x) { return size_[size_t(find(x))]; }

private:
    std::vector<int> parent_, rank_, size_;
};

}  // namespace keepframe
