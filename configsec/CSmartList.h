#pragma once
#include <memory>
#include <vector>

template <class T>
class CSmartList;

// A list of owned objects: removing an entry or destroying the list deletes the object.
// Copying a selection from another list makes new copies.
template <class T>
class CSmartList<T*>
{
public:
    CSmartList() = default;
    CSmartList(const CSmartList&) = delete;
    CSmartList& operator=(const CSmartList&) = delete;

    size_t GetCount() const noexcept { return m_items.size(); }
    bool IsEmpty() const noexcept { return m_items.empty(); }
    T* GetAt(size_t index) const { return m_items.at(index).get(); }

    // Takes ownership of the object and answers it.
    T* Add(std::unique_ptr<T> item)
    {
        m_items.push_back(std::move(item));
        return m_items.back().get();
    }
    // A new copy of the object at the end of the list.
    T* AddCopy(const T& item) { return Add(std::make_unique<T>(item)); }
    // Deletes the object at that index.
    void RemoveAt(size_t index) { m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index)); }
    // Deletes that object when it is in the list; false when it is not.
    bool Remove(const T* item)
    {
        for (size_t i = 0; i < m_items.size(); ++i)
            if (m_items[i].get() == item)
            {
                RemoveAt(i);
                return true;
            }
        return false;
    }
    void RemoveAll() noexcept { m_items.clear(); }
    // Appends copies of every object of the other list.
    void CopyFrom(const CSmartList& other)
    {
        for (const auto& item : other.m_items)
            AddCopy(*item);
    }
    // Moves every object of the other list to the end of this one.
    void TakeAll(CSmartList& other)
    {
        for (auto& item : other.m_items)
            m_items.push_back(std::move(item));
        other.m_items.clear();
    }

private:
    std::vector<std::unique_ptr<T>> m_items;
};
