// Doubly linked list with head and tail sentinels: the archive's index lists.
#pragma once

#include <cstdint>
#include <new>

// Holds record indices in the storage and entry pointers in a find handle.
// Nodes stay where they are until removed, so owners may keep node pointers.
template <typename T>
class CParcelList {
public:
    struct Node {
        T value;
        Node *prev;
        Node *next;
    };

    CParcelList() : m_count(0), m_pool(nullptr), m_pooled(0)
    {
        m_head.prev = nullptr;
        m_head.next = &m_tail;
        m_tail.prev = &m_head;
        m_tail.next = nullptr;
    }
    ~CParcelList() { Clear(); }
    CParcelList(const CParcelList &) = delete;
    CParcelList &operator=(const CParcelList &) = delete;

    uint32_t Count() const { return m_count; }
    bool Empty() const { return m_count == 0; }
    Node *First() const { return m_count ? m_head.next : nullptr; }
    Node *Last() const { return m_count ? m_tail.prev : nullptr; }
    Node *Next(const Node *n) const { return (n && n->next != &m_tail) ? n->next : nullptr; }
    Node *Prev(const Node *n) const { return (n && n->prev != &m_head) ? n->prev : nullptr; }

    Node *PushFront(const T &v) { return InsertAfterNode(&m_head, v); }
    Node *PushBack(const T &v) { return InsertAfterNode(m_tail.prev, v); }
    // A null position inserts at the front (after) or at the back (before).
    Node *InsertAfter(Node *pos, const T &v) { return InsertAfterNode(pos ? pos : &m_head, v); }
    Node *InsertBefore(Node *pos, const T &v) { return InsertAfterNode(pos ? pos->prev : m_tail.prev, v); }

    Node *Find(const T &v) const
    {
        for (Node *n = First(); n; n = Next(n))
            if (n->value == v)
                return n;
        return nullptr;
    }

    void Remove(Node *n)
    {
        if (!n)
            return;
        n->prev->next = n->next;
        n->next->prev = n->prev;
        delete n;
        --m_count;
    }

    bool PopFront(T *out)
    {
        Node *n = First();
        if (!n)
            return false;
        if (out)
            *out = n->value;
        Remove(n);
        return true;
    }

    bool PopBack(T *out)
    {
        Node *n = Last();
        if (!n)
            return false;
        if (out)
            *out = n->value;
        Remove(n);
        return true;
    }

    // Frees the entries and the nodes set aside.
    void Clear()
    {
        while (m_count)
            Remove(m_head.next);
        while (m_pool) {
            Node *n = m_pool;
            m_pool = n->next;
            delete n;
        }
        m_pooled = 0;
    }

    // Sets nodes aside until count are ready, so that the next count inserts
    // cannot fail for want of memory: a change that must not stop half way
    // asks for them before it starts. False (nothing lost) without memory.
    bool Reserve(uint32_t count)
    {
        while (m_pooled < count) {
            Node *n = new (std::nothrow) Node;
            if (!n)
                return false;
            n->next = m_pool;
            m_pool = n;
            ++m_pooled;
        }
        return true;
    }

    // Exchanges the nodes of two lists; node pointers stay valid and now
    // belong to the other list.
    void Swap(CParcelList &other)
    {
        Node *first = m_head.next, *last = m_tail.prev;
        const uint32_t count = m_count;
        Adopt(other.m_head.next, other.m_tail.prev, other.m_count);
        other.Adopt(first, last, count);
    }

private:
    void Adopt(Node *first, Node *last, uint32_t count)
    {
        m_count = count;
        m_head.next = count ? first : &m_tail;
        m_tail.prev = count ? last : &m_head;
        m_head.next->prev = &m_head;
        m_tail.prev->next = &m_tail;
    }

    Node *InsertAfterNode(Node *pos, const T &v)
    {
        Node *n = m_pool;
        if (n) {
            m_pool = n->next;
            --m_pooled;
        } else {
            n = new (std::nothrow) Node;
        }
        if (!n)
            return nullptr;
        n->value = v;
        n->prev = pos;
        n->next = pos->next;
        pos->next->prev = n;
        pos->next = n;
        ++m_count;
        return n;
    }

    Node m_head;
    Node m_tail;
    uint32_t m_count;
    // Nodes set aside by Reserve, linked through next.
    Node *m_pool;
    uint32_t m_pooled;
};
