#pragma once
// The framework's growable array of records, copied in and out by value. When
// it is full and no growth step is set, it grows by an eighth of its size, at
// least 4 and at most 1024 records.
#include <algorithm>
#include <cstddef>
#include <vector>

namespace hx {

template <class T>
class CArray {
 public:
  size_t GetSize() const { return m_items.size(); }
  bool IsEmpty() const { return m_items.empty(); }
  // 0: the array's own rule.
  void SetGrowBy(size_t step) { m_growBy = step; }

  T& operator[](size_t i) { return m_items[i]; }
  const T& operator[](size_t i) const { return m_items[i]; }
  auto begin() const { return m_items.begin(); }
  auto end() const { return m_items.end(); }

  size_t Add(const T& item) {
    if (m_items.size() == m_items.capacity()) m_items.reserve(m_items.capacity() + growthStep());
    m_items.push_back(item);
    return m_items.size() - 1;
  }
  // The records after `i` move up one place.
  void RemoveAt(size_t i) { m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i)); }
  void RemoveAll() { std::vector<T>().swap(m_items); }

 private:
  size_t growthStep() const {
    if (m_growBy != 0) return m_growBy;
    return std::clamp<size_t>(m_items.size() / 8, 4, 1024);
  }

  std::vector<T> m_items;
  size_t m_growBy = 0;
};

}  // namespace hx
