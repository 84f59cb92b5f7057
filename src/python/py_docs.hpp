// Documentation texts of the module, exactly as Python shows them.
//
// These texts are part of the interface and stay exactly as they are, also where they
// say something else than the computation: compactness counts the points in the box of
// the covered set (not of the pattern), a non-leaf TEC counts one unit per sub-TEC and
// none for its own translators, and the sweepline builder always ends on unsorted input
// (reporting only translators that hold). Do not "fix" them.
#pragma once

namespace motivra::sia::py::doc {

inline constexpr const char* type =
    "TranslationalEquivalence(pattern, translators, sub_tecs)\n"
    "--\n"
    "\n"
    "A translational equivalence class (TEC) consisting of a pattern (a set of points)\n"
    "and a set of non‑zero translation vectors that map the pattern onto other\n"
    "occurrences within the same dataset.\n"
    "\n"
    "The pattern is stored as a sorted `Vec<(u32, u32)>` to ensure deterministic ordering.\n"
    "Translators are `(i32, i32)` vectors, possibly negative in either dimension.\n"
    "Sub‑TECs are used by recursive compression algorithms (RECURSIA) to encode\n"
    "nested patterns.";
inline constexpr const char* pattern = "Sorted list of points `(tick, pitch)` forming the pattern.";
inline constexpr const char* translators =
    "Set of non‑zero translation vectors `(Δtick, Δpitch)` that map `pattern`\n"
    "onto other patterns in the dataset.";
inline constexpr const char* sub_tecs = "Optional sub‑TECs obtained after recursive compression of the pattern.";
inline constexpr const char* coverage =
    "Covered set = pattern ∪ (pattern + v) for every translator v.\n"
    "\n"
    "Returns the set of all points that belong to any occurrence in this TEC.";
inline constexpr const char* compression_ratio =
    "Recursive compression ratio = coverage size / total encoding units.\n"
    "- For a leaf TEC (no sub_tecs), total = |pattern| + |translators|.\n"
    "- For a non-leaf TEC, total = |translators| + sum(compression units of sub_tecs).";
inline constexpr const char* compactness =
    "compactness($self, points)\n"
    "--\n"
    "\n"
    "Bounding‑box compactness: |pattern| divided by the number of dataset points\n"
    "that lie inside the axis‑aligned bounding box of the pattern.\n"
    "- If sub_tecs exist, merge all leaf pattern points from the subtree,\n"
    "then compute compactness of that merged point set.\n"
    "- Otherwise, compute compactness from self.pattern directly.\n"
    "\n"
    "Higher compactness means the pattern occupies a relatively dense region of\n"
    "the dataset. This Python‑exposed method clones the input set.";
inline constexpr const char* summary =
    "summary($self, indent=0)\n"
    "--\n"
    "\n";
inline constexpr const char* find_mtps =
    "find_mtps(dataset, restrict_dpitch_zero=False)\n"
    "--\n"
    "\n"
    "Python wrapper for `find_mtps` (SIA algorithm).";
inline constexpr const char* build_tecs_from_mtps =
    "build_tecs_from_mtps(dataset, restrict_dpitch_zero=False)\n"
    "--\n"
    "\n"
    "Python wrapper for `build_tecs_from_mtps` (SIATEC algorithm).";
inline constexpr const char* build_tecs_from_mtps_sweepline =
    "build_tecs_from_mtps_sweepline(dataset, restrict_dpitch_zero=False)\n"
    "--\n"
    "\n"
    "Python wrapper for `sweepline::build_tecs_from_mtps`.\n"
    "\n"
    "**WARNING**: The input `dataset` must be lexicographically sorted by (tick, pitch)!\n"
    "Unsorted input leads to incorrect results or infinite loops.\n"
    "Use `sorted(dataset)` before calling this function.";
inline constexpr const char* cosiatec_compress =
    "cosiatec_compress(dataset, restrict_dpitch_zero=False, sweepline_optimization=True)\n"
    "--\n"
    "\n"
    "Python wrapper for `cosiatec_compress` (COSIATEC algorithm).";
inline constexpr const char* recursive_cosiatec_compress =
    "recursive_cosiatec_compress(dataset, restrict_dpitch_zero=False, min_pattern_size=2, "
    "sweepline_optimization=True)\n"
    "--\n"
    "\n"
    "Python wrapper for `recursive_cosiatec_compress` (RECURSIA on COSIATEC).";

}  // namespace motivra::sia::py::doc
