#pragma once

#include <QtGlobal>

#include <vector>

namespace KavriVendorEmp::platform {

// Live-slot counts over the slots (a Fenwick tree), so that a position past the first tombstone
// maps to its slot in O(log n). Built on demand; dropped when the slots change shape.
class LiveSlots
{
public:
    bool built() const { return !m_tree.empty(); }
    void clear() { m_tree.clear(); }

    // Rows are anything with a `removed` mark: the list's rows, tombstones among them.
    template <typename Row> void build(const std::vector<Row *> &slots)
    {
        const qsizetype n = qsizetype(slots.size());
        m_tree.assign(n + 1, 0);
        for (qsizetype i = 1; i <= n; ++i) {
            m_tree[i] += slots[i - 1]->removed ? 0 : 1;
            const qsizetype parent = i + (i & -i);
            if (parent <= n)
                m_tree[parent] += m_tree[i];
        }
    }

    void erase(qsizetype slot)
    {
        const qsizetype n = qsizetype(m_tree.size()) - 1;
        for (qsizetype i = slot + 1; i <= n; i += i & -i)
            --m_tree[i];
    }

    // Live slots in [0, slot].
    qsizetype prefix(qsizetype slot) const
    {
        qsizetype sum = 0;
        for (qsizetype i = slot + 1; i > 0; i -= i & -i)
            sum += m_tree[i];
        return sum;
    }

    // The slot of the k-th live row, k counted from 1.
    qsizetype select(qsizetype k) const
    {
        const qsizetype n = qsizetype(m_tree.size()) - 1;
        qsizetype step = 1;
        while (step * 2 <= n)
            step *= 2;
        qsizetype pos = 0;
        for (; step > 0; step /= 2) {
            if (pos + step <= n && m_tree[pos + step] < k) {
                pos += step;
                k -= m_tree[pos];
            }
        }
        return pos;
    }

private:
    std::vector<qsizetype> m_tree;
};

} // namespace KavriVendorEmp::platform
