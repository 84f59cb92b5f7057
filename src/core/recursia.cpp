// RecurSIA: COSIATEC on the Dataset, then on each chosen pattern, level by level from
// a work list, so the depth of the tree never touches the C stack.
#include "recursia.hpp"

#include <algorithm>

#include "cosiatec.hpp"
#include "sia.hpp"

namespace motivra::sia {

std::vector<Tec> recursive_cosiatec_compress(std::span<const Point> dataset, bool restrict_dpitch_zero,
                                             std::size_t min_pattern_size,
                                             [[maybe_unused]] bool sweepline_optimization) {
    CompressOptions options;
    options.restrict_dpitch_zero = restrict_dpitch_zero;
    return recursive_cosiatec_compress(dataset, options, min_pattern_size);
}

std::vector<Tec> recursive_cosiatec_compress(std::span<const Point> dataset, const CompressOptions& options,
                                             std::size_t min_recursion_size) {
    std::vector<Tec> top = cosiatec_compress(dataset, options);
    const std::size_t threshold = std::max<std::size_t>(min_recursion_size, 2);
    // Nested runs may still be stopped, but their progress is not the caller's.
    CompressOptions nested = options;
    nested.report = false;
    struct Work {
        Tec* node;
        std::size_t source_size;  // distinct Points of the data the node was found in
    };
    std::vector<Work> work;
    const std::size_t distinct = distinct_sorted(dataset).size();
    for (Tec& tec : top) work.push_back(Work{&tec, distinct});
    while (!work.empty()) {
        const Work item = work.back();
        work.pop_back();
        Tec& node = *item.node;
        // Chosen patterns are MTPs, so their Points are distinct.
        if (node.pattern.size() < threshold || node.pattern.size() >= item.source_size) continue;
        std::vector<Tec> children = cosiatec_compress(node.pattern, nested);
        std::vector<TecPtr> kids;
        kids.reserve(children.size());
        for (Tec& child : children) {
            auto owned = std::make_shared<Tec>(std::move(child));
            work.push_back(Work{owned.get(), node.pattern.size()});
            kids.push_back(std::move(owned));
        }
        node.sub_tecs = std::move(kids);
        node.pattern.clear();
    }
    return top;
}

}  // namespace motivra::sia
