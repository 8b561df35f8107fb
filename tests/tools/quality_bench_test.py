#!/usr/bin/python3
"""The quality benchmark's maths on small fixed inputs: box matching, AUC with
ties, pairwise precision and recall of a person assignment."""
import os
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import quality  # noqa: E402


class Matching(unittest.TestCase):
    def test_iou_and_best_match(self):
        self.assertAlmostEqual(quality.iou([0, 0, 10, 10], [5, 0, 10, 10]), 50 / 150)
        self.assertEqual(quality.iou([0, 0, 10, 10], [20, 20, 5, 5]), 0.0)
        self.assertEqual(quality.iou([0, 0, 0, 0], [0, 0, 0, 0]), 0.0)
        candidates = [[100, 100, 10, 10], [2, 0, 10, 10], [1, 0, 10, 10]]
        self.assertEqual(quality.best_match([0, 0, 10, 10], candidates), 2)  # the highest IoU, not the first
        # IoU exactly 0.4 matches; below it nothing does.
        self.assertAlmostEqual(quality.iou([0, 0, 10, 10], [0, 0, 4, 10]), 0.4)
        self.assertEqual(quality.best_match([0, 0, 10, 10], [[0, 0, 4, 10]]), 0)
        self.assertIsNone(quality.best_match([0, 0, 10, 10], [[0, 0, 3.9, 10]]))
        self.assertIsNone(quality.best_match([0, 0, 10, 10], []))


class Auc(unittest.TestCase):
    def test_ranks_and_ties(self):
        self.assertEqual(quality.auc([0.9, 0.8], [0.1, 0.2]), 1.0)
        self.assertEqual(quality.auc([0.1], [0.9]), 0.0)
        # One win, one tie, one loss of three pairs... and a tie counts half.
        self.assertAlmostEqual(quality.auc([0.5], [0.4, 0.5, 0.6]), 1.5 / 3)
        # Every score 1.0 (a rule that says "open" for everything) is chance.
        self.assertEqual(quality.auc([1.0] * 5, [1.0] * 3), 0.5)
        self.assertIsNone(quality.auc([0.3], []))
        self.assertIsNone(quality.auc([], [0.3]))


class Pairwise(unittest.TestCase):
    def test_perfect_split_and_merged_assignments(self):
        truth = ["a", "a", "a", "b", "b"]
        # Perfect: 3 + 1 true pairs, all predicted.
        self.assertEqual(quality.pairwise(truth, [7, 7, 7, 2, 2]), (1.0, 1.0, 4, 4))
        # "a" split in two persons: precision stays 1, recall 2 of 4.
        self.assertEqual(quality.pairwise(truth, [7, 7, 8, 2, 2]), (1.0, 0.5, 4, 2))
        # Everyone one person: recall 1, precision 4 of 10 pairs.
        self.assertEqual(quality.pairwise(truth, [1] * 5), (0.4, 1.0, 4, 10))

    def test_faces_given_to_no_person_pair_with_nobody(self):
        truth = ["a", "a", "b"]
        self.assertEqual(quality.pairwise(truth, [None, None, 3]), (None, 0.0, 1, 0))
        self.assertEqual(quality.pairwise(["a", "b"], [None, None]), (None, None, 0, 0))


if __name__ == "__main__":
    unittest.main()
